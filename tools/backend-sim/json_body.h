// Reads a request's JSON object field by field and collects every problem
// into one 422 answer, as validating web frameworks do, so a client learns
// all that is wrong with its request at once.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

#include "tools/backend-sim/api_error.h"

namespace nb {

class JsonBody {
public:
    explicit JsonBody(const std::string& text);

    // Missing optional fields give `fallback`; missing required ones and
    // wrong types are recorded.
    std::string text(const char* key, bool required, std::string fallback = {});
    double number(const char* key, bool required, double fallback = 0);

    // 422 listing every recorded problem, or none.
    ApiError error() const;

private:
    void problem(const char* key, const char* msg, const char* type);

    nlohmann::json doc_;
    bool is_object_ = true;  // otherwise only that is reported, not every field
    nlohmann::json problems_ = nlohmann::json::array();
};

}  // namespace nb
