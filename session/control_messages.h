// The JSON texts of the control channel that the client builds or reads
// itself: the auth request, the session_ready reply and incoming lines.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/connection_params.h"

namespace nb {

// The auth request with its line feed; members sorted by key.
std::string auth_line(const ConnectionParams& params, const std::string& udp_ip);

// Standard base64 with padding of one string member; anything else (line
// breaks, the URL-safe alphabet, trailing junk, a missing member) is empty.
std::vector<uint8_t> decode_key(const nlohmann::json& reply, const char* member);

// A member as text: strings verbatim, other values as JSON, "" when absent.
std::string string_member(const nlohmann::json& object, const char* member);

// The three per-stream keys of "session_ready"; each empty when missing or
// not standard base64.
struct SessionKeys {
    std::vector<uint8_t> video;
    std::vector<uint8_t> audio;
    std::vector<uint8_t> input;
};

// The agent's answer to auth. Throws when it is not a JSON object; false,
// after logging why, when it refuses (`refusal` then holds its reason) or
// its video key is unusable.
bool read_session_ready(const std::string& line, SessionKeys& keys, std::string& refusal);

// The "type" of one incoming line, or "" when the line is not a JSON object
// with a string "type".
std::string message_type(std::string_view line);

}  // namespace nb
