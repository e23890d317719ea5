// The whole simulator in one object: database, stores, fault rules and the
// HTTP or HTTPS listener on its own thread. Tests run it in-process; the
// nubora-backend-sim program wraps it with signals and an idle timer.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "tools/backend-sim/backend_options.h"
#include "tools/backend-sim/shared_database.h"

namespace httplib {
class Server;
}

namespace nb {

class AccountStore;
class BackendApi;
class FaultInjector;
class ServerCatalogue;
class SessionManager;

class BackendServer {
public:
    explicit BackendServer(BackendOptions options, WallClock clock = system_wall_clock());
    ~BackendServer();
    BackendServer(const BackendServer&) = delete;
    BackendServer& operator=(const BackendServer&) = delete;

    // Opens the database, seeds it, binds and starts answering. False,
    // logged, on any failure; nothing is left running then.
    bool start();
    // Idempotent: stops listening, then ends every agent.
    void stop();

    int port() const { return port_; }
    bool https() const { return !options_.tls_cert.empty(); }
    FaultInjector& faults() { return *faults_; }
    // Monotonic time of the last request, in milliseconds.
    int64_t last_request_ms() const { return last_request_ms_.load(); }

private:
    bool open_state();
    bool make_listener();

    BackendOptions options_;
    WallClock clock_;
    SharedDatabase shared_;
    std::unique_ptr<AccountStore> accounts_;
    std::unique_ptr<ServerCatalogue> catalogue_;
    std::unique_ptr<SessionManager> sessions_;
    std::unique_ptr<FaultInjector> faults_;
    std::unique_ptr<BackendApi> api_;
    std::unique_ptr<httplib::Server> http_;
    std::thread listener_;
    int port_ = 0;
    std::atomic<int64_t> last_request_ms_{0};

    std::mutex listen_mutex_;  // guards listening_
    std::condition_variable listen_changed_;
    bool listening_ = false;
};

int64_t steady_now_ms();

}  // namespace nb
