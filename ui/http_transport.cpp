// What every backend request goes through before the platform's transport:
// the address split and the checks that keep the request where it belongs.
#include "ui/http_transport.h"

#include <spdlog/spdlog.h>

#include <charconv>

#include "common/log_text.h"
#include "ui/http_exchange.h"

namespace nb::ui {

namespace {

using detail::HttpMethod;

// The host goes into a URL, so only what a host name can hold passes:
// anything else could move the request to another host or path.
bool valid_host(std::string_view host) {
    if (host.empty()) return false;
    for (const char c : host) {
        const auto byte = static_cast<unsigned char>(c);
        const bool ok = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
                        byte == '-' || byte == '.' || byte == '_' || byte >= 0x80;  // internationalised names
        if (!ok) return false;
    }
    return true;
}

// A line break in a header value would start a header of the sender's choosing.
bool valid_header_value(std::string_view value) {
    for (const char c : value) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
    }
    return true;
}

HttpResponse exchange(HttpMethod method, const std::string& backend, const std::string& path, const std::string* body,
                      const std::string& token, bool use_https, const HttpOptions& options) {
    const auto level = options.quiet ? spdlog::level::debug : spdlog::level::warn;
    const BackendEndpoint endpoint = split_backend(backend, use_https);
    if (!valid_host(endpoint.host)) {
        spdlog::log(level, "HttpTransport: '{}' is no usable backend host name", log_safe(endpoint.host));
        return {};
    }
    if (!valid_header_value(token)) {
        spdlog::log(level, "HttpTransport: the sign-in token holds control characters; request not sent");
        return {};
    }
    return detail::run_exchange(method, endpoint, path, body, token, use_https, options);
}

}  // namespace

namespace detail {

const char* method_name(HttpMethod method) {
    switch (method) {
        case HttpMethod::get: return "GET";
        case HttpMethod::post: return "POST";
        case HttpMethod::del: return "DELETE";
    }
    return "?";
}

std::string request_url(const BackendEndpoint& endpoint, const std::string& path, bool use_https) {
    return std::string(use_https ? "https://" : "http://") + endpoint.host + ":" + std::to_string(endpoint.port) +
           path;
}

}  // namespace detail

BackendEndpoint split_backend(std::string_view backend, bool use_https) {
    BackendEndpoint endpoint{std::string(backend), 0};
    if (const size_t colon = backend.find(':'); colon != std::string_view::npos) {
        const std::string_view digits = backend.substr(colon + 1);
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        const bool all_digits = digits.find_first_not_of("0123456789") == std::string_view::npos;
        if (!digits.empty() && all_digits && ec == std::errc() && end == digits.data() + digits.size() &&
            value >= 1 && value <= 65535) {
            endpoint.host = std::string(backend.substr(0, colon));
            endpoint.port = static_cast<uint16_t>(value);
        }
    }
    if (endpoint.port == 0) endpoint.port = use_https ? 443 : 80;
    return endpoint;
}

HttpResponse http_get(const std::string& backend, const std::string& path, const std::string& token, bool use_https,
                      const HttpOptions& options) {
    return exchange(HttpMethod::get, backend, path, nullptr, token, use_https, options);
}

HttpResponse http_post(const std::string& backend, const std::string& path, const std::string& body,
                       const std::string& token, bool use_https, const HttpOptions& options) {
    return exchange(HttpMethod::post, backend, path, &body, token, use_https, options);
}

HttpResponse http_delete(const std::string& backend, const std::string& path, const std::string& token,
                         bool use_https, const HttpOptions& options) {
    return exchange(HttpMethod::del, backend, path, nullptr, token, use_https, options);
}

}  // namespace nb::ui
