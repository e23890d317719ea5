#include "tools/backend-sim/backend_server.h"

#include <httplib.h>
#include <spdlog/spdlog.h>

#include <chrono>

#include "common/log_text.h"
#include "tools/backend-sim/account_store.h"
#include "tools/backend-sim/backend_api.h"
#include "tools/backend-sim/demo_catalogue.h"
#include "tools/backend-sim/fault_injector.h"
#include "tools/backend-sim/server_catalogue.h"
#include "tools/backend-sim/session_manager.h"

namespace nb {
namespace {

// No request of this API comes near it; anything larger is refused before
// it is read, so a huge body cannot exhaust memory.
constexpr size_t k_max_request_body = 64 * 1024;
constexpr size_t k_worker_threads = 8;

void send_detail(httplib::Response& res, int status, const char* text) {
    res.status = status;
    res.set_content(nlohmann::json{{"detail", text}}.dump(), "application/json");
}

}  // namespace

int64_t steady_now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

BackendServer::BackendServer(BackendOptions options, WallClock clock)
    : options_(std::move(options)), clock_(std::move(clock)), faults_(std::make_unique<FaultInjector>()) {}

BackendServer::~BackendServer() { stop(); }

bool BackendServer::open_state() {
    if (!shared_.db.open(options_.db_path)) return false;
    accounts_ = std::make_unique<AccountStore>(shared_, clock_, options_.fast_password_hash);
    catalogue_ = std::make_unique<ServerCatalogue>(shared_);
    if (!options_.catalogue_file.empty()) {
        std::vector<ServerRecord> servers;
        if (!load_catalogue_file(options_.catalogue_file, servers) || !catalogue_->replace(servers)) return false;
        spdlog::info("BackendServer: catalogue of {} servers from {}", servers.size(), options_.catalogue_file);
    }
    if (options_.seed_demo) {
        const Registration demo = demo_registration();
        if (!accounts_->ensure_account(demo, k_demo_balance_cents)) return false;
        if (catalogue_->empty() && !catalogue_->replace(demo_catalogue())) return false;
        spdlog::info("BackendServer: demo account {} / {}", demo.email, demo.password);
    }
    for (const auto& spec : options_.faults) {
        FaultRule rule;
        std::string error;
        if (!FaultInjector::parse(spec, rule, error)) {
            spdlog::error("BackendServer: bad --fault '{}': {}", spec, error);
            return false;
        }
        faults_->add(std::move(rule));
    }
    SessionSettings settings;
    settings.prepare_delay_ms = options_.prepare_delay_ms;
    settings.stream_fps = options_.stream_fps;
    settings.stream_bitrate_kbps = options_.stream_bitrate_kbps;
    settings.agent_path = options_.agent_path;
    settings.agent_host = options_.agent_host;
    settings.agent_control_port = options_.agent_control_port;
    settings.agent_args = options_.agent_args;
    settings.agent_start_timeout_ms = options_.agent_start_timeout_ms;
    sessions_ = std::make_unique<SessionManager>(shared_, *accounts_, *catalogue_, settings, clock_);
    if (!sessions_->start()) return false;
    api_ = std::make_unique<BackendApi>(*accounts_, *catalogue_, *sessions_, options_.starting_balance_cents);
    return true;
}

bool BackendServer::make_listener() {
    if (https()) {
        auto tls = std::make_unique<httplib::SSLServer>(options_.tls_cert.c_str(), options_.tls_key.c_str());
        if (!tls->is_valid()) {
            spdlog::error("BackendServer: cannot use certificate {} with key {}", options_.tls_cert, options_.tls_key);
            return false;
        }
        http_ = std::move(tls);
    } else {
        http_ = std::make_unique<httplib::Server>();
    }
    auto& s = *http_;
    s.set_payload_max_length(k_max_request_body);
    // httplib's default also sets SO_REUSEPORT, which would let a second
    // simulator share a busy port silently instead of failing to start.
    s.set_socket_options([](socket_t sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    // Answers go out as headers and body apart; with Nagle each would wait
    // for the client's delayed ACK.
    s.set_tcp_nodelay(true);
    s.set_keep_alive_max_count(100);
    // Idle keep-alive connections hold up stop() for at most this long.
    s.set_keep_alive_timeout(2);
    // httplib turns to this factory once its accept loop runs; start() waits
    // for that, so a stop() right after start() cannot be missed.
    s.new_task_queue = [this] {
        {
            std::lock_guard lock(listen_mutex_);
            listening_ = true;
        }
        listen_changed_.notify_all();
        return new httplib::ThreadPool(k_worker_threads);
    };
    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        last_request_ms_ = steady_now_ms();
        return faults_->before_routing(req, res) ? httplib::Server::HandlerResponse::Handled
                                                 : httplib::Server::HandlerResponse::Unhandled;
    });
    s.set_post_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        faults_->after_routing(req, res);
    });
    s.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        // Only answers without a body of their own get a JSON one.
        if (!res.body.empty()) return;
        if (res.status == 404) send_detail(res, 404, "Not Found");
        else if (res.status == 413) send_detail(res, 413, "Request body too large");
        else if (res.status == 400) send_detail(res, 400, "Malformed request");
    });
    s.set_exception_handler([](const httplib::Request& req, httplib::Response& res, std::exception_ptr error) {
        try {
            if (error) std::rethrow_exception(error);
        } catch (const std::exception& e) {
            spdlog::error("BackendServer: {} {} failed: {}", log_safe(req.method), log_safe(req.path),
                          log_safe(e.what()));
        } catch (...) {
            spdlog::error("BackendServer: {} {} failed", log_safe(req.method), log_safe(req.path));
        }
        send_detail(res, 500, "Internal server error");
    });
    s.set_logger([](const httplib::Request& req, const httplib::Response& res) {
        spdlog::debug("BackendServer: {} {} -> {}", log_safe(req.method), log_safe(req.path), res.status);
    });
    api_->register_routes(s);
    if (options_.admin) BackendApi::register_admin_routes(s, *faults_);

    port_ = options_.port == 0 ? s.bind_to_any_port(options_.bind_address)
                               : (s.bind_to_port(options_.bind_address, options_.port) ? options_.port : -1);
    if (port_ <= 0) {
        spdlog::error("BackendServer: cannot listen on {}:{}", options_.bind_address, options_.port);
        return false;
    }
    return true;
}

bool BackendServer::start() {
    last_request_ms_ = steady_now_ms();
    if (!open_state() || !make_listener()) {
        stop();
        return false;
    }
    listener_ = std::thread([this] {
        try {
            if (!http_->listen_after_bind()) spdlog::error("BackendServer: listener ended with an error");
        } catch (const std::exception& e) {
            spdlog::error("BackendServer: listener failed: {}", e.what());
        }
        // Also wakes start() when the accept loop never ran.
        std::lock_guard lock(listen_mutex_);
        listening_ = true;
        listen_changed_.notify_all();
    });
    std::unique_lock lock(listen_mutex_);
    listen_changed_.wait(lock, [this] { return listening_; });
    spdlog::info("BackendServer: listening on {}://{}:{}", https() ? "https" : "http", options_.bind_address, port_);
    return true;
}

void BackendServer::stop() {
    if (http_) http_->stop();
    if (listener_.joinable()) listener_.join();
    // Agents stop and charges are recorded only once no request can race them.
    sessions_.reset();
    http_.reset();
}

}  // namespace nb
