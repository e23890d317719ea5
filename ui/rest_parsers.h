// Turning the backend's answers (status and body) into result records, and
// building what the calls send. Pure functions, shared by the REST client
// and its tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "ui/rest_records.h"

namespace nb::ui {

AuthResult parse_login_response(int status, std::string_view body);
AuthResult parse_register_response(int status, std::string_view body);
UserProfile parse_profile_response(int status, std::string_view body);
ServerListResult parse_server_list_response(int status, std::string_view body);
CreateSessionResult parse_create_session_response(int status, std::string_view body);
ActiveSession parse_active_session_response(int status, std::string_view body);
ConnectInfo parse_connect_info_response(int status, std::string_view body);

// One catalogue entry; members that are absent take their defaults.
// Throws JsonFieldError for a member of the wrong kind.
ServerInfo parse_server_info(const nlohmann::json& entry);

// "/api/servers?page=1&limit=30..." with the filters that are set.
std::string server_list_path(std::string_view gpu, int32_t min_fps, int32_t max_price, std::string_view sort);

std::string login_body(const std::string& email, const std::string& password);
std::string register_body(const std::string& email, const std::string& password, const std::string& display_name,
                          const std::string& role);
std::string create_session_body(const std::string& server_id, const std::string& codec);

}  // namespace nb::ui
