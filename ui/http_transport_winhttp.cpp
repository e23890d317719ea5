// The backend transport on WinHTTP in asynchronous mode: one session,
// connection and request per call, closed again before it returns. Each step
// waits on its completion, the cancel event and our own timeout together.
#include <windows.h>

#include <spdlog/spdlog.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "common/log_text.h"
#include "ui/http_cancel.h"
#include "ui/http_exchange.h"

namespace nb::ui::detail {

namespace {

struct HandleCloser {
    void operator()(HINTERNET handle) const { WinHttpCloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

std::wstring widen(const std::string& text) {
    if (text.empty()) return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) {
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    }
    return wide;
}

const wchar_t* wide_method(HttpMethod method) {
    switch (method) {
        case HttpMethod::get: return L"GET";
        case HttpMethod::post: return L"POST";
        case HttpMethod::del: return L"DELETE";
    }
    return L"GET";
}

std::string failure_text(DWORD code) {
    switch (code) {
        case ERROR_WINHTTP_TIMEOUT: return "timed out";
        case ERROR_WINHTTP_CANNOT_CONNECT: return "could not connect";
        case ERROR_WINHTTP_NAME_NOT_RESOLVED: return "host name not resolved";
        case ERROR_WINHTTP_CONNECTION_ERROR: return "connection reset";
        case ERROR_WINHTTP_SECURE_FAILURE: return "TLS handshake or certificate check failed";
        case ERROR_WINHTTP_INVALID_SERVER_RESPONSE: return "invalid server response";
        default: return "WinHTTP error " + std::to_string(code);
    }
}

DWORD to_ms(std::chrono::seconds value) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(value).count();
    return ms <= 0 ? 0 : static_cast<DWORD>(std::min<long long>(ms, 0x7fffffff));
}

// Plain-HTTP POST goes direct; everything else follows the system's
// automatic proxy, or its configured one where Windows is too old for that.
HINTERNET open_session(HttpMethod method, bool use_https) {
    constexpr wchar_t k_user_agent[] = L"NuboraLauncher/1.0";
    const DWORD access = method == HttpMethod::post && !use_https ? WINHTTP_ACCESS_TYPE_NO_PROXY
                                                                  : WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY;
    HINTERNET session =
        WinHttpOpen(k_user_agent, access, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
    if (session == nullptr && access == WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY) {
        session = WinHttpOpen(k_user_agent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                              WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
    }
    return session;
}

// What one request shares with WinHTTP's callback thread. The exchange and
// the handle-closing notice (always the last callback) each hold a
// reference; whichever lets go last frees it, so a step abandoned on
// cancel or timeout never writes into freed memory.
struct AsyncRequest {
    static constexpr DWORD k_chunk = 64 * 1024;

    HANDLE done = CreateEventW(nullptr, FALSE, FALSE, nullptr);      // a step completed or failed
    HANDLE cancelled = CreateEventW(nullptr, TRUE, FALSE, nullptr);  // set by HttpCancel
    std::atomic<int> references{2};
    // Written by the callback before it sets `done`, read after the wait.
    DWORD error = 0;
    DWORD length = 0;  // bytes available, or bytes read
    std::vector<char> chunk = std::vector<char>(k_chunk);  // WinHTTP reads into it

    AsyncRequest() = default;
    AsyncRequest(const AsyncRequest&) = delete;
    AsyncRequest& operator=(const AsyncRequest&) = delete;
    ~AsyncRequest() {
        for (HANDLE event : {done, cancelled}) {
            if (event != nullptr) CloseHandle(event);
        }
    }
    bool usable() const { return done != nullptr && cancelled != nullptr; }
};

void release(AsyncRequest* request) {
    if (request->references.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    const std::unique_ptr<AsyncRequest> last_owner(request);
}

void CALLBACK on_status(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD info_length) {
    auto* request = reinterpret_cast<AsyncRequest*>(context);
    if (request == nullptr) return;
    switch (status) {
        case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
        case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE: request->length = 0; break;
        case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE: request->length = *static_cast<DWORD*>(info); break;
        case WINHTTP_CALLBACK_STATUS_READ_COMPLETE: request->length = info_length; break;
        case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
            const DWORD error = static_cast<WINHTTP_ASYNC_RESULT*>(info)->dwError;
            request->error = error != 0 ? error : ERROR_WINHTTP_INTERNAL_ERROR;
            break;
        }
        case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING: release(request); return;
        default: return;
    }
    SetEvent(request->done);
}

enum class Step { done, failed, timed_out, cancelled };

// Waits for the step just issued. `issued` is the call's own result: false
// means it failed before going asynchronous.
Step finish_step(AsyncRequest& request, BOOL issued, DWORD timeout_ms) {
    if (!issued) {
        request.error = GetLastError();
        return Step::failed;
    }
    const HANDLE events[2] = {request.done, request.cancelled};
    switch (WaitForMultipleObjects(2, events, FALSE, timeout_ms == 0 ? INFINITE : timeout_ms)) {
        case WAIT_OBJECT_0: return request.error == 0 ? Step::done : Step::failed;
        case WAIT_OBJECT_0 + 1: return Step::cancelled;
        case WAIT_TIMEOUT: return Step::timed_out;
        default:
            request.error = GetLastError();
            return Step::failed;
    }
}

// Sends, receives and reads the whole body into `response`.
Step transfer(HINTERNET handle, AsyncRequest& request, HttpMethod method, const std::string* body,
              const HttpOptions& options, HttpResponse& response, bool& too_large) {
    void* data = WINHTTP_NO_REQUEST_DATA;
    DWORD length = 0;
    if (method == HttpMethod::post && body != nullptr && !body->empty()) {
        data = const_cast<char*>(body->data());
        length = static_cast<DWORD>(body->size());
    }
    const DWORD connect_ms = to_ms(options.connect_timeout);
    const DWORD idle_ms = to_ms(options.idle_timeout);
    const auto context = reinterpret_cast<DWORD_PTR>(&request);
    // Connecting and sending fall under the connect limit; some WinHTTPs
    // (wine's) complete the send only with the answer's headers.
    Step step = finish_step(
        request, WinHttpSendRequest(handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, data, length, length, context),
        connect_ms);
    if (step != Step::done) return step;
    step = finish_step(request, WinHttpReceiveResponse(handle, nullptr), idle_ms);
    if (step != Step::done) return step;

    DWORD status = 0;
    DWORD status_size = sizeof(status);
    if (WinHttpQueryHeaders(handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size, WINHTTP_NO_HEADER_INDEX)) {
        response.status = static_cast<int>(status);
    }
    std::string received;
    for (;;) {
        step = finish_step(request, WinHttpQueryDataAvailable(handle, nullptr), idle_ms);
        if (step != Step::done) return step;
        if (request.length == 0) break;
        const DWORD wanted = std::min<DWORD>(request.length, AsyncRequest::k_chunk);
        if (wanted > options.max_body_bytes - received.size()) {
            too_large = true;
            return Step::failed;
        }
        step = finish_step(request, WinHttpReadData(handle, request.chunk.data(), wanted, nullptr), idle_ms);
        if (step != Step::done) return step;
        if (request.length == 0) break;
        received.append(request.chunk.data(), std::min<DWORD>(request.length, wanted));
    }
    response.body = std::move(received);
    return Step::done;
}

}  // namespace

HttpResponse run_exchange(HttpMethod method, const BackendEndpoint& endpoint, const std::string& path,
                          const std::string* body, const std::string& token, bool use_https,
                          const HttpOptions& options) {
    const auto level = options.quiet ? spdlog::level::debug : spdlog::level::warn;
    const std::string url = request_url(endpoint, path, use_https);
    const auto fail = [&](const std::string& why) {
        spdlog::log(level, "HttpTransport: {} {} failed: {}", method_name(method), log_safe(url), why);
    };

    Handle session(open_session(method, use_https));
    if (!session) {
        fail(failure_text(GetLastError()));
        return {};
    }
    // The waits below enforce the limits themselves, as not every WinHTTP
    // (wine's among them) applies its own receive timeout; these are the
    // platform's share of the same limits.
    WinHttpSetTimeouts(session.get(), 0, static_cast<int>(to_ms(options.connect_timeout)),
                       static_cast<int>(to_ms(options.idle_timeout)), static_cast<int>(to_ms(options.idle_timeout)));
    Handle connection(WinHttpConnect(session.get(), widen(endpoint.host).c_str(), endpoint.port, 0));
    if (!connection) {
        fail(failure_text(GetLastError()));
        return {};
    }
    HINTERNET handle = WinHttpOpenRequest(connection.get(), wide_method(method), widen(path).c_str(), nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                           use_https ? WINHTTP_FLAG_SECURE : 0);
    if (handle == nullptr) {
        fail(failure_text(GetLastError()));
        return {};
    }
    std::wstring headers;
    if (method == HttpMethod::post) headers += L"Content-Type: application/json\r\n";
    if (!token.empty()) headers += L"Authorization: Bearer " + widen(token) + L"\r\n";
    if (!headers.empty()) {
        WinHttpAddRequestHeaders(handle, headers.c_str(), static_cast<DWORD>(-1), WINHTTP_ADDREQ_FLAG_ADD);
    }

    AsyncRequest* request = std::make_unique<AsyncRequest>().release();  // shared with the callback from here
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(request);
    // The context goes on the handle before anything can call back, so the
    // closing notice finds it even when no request was ever sent.
    if (!request->usable() || !WinHttpSetOption(handle, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context)) ||
        WinHttpSetStatusCallback(handle, &on_status, WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS |
                                 WINHTTP_CALLBACK_FLAG_HANDLES, 0) == WINHTTP_INVALID_STATUS_CALLBACK) {
        const DWORD error = GetLastError();
        WinHttpSetStatusCallback(handle, nullptr, 0, 0);
        WinHttpCloseHandle(handle);
        const std::unique_ptr<AsyncRequest> only_owner(request);  // nothing can call back now
        fail(failure_text(error));
        return {};
    }
    const bool attached = options.cancel == nullptr || options.cancel->attach(request->cancelled);
    HttpResponse response;
    bool too_large = false;
    const Step step = attached ? transfer(handle, *request, method, body, options, response, too_large)
                               : Step::cancelled;
    if (options.cancel != nullptr && attached) options.cancel->detach(request->cancelled);
    const DWORD error = request->error;

    // Closing also ends a step still in flight; its buffer and events stay
    // until WinHTTP's closing notice lets go of them.
    WinHttpCloseHandle(handle);
    release(request);
    if (step == Step::done) return response;

    // A partial body is no answer; the status, when one came, still counts.
    response.body.clear();
    switch (step) {
        case Step::cancelled:
            spdlog::debug("HttpTransport: {} {} cancelled", method_name(method), log_safe(url));
            response.status = 0;
            break;
        case Step::timed_out: fail("timed out"); break;
        default:
            if (too_large) {
                spdlog::log(level, "HttpTransport: {} {} failed: response larger than {} bytes", method_name(method),
                            log_safe(url), options.max_body_bytes);
            } else {
                fail(failure_text(error));
            }
            break;
    }
    return response;
}

}  // namespace nb::ui::detail
