// Member readers for backend answers.
#include "ui/json_fields.h"

#include <cmath>
#include <limits>

namespace nb::ui {

namespace {

using nlohmann::json;

// The member, or null when absent; a container that is no object is an error.
const json* find_member(const json& object, std::string_view key) {
    if (!object.is_object()) throw JsonFieldError("not an object where members were expected");
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}

int64_t saturate_i64(double value) {
    // 2^63 is exact as a double; anything at or above it does not fit.
    constexpr double limit = 9223372036854775808.0;
    if (value >= limit) return std::numeric_limits<int64_t>::max();
    if (value <= -limit) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);  // truncates toward zero
}

int64_t number_as_i64(const json& value, std::string_view key) {
    switch (value.type()) {
        case json::value_t::number_integer:
            return value.get<int64_t>();
        case json::value_t::number_unsigned: {
            const uint64_t u = value.get<uint64_t>();
            constexpr auto max = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
            return u > max ? std::numeric_limits<int64_t>::max() : static_cast<int64_t>(u);
        }
        case json::value_t::number_float:
            return saturate_i64(value.get<double>());
        default:
            throw JsonFieldError("member '" + std::string(key) + "' is not a number");
    }
}

}  // namespace

std::optional<json> parse_json_body(std::string_view body) {
    bool too_deep = false;
    // Values past the depth limit are dropped as they are read, so a hostile
    // body never grows into a deep tree before it is refused.
    json parsed = json::parse(
        body.begin(), body.end(),
        [&too_deep](int depth, json::parse_event_t, json&) {
            if (depth > k_max_json_depth) too_deep = true;
            return !too_deep;
        },
        false);
    if (parsed.is_discarded() || too_deep) return std::nullopt;
    return parsed;
}

bool has_member(const json& object, std::string_view key) {
    if (!object.is_object()) return false;
    const auto it = object.find(key);
    return it != object.end() && !it->is_null();
}

std::string read_string(const json& object, std::string_view key, std::string fallback) {
    const json* value = find_member(object, key);
    if (!value) return fallback;
    if (!value->is_string()) throw JsonFieldError("member '" + std::string(key) + "' is not a string");
    return value->get<std::string>();
}

std::string read_id(const json& object, std::string_view key) {
    const json* value = find_member(object, key);
    if (!value) return {};
    if (value->is_string()) return value->get<std::string>();
    if (value->is_number_integer()) return value->dump();
    throw JsonFieldError("member '" + std::string(key) + "' is no identifier");
}

int64_t read_i64(const json& object, std::string_view key, int64_t fallback) {
    const json* value = find_member(object, key);
    return value ? number_as_i64(*value, key) : fallback;
}

int32_t read_i32(const json& object, std::string_view key, int32_t fallback) {
    const json* value = find_member(object, key);
    if (!value) return fallback;
    const int64_t wide = number_as_i64(*value, key);
    constexpr int64_t lo = std::numeric_limits<int32_t>::min();
    constexpr int64_t hi = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(wide < lo ? lo : (wide > hi ? hi : wide));
}

float read_float(const json& object, std::string_view key, float fallback) {
    const json* value = find_member(object, key);
    if (!value) return fallback;
    if (!value->is_number()) throw JsonFieldError("member '" + std::string(key) + "' is not a number");
    const double wide = value->get<double>();
    constexpr double max = std::numeric_limits<float>::max();
    return static_cast<float>(wide > max ? max : (wide < -max ? -max : wide));
}

}  // namespace nb::ui
