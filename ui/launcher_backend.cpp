// The launcher's backend calls bound to the REST client.
#include "ui/launcher_backend.h"

#include "ui/rest_client.h"

namespace nb::ui {

BackendApi rest_backend_api() {
    BackendApi api;
    api.login = [](const std::string& backend, const std::string& email, const std::string& password, bool https) {
        return login(backend, email, password, https);
    };
    api.register_account = [](const std::string& backend, const std::string& email, const std::string& password,
                              const std::string& name, const std::string& role, bool https) {
        return register_account(backend, email, password, name, role, https);
    };
    api.fetch_profile = [](const std::string& backend, const std::string& token, bool https) {
        return fetch_profile(backend, token, https);
    };
    api.list_servers = [](const std::string& backend, const std::string& gpu, int32_t min_fps, int32_t max_price,
                          const std::string& sort, bool https) {
        return list_servers(backend, gpu, min_fps, max_price, sort, https);
    };
    api.create_session = [](const std::string& backend, const std::string& token, const std::string& server_id,
                            const std::string& codec, bool https) {
        return create_session(backend, token, server_id, codec, https);
    };
    api.get_active_session = [](const std::string& backend, const std::string& token, bool https) {
        return get_active_session(backend, token, https);
    };
    api.get_connect_info = [](const std::string& backend, const std::string& token, bool https) {
        return get_connect_info(backend, token, https);
    };
    api.end_session = [](const std::string& backend, const std::string& token, const std::string& session_id,
                         bool https) { return end_session(backend, token, session_id, https); };
    return api;
}

}  // namespace nb::ui
