// Rented sessions: creation (with an optional agent process per session),
// the "preparing" to "streaming" step, per-second charging of the renter's
// balance, and the end of a session by request, by the rental running out,
// by the balance running out, or by its agent exiting.
#pragma once

#include <nlohmann/json.hpp>

#include <condition_variable>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tools/backend-sim/account_store.h"
#include "tools/backend-sim/agent_process.h"
#include "tools/backend-sim/api_error.h"
#include "tools/backend-sim/server_catalogue.h"

namespace nb {

struct SessionSettings {
    int64_t prepare_delay_ms = 3000;
    int stream_fps = 60;
    int stream_bitrate_kbps = 20000;
    std::string agent_path;  // empty: no agent is started
    std::string agent_host = "127.0.0.1";
    int agent_control_port = 48001;
    std::vector<std::string> agent_args;
    int64_t agent_start_timeout_ms = 15000;
};

struct SessionRequest {
    std::string server_id;
    std::string codec = "h264";
    double duration_hours = 1.0;
};

class SessionManager {
public:
    SessionManager(SharedDatabase& shared, AccountStore& accounts, ServerCatalogue& catalogue, SessionSettings settings,
                   WallClock clock);
    // Records the charges up to now and stops every agent.
    ~SessionManager();
    SessionManager(const SessionManager&) = delete;
    SessionManager& operator=(const SessionManager&) = delete;

    // Closes sessions a previous run left open (their agents died with it;
    // the time the backend was down is not charged), then starts the thread
    // that ends sessions when their time or money runs out.
    bool start();

    ApiError create(const Account& account, const SessionRequest& request, nlohmann::json& session);
    // `session` is null when the user has no open session.
    ApiError active(const std::string& user_id, nlohmann::json& session);
    ApiError connect_info(const std::string& user_id, nlohmann::json& info);
    ApiError end(const std::string& user_id, const std::string& session_id, nlohmann::json& session);
    // Brings the user's balance up to date with a running session.
    void settle_user(const std::string& user_id);

private:
    struct OpenSession;
    using AgentList = std::vector<std::unique_ptr<AgentProcess>>;

    // All with shared_.mutex held. Ended sessions hand their agents to `stopped`.
    std::optional<OpenSession> load_open_locked(const std::string& user_id);
    // The user's session after charging it up to `now_ms`; none once that ended it.
    std::optional<OpenSession> settled_open_locked(const std::string& user_id, int64_t now_ms, AgentList& stopped);
    std::vector<std::string> renters_locked();  // users with an open session
    void settle_locked(OpenSession& session, int64_t now_ms, AgentList& stopped);
    void finish_locked(OpenSession& session, int64_t ended_ms, const std::string& reason, AgentList& stopped);
    int64_t next_deadline_locked();
    nlohmann::json view_locked(const OpenSession& session, int64_t now_ms) const;

    std::unique_ptr<AgentProcess> launch_agent(const std::string& session_id, const std::string& token);
    void on_agent_exit(const std::string& session_id, int exit_status);
    void run_expiry();

    SharedDatabase& shared_;
    AccountStore& accounts_;
    ServerCatalogue& catalogue_;
    const SessionSettings settings_;
    WallClock clock_;

    // Guarded by shared_.mutex, like the rows they belong to.
    std::map<std::string, std::unique_ptr<AgentProcess>> agents_;  // by session id
    std::set<std::string> starting_;        // sessions whose agent is not ready yet
    AgentList retired_;                     // agents that exited on their own, joined by the expiry thread
    bool stopping_ = false;
    bool changed_ = false;  // deadlines moved; the expiry thread recomputes
    std::condition_variable wake_;
    std::thread expiry_;
};

}  // namespace nb
