// An HTTP server on 127.0.0.1 that records every request it receives and
// answers with a scripted handler, for checking what a client puts on the
// wire. Handlers may park a request until the test releases it; the server
// releases and stops on its own when it goes out of scope.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace nb::test {

class RecordingHttpServer {
public:
    struct Request {
        std::string method;
        std::string target;  // path and query as sent
        std::string version;
        std::string body;
        httplib::Headers headers;

        std::string header(const std::string& name) const {
            const auto it = headers.find(name);
            return it == headers.end() ? std::string() : it->second;
        }
        bool has_header(const std::string& name) const { return headers.count(name) > 0; }
    };
    using Handler = std::function<void(RecordingHttpServer& server, const httplib::Request&, httplib::Response&)>;

    explicit RecordingHttpServer(Handler handler) : handler_(std::move(handler)) {
        const auto record_and_answer = [this](const httplib::Request& req, httplib::Response& res) {
            {
                std::lock_guard lock(mutex_);
                requests_.push_back({req.method, req.target, req.version, req.body, req.headers});
            }
            changed_.notify_all();
            handler_(*this, req, res);
        };
        server_.Get(k_ready_path, [](const httplib::Request&, httplib::Response&) {});
        server_.Get(".*", record_and_answer);
        server_.Post(".*", record_and_answer);
        server_.Delete(".*", record_and_answer);
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        // One answered request proves the accept loop runs: a stop() issued
        // before it starts would be lost and the destructor would wait forever.
        httplib::Client("127.0.0.1", port_).Get(k_ready_path);
    }

    ~RecordingHttpServer() {
        release();
        server_.stop();
        thread_.join();
    }

    RecordingHttpServer(const RecordingHttpServer&) = delete;
    RecordingHttpServer& operator=(const RecordingHttpServer&) = delete;

    int port() const { return port_; }
    std::string backend() const { return "127.0.0.1:" + std::to_string(port_); }

    std::vector<Request> requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }

    // Blocks until `count` requests have arrived (false after `limit`).
    bool wait_for_requests(size_t count, std::chrono::seconds limit = std::chrono::seconds(30)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return requests_.size() >= count; });
    }

    // For handlers: parks the request until release() or the server's end.
    void hold() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return released_; });
    }

    void release() {
        {
            std::lock_guard lock(mutex_);
            released_ = true;
        }
        changed_.notify_all();
    }

private:
    static constexpr const char* k_ready_path = "/__ready";

    Handler handler_;
    httplib::Server server_;
    int port_ = 0;
    std::mutex mutex_;  // guards requests_ and released_
    std::condition_variable changed_;
    std::vector<Request> requests_;
    bool released_ = false;
    std::thread thread_;
};

}  // namespace nb::test
