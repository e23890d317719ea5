// One blocking HTTP/1.1 exchange with the marketplace backend per call, on
// handles of its own (libcurl on Linux, WinHTTP on Windows): no state is
// shared, so calls may run on several threads at once.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace nb::ui {

class HttpCancel;

struct HttpResponse {
    int status = 0;  // 0 when no response arrived
    std::string body;  // empty whenever the exchange failed
};

struct HttpOptions {
    // The limits WinHTTP applies by default, which the backend's users know:
    // 60 s to connect, 30 s to send and for each wait on the response.
    std::chrono::seconds connect_timeout{60};
    std::chrono::seconds idle_timeout{30};
    // A larger answer is no backend answer; the exchange fails instead of
    // holding it in memory.
    size_t max_body_bytes = size_t{16} << 20;
    // Ends the wait on the exchange early when cancelled; may be null.
    HttpCancel* cancel = nullptr;
    // Failures log at debug instead of warn, for callers that repeat them.
    bool quiet = false;
};

// Host and port from the backend address text ("host" or "host:port").
struct BackendEndpoint {
    std::string host;
    uint16_t port = 0;
};
BackendEndpoint split_backend(std::string_view backend, bool use_https);

HttpResponse http_get(const std::string& backend, const std::string& path, const std::string& token, bool use_https,
                      const HttpOptions& options = {});
HttpResponse http_post(const std::string& backend, const std::string& path, const std::string& body,
                       const std::string& token, bool use_https, const HttpOptions& options = {});
HttpResponse http_delete(const std::string& backend, const std::string& path, const std::string& token,
                         bool use_https, const HttpOptions& options = {});

}  // namespace nb::ui
