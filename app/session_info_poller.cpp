// The session-info poller thread.
#include "app/session_info_poller.h"

#include <spdlog/spdlog.h>

#include "common/log_text.h"
#include "ui/rest_client.h"

namespace nb {

SessionInfoPoller::SessionInfoPoller(ui::LiveSessionRecord& record, std::chrono::milliseconds interval)
    : record_(record), interval_(interval) {
    http_options_.cancel = &cancel_;
}

SessionInfoPoller::~SessionInfoPoller() { stop(); }

bool SessionInfoPoller::start(BackendAccess access, std::function<bool()> session_running) {
    if (access.backend.empty() || access.token.empty() || thread_.joinable()) return false;
    {
        std::lock_guard lock(lock_);
        if (stop_requested_) return false;  // one run per poller: the stream it served has ended
    }
    access_ = std::move(access);
    session_running_ = std::move(session_running);
    spdlog::info("SessionInfoPoller: polling {} every {} ms", log_safe(access_.backend), interval_.count());
    thread_ = std::thread([this] { run(); });
    return true;
}

void SessionInfoPoller::stop() {
    {
        std::lock_guard lock(lock_);
        stop_requested_ = true;
    }
    wake_.notify_all();
    cancel_.cancel();
    if (!thread_.joinable()) return;
    thread_.join();
    spdlog::info("SessionInfoPoller: stopped ({} polls)", polls());
}

uint64_t SessionInfoPoller::polls() const {
    std::lock_guard lock(lock_);
    return polls_;
}

bool SessionInfoPoller::wait_for_polls(uint64_t count, std::chrono::milliseconds limit) const {
    std::unique_lock lock(lock_);
    wake_.wait_for(lock, limit, [&] { return polls_ >= count || finished_; });
    return polls_ >= count;
}

void SessionInfoPoller::run() {
    try {
        std::unique_lock lock(lock_);
        // The session loop stops the poller right after the stream ends; the
        // running check only keeps a stream that ended on its own from
        // being polled until then.
        while (!stop_requested_ && (!session_running_ || session_running_())) {
            lock.unlock();
            poll_once();
            lock.lock();
            if (stop_requested_) break;  // the poll was cut short and counts for nothing
            ++polls_;
            wake_.notify_all();
            wake_.wait_for(lock, interval_, [this] { return stop_requested_; });
        }
    } catch (const std::exception& e) {
        spdlog::error("SessionInfoPoller: exception: {}", log_safe(e.what()));
    } catch (...) {
        spdlog::error("SessionInfoPoller: unknown exception");
    }
    std::lock_guard lock(lock_);
    finished_ = true;
    wake_.notify_all();
}

void SessionInfoPoller::poll_once() {
    const ui::ActiveSession session =
        ui::get_active_session(access_.backend, access_.token, access_.use_https, http_options_);
    const ui::UserProfile profile = ui::fetch_profile(access_.backend, access_.token, access_.use_https, http_options_);
    if (cancel_.cancelled()) return;  // cut short by a stop: the answers say nothing
    record_.modify([&](ui::LiveSessionInfo& info) {
        info.valid = session.ok || profile.ok;
        if (session.ok) {
            info.duration_sec = session.duration_sec;
            info.cost_cents = session.cost_cents;
            info.server_hostname = session.server_hostname;
        }
        if (profile.ok) info.balance_cents = profile.balance_cents;
    });
    // Only changes are logged: a backend that stays away would otherwise
    // fill the log every two seconds.
    const bool failing = !session.ok && !profile.ok;
    if (failing && !failing_) {
        spdlog::warn("SessionInfoPoller: backend gave no session info (session: {}; profile: {})",
                     log_safe(session.error), log_safe(profile.error));
    } else if (!failing && failing_) {
        spdlog::info("SessionInfoPoller: backend answering again");
    }
    failing_ = failing;
    http_options_.quiet = failing;
}

}  // namespace nb
