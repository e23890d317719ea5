#include "app/command_line.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "common/log_text.h"

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
                spdlog::warn("parse_connection_uri: invalid video port '{}'", log_safe(video_text));
                return false;
            }
            port_text = std::to_string(*video_port + k_control_port_offset);
        }
    }
    if (!port_text.empty()) {
        const auto port = parse_bounded_int(port_text, k_max_port);
        if (!port) {
            spdlog::warn("parse_connection_uri: invalid port '{}'", log_safe(port_text));
            return false;
        }
        params.port = static_cast<uint16_t>(*port);
    }

    params.codec = codec_from_text(query_value(query, "codec"));

    const std::string fps_text = query_value(query, "fps");
    if (!fps_text.empty()) {
        const auto fps = parse_bounded_int(fps_text, k_max_fps);
        if (!fps) {
            spdlog::warn("parse_connection_uri: invalid fps '{}'", log_safe(fps_text));
            return false;
        }
        params.fps = static_cast<int32_t>(*fps);
    }
    const std::string bitrate_text = query_value(query, "bitrate");
    if (!bitrate_text.empty()) {
        const auto bitrate = parse_bounded_int(bitrate_text, k_max_bitrate);
        if (!bitrate) {
            spdlog::warn("parse_connection_uri: invalid bitrate '{}'", log_safe(bitrate_text));
            return false;
        }
        params.bitrate = static_cast<int32_t>(*bitrate);
    }
    return params.complete();
}

namespace {

using Action = CommandLine::Action;

struct OptionSpec {
    std::string_view name;
    std::string_view value_name;  // empty for options without a value
    std::string_view help;
    // Stores the value; false when it is not acceptable.
    bool (*apply)(std::string_view value, ConnectionParams& params);
};

bool store_text(std::string_view value, std::string& field) {
    if (value.empty()) return false;
    field = std::string(value);
    return true;
}

template <int64_t Max>
bool store_number(std::string_view value, int32_t& field) {
    const auto parsed = parse_bounded_int(value, Max);
    if (!parsed) return false;
    field = static_cast<int32_t>(*parsed);
    return true;
}

// Unlike a deep link, a command line is typed by a person: a misspelt codec
// is refused instead of quietly selecting H.264.
bool store_codec(std::string_view value, ConnectionParams& params) {
    if (value != "h264" && value != "hevc" && value != "h265" && value != "av1") return false;
    params.codec = codec_from_text(value);
    return true;
}

const std::vector<OptionSpec>& option_specs() {
    static const std::vector<OptionSpec> specs = {
        {"--host", "HOST", "Host name or address of the PC running the agent.",
         [](std::string_view v, ConnectionParams& p) { return store_text(v, p.host); }},
        {"--port", "PORT", "Agent control port, 1 to 65535 (default 48001).",
         [](std::string_view v, ConnectionParams& p) {
             const auto port = parse_bounded_int(v, k_max_port);
             if (port) p.port = static_cast<uint16_t>(*port);
             return port.has_value();
         }},
        {"--token", "TOKEN", "Session token for the agent.",
         [](std::string_view v, ConnectionParams& p) { return store_text(v, p.token); }},
        {"--codec", "CODEC", "h264, hevc (or h265) or av1 (default h264).", store_codec},
        {"--fps", "N", "Frame rate, 1 to 240 (default 60).",
         [](std::string_view v, ConnectionParams& p) { return store_number<k_max_fps>(v, p.fps); }},
        {"--bitrate", "KBPS", "Video bit rate in kbit/s, 1 to 1000000 (default 30000).",
         [](std::string_view v, ConnectionParams& p) { return store_number<k_max_bitrate>(v, p.bitrate); }},
        {"--width", "W", "Stream width in pixels, 1 to 16384 (default 1920).",
         [](std::string_view v, ConnectionParams& p) { return store_number<k_max_dimension>(v, p.width); }},
        {"--height", "H", "Stream height in pixels, 1 to 16384 (default 1080).",
         [](std::string_view v, ConnectionParams& p) { return store_number<k_max_dimension>(v, p.height); }},
        {"--help", "", "Show this text and exit (also -h).", nullptr},
        {"--version", "", "Show the version and exit.", nullptr},
    };
    return specs;
}

const OptionSpec* find_option(std::string_view name) {
    if (name == "-h") name = "--help";
    for (const auto& spec : option_specs()) {
        if (spec.name == name) return &spec;
    }
    return nullptr;
}

CommandLine refuse(std::string error) {
    CommandLine result;
    result.action = Action::invalid;
    result.error = std::move(error);
    return result;
}

}  // namespace

CommandLine read_command_line(int argc, const char* const* argv) {
    CommandLine result;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i] != nullptr ? argv[i] : "";
        if (is_connection_uri(arg)) {
            result.action = Action::deep_link;
            result.deep_link = std::string(arg);
            return result;
        }
        std::string_view value;
        bool inline_value = false;
        if (const size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            inline_value = true;
        }
        const OptionSpec* spec = find_option(arg);
        if (spec == nullptr) {
            return refuse(arg.starts_with("-") ? "Unknown option '" + std::string(arg) + "'"
                                                 : "Unexpected argument '" + std::string(arg) + "'");
        }
        if (spec->value_name.empty()) {
            if (inline_value) return refuse("Option " + std::string(spec->name) + " takes no value");
            result.action = spec->name == "--help" ? Action::help : Action::version;
            return result;
        }
        if (!inline_value) {
            if (i + 1 >= argc || argv[i + 1] == nullptr) {
                return refuse("Option " + std::string(spec->name) + " needs a value");
            }
            value = argv[++i];
        }
        if (!spec->apply(value, result.params)) {
            return refuse("Invalid " + std::string(spec->name) + " value '" + std::string(value) + "'");
        }
    }
    result.action = result.params.complete() ? Action::stream : Action::launcher_window;
    return result;
}

std::string command_line_usage() {
    std::string text =
        "Usage: nubora-launcher [--host HOST --token TOKEN] [options]\n"
        "       nubora-launcher 'nubora://session?host=HOST&token=TOKEN[&port=..][&codec=..][&fps=..][&bitrate=..]'\n"
        "\n"
        "With --host and --token the stream starts at once; otherwise the launcher\n"
        "window opens. Values are given as '--option VALUE' or '--option=VALUE'.\n\n";
    for (const auto& spec : option_specs()) {
        std::string head = "  ";
        head += spec.name;
        if (!spec.value_name.empty()) {
            head += ' ';
            head += spec.value_name;
        }
        head.resize(std::max<size_t>(head.size() + 2, 20), ' ');
        text += head + std::string(spec.help) + "\n";
    }
    text +=
        "\nExit status: 0 when the launcher window is closed or a signal ends the client,\n"
        "1 when a stream cannot start or its connection to the PC is lost, 2 for a bad\n"
        "command line.\n";
    return text;
}

}  // namespace nb
