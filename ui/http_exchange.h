// The seam between the platform-free request checks and the platform's HTTP
// library: one blocking exchange per call.
#pragma once

#include <string>

#include "ui/http_transport.h"

namespace nb::ui::detail {

enum class HttpMethod { get, post, del };

const char* method_name(HttpMethod method);

// Runs one request to an endpoint whose host and token were already checked;
// `body` is null for GET and DELETE. Failures are logged at `options.quiet`'s
// level and give status 0 (or the status already read) with an empty body.
HttpResponse run_exchange(HttpMethod method, const BackendEndpoint& endpoint, const std::string& path,
                          const std::string* body, const std::string& token, bool use_https,
                          const HttpOptions& options);

// The text every failure line names the request by.
std::string request_url(const BackendEndpoint& endpoint, const std::string& path, bool use_https);

}  // namespace nb::ui::detail
