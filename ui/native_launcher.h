// The launcher window: sign-in, server browser and the rented session, and
// the hand-over of a stream to the session loop.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "common/connection_params.h"
#include "ui/config_store.h"

namespace nb::ui {

struct BackendApi;

class NativeLauncher {
public:
    struct Result {
        bool connect = false;
        bool quit = false;
        ConnectionParams params;
        std::string backend;
        std::string api_token;
        bool use_https = false;
    };

    struct Impl;

    // Talks to the marketplace backend over REST and loads the saved
    // configuration from `store`.
    explicit NativeLauncher(ConfigStore store = ConfigStore::for_user());
    // The same with other backend calls and configuration file, for tests.
    NativeLauncher(const BackendApi& api, ConfigStore store);
    // Waits for requests still in flight.
    ~NativeLauncher();
    NativeLauncher(const NativeLauncher&) = delete;
    NativeLauncher& operator=(const NativeLauncher&) = delete;

    // Keeps at most 255 bytes of the host text.
    void set_backend_host(const std::string& host);
    void set_deep_link(const std::string& uri);
    void notify_session_ended(const std::string& reason);
    // Polled every frame: once it returns true the window closes and show()
    // returns with `quit`, as on a close by the user.
    void set_shutdown_check(std::function<bool()> requested);

    // Opens the window and runs it until the user starts a stream or closes
    // it; the window is gone when this returns.
    Result show();

    // The backend every REST call of the window goes to, and with which the
    // stream's hand-over lets the session-info poller ask.
    const std::string& backend_host() const;
    bool use_https() const;
    const std::string& deep_link() const;

    Impl& state() { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace nb::ui
