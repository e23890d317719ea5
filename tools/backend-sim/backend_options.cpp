// Command-line parsing for the backend simulator. Each option names the field
// it fills and the range it accepts, so --help and the checks cannot drift.
#include "tools/backend-sim/backend_options.h"

#include <fmt/format.h>

#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>
#include <variant>

namespace nb {
namespace {

struct IntField {
    int BackendOptions::*field;
    int lo, hi;
};
struct Int64Field {
    int64_t BackendOptions::*field;
    int64_t lo, hi;
};
struct SecondsField {
    double BackendOptions::*field;
    double lo, hi;
};
struct TextField {
    std::string BackendOptions::*field;
};
struct ListField {
    std::vector<std::string> BackendOptions::*field;
};
struct Flag {
    bool BackendOptions::*field;
};
struct HelpFlag {};

using Target = std::variant<IntField, Int64Field, SecondsField, TextField, ListField, Flag, HelpFlag>;

struct Option {
    const char* name;
    const char* value;  // nullptr for a flag
    const char* help;
    Target target;
};

const std::vector<Option>& options() {
    using O = BackendOptions;
    static const std::vector<Option> table = {
        {"--help", nullptr, "Show this text and exit.", HelpFlag{}},
        {"--bind", "ADDR", "Address to listen on (default 127.0.0.1).", TextField{&O::bind_address}},
        {"--port", "PORT", "TCP port (default 3000); 0 picks a free one and prints it.",
         IntField{&O::port, 0, 65535}},
        {"--port-file", "FILE", "Write the port to FILE once listening (for scripts and tests).",
         TextField{&O::port_file}},
        {"--db", "PATH", "SQLite database file; accounts, catalogue and sessions survive restarts. "
                         "Default: in memory.",
         TextField{&O::db_path}},
        {"--seed-demo", nullptr, "Create the demo account and the built-in catalogue when missing.",
         Flag{&O::seed_demo}},
        {"--catalogue", "FILE", "Replace the catalogue with the servers of this JSON array.",
         TextField{&O::catalogue_file}},
        {"--tls-cert", "FILE", "PEM certificate chain: serve HTTPS (needs --tls-key).", TextField{&O::tls_cert}},
        {"--tls-key", "FILE", "PEM private key of --tls-cert.", TextField{&O::tls_key}},
        {"--starting-balance", "CENTS", "Balance of a newly registered account (default 2000).",
         Int64Field{&O::starting_balance_cents, 0, 1'000'000'000}},
        {"--prepare-delay", "MS", "Time a new session stays \"preparing\" (default 3000).",
         Int64Field{&O::prepare_delay_ms, 0, 3'600'000}},
        {"--stream-fps", "FPS", "Frame rate handed to the client, capped by the server's (default 60).",
         IntField{&O::stream_fps, 1, 240}},
        {"--stream-bitrate", "KBPS", "Bitrate handed to the client (default 20000).",
         IntField{&O::stream_bitrate_kbps, 50, 1'000'000}},
        {"--fast-password-hash", nullptr, "Hash new passwords at libsodium's minimum cost (tests only).",
         Flag{&O::fast_password_hash}},
        {"--agent", "PATH", "Start this nubora-agent-sim for every rented session.", TextField{&O::agent_path}},
        {"--agent-host", "HOST", "Agent host given to the client (default 127.0.0.1).", TextField{&O::agent_host}},
        {"--agent-control-port", "PORT", "Control port of started agents (default 48001); 0 lets each pick one.",
         IntField{&O::agent_control_port, 0, 65535}},
        {"--agent-arg", "ARG", "Extra argument for every started agent (repeatable).", ListField{&O::agent_args}},
        {"--agent-start-timeout", "MS", "How long an agent may take to get ready (default 15000).",
         Int64Field{&O::agent_start_timeout_ms, 100, 600'000}},
        {"--fault", "[METHOD:]PATH=KIND[:ARG]", "Answer matching requests with an error shape (repeatable; "
                                               "see docs/backend-sim.md).",
         ListField{&O::faults}},
        {"--admin", nullptr, "Enable the /_test/ endpoints that set faults at run time.", Flag{&O::admin}},
        {"--exit-after-idle", "S", "Exit after S seconds without a request (default: never).",
         SecondsField{&O::idle_exit_s, 0.001, 7 * 24 * 3600.0}},
        {"--log-level", "LEVEL", "trace, debug, info, warn or error (default info).", TextField{&O::log_level}},
    };
    return table;
}

template <typename T>
bool parse_whole(std::string_view text, T& out) {
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end;
}

// Stores `value` into the option's field; returns what was wrong, or nothing.
std::string apply(const Option& option, std::string_view value, BackendOptions& out) {
    return std::visit(
        [&](const auto& t) -> std::string {
            using T = std::decay_t<decltype(t)>;
            if constexpr (std::is_same_v<T, IntField> || std::is_same_v<T, Int64Field>) {
                int64_t v = 0;
                if (!parse_whole(value, v) || v < t.lo || v > t.hi)
                    return fmt::format("expects an integer from {} to {}, got '{}'", t.lo, t.hi, value);
                out.*t.field = static_cast<std::decay_t<decltype(out.*t.field)>>(v);
            } else if constexpr (std::is_same_v<T, SecondsField>) {
                double v = 0;
                if (!parse_whole(value, v) || !std::isfinite(v) || v < t.lo || v > t.hi)
                    return fmt::format("expects a number from {} to {}, got '{}'", t.lo, t.hi, value);
                out.*t.field = v;
            } else if constexpr (std::is_same_v<T, TextField>) {
                if (value.empty()) return "expects a non-empty value";
                out.*t.field = std::string(value);
            } else if constexpr (std::is_same_v<T, ListField>) {
                if (value.empty()) return "expects a non-empty value";
                (out.*t.field).emplace_back(value);
            } else if constexpr (std::is_same_v<T, Flag>) {
                out.*t.field = true;
            }
            return {};
        },
        option.target);
}

std::string check_combination(const BackendOptions& o) {
    if (o.tls_cert.empty() != o.tls_key.empty()) return "--tls-cert and --tls-key go together";
    static const std::vector<std::string_view> levels = {"trace", "debug", "info", "warn", "error"};
    bool known_level = false;
    for (auto level : levels) known_level = known_level || level == o.log_level;
    if (!known_level) return "--log-level expects trace, debug, info, warn or error";
    if (o.agent_path.empty() && !o.agent_args.empty()) return "--agent-arg needs --agent";
    return {};
}

}  // namespace

ParsedBackendOptions parse_backend_options(int argc, const char* const* argv) {
    ParsedBackendOptions result;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i] != nullptr ? argv[i] : "";
        std::string_view name = arg;
        std::optional<std::string_view> inline_value;
        if (const size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            name = arg.substr(0, eq);
            inline_value = arg.substr(eq + 1);
        }
        const Option* option = nullptr;
        for (const auto& o : options())
            if (name == o.name) option = &o;
        if (option == nullptr) {
            result.error = fmt::format("unknown option '{}' (see --help)", name);
            return result;
        }
        if (std::holds_alternative<HelpFlag>(option->target)) {
            result.help = result.ok = true;
            return result;
        }
        std::string_view value;
        if (option->value == nullptr) {
            if (inline_value) {
                result.error = fmt::format("{} takes no value", name);
                return result;
            }
        } else if (inline_value) {
            value = *inline_value;
        } else if (i + 1 < argc && argv[i + 1] != nullptr) {
            value = argv[++i];
        } else {
            result.error = fmt::format("{} needs a value", name);
            return result;
        }
        if (std::string problem = apply(*option, value, result.options); !problem.empty()) {
            result.error = fmt::format("{} {}", name, problem);
            return result;
        }
    }
    result.error = check_combination(result.options);
    result.ok = result.error.empty();
    return result;
}

std::string backend_usage() {
    std::string text =
        "Usage: nubora-backend-sim [options]\n"
        "A marketplace backend for tests and demos: accounts, a server catalogue and rented sessions.\n\n";
    for (const auto& o : options()) {
        const std::string head = o.value ? fmt::format("{} {}", o.name, o.value) : o.name;
        text += fmt::format("  {:<34} {}\n", head, o.help);
    }
    return text;
}

}  // namespace nb
