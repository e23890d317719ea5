// The backend calls: one exchange each, its answer read by the parsers.
#include "ui/rest_client.h"

#include "ui/rest_parsers.h"

namespace nb::ui {

AuthResult login(const std::string& backend, const std::string& email, const std::string& password, bool use_https,
                 const HttpOptions& options) {
    const HttpResponse r = http_post(backend, "/api/auth/login", login_body(email, password), {}, use_https, options);
    return parse_login_response(r.status, r.body);
}

AuthResult register_account(const std::string& backend, const std::string& email, const std::string& password,
                            const std::string& display_name, const std::string& role, bool use_https,
                            const HttpOptions& options) {
    const HttpResponse r = http_post(backend, "/api/auth/register", register_body(email, password, display_name, role),
                                     {}, use_https, options);
    return parse_register_response(r.status, r.body);
}

UserProfile fetch_profile(const std::string& backend, const std::string& token, bool use_https,
                          const HttpOptions& options) {
    const HttpResponse r = http_get(backend, "/api/auth/me", token, use_https, options);
    return parse_profile_response(r.status, r.body);
}

ServerListResult list_servers(const std::string& backend, const std::string& gpu, int32_t min_fps,
                              int32_t max_price, const std::string& sort, bool use_https,
                              const HttpOptions& options) {
    const HttpResponse r = http_get(backend, server_list_path(gpu, min_fps, max_price, sort), {}, use_https, options);
    return parse_server_list_response(r.status, r.body);
}

CreateSessionResult create_session(const std::string& backend, const std::string& token,
                                   const std::string& server_id, const std::string& codec, bool use_https,
                                   const HttpOptions& options) {
    const HttpResponse r =
        http_post(backend, "/api/sessions", create_session_body(server_id, codec), token, use_https, options);
    return parse_create_session_response(r.status, r.body);
}

ActiveSession get_active_session(const std::string& backend, const std::string& token, bool use_https,
                                 const HttpOptions& options) {
    const HttpResponse r = http_get(backend, "/api/sessions/active", token, use_https, options);
    return parse_active_session_response(r.status, r.body);
}

ConnectInfo get_connect_info(const std::string& backend, const std::string& token, bool use_https,
                             const HttpOptions& options) {
    const HttpResponse r = http_get(backend, "/api/sessions/active/connect", token, use_https, options);
    return parse_connect_info_response(r.status, r.body);
}

bool end_session(const std::string& backend, const std::string& token, const std::string& session_id,
                 bool use_https, const HttpOptions& options) {
    if (session_id.empty()) return false;
    const HttpResponse r = http_delete(backend, "/api/sessions/" + session_id, token, use_https, options);
    return r.status == 200 || r.status == 204;
}

}  // namespace nb::ui
