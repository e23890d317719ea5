// The marketplace backend simulator running inside a test, on a free
// loopback port, with a clock the test moves by hand when it asks for one.
#pragma once

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <memory>
#include <string>

#include "tools/backend-sim/backend_server.h"

namespace nb::test {

// Wall-clock milliseconds that move only when the test says so.
class ManualWallClock {
public:
    int64_t now() const { return now_ms_.load(); }
    void advance_ms(int64_t ms) { now_ms_ += ms; }
    WallClock function() {
        return [this] { return now_ms_.load(); };
    }

private:
    std::atomic<int64_t> now_ms_{1'800'000'000'000};
};

// Options a test starts from: a free port, in memory, cheap password
// hashing, no preparation delay.
inline BackendOptions test_backend_options() {
    BackendOptions o;
    o.port = 0;
    o.fast_password_hash = true;
    o.prepare_delay_ms = 0;
    return o;
}

class BackendSimInstance {
public:
    explicit BackendSimInstance(BackendOptions options = test_backend_options(), ManualWallClock* clock = nullptr)
        : server_(std::make_unique<BackendServer>(std::move(options),
                                                  clock ? clock->function() : system_wall_clock())) {
        started_ = server_->start();
    }

    bool started() const { return started_; }
    int port() const { return server_->port(); }
    BackendServer& server() { return *server_; }
    // Stops it now (as a process exit would), e.g. before reopening its database.
    void stop() { server_.reset(); }

    httplib::Client client() const {
        httplib::Client c("127.0.0.1", server_->port());
        c.set_read_timeout(60, 0);
        return c;
    }

private:
    std::unique_ptr<BackendServer> server_;
    bool started_ = false;
};

// The JSON of an answer, or a discarded value when it is not JSON.
inline nlohmann::json json_of(const httplib::Result& result) {
    return result ? nlohmann::json::parse(result->body, nullptr, false) : nlohmann::json(nlohmann::json::value_t::discarded);
}

inline httplib::Headers bearer(const std::string& token) { return {{"Authorization", "Bearer " + token}}; }

}  // namespace nb::test
