// Command-line parsing for the test agent. Every value is checked here so
// the agent never starts with a setting it would trip over later.
#include "tools/agent-sim/agent_options.h"

#include <fmt/format.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string_view>

#include "tools/agent-sim/test_scene.h"

namespace nb {
namespace {

using Setter = std::function<std::string(AgentOptions&, std::string_view)>;

struct OptionSpec {
    const char* name;
    const char* value;  // nullptr for a flag
    const char* help;
    Setter set;
};

template <typename T>
bool parse_number(std::string_view text, T& out) {
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end;
}

bool parse_double(std::string_view text, double& out) {
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end && std::isfinite(out);
}

std::string need_int(std::string_view text, int64_t lo, int64_t hi, auto&& store) {
    int64_t v = 0;
    if (!parse_number(text, v) || v < lo || v > hi) {
        return "expects an integer from " + std::to_string(lo) + " to " + std::to_string(hi) + ", got '" +
               std::string(text) + "'";
    }
    store(v);
    return {};
}

std::string need_double(std::string_view text, double lo, double hi, double& out) {
    double v = 0;
    if (!parse_double(text, v) || v < lo || v > hi) {
        return fmt::format("expects a number from {} to {}, got '{}'", lo, hi, text);
    }
    out = v;
    return {};
}

Setter port_setter(uint16_t AgentOptions::*field) {
    return [field](AgentOptions& o, std::string_view t) {
        return need_int(t, 0, 65535, [&](int64_t v) { o.*field = static_cast<uint16_t>(v); });
    };
}

Setter pct_setter(double ImpairmentConfig::*field) {
    return [field](AgentOptions& o, std::string_view t) { return need_double(t, 0, 100, o.impairment.*field); };
}

std::string parse_frame_list(std::string_view text, std::vector<uint32_t>& out) {
    out.clear();
    while (!text.empty()) {
        const size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        uint32_t id = 0;
        if (!parse_number(item, id) || id == 0) return "expects frame ids (1 or more) separated by commas";
        out.push_back(id);
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
        if (text.empty()) return "expects frame ids (1 or more) separated by commas";
    }
    if (out.empty()) return "expects at least one frame id";
    return {};
}

const std::vector<OptionSpec>& specs() {
    static const std::vector<OptionSpec> table = {
        {"--help", nullptr, "Show this text and exit.", [](AgentOptions&, std::string_view) { return std::string(); }},
        {"--bind", "ADDR", "Address every socket binds to (default 127.0.0.1).",
         [](AgentOptions& o, std::string_view t) {
             if (t.empty()) return std::string("expects an IPv4 or IPv6 address");
             o.bind_address = std::string(t);
             return std::string();
         }},
        {"--control-port", "PORT", "TCP control channel port (default 48001).",
         port_setter(&AgentOptions::control_port)},
        {"--video-port", "PORT", "UDP port for video probes; video is sent from it (default 48002).",
         port_setter(&AgentOptions::video_port)},
        {"--audio-port", "PORT", "UDP port for audio probes; audio is sent from it (default 48003).",
         port_setter(&AgentOptions::audio_port)},
        {"--input-port", "PORT", "UDP port input datagrams arrive on (default 48000).",
         port_setter(&AgentOptions::input_port)},
        {"--token", "TEXT", "Session token a client must present in its auth message.",
         [](AgentOptions& o, std::string_view t) {
             if (t.empty()) return std::string("expects a non-empty token");
             o.token = std::string(t);
             return std::string();
         }},
        {"--accept-any-token", nullptr, "Accept every token (for demos).",
         [](AgentOptions& o, std::string_view) {
             o.accept_any_token = true;
             return std::string();
         }},
        {"--omit-key", "video|audio|input", "Leave this key out of session_ready (repeatable; for client tests).",
         [](AgentOptions& o, std::string_view t) {
             if (t == "video") o.omit_video_key = true;
             else if (t == "audio") o.omit_audio_key = true;
             else if (t == "input") o.omit_input_key = true;
             else return std::string("expects video, audio or input");
             return std::string();
         }},
        {"--fec-ratio", "R", "Repair packets per data packet, rounded up (default 0.10).",
         [](AgentOptions& o, std::string_view t) { return need_double(t, 0, 4, o.fec_ratio); }},
        {"--fec-count", "N", "Fixed number of repair packets per frame (overrides --fec-ratio).",
         [](AgentOptions& o, std::string_view t) {
             return need_int(t, 0, 256, [&](int64_t v) { o.fec_count = static_cast<int>(v); });
         }},
        {"--preset", "NAME", "x264/x265 speed preset (default ultrafast).",
         [](AgentOptions& o, std::string_view t) {
             static const std::vector<std::string_view> known = {"ultrafast", "superfast", "veryfast", "faster",
                                                                 "fast", "medium"};
             for (auto k : known)
                 if (k == t) {
                     o.preset = std::string(t);
                     return std::string();
                 }
             return std::string("expects one of ultrafast, superfast, veryfast, faster, fast, medium");
         }},
        {"--idr-interval", "N", "Frames between periodic IDRs; 0 = only the first and requested ones (default 0).",
         [](AgentOptions& o, std::string_view t) {
             return need_int(t, 0, 100000, [&](int64_t v) { o.idr_interval = static_cast<int>(v); });
         }},
        {"--intra-refresh", nullptr, "Use periodic intra refresh instead of IDR pictures.",
         [](AgentOptions& o, std::string_view) {
             o.intra_refresh = true;
             return std::string();
         }},
        {"--encoder-threads", "N", "Encoder threads; 0 = the codec's choice (default 0).",
         [](AgentOptions& o, std::string_view t) {
             return need_int(t, 0, 64, [&](int64_t v) { o.encoder_threads = static_cast<int>(v); });
         }},
        {"--busy-scene", nullptr, "Add a band of changing noise so frames fill the bitrate (load tests).",
         [](AgentOptions& o, std::string_view) {
             o.busy_scene = true;
             return std::string();
         }},
        {"--stream-size", "WxH", "Stream this size whatever the client asks for (a PC with this screen size).",
         [](AgentOptions& o, std::string_view t) {
             int width = 0;
             int height = 0;
             char tail = 0;
             const std::string text(t);
             if (std::sscanf(text.c_str(), "%dx%d%c", &width, &height, &tail) != 2 ||
                 !TestScene::valid_size(width, height)) {
                 return std::string("expects WIDTHxHEIGHT, even sizes from 64x36 to 8192x8192");
             }
             o.stream_width = width;
             o.stream_height = height;
             return std::string();
         }},
        {"--annexb", "FILE", "Stream this Annex-B file (looped) instead of the rendered scene.",
         [](AgentOptions& o, std::string_view t) {
             if (t.empty()) return std::string("expects a file name");
             o.annexb_file = std::string(t);
             return std::string();
         }},
        {"--annexb-codec", "h264|hevc", "Codec of the --annexb file (default h264).",
         [](AgentOptions& o, std::string_view t) {
             if (t == "h264") o.annexb_codec = VideoCodec::H264;
             else if (t == "hevc" || t == "h265") o.annexb_codec = VideoCodec::HEVC;
             else return std::string("expects h264 or hevc");
             return std::string();
         }},
        {"--no-audio", nullptr, "Send no audio.",
         [](AgentOptions& o, std::string_view) {
             o.audio = false;
             return std::string();
         }},
        {"--tone", "HZ", "Frequency of the test tone (default 440).",
         [](AgentOptions& o, std::string_view t) { return need_double(t, 20, 20000, o.tone_hz); }},
        {"--audio-file", "FILE", "Send this raw PCM file (s16le, 48 kHz, stereo, looped) instead of the tone.",
         [](AgentOptions& o, std::string_view t) {
             if (t.empty()) return std::string("expects a file name");
             o.audio_file = std::string(t);
             return std::string();
         }},
        {"--audio-bitrate", "KBPS", "Opus bitrate (default 128).",
         [](AgentOptions& o, std::string_view t) {
             return need_int(t, 6, 510, [&](int64_t v) { o.audio_bitrate_kbps = static_cast<int>(v); });
         }},
        {"--loss", "PCT", "Drop each datagram with this probability (percent).", pct_setter(&ImpairmentConfig::loss_pct)},
        {"--burst-loss", "PCT", "Start a burst of losses at a datagram with this probability (percent).",
         pct_setter(&ImpairmentConfig::burst_pct)},
        {"--burst-length", "N", "Datagrams lost per burst (default 4).",
         [](AgentOptions& o, std::string_view t) {
             return need_int(t, 1, 4096, [&](int64_t v) { o.impairment.burst_length = static_cast<int>(v); });
         }},
        {"--reorder-window", "N", "Shuffle datagrams within windows of N (0 = in order).",
         [](AgentOptions& o, std::string_view t) {
             return need_int(t, 0, 1024, [&](int64_t v) { o.impairment.reorder_window = static_cast<int>(v); });
         }},
        {"--duplicate", "PCT", "Send a datagram twice with this probability (percent).",
         pct_setter(&ImpairmentConfig::duplicate_pct)},
        {"--corrupt", "PCT", "Flip one ciphertext byte with this probability (percent).",
         pct_setter(&ImpairmentConfig::corrupt_pct)},
        {"--forge", "PCT", "Add a datagram sealed with a wrong key with this probability (percent).",
         pct_setter(&ImpairmentConfig::forge_pct)},
        {"--withhold-frames", "LIST", "Frame ids (comma-separated) whose datagrams are never sent.",
         [](AgentOptions& o, std::string_view t) { return parse_frame_list(t, o.impairment.withhold_frames); }},
        {"--impair-audio", nullptr, "Apply the loss, burst, duplicate, corrupt and forge settings to audio too.",
         [](AgentOptions& o, std::string_view) {
             o.impair_audio = true;
             return std::string();
         }},
        {"--seed", "N", "Seed of every random choice of the impairments (default 1).",
         [](AgentOptions& o, std::string_view t) {
             uint64_t v = 0;
             if (!parse_number(t, v)) return std::string("expects an unsigned integer");
             o.seed = v;
             return std::string();
         }},
        {"--events", "FILE", "Write a JSON-lines log of everything observed and sent to FILE.",
         [](AgentOptions& o, std::string_view t) {
             if (t.empty()) return std::string("expects a file name");
             o.events_file = std::string(t);
             return std::string();
         }},
        {"--duration", "S", "Stop by itself after S seconds (default: run until SIGINT/SIGTERM).",
         [](AgentOptions& o, std::string_view t) { return need_double(t, 0.001, 7 * 24 * 3600.0, o.duration_s); }},
        {"--log-level", "LEVEL", "trace, debug, info, warn or error (default info).",
         [](AgentOptions& o, std::string_view t) {
             if (t != "trace" && t != "debug" && t != "info" && t != "warn" && t != "error")
                 return std::string("expects trace, debug, info, warn or error");
             o.log_level = std::string(t);
             return std::string();
         }},
    };
    return table;
}

}  // namespace

ParsedOptions parse_agent_options(int argc, const char* const* argv) {
    ParsedOptions result;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i] != nullptr ? argv[i] : "";
        std::string_view inline_value;
        bool has_inline = false;
        if (const size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            inline_value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            has_inline = true;
        }
        const OptionSpec* spec = nullptr;
        for (const auto& s : specs())
            if (arg == s.name) spec = &s;
        if (spec == nullptr) {
            result.error = "unknown option '" + std::string(arg) + "' (see --help)";
            return result;
        }
        if (arg == "--help") {
            result.help = true;
            result.ok = true;
            return result;
        }
        std::string_view value;
        if (spec->value != nullptr) {
            if (has_inline) {
                value = inline_value;
            } else if (i + 1 < argc && argv[i + 1] != nullptr) {
                value = argv[++i];
            } else {
                result.error = std::string(spec->name) + " needs a value (" + spec->value + ")";
                return result;
            }
        } else if (has_inline) {
            result.error = std::string(spec->name) + " takes no value";
            return result;
        }
        if (std::string err = spec->set(result.options, value); !err.empty()) {
            result.error = std::string(spec->name) + " " + err;
            return result;
        }
    }
    const AgentOptions& o = result.options;
    if (o.token.empty() && !o.accept_any_token) {
        result.error = "either --token or --accept-any-token is required";
        return result;
    }
    auto clash = [](uint16_t a, uint16_t b) { return a != 0 && a == b; };
    if (clash(o.video_port, o.audio_port) || clash(o.video_port, o.input_port) || clash(o.audio_port, o.input_port)) {
        result.error = "--video-port, --audio-port and --input-port must differ";
        return result;
    }
    if (!o.audio_file.empty() && !o.audio) {
        result.error = "--audio-file and --no-audio contradict each other";
        return result;
    }
    result.ok = true;
    return result;
}

std::string agent_usage() {
    std::string text =
        "Usage: nubora-agent-sim (--token TEXT | --accept-any-token) [options]\n"
        "\n"
        "A streaming agent for tests and demos: serves the control channel, learns the\n"
        "client's UDP endpoints from its probes, streams a test scene (or a prepared\n"
        "Annex-B file) with repair packets and an Opus tone, and records input.\n"
        "Values are given as '--option VALUE' or '--option=VALUE'. A port of 0 picks a\n"
        "free one; the ports in use are logged and written to the event log.\n\n";
    for (const auto& s : specs()) {
        std::string head = std::string("  ") + s.name;
        if (s.value != nullptr) head += std::string(" ") + s.value;
        if (head.size() < 28) head.resize(28, ' ');
        else head += "\n" + std::string(28, ' ');
        text += head + s.help + "\n";
    }
    text += "\nExit status: 0 after a clean stop, 1 when a socket or file cannot be opened,\n"
            "2 for a bad command line.\n";
    return text;
}

}  // namespace nb
