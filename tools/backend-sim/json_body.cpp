#include "tools/backend-sim/json_body.h"

namespace nb {

JsonBody::JsonBody(const std::string& text) {
    doc_ = nlohmann::json::parse(text, nullptr, false);
    if (!doc_.is_object()) {
        problems_.push_back({{"loc", {"body"}}, {"msg", "Body must be a JSON object"}, {"type", "json_invalid"}});
        doc_ = nlohmann::json::object();
        is_object_ = false;
    }
}

void JsonBody::problem(const char* key, const char* msg, const char* type) {
    if (!is_object_) return;
    problems_.push_back({{"loc", {"body", key}}, {"msg", msg}, {"type", type}});
}

std::string JsonBody::text(const char* key, bool required, std::string fallback) {
    const auto it = doc_.find(key);
    if (it == doc_.end() || it->is_null()) {
        if (required) problem(key, "Field required", "missing");
        return fallback;
    }
    if (!it->is_string()) {
        problem(key, "Input should be a valid string", "string_type");
        return fallback;
    }
    return it->get<std::string>();
}

double JsonBody::number(const char* key, bool required, double fallback) {
    const auto it = doc_.find(key);
    if (it == doc_.end() || it->is_null()) {
        if (required) problem(key, "Field required", "missing");
        return fallback;
    }
    if (!it->is_number()) {
        problem(key, "Input should be a valid number", "float_type");
        return fallback;
    }
    return it->get<double>();
}

ApiError JsonBody::error() const {
    if (problems_.empty()) return ApiError::none();
    return {422, problems_};
}

}  // namespace nb
