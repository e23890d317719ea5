#include "app/command_line.h"

#include <spdlog/spdlog.h>

#include <limits>

namespace nb {

namespace {

constexpr std::string_view k_uri_scheme = "nubora://";
constexpr std::string_view k_session_prefix = "nubora://session";

constexpr int64_t k_max_port = 65535;
constexpr int64_t k_max_video_port = 65532;  // the control port lies three above it
constexpr int64_t k_max_fps = 240;
constexpr int64_t k_max_bitrate = 1000000;
constexpr int64_t k_max_dimension = 16384;
constexpr int k_control_port_offset = 3;

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<int64_t> parse_bounded_int(std::string_view text, int64_t max) {
    size_t pos = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) pos = 1;
    if (pos == text.size()) return std::nullopt;
    int64_t value = 0;
    for (; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (c < '0' || c > '9') return std::nullopt;
        const int digit = c - '0';
        if (value > (std::numeric_limits<int64_t>::max() - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    if (negative) value = -value;
    if (value < 1 || value > max) return std::nullopt;
    return value;
}

std::string decode_query_value(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '%' && i + 2 < value.size()) {
            const int hi = hex_digit(value[i + 1]);
            const int lo = hex_digit(value[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                continue;
            }
            out.push_back(c);
        } else if (c == '+') {
            out.push_back(' ');
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string query_value(std::string_view query, std::string_view key) {
    std::string needle(key);
    needle.push_back('=');
    size_t from = 0;
    while (from <= query.size()) {
        const size_t at = query.find(needle, from);
        if (at == std::string_view::npos) return {};
        if (at == 0 || query[at - 1] == '&') {
            const size_t start = at + needle.size();
            const size_t end = query.find('&', start);
            return decode_query_value(query.substr(start, end == std::string_view::npos ? end : end - start));
        }
        from = at + 1;
    }
    return {};
}

bool is_connection_uri(std::string_view text) { return text.starts_with(k_uri_scheme); }

bool parse_connection_uri(std::string_view uri, ConnectionParams& params) {
    if (!uri.starts_with(k_session_prefix)) return false;
    const size_t question = uri.find('?', k_session_prefix.size());
    if (question == std::string_view::npos) {
        spdlog::warn("parse_connection_uri: no query string in URI");
        return false;
    }
    std::string_view query = uri.substr(question + 1);
    // A shell may hand the link over with its closing quote or a line end.
    while (!query.empty() && (query.back() == '"' || query.back() == ' ' || query.back() == '\r')) {
        query.remove_suffix(1);
    }

    params.host = query_value(query, "host");
    params.token = query_value(query, "token");

    std::string port_text = query_value(query, "port");
    if (port_text.empty()) port_text = query_value(query, "control_port");
    if (port_text.empty()) {
        const std::string video_text = query_value(query, "video");
        if (!video_text.empty()) {
            const auto video_port = parse_bounded_int(video_text, k_max_video_port);
            if (!video_port) {
                spdlog::warn("parse_connection_uri: invalid video port '{}'", video_text);
                return false;
            }
            port_text = std::to_string(*video_port + k_control_port_offset);
        }
    }
    if (!port_text.empty()) {
        const auto port = parse_bounded_int(port_text, k_max_port);
        if (!port) {
            spdlog::warn("parse_connection_uri: invalid port '{}'", port_text);
            return false;
        }
        params.port = static_cast<uint16_t>(*port);
    }

    params.codec = codec_from_text(query_value(query, "codec"));

    const std::string fps_text = query_value(query, "fps");
    if (!fps_text.empty()) {
        const auto fps = parse_bounded_int(fps_text, k_max_fps);
        if (!fps) {
            spdlog::warn("parse_connection_uri: invalid fps '{}'", fps_text);
            return false;
        }
        params.fps = static_cast<int32_t>(*fps);
    }
    const std::string bitrate_text = query_value(query, "bitrate");
    if (!bitrate_text.empty()) {
        const auto bitrate = parse_bounded_int(bitrate_text, k_max_bitrate);
        if (!bitrate) {
            spdlog::warn("parse_connection_uri: invalid bitrate '{}'", bitrate_text);
            return false;
        }
        params.bitrate = static_cast<int32_t>(*bitrate);
    }
    return params.complete();
}

namespace {

// Reads a numeric option; logs the option's error line when it is refused.
bool read_int_option(std::string_view name, std::string_view value, int64_t max, int32_t& field) {
    const auto parsed = parse_bounded_int(value, max);
    if (!parsed) {
        spdlog::error("Invalid {} value '{}'", name, value);
        return false;
    }
    field = static_cast<int32_t>(*parsed);
    return true;
}

}  // namespace

bool parse_command_line(int argc, const char* const* argv, ConnectionParams& params) {
    if (argc < 2) return params.complete();
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (is_connection_uri(arg)) return parse_connection_uri(arg, params);
        if (i + 1 >= argc) break;  // an option without a value does nothing
        const std::string_view value = argv[i + 1];
        if (arg == "--host") {
            params.host = std::string(value);
        } else if (arg == "--port") {
            const auto port = parse_bounded_int(value, k_max_port);
            if (!port) {
                spdlog::error("Invalid --port value '{}'", value);
                return false;
            }
            params.port = static_cast<uint16_t>(*port);
        } else if (arg == "--token") {
            params.token = std::string(value);
        } else if (arg == "--codec") {
            params.codec = codec_from_text(value);
        } else if (arg == "--fps") {
            if (!read_int_option(arg, value, k_max_fps, params.fps)) return false;
        } else if (arg == "--bitrate") {
            if (!read_int_option(arg, value, k_max_bitrate, params.bitrate)) return false;
        } else if (arg == "--width") {
            if (!read_int_option(arg, value, k_max_dimension, params.width)) return false;
        } else if (arg == "--height") {
            if (!read_int_option(arg, value, k_max_dimension, params.height)) return false;
        } else {
            continue;  // unknown text: its neighbour is examined on its own
        }
        ++i;  // the value was consumed
    }
    return params.complete();
}

}  // namespace nb
