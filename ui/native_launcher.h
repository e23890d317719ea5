// The launcher window: sign-in, server browser and session hand-over. Until
// the window itself exists, this stand-in tells the shell to quit.
#pragma once

#include <memory>
#include <string>

#include "common/connection_params.h"

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

    NativeLauncher();
    ~NativeLauncher();
    NativeLauncher(const NativeLauncher&) = delete;
    NativeLauncher& operator=(const NativeLauncher&) = delete;

    // Keeps at most 255 bytes of the host text.
    void set_backend_host(const std::string& host);
    void set_deep_link(const std::string& uri);
    void notify_session_ended(const std::string& reason);

    // Runs the window until the user starts a stream or closes it.
    Result show();

    const std::string& backend_host() const { return backend_host_; }
    const std::string& deep_link() const { return deep_link_; }

private:
    static constexpr size_t k_max_backend_host = 255;
    std::string backend_host_;
    std::string deep_link_;
    std::string ended_reason_;
};

}  // namespace nb::ui
