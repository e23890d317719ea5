// The backend calls the launcher's background operations make, as one set of
// callables: the REST client in the product, a scripted backend in the flow
// tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "ui/rest_records.h"

namespace nb::ui {

struct BackendApi {
    std::function<AuthResult(const std::string& backend, const std::string& email, const std::string& password,
                             bool use_https)>
        login;
    std::function<AuthResult(const std::string& backend, const std::string& email, const std::string& password,
                             const std::string& display_name, const std::string& role, bool use_https)>
        register_account;
    std::function<UserProfile(const std::string& backend, const std::string& token, bool use_https)> fetch_profile;
    std::function<ServerListResult(const std::string& backend, const std::string& gpu, int32_t min_fps,
                                   int32_t max_price, const std::string& sort, bool use_https)>
        list_servers;
    std::function<CreateSessionResult(const std::string& backend, const std::string& token,
                                      const std::string& server_id, const std::string& codec, bool use_https)>
        create_session;
    std::function<ActiveSession(const std::string& backend, const std::string& token, bool use_https)>
        get_active_session;
    std::function<ConnectInfo(const std::string& backend, const std::string& token, bool use_https)>
        get_connect_info;
    std::function<bool(const std::string& backend, const std::string& token, const std::string& session_id,
                       bool use_https)>
        end_session;
};

// The marketplace backend over HTTP(S).
BackendApi rest_backend_api();

}  // namespace nb::ui
