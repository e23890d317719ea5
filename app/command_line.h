// Reading a stream's ConnectionParams from the command line or from a
// nubora://session deep link.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/connection_params.h"

namespace nb {

// A decimal integer: optional "-", at least one digit, nothing else, no
// overflow, and within [1, max]. Anything else gives nothing.
std::optional<int64_t> parse_bounded_int(std::string_view text, int64_t max);

// Percent-decodes one query value: "%hh" becomes the byte, "+" a space,
// a "%" without two hex digits after it stays literal.
std::string decode_query_value(std::string_view value);

// The decoded value of `key` in a query string, or "" when absent. Only an
// occurrence at the start or right after "&" counts; the first one wins.
std::string query_value(std::string_view query, std::string_view key);

bool is_connection_uri(std::string_view text);
bool parse_connection_uri(std::string_view uri, ConnectionParams& params);
bool parse_command_line(int argc, const char* const* argv, ConnectionParams& params);

}  // namespace nb
