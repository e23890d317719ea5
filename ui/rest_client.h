// The marketplace backend's REST calls. Each blocks its thread for one
// exchange (so never call one on the UI thread), shares nothing with other
// calls, and reports failure in its record instead of throwing.
#pragma once

#include <cstdint>
#include <string>

#include "ui/http_transport.h"
#include "ui/rest_records.h"

namespace nb::ui {

// `backend` is "host" or "host:port"; `use_https` picks the scheme and the
// default port (443, else 80).
AuthResult login(const std::string& backend, const std::string& email, const std::string& password, bool use_https,
                 const HttpOptions& options = {});
// `role` is "client" or "merchant".
AuthResult register_account(const std::string& backend, const std::string& email, const std::string& password,
                            const std::string& display_name, const std::string& role, bool use_https,
                            const HttpOptions& options = {});
UserProfile fetch_profile(const std::string& backend, const std::string& token, bool use_https,
                          const HttpOptions& options = {});
// The first page of 30; `min_fps` and `max_price` (cents per hour) filter
// only when above 0, `gpu` only when not empty; `sort` is "rating" or "price".
ServerListResult list_servers(const std::string& backend, const std::string& gpu, int32_t min_fps,
                              int32_t max_price, const std::string& sort, bool use_https,
                              const HttpOptions& options = {});
CreateSessionResult create_session(const std::string& backend, const std::string& token,
                                   const std::string& server_id, const std::string& codec, bool use_https,
                                   const HttpOptions& options = {});
ActiveSession get_active_session(const std::string& backend, const std::string& token, bool use_https,
                                 const HttpOptions& options = {});
ConnectInfo get_connect_info(const std::string& backend, const std::string& token, bool use_https,
                             const HttpOptions& options = {});
// False without a request when `session_id` is empty.
bool end_session(const std::string& backend, const std::string& token, const std::string& session_id,
                 bool use_https, const HttpOptions& options = {});

}  // namespace nb::ui
