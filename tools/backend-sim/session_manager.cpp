#include "tools/backend-sim/session_manager.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

#include "tools/backend-sim/session_billing.h"

namespace nb {

struct SessionManager::OpenSession {
    std::string id, user_id, server_id, server_hostname, codec, agent_token;
    int64_t price = 0, created_ms = 0, streaming_ms = 0, charged_sec = 0, cost_cents = 0;
    double duration_hours = 0;
    int control_port = 0, fps = 0, bitrate = 0;

    int64_t limit_sec() const { return static_cast<int64_t>(std::floor(duration_hours * 3600.0)); }
};

namespace {

constexpr const char* k_open_columns =
    "SELECT id, user_id, server_id, server_hostname, codec, agent_token, price_per_hour_cents, created_ms, "
    "streaming_ms, charged_sec, cost_cents, duration_hours, control_port, fps, bitrate FROM sessions ";

// The codec names the client may send, and the one each stands for.
std::string canonical_codec(const std::string& codec) {
    if (codec == "h264" || codec == "avc") return "h264";
    if (codec == "h265" || codec == "hevc") return "h265";
    if (codec == "av1") return "av1";
    return {};
}

}  // namespace

SessionManager::SessionManager(SharedDatabase& shared, AccountStore& accounts, ServerCatalogue& catalogue,
                               SessionSettings settings, WallClock clock)
    : shared_(shared), accounts_(accounts), catalogue_(catalogue), settings_(std::move(settings)),
      clock_(std::move(clock)) {}

SessionManager::~SessionManager() {
    std::map<std::string, std::unique_ptr<AgentProcess>> agents;
    AgentList retired;
    {
        std::lock_guard lock(shared_.mutex);
        stopping_ = true;
        // Charge up to now; the next run closes the sessions without charging
        // for the time in between.
        AgentList ended;
        for (const auto& user : renters_locked()) settled_open_locked(user, clock_(), ended);
        agents.swap(agents_);
        retired.swap(retired_);
        for (auto& a : ended) retired.push_back(std::move(a));
    }
    wake_.notify_all();
    if (expiry_.joinable()) expiry_.join();
    for (auto& [id, agent] : agents) agent->stop();
    for (auto& agent : retired) agent->stop();
}

bool SessionManager::start() {
    {
        std::lock_guard lock(shared_.mutex);
        auto left = shared_.db.prepare("SELECT id, server_id FROM sessions WHERE ended_ms IS NULL");
        std::vector<std::pair<std::string, std::string>> open;
        while (left->step()) open.emplace_back(left->text(0), left->text(1));
        for (const auto& [id, server] : open) {
            auto close = shared_.db.prepare(
                "UPDATE sessions SET ended_ms = ?1, end_reason = 'Backend restarted' WHERE id = ?2");
            close->bind(1, clock_()).bind(2, id);
            if (!close->run() || !catalogue_.set_status_locked(server, "online")) return false;
            spdlog::info("SessionManager: closed session {} left open by the previous run", id);
        }
    }
    expiry_ = std::thread([this] { run_expiry(); });
    return true;
}

std::optional<SessionManager::OpenSession> SessionManager::load_open_locked(const std::string& user_id) {
    auto find = shared_.db.prepare(std::string(k_open_columns) + "WHERE user_id = ?1 AND ended_ms IS NULL");
    find->bind(1, user_id);
    if (!find->step()) return std::nullopt;
    OpenSession s;
    s.id = find->text(0);
    s.user_id = find->text(1);
    s.server_id = find->text(2);
    s.server_hostname = find->text(3);
    s.codec = find->text(4);
    s.agent_token = find->text(5);
    s.price = find->int64(6);
    s.created_ms = find->int64(7);
    s.streaming_ms = find->int64(8);
    s.charged_sec = find->int64(9);
    s.cost_cents = find->int64(10);
    s.duration_hours = find->real(11);
    s.control_port = static_cast<int>(find->int64(12));
    s.fps = static_cast<int>(find->int64(13));
    s.bitrate = static_cast<int>(find->int64(14));
    return s;
}

void SessionManager::settle_locked(OpenSession& s, int64_t now_ms, AgentList& stopped) {
    if (starting_.contains(s.id) || now_ms < s.streaming_ms) return;
    const int64_t limit = s.limit_sec();
    const int64_t elapsed = std::min((now_ms - s.streaming_ms) / 1000, limit);
    const auto account = accounts_.find_locked(s.user_id);
    const int64_t balance = account ? account->balance_cents : 0;
    const int64_t affordable = affordable_seconds(s.charged_sec, s.price, balance);
    const bool broke = affordable >= 0 && elapsed > affordable;
    const int64_t reached = broke ? affordable : elapsed;
    if (reached > s.charged_sec) {
        const int64_t cost = session_cost_cents(reached, s.price);
        accounts_.add_balance_locked(s.user_id, -(cost - s.cost_cents));
        auto update = shared_.db.prepare("UPDATE sessions SET charged_sec = ?1, cost_cents = ?2 WHERE id = ?3");
        update->bind(1, reached).bind(2, cost).bind(3, s.id);
        update->run();
        s.charged_sec = reached;
        s.cost_cents = cost;
    }
    if (broke) {
        finish_locked(s, s.streaming_ms + (reached + 1) * 1000, "Balance exhausted", stopped);
    } else if (elapsed >= limit) {
        finish_locked(s, s.streaming_ms + limit * 1000, "Rental period over", stopped);
    }
}

void SessionManager::finish_locked(OpenSession& s, int64_t ended_ms, const std::string& reason, AgentList& stopped) {
    auto close = shared_.db.prepare("UPDATE sessions SET ended_ms = ?1, end_reason = ?2 WHERE id = ?3");
    close->bind(1, ended_ms).bind(2, reason).bind(3, s.id);
    close->run();
    catalogue_.set_status_locked(s.server_id, "online");
    if (auto agent = agents_.find(s.id); agent != agents_.end()) {
        stopped.push_back(std::move(agent->second));
        agents_.erase(agent);
    }
    changed_ = true;
    wake_.notify_all();
    spdlog::info("SessionManager: session {} ended ({}): {} s, {} cents", s.id, reason, s.charged_sec, s.cost_cents);
}

nlohmann::json SessionManager::view_locked(const OpenSession& s, int64_t now_ms) const {
    const bool preparing = starting_.contains(s.id) || now_ms < s.streaming_ms;
    return {{"id", s.id},
            {"status", preparing ? "preparing" : "streaming"},
            {"serverId", s.server_id},
            {"serverHostname", s.server_hostname},
            {"durationSec", s.charged_sec},
            {"costCents", s.cost_cents},
            {"pricePerHourCents", s.price},
            {"codec", s.codec},
            {"durationHours", s.duration_hours}};
}

std::unique_ptr<AgentProcess> SessionManager::launch_agent(const std::string& session_id, const std::string& token) {
    std::vector<std::string> args = {"--token", token, "--control-port", std::to_string(settings_.agent_control_port)};
    args.insert(args.end(), settings_.agent_args.begin(), settings_.agent_args.end());
    auto agent = std::make_unique<AgentProcess>("session " + session_id);
    const bool ok = agent->start(settings_.agent_path, args, settings_.agent_start_timeout_ms,
                                 [this, session_id](int status) { on_agent_exit(session_id, status); });
    return ok ? std::move(agent) : nullptr;
}

ApiError SessionManager::create(const Account& account, const SessionRequest& request, nlohmann::json& out) {
    const std::string codec = canonical_codec(request.codec);
    if (codec.empty()) return ApiError::invalid("body", "codec_preference", "Codec must be h264, h265 or av1");
    if (codec == "av1" && !settings_.agent_path.empty()) {
        return ApiError::invalid("body", "codec_preference", "The streaming agent does not support av1");
    }
    OpenSession s;
    {
        std::lock_guard lock(shared_.mutex);
        AgentList ended;
        const bool busy = settled_open_locked(account.id, clock_(), ended).has_value();
        for (auto& agent : ended) retired_.push_back(std::move(agent));
        if (busy) return ApiError::message(409, "You already have an active session");
        const auto server = catalogue_.find_locked(request.server_id);
        if (!server) return ApiError::message(404, "Server not found");
        if (server->status != "online") return ApiError::message(409, "Server is not available");
        if (std::find(server->supported_codecs.begin(), server->supported_codecs.end(), codec) ==
            server->supported_codecs.end()) {
            return ApiError::invalid("body", "codec_preference", "This server does not offer " + codec);
        }
        const auto fresh = accounts_.find_locked(account.id);
        if (!fresh || fresh->balance_cents <= 0) return ApiError::message(402, "Insufficient balance");

        s.id = "sess_" + random_hex(8);
        s.user_id = account.id;
        s.server_id = server->id;
        s.server_hostname = server->hostname;
        s.codec = codec;
        s.agent_token = random_hex(16);
        s.price = server->price_per_hour_cents;
        s.created_ms = clock_();
        s.streaming_ms = s.created_ms + settings_.prepare_delay_ms;
        s.duration_hours = request.duration_hours;
        s.control_port = settings_.agent_control_port;
        s.fps = std::min(settings_.stream_fps, std::max(server->max_fps, 1));
        s.bitrate = settings_.stream_bitrate_kbps;
        auto insert = shared_.db.prepare(
            "INSERT INTO sessions (id, user_id, server_id, server_hostname, price_per_hour_cents, codec, "
            "duration_hours, created_ms, streaming_ms, agent_token, control_port, fps, bitrate) "
            "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)");
        insert->bind(1, s.id).bind(2, s.user_id).bind(3, s.server_id).bind(4, s.server_hostname).bind(5, s.price);
        insert->bind(6, s.codec).bind(7, s.duration_hours).bind(8, s.created_ms).bind(9, s.streaming_ms);
        insert->bind(10, s.agent_token).bind(11, int64_t{s.control_port}).bind(12, int64_t{s.fps});
        insert->bind(13, int64_t{s.bitrate});
        if (!insert->run() || !catalogue_.set_status_locked(s.server_id, "in_session") ||
            !catalogue_.count_session_locked(s.server_id)) {
            return ApiError::message(500, "Could not create the session");
        }
        if (!settings_.agent_path.empty()) starting_.insert(s.id);
        changed_ = true;
    }
    wake_.notify_all();
    spdlog::info("SessionManager: session {} for {} on {} ({})", s.id, account.email, s.server_id, s.codec);

    if (!settings_.agent_path.empty()) {
        // The agent may take seconds to start; the session reads "preparing"
        // meanwhile and no lock is held.
        auto agent = launch_agent(s.id, s.agent_token);
        std::lock_guard lock(shared_.mutex);
        starting_.erase(s.id);
        const auto still_open = load_open_locked(s.user_id);
        if (agent && (!still_open || still_open->id != s.id)) {
            retired_.push_back(std::move(agent));
            changed_ = true;
            wake_.notify_all();
            return ApiError::message(409, "The session was ended before it was ready");
        }
        if (!agent) {
            auto drop = shared_.db.prepare("DELETE FROM sessions WHERE id = ?1");
            drop->bind(1, s.id);
            drop->run();
            catalogue_.set_status_locked(s.server_id, "online");
            return ApiError::message(503, "The streaming agent could not be started");
        }
        // Streaming starts no earlier than the agent is ready.
        s.control_port = agent->control_port();
        s.streaming_ms = std::max(s.streaming_ms, clock_());
        auto update = shared_.db.prepare("UPDATE sessions SET control_port = ?1, streaming_ms = ?2 WHERE id = ?3");
        update->bind(1, int64_t{s.control_port}).bind(2, s.streaming_ms).bind(3, s.id);
        update->run();
        agents_[s.id] = std::move(agent);
    }
    out = {{"session_id", s.id}, {"id", s.id}, {"status", "preparing"}, {"serverId", s.server_id}, {"codec", s.codec}};
    return ApiError::none();
}

ApiError SessionManager::active(const std::string& user_id, nlohmann::json& out) {
    AgentList ended;
    {
        std::lock_guard lock(shared_.mutex);
        const int64_t now = clock_();
        // A session that just ended is reported as gone, like one never rented.
        const auto s = settled_open_locked(user_id, now, ended);
        out = s ? view_locked(*s, now) : nlohmann::json(nullptr);
    }
    for (auto& agent : ended) agent->stop();
    return ApiError::none();
}

ApiError SessionManager::connect_info(const std::string& user_id, nlohmann::json& out) {
    AgentList ended;
    ApiError result;
    {
        std::lock_guard lock(shared_.mutex);
        const int64_t now = clock_();
        const auto s = settled_open_locked(user_id, now, ended);
        if (!s) {
            out = nullptr;
        } else if (starting_.contains(s->id) || now < s->streaming_ms) {
            result = ApiError::message(409, "The session is still being prepared");
        } else {
            // "port" is the stream's base port, three below the control port,
            // as agents number them.
            out = {{"session_id", s->id},
                   {"status", "streaming"},
                   {"token", s->agent_token},
                   {"host", settings_.agent_host},
                   {"port", std::max(s->control_port - 3, 1)},
                   {"control_port", s->control_port},
                   {"codec", s->codec},
                   {"fps", s->fps},
                   {"bitrate", s->bitrate}};
        }
    }
    for (auto& agent : ended) agent->stop();
    return result;
}

ApiError SessionManager::end(const std::string& user_id, const std::string& session_id, nlohmann::json& out) {
    AgentList ended;
    {
        std::lock_guard lock(shared_.mutex);
        const int64_t now = clock_();
        if (const auto s = load_open_locked(user_id); s && s->id == session_id) {
            if (auto still = settled_open_locked(user_id, now, ended)) finish_locked(*still, now, "Ended by the user", ended);
        }
        auto row = shared_.db.prepare(
            "SELECT status_text, charged_sec, cost_cents, end_reason, server_id, server_hostname FROM ("
            "SELECT CASE WHEN ended_ms IS NULL THEN 'streaming' ELSE 'ended' END AS status_text, * FROM sessions) "
            "WHERE id = ?1 AND user_id = ?2");
        row->bind(1, session_id).bind(2, user_id);
        if (!row->step()) return ApiError::message(404, "Session not found");
        out = {{"id", session_id},         {"status", row->text(0)},       {"durationSec", row->int64(1)},
               {"costCents", row->int64(2)}, {"endReason", row->text(3)}, {"serverId", row->text(4)},
               {"serverHostname", row->text(5)}};
    }
    // Stopped before answering, so a client that sees the answer can rely on
    // the agent being gone.
    for (auto& agent : ended) agent->stop();
    return ApiError::none();
}

void SessionManager::settle_user(const std::string& user_id) {
    AgentList ended;
    {
        std::lock_guard lock(shared_.mutex);
        settled_open_locked(user_id, clock_(), ended);
    }
    for (auto& agent : ended) agent->stop();
}

std::optional<SessionManager::OpenSession> SessionManager::settled_open_locked(const std::string& user_id,
                                                                              int64_t now_ms, AgentList& stopped) {
    auto s = load_open_locked(user_id);
    if (!s) return s;
    settle_locked(*s, now_ms, stopped);
    return load_open_locked(user_id);
}

std::vector<std::string> SessionManager::renters_locked() {
    auto open = shared_.db.prepare("SELECT user_id FROM sessions WHERE ended_ms IS NULL");
    std::vector<std::string> users;
    while (open->step()) users.push_back(open->text(0));
    return users;
}

int64_t SessionManager::next_deadline_locked() {
    int64_t next = std::numeric_limits<int64_t>::max();
    for (const auto& user : renters_locked()) {
        const auto s = load_open_locked(user);
        if (!s || starting_.contains(s->id)) continue;
        const auto account = accounts_.find_locked(user);
        const int64_t affordable = affordable_seconds(s->charged_sec, s->price, account ? account->balance_cents : 0);
        int64_t end_sec = s->limit_sec();
        if (affordable >= 0) end_sec = std::min(end_sec, affordable + 1);
        next = std::min(next, s->streaming_ms + end_sec * 1000);
    }
    return next;
}

void SessionManager::on_agent_exit(const std::string& session_id, int exit_status) {
    std::lock_guard lock(shared_.mutex);
    if (stopping_) return;
    auto owner = shared_.db.prepare("SELECT user_id FROM sessions WHERE id = ?1 AND ended_ms IS NULL");
    owner->bind(1, session_id);
    if (!owner->step()) return;
    AgentList ended;
    if (auto s = settled_open_locked(owner->text(0), clock_(), ended)) {
        finish_locked(*s, clock_(), "Streaming agent exited with status " + std::to_string(exit_status), ended);
    }
    // This runs on the agent's own output thread, which cannot join itself.
    for (auto& agent : ended) retired_.push_back(std::move(agent));
}

void SessionManager::run_expiry() {
    try {
        std::unique_lock lock(shared_.mutex);
        while (!stopping_) {
            AgentList stopped;
            stopped.swap(retired_);
            const int64_t now = clock_();
            for (const auto& user : renters_locked()) settled_open_locked(user, now, stopped);
            const int64_t deadline = next_deadline_locked();
            changed_ = false;
            if (!stopped.empty()) {
                lock.unlock();
                stopped.clear();  // each agent's destructor stops and joins it
                lock.lock();
                continue;
            }
            const auto woken = [&] { return stopping_ || changed_ || !retired_.empty(); };
            if (deadline == std::numeric_limits<int64_t>::max()) {
                wake_.wait(lock, woken);
            } else {
                // Deadlines are wall-clock times; wait out the distance to the next one.
                wake_.wait_for(lock, std::chrono::milliseconds(std::max<int64_t>(deadline - now, 1)), woken);
            }
        }
    } catch (const std::exception& e) {
        spdlog::error("SessionManager: expiry thread stopped: {}", e.what());
    }
}

}  // namespace nb
