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

inline constexpr std::string_view k_client_version = "0.1.0";

// What the process arguments ask for. Options take their value as the next
// argument or after "=" ("--fps=120"); a deep link ends the options, and
// whatever follows it is not looked at.
struct CommandLine {
    enum class Action {
        stream,           // host and token given: stream at once with `params`
        deep_link,        // a nubora:// link to hand to the launcher window
        launcher_window,  // nothing (or not enough) to stream with
        help,
        version,
        invalid,          // `error` says what, naming the option
    };
    Action action = Action::launcher_window;
    ConnectionParams params;
    std::string deep_link;
    std::string error;
};

CommandLine read_command_line(int argc, const char* const* argv);

// The --help text.
std::string command_line_usage();

}  // namespace nb
