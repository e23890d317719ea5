#include "tools/backend-sim/fault_injector.h"

#include <httplib.h>
#include <nlohmann/json.hpp>
#include <spdlog/spdlog.h>

#include <charconv>
#include <thread>

#include "common/log_text.h"

namespace nb {
namespace {

using Kind = FaultRule::Kind;

struct KindName {
    const char* name;
    Kind kind;
};
constexpr KindName k_kinds[] = {
    {"validation", Kind::Validation}, {"validation-empty", Kind::ValidationEmpty},
    {"validation-nomsg", Kind::ValidationNoMsg}, {"detail", Kind::Detail}, {"message", Kind::Message},
    {"status", Kind::Status}, {"text", Kind::Text}, {"null", Kind::Null}, {"json", Kind::Json},
    {"delay", Kind::Delay}, {"truncate", Kind::Truncate}, {"huge", Kind::Huge},
};

constexpr std::string_view k_control_prefix = "/_test/";
constexpr int64_t k_max_huge_bytes = int64_t{1} << 32;
constexpr int64_t k_max_delay_ms = 600'000;

// A plain error page as proxies and crashed servers return, longer than the
// 200 bytes a client quotes of it.
constexpr const char* k_error_page =
    "<!DOCTYPE html>\n<html><head><title>Service Unavailable</title></head>\n<body>\n"
    "<h1>Service Unavailable</h1>\n<p>The marketplace is temporarily unable to handle your request because of "
    "maintenance downtime or capacity problems. Please try again later.</p>\n<hr><address>nubora-backend-sim"
    "</address>\n</body></html>\n";

bool parse_int(std::string_view text, int64_t lo, int64_t hi, int64_t& out) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return !text.empty() && ec == std::errc() && ptr == end && out >= lo && out <= hi;
}

// Splits "a:b:rest" into the first `count` - 1 fields and the rest.
std::vector<std::string_view> split_args(std::string_view text, size_t count) {
    std::vector<std::string_view> parts;
    while (parts.size() + 1 < count) {
        const size_t colon = text.find(':');
        if (colon == std::string_view::npos) break;
        parts.push_back(text.substr(0, colon));
        text.remove_prefix(colon + 1);
    }
    parts.push_back(text);
    return parts;
}

void reply(httplib::Response& res, int status, const std::string& body, const char* type = "application/json") {
    res.status = status;
    res.set_content(body, type);
}

}  // namespace

bool FaultRule::matches(const std::string& req_method, const std::string& req_path) const {
    if (!method.empty() && method != req_method) return false;
    if (!path.empty() && path.back() == '*') return req_path.starts_with(std::string_view(path).substr(0, path.size() - 1));
    return path == req_path;
}

const char* FaultInjector::kinds_help() {
    return "validation[:MSG] validation-empty validation-nomsg detail:STATUS[:TEXT] message:STATUS[:TEXT] "
           "status:STATUS text:STATUS null json:STATUS:BODY delay:MS truncate huge:BYTES";
}

bool FaultInjector::parse(std::string_view spec, FaultRule& rule, std::string& error) {
    rule = FaultRule{};
    const size_t eq = spec.find('=');
    if (eq == std::string_view::npos) {
        error = "expects [METHOD:]PATH=KIND";
        return false;
    }
    std::string_view target = spec.substr(0, eq);
    if (const size_t colon = target.find(':'); colon != std::string_view::npos) {
        rule.method = std::string(target.substr(0, colon));
        target.remove_prefix(colon + 1);
        if (rule.method != "GET" && rule.method != "POST" && rule.method != "DELETE") {
            error = "method must be GET, POST or DELETE";
            return false;
        }
    }
    if (!target.starts_with('/')) {
        error = "path must start with '/'";
        return false;
    }
    rule.path = std::string(target);

    const auto args = split_args(spec.substr(eq + 1), 3);
    const auto found = std::find_if(std::begin(k_kinds), std::end(k_kinds),
                                    [&](const KindName& k) { return args[0] == k.name; });
    if (found == std::end(k_kinds)) {
        error = std::string("unknown kind; kinds: ") + kinds_help();
        return false;
    }
    rule.kind = found->kind;
    const auto arg = [&](size_t i) { return i < args.size() ? args[i] : std::string_view(); };
    // The rest after KIND:, for kinds whose one argument may hold colons.
    const std::string tail = args.size() > 1 ? std::string(spec.substr(eq + 1 + args[0].size() + 1)) : std::string();
    int64_t number = 0;
    switch (rule.kind) {
        case Kind::Validation:
            rule.status = 422;
            rule.text = tail.empty() ? "Field required" : tail;
            return true;
        case Kind::ValidationEmpty:
        case Kind::ValidationNoMsg:
        case Kind::Null:
        case Kind::Truncate:
            rule.status = rule.kind == Kind::Null ? 200 : 422;
            if (args.size() == 1) return true;
            error = std::string(args[0]) + " takes no argument";
            return false;
        case Kind::Delay:
        case Kind::Huge:
            if (!parse_int(tail, 0, rule.kind == Kind::Delay ? k_max_delay_ms : k_max_huge_bytes, number)) {
                error = rule.kind == Kind::Delay ? "delay expects milliseconds, up to 600000"
                                                 : "huge expects a byte count, up to 4294967296";
                return false;
            }
            rule.amount = number;
            rule.status = 200;
            return true;
        default:
            break;
    }
    if (!parse_int(arg(1), 100, 599, number)) {
        error = std::string(args[0]) + " expects an HTTP status from 100 to 599";
        return false;
    }
    rule.status = static_cast<int>(number);
    rule.text = std::string(arg(2));
    if (rule.kind == Kind::Status || rule.kind == Kind::Text) {
        if (args.size() == 2) return true;
        error = std::string(args[0]) + " takes only a status";
        return false;
    }
    if (rule.text.empty()) rule.text = rule.kind == Kind::Json ? "" : "Simulated failure";
    if (rule.kind == Kind::Json && rule.text.empty()) {
        error = "json expects a body after the status";
        return false;
    }
    return true;
}

void FaultInjector::add(FaultRule rule) {
    std::lock_guard lock(mutex_);
    spdlog::info("FaultInjector: {} {} answered by fault rule", rule.method.empty() ? "*" : rule.method, rule.path);
    rules_.push_back(std::move(rule));
}

void FaultInjector::clear() {
    std::lock_guard lock(mutex_);
    rules_.clear();
}

bool FaultInjector::take(const httplib::Request& req, bool want_delay, bool want_truncate, FaultRule& out) {
    // The control endpoints stay reachable whatever the rules say, or a
    // catch-all rule could never be cleared.
    if (req.path.starts_with(k_control_prefix)) return false;
    std::lock_guard lock(mutex_);
    for (auto it = rules_.begin(); it != rules_.end(); ++it) {
        const bool is_delay = it->kind == Kind::Delay, is_truncate = it->kind == Kind::Truncate;
        if (is_delay != want_delay || is_truncate != want_truncate || !it->matches(req.method, req.path)) continue;
        out = *it;
        if (it->remaining > 0 && --it->remaining == 0) rules_.erase(it);
        return true;
    }
    return false;
}

bool FaultInjector::before_routing(const httplib::Request& req, httplib::Response& res) {
    FaultRule rule;
    if (take(req, true, false, rule)) std::this_thread::sleep_for(std::chrono::milliseconds(rule.amount));
    if (!take(req, false, false, rule)) return false;
    spdlog::info("FaultInjector: {} {} answered with a simulated fault", log_safe(req.method), log_safe(req.path));
    using nlohmann::json;
    switch (rule.kind) {
        case Kind::Validation:
            reply(res, 422, json{{"detail", {{{"loc", {"body"}}, {"msg", rule.text}, {"type", "value_error"}}}}}.dump());
            break;
        case Kind::ValidationEmpty: reply(res, 422, R"({"detail":[]})"); break;
        case Kind::ValidationNoMsg:
            reply(res, 422, json{{"detail", {{{"loc", {"body"}}, {"type", "value_error"}}}}}.dump());
            break;
        case Kind::Detail: reply(res, rule.status, json{{"detail", rule.text}}.dump()); break;
        case Kind::Message: reply(res, rule.status, json{{"message", rule.text}}.dump()); break;
        case Kind::Status: res.status = rule.status; break;
        case Kind::Text: reply(res, rule.status, k_error_page, "text/html"); break;
        case Kind::Null: reply(res, 200, "null"); break;
        case Kind::Json: reply(res, rule.status, rule.text); break;
        case Kind::Huge: {
            // Streamed in pieces: the answer may be far larger than memory allows.
            const auto total = static_cast<size_t>(rule.amount);
            res.status = 200;
            res.set_content_provider(total, "application/json", [total](size_t offset, size_t length, httplib::DataSink& sink) {
                static const std::string block(64 * 1024, ' ');
                const size_t n = std::min({length, block.size(), total - offset});
                std::string piece(block, 0, n);
                if (offset == 0 && n > 0) piece[0] = '[';
                if (offset + n == total && n > 0) piece[n - 1] = ']';
                return sink.write(piece.data(), piece.size());
            });
            break;
        }
        case Kind::Delay:
        case Kind::Truncate: return false;
    }
    return true;
}

void FaultInjector::after_routing(const httplib::Request& req, httplib::Response& res) {
    FaultRule rule;
    if (res.body.empty() || !take(req, false, true, rule)) return;
    // The length header follows the cut body: the answer is complete on the
    // wire and only its JSON is broken.
    res.body.resize(res.body.size() / 2);
    res.headers.erase("Content-Length");
    res.set_header("Content-Length", std::to_string(res.body.size()));
}

}  // namespace nb
