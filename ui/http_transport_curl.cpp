// The backend transport on libcurl.
#include "ui/http_transport.h"

#include <curl/curl.h>
#include <spdlog/spdlog.h>

#include <cstdlib>
#include <memory>

#include "common/log_text.h"
#include "ui/http_cancel.h"
#include "ui/http_exchange.h"

namespace nb::ui {

namespace {

constexpr const char* k_user_agent = "NuboraLauncher/1.0";
// The wait is woken by the sockets, libcurl's own timers and cancellation;
// this is only its upper bound.
constexpr int k_max_wait_ms = 1000;
constexpr long k_max_redirects = 10;

void ensure_curl_initialized() {
    // Thread-safe once; never undone, as calls may run until the process ends.
    static const CURLcode init = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (init != CURLE_OK) spdlog::error("HttpTransport: curl_global_init failed: {}", curl_easy_strerror(init));
}

struct BodySink {
    std::string body;
    size_t limit = 0;
    bool overflow = false;
};

size_t append_body(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<BodySink*>(user);
    const size_t n = size * count;
    if (n > sink->limit - sink->body.size()) {
        sink->overflow = true;
        return 0;  // libcurl ends the transfer with a write error
    }
    sink->body.append(data, n);
    return n;
}

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;

void add_header(HeaderList& list, const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (grown) {
        (void)list.release();
        list.reset(grown);
    }
}

// Runs the transfer until it completes or `cancel` fires. Returns its result.
CURLcode run_transfer(CURL* easy, HttpCancel* cancel) {
    MultiHandle multi(curl_multi_init());
    if (!multi || curl_multi_add_handle(multi.get(), easy) != CURLM_OK) return CURLE_OUT_OF_MEMORY;
    if (cancel && !cancel->attach(multi.get())) {
        curl_multi_remove_handle(multi.get(), easy);
        return CURLE_ABORTED_BY_CALLBACK;
    }
    CURLcode result = CURLE_ABORTED_BY_CALLBACK;
    for (int running = 1;;) {
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
            result = CURLE_RECV_ERROR;
            break;
        }
        if (running == 0) {
            int left = 0;
            while (CURLMsg* msg = curl_multi_info_read(multi.get(), &left)) {
                if (msg->msg == CURLMSG_DONE) result = msg->data.result;
            }
            break;
        }
        if (cancel && cancel->cancelled()) break;
        if (curl_multi_poll(multi.get(), nullptr, 0, k_max_wait_ms, nullptr) != CURLM_OK) {
            result = CURLE_RECV_ERROR;
            break;
        }
    }
    if (cancel) cancel->detach(multi.get());
    curl_multi_remove_handle(multi.get(), easy);
    return result;
}

}  // namespace

namespace detail {

HttpResponse run_exchange(HttpMethod method, const BackendEndpoint& endpoint, const std::string& path,
                          const std::string* body, const std::string& token, bool use_https,
                          const HttpOptions& options) {
    ensure_curl_initialized();
    const auto level = options.quiet ? spdlog::level::debug : spdlog::level::warn;
    const std::string url = request_url(endpoint, path, use_https);
    EasyHandle easy(curl_easy_init());
    if (!easy) {
        spdlog::error("HttpTransport: curl_easy_init failed");
        return {};
    }
    CURL* h = easy.get();
    BodySink sink;
    sink.limit = options.max_body_bytes;
    char error_text[CURL_ERROR_SIZE] = {};

    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    // WinHTTP follows redirects but never from HTTPS down to HTTP.
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, k_max_redirects);
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, use_https ? "https" : "http,https");
    // The path is sent as built: session ids are appended without escaping.
    curl_easy_setopt(h, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(h, CURLOPT_USERAGENT, k_user_agent);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);  // signals cannot tell threads apart
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connect_timeout.count() * 1000));
    // Less than one byte a second for the whole idle time: nothing moved.
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, static_cast<long>(options.idle_timeout.count()));
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.max_body_bytes));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, append_body);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error_text);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    // The library reads no CA variable itself; the curl tool's one lets a
    // private certificate authority (a company's, or a test's) be trusted.
    if (const char* ca_bundle = std::getenv("CURL_CA_BUNDLE"); ca_bundle && *ca_bundle) {
        curl_easy_setopt(h, CURLOPT_CAINFO, ca_bundle);
    }
    // Without a proxy setting libcurl takes the standard proxy variables, our
    // automatic proxy; plain-HTTP POST goes direct.
    if (method == HttpMethod::post && !use_https) curl_easy_setopt(h, CURLOPT_PROXY, "");

    HeaderList headers;
    add_header(headers, "Accept:");  // libcurl's own default; WinHTTP sends none
    if (method == HttpMethod::post) {
        add_header(headers, "Expect:");  // no 100-continue round trip before the body
        add_header(headers, "Content-Type: application/json");
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, body->data());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
    } else if (method == HttpMethod::del) {
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, "DELETE");
    }
    if (!token.empty()) add_header(headers, "Authorization: Bearer " + token);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());

    const CURLcode result = run_transfer(h, options.cancel);
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    HttpResponse response;
    response.status = static_cast<int>(status);
    if (result == CURLE_OK) {
        response.body = std::move(sink.body);
        return response;
    }
    // A partial body is no answer; the status, when one came, still counts.
    if (sink.overflow || result == CURLE_FILESIZE_EXCEEDED) {
        spdlog::log(level, "HttpTransport: {} {} failed: response larger than {} bytes", method_name(method),
                    log_safe(url),
                    options.max_body_bytes);
    } else if (result == CURLE_ABORTED_BY_CALLBACK) {
        spdlog::debug("HttpTransport: {} {} cancelled", method_name(method), log_safe(url));
    } else {
        spdlog::log(level, "HttpTransport: {} {} failed: {}", method_name(method), log_safe(url),
                    log_safe(error_text[0] ? error_text : curl_easy_strerror(result)));
    }
    return response;
}

}  // namespace detail

}  // namespace nb::ui
