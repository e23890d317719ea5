// What one stream needs: agent address, session token and video settings,
// filled from the command line or from a nubora://session deep link.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace nb {

// The number is what the handshake sends and what log lines print.
enum class VideoCodec : uint8_t { H264 = 0, HEVC = 1, AV1 = 2 };

struct ConnectionParams {
    std::string host;
    uint16_t port = 48001;
    std::string token;
    VideoCodec codec = VideoCodec::H264;
    int32_t fps = 60;
    int32_t bitrate = 30000;  // kbit/s
    int32_t width = 1920;
    int32_t height = 1080;

    bool complete() const { return !host.empty() && !token.empty(); }
};

inline int codec_number(VideoCodec codec) { return static_cast<int>(codec); }

// "h265"/"hevc" select HEVC, "av1" AV1; every other text (there is none for
// H.264 itself) selects H.264. Case-sensitive, whole string.
VideoCodec codec_from_text(std::string_view text);

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
