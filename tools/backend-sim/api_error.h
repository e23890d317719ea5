// An error as the marketplace API reports it: an HTTP status and the body's
// "detail", a text or, for rejected input, a list of {loc, msg, type} items
// naming the offending field the way validating web frameworks do.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace nb {

struct ApiError {
    int status = 0;  // 0: no error
    nlohmann::json detail;

    bool ok() const { return status == 0; }

    static ApiError none() { return {}; }
    static ApiError message(int status, std::string text) { return {status, std::move(text)}; }
    // 422 for one field of the request; `where` is "body" or "query".
    static ApiError invalid(const std::string& where, const std::string& field, const std::string& msg,
                            const std::string& type = "value_error") {
        return {422, nlohmann::json::array({{{"loc", {where, field}}, {"msg", msg}, {"type", type}}})};
    }
};

}  // namespace nb
