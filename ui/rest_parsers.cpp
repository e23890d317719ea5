// Result records from the backend's answers, and the request texts.
#include "ui/rest_parsers.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "ui/json_fields.h"

namespace nb::ui {

namespace {

using nlohmann::json;

constexpr size_t k_invalid_body_excerpt = 200;

std::string http_status_text(int status) { return "HTTP " + std::to_string(status); }

bool is_created(int status) { return status == 200 || status == 201; }

// The first `limit` bytes of `body`, cut back to a character boundary so the
// text shown to the user never ends in half a UTF-8 sequence.
std::string excerpt(std::string_view body, size_t limit) {
    if (body.size() <= limit) return std::string(body);
    size_t n = limit;
    while (n > 0 && (static_cast<unsigned char>(body[n]) & 0xC0) == 0x80) --n;
    return std::string(body.substr(0, n));
}

// The member `key` of an object body, or null.
const json* member(const json& body, std::string_view key) {
    if (!body.is_object()) return nullptr;
    const auto it = body.find(key);
    return it == body.end() ? nullptr : &*it;
}

bool is_usable_text(const json& value) {
    return value.is_string() && !value.get_ref<const std::string&>().empty();
}

// A validation failure lists its problems; the first one's "msg" says what
// to fix.
std::optional<std::string> first_entry_message(const json& detail) {
    if (!detail.is_array() || detail.empty()) return std::nullopt;
    const json* msg = member(detail.front(), "msg");
    if (msg && msg->is_string()) return msg->get<std::string>();
    return std::nullopt;
}

// The backend's own explanation ("detail") when it gives a usable one,
// otherwise `fallback`.
std::string detail_or(const std::optional<json>& body, std::string fallback) {
    const json* detail = body ? member(*body, "detail") : nullptr;
    if (!detail) return fallback;
    if (is_usable_text(*detail)) return detail->get<std::string>();
    return first_entry_message(*detail).value_or(std::move(fallback));
}

// Sign-in and registration share the answer: a token and the user.
AuthResult read_auth(const json& body) {
    AuthResult result;
    result.token = read_string(body, "token");
    result.role = "client";
    if (has_member(body, "user")) {
        const json& user = body.at("user");
        result.user_id = read_id(user, "id");
        result.display_name = read_string(user, "displayName");
        result.email = read_string(user, "email");
        result.role = read_string(user, "role", "client");
        result.balance_cents = read_i64(user, "balanceCents", 0);
    }
    result.ok = true;
    return result;
}

AuthResult parse_auth(int status, std::string_view body, bool (*succeeded)(int), std::string fallback) {
    AuthResult result;
    if (body.empty()) {
        result.error = "No response from server";
        return result;
    }
    const std::optional<json> parsed = parse_json_body(body);
    if (!parsed && succeeded(status)) {
        result.error = "Invalid JSON response";
        return result;
    }
    if (!succeeded(status) || !has_member(*parsed, "token")) {
        result.error = detail_or(parsed, std::move(fallback));
        return result;
    }
    try {
        return read_auth(*parsed);
    } catch (const JsonFieldError&) {
        result = {};
        result.error = "Invalid JSON response";
        return result;
    }
}

// Profile, active session and connect details answer alike before their
// members are read: the parsed body when there is a record to read, else
// the error text.
std::optional<json> record_body(int status, std::string_view body, const char* null_text, std::string& error) {
    if (body.empty()) {
        error = "No response";
        return std::nullopt;
    }
    std::optional<json> parsed = parse_json_body(body);
    if (parsed && parsed->is_null()) {
        error = null_text;
        return std::nullopt;
    }
    if (status != 200) {
        error = detail_or(parsed, http_status_text(status));
        return std::nullopt;
    }
    if (!parsed) error = "Invalid JSON";
    return parsed;
}

// Reads a record with `read`; a member of the wrong kind fails the whole
// record rather than leaving it half filled.
template <typename Record, typename Read>
Record read_record(int status, std::string_view body, const char* null_text, Read read) {
    Record result;
    const std::optional<json> parsed = record_body(status, body, null_text, result.error);
    if (!parsed) return result;
    try {
        read(*parsed, result);
        result.ok = true;
    } catch (const JsonFieldError&) {
        result = {};
        result.error = "Invalid JSON";
    }
    return result;
}

uint16_t clamp_port(int64_t value) { return static_cast<uint16_t>(std::clamp<int64_t>(value, 1, 65535)); }

// Unreserved characters pass, a space is written %20 and everything else is
// escaped, so a filter text can never add, cut or change query parameters.
std::string query_escape(std::string_view text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                                (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
                                byte == '~';
        if (unreserved) {
            out += c;
        } else {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0x0F];
        }
    }
    return out;
}

// Compact, keys in alphabetical order (the library's object is a sorted
// map); text that is not UTF-8 is replaced rather than thrown on.
std::string compact(const json& body) { return body.dump(-1, ' ', false, json::error_handler_t::replace); }

}  // namespace

AuthResult parse_login_response(int status, std::string_view body) {
    return parse_auth(
        status, body, [](int s) { return s == 200; }, "Login failed (" + http_status_text(status) + ")");
}

AuthResult parse_register_response(int status, std::string_view body) {
    return parse_auth(status, body, is_created, http_status_text(status));
}

UserProfile parse_profile_response(int status, std::string_view body) {
    return read_record<UserProfile>(status, body, "No user profile", [](const json& parsed, UserProfile& profile) {
        const json& user = has_member(parsed, "user") ? parsed.at("user") : parsed;
        profile.display_name = read_string(user, "displayName");
        profile.email = read_string(user, "email");
        profile.role = read_string(user, "role", "client");
        profile.balance_cents = read_i64(user, "balanceCents", 0);
    });
}

ServerInfo parse_server_info(const json& entry) {
    ServerInfo server;
    server.id = read_id(entry, "id");
    server.hostname = read_string(entry, "hostname");
    server.gpu_model = read_string(entry, "gpuModel");
    server.gpu_vram_mb = read_i32(entry, "gpuVramMb", 0);
    server.cpu_model = read_string(entry, "cpuModel");
    server.ram_mb = read_i32(entry, "ramMb", 0);
    server.status = read_string(entry, "status", "offline");
    server.price_per_hour_cents = read_i32(entry, "pricePerHourCents", 0);
    server.max_resolution = read_string(entry, "maxResolution");
    server.max_fps = read_i32(entry, "maxFps", 0);
    if (const auto codecs = entry.find("supportedCodecs"); codecs != entry.end() && codecs->is_array()) {
        for (const json& codec : *codecs) {
            if (codec.is_string()) server.supported_codecs.push_back(codec.get<std::string>());
        }
    }
    server.rating = read_float(entry, "rating", 0.0f);
    server.total_sessions = read_i32(entry, "totalSessions", 0);
    if (const auto live = entry.find("realtimeStatus"); live != entry.end() && live->is_object()) {
        server.live_fps = read_i32(*live, "fps", 0);
        server.latency_ms = read_i32(*live, "latencyMs", 0);
    }
    return server;
}

ServerListResult parse_server_list_response(int status, std::string_view body) {
    ServerListResult result;
    if (body.empty()) {
        result.error = "No response";
        return result;
    }
    const std::optional<json> parsed = parse_json_body(body);
    if (status != 200) {
        result.error = detail_or(parsed, http_status_text(status));
        return result;
    }
    try {
        if (!parsed) throw JsonFieldError("no JSON text");
        result.total = read_i32(*parsed, "total", 0);
        if (const auto servers = parsed->find("servers"); servers != parsed->end() && servers->is_array()) {
            result.servers.reserve(servers->size());
            for (const json& entry : *servers) result.servers.push_back(parse_server_info(entry));
        }
        result.ok = true;
    } catch (const JsonFieldError&) {
        result = {};
        result.error = "Invalid JSON";
    }
    return result;
}

CreateSessionResult parse_create_session_response(int status, std::string_view body) {
    CreateSessionResult result;
    if (body.empty()) {
        result.error = "No response";
        return result;
    }
    const std::optional<json> parsed = parse_json_body(body);
    const auto invalid_text = [&] {
        return "Invalid response (" + http_status_text(status) + "): " + excerpt(body, k_invalid_body_excerpt);
    };
    if (!parsed) {
        result.error = invalid_text();
        return result;
    }
    if (is_created(status)) {
        try {
            // The rent went through even when the answer names no session.
            if (parsed->is_object()) result.session_id = read_id(*parsed, "session_id");
        } catch (const JsonFieldError&) {
            result.error = invalid_text();
            return result;
        }
        result.ok = true;
        result.status = "preparing";
        return result;
    }
    if (const json* detail = member(*parsed, "detail")) {
        if (is_usable_text(*detail)) {
            result.error = detail->get<std::string>();
        } else if (detail->is_array() && !detail->empty()) {
            result.error = first_entry_message(*detail).value_or("Validation error");
        } else {
            result.error = http_status_text(status);
        }
    } else if (const json* message = member(*parsed, "message"); message && message->is_string()) {
        result.error = message->get<std::string>();
    } else {
        result.error = http_status_text(status);
    }
    return result;
}

ActiveSession parse_active_session_response(int status, std::string_view body) {
    return read_record<ActiveSession>(status, body, "No active session", [](const json& parsed, ActiveSession& s) {
        s.id = read_id(parsed, "id");
        s.status = read_string(parsed, "status");
        s.duration_sec = static_cast<int32_t>(
            std::clamp<int64_t>(read_i64(parsed, "durationSec", 0), 0, std::numeric_limits<int32_t>::max()));
        s.cost_cents = read_i64(parsed, "costCents", 0);
        s.server_hostname = read_string(parsed, "serverHostname");
    });
}

ConnectInfo parse_connect_info_response(int status, std::string_view body) {
    return read_record<ConnectInfo>(status, body, "No active session", [](const json& parsed, ConnectInfo& info) {
        info.session_id = read_id(parsed, "session_id");
        info.status = read_string(parsed, "status");
        info.token = read_string(parsed, "token");
        info.host = read_string(parsed, "host");
        // Narrowed first, so the control port's default cannot overflow.
        const int64_t port = read_i32(parsed, "port", ConnectInfo::k_default_port);
        info.port = clamp_port(port);
        info.control_port = clamp_port(read_i64(parsed, "control_port", port + 3));
        info.codec = read_string(parsed, "codec", "h264");
        info.fps = static_cast<int32_t>(std::clamp<int64_t>(read_i64(parsed, "fps", 60), 1, 240));
        info.bitrate = static_cast<int32_t>(std::clamp<int64_t>(read_i64(parsed, "bitrate", 30000), 1, 1'000'000));
    });
}

std::string server_list_path(std::string_view gpu, int32_t min_fps, int32_t max_price, std::string_view sort) {
    std::string path = "/api/servers?page=1&limit=30";
    if (!gpu.empty()) path += "&gpu=" + query_escape(gpu);
    if (min_fps > 0) path += "&min_fps=" + std::to_string(min_fps);
    if (max_price > 0) path += "&max_price=" + std::to_string(max_price);
    path += "&sort=" + query_escape(sort);
    return path;
}

std::string login_body(const std::string& email, const std::string& password) {
    return compact({{"email", email}, {"password", password}});
}

std::string register_body(const std::string& email, const std::string& password, const std::string& display_name,
                          const std::string& role) {
    return compact({{"display_name", display_name}, {"email", email}, {"password", password}, {"role", role}});
}

std::string create_session_body(const std::string& server_id, const std::string& codec) {
    return compact({{"codec_preference", codec}, {"duration_hours", 1.0}, {"server_id", server_id}});
}

}  // namespace nb::ui
