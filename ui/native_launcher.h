// The launcher window: sign-in, server browser and session hand-over. Until
// the window itself exists, this stand-in tells the shell to quit.
#pragma once

#include <memory>
#include <string>

#include "common/connection_params.h"
#include "ui/config_store.h"
#include "ui/launcher_config.h"

namespace nb::ui {

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

    // Loads the user's configuration from `store`.
    explicit NativeLauncher(ConfigStore store = ConfigStore::for_user());
    ~NativeLauncher();
    NativeLauncher(const NativeLauncher&) = delete;
    NativeLauncher& operator=(const NativeLauncher&) = delete;

    // Keeps at most 255 bytes of the host text.
    void set_backend_host(const std::string& host);
    void set_deep_link(const std::string& uri);
    void notify_session_ended(const std::string& reason);

    // Runs the window until the user starts a stream or closes it.
    Result show();

    // The backend every REST call of the window goes to, and with which the
    // stream's hand-over lets the session-info poller ask.
    const std::string& backend_host() const { return config_.host; }
    bool use_https() const { return config_.use_https; }
    const std::string& deep_link() const { return deep_link_; }

private:
    ConfigStore store_;
    // The configuration file's values (the built-in defaults without one),
    // NB_SAAS_URL over its host.
    LauncherConfig config_;
    std::string deep_link_;
    std::string ended_reason_;
};

}  // namespace nb::ui
