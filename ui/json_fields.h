// Reading members of backend answers: absent or null members take their
// default, numbers saturate instead of wrapping, and a member of the wrong
// kind is an error the caller reports as an invalid answer.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace nb::ui {

// A member holds a value of the wrong kind (or the container is no object).
class JsonFieldError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Nesting deeper than this is refused: no backend answer needs it, and a
// body of brackets would otherwise cost far more memory than its size.
inline constexpr int k_max_json_depth = 64;

// The parsed body, or nothing when it is no JSON text or nests too deeply.
std::optional<nlohmann::json> parse_json_body(std::string_view body);

// True when `object` is an object with `key` holding anything but null.
bool has_member(const nlohmann::json& object, std::string_view key);

std::string read_string(const nlohmann::json& object, std::string_view key, std::string fallback = {});
// Identifiers may come as text or as integers; both become text.
std::string read_id(const nlohmann::json& object, std::string_view key);
int64_t read_i64(const nlohmann::json& object, std::string_view key, int64_t fallback);
int32_t read_i32(const nlohmann::json& object, std::string_view key, int32_t fallback);
float read_float(const nlohmann::json& object, std::string_view key, float fallback);

}  // namespace nb::ui
