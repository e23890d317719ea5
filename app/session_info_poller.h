// During a stream rented through the launcher, asks the backend every 2 s for
// the session's running time and cost and the user's balance, for the overlay.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "ui/http_cancel.h"
#include "ui/http_transport.h"
#include "ui/live_session_info.h"

namespace nb {

// Where the poller asks and as whom: the launcher window's hand-over.
struct BackendAccess {
    std::string backend;
    std::string token;
    bool use_https = false;
};

class SessionInfoPoller {
public:
    static constexpr std::chrono::milliseconds k_default_interval{2000};

    explicit SessionInfoPoller(ui::LiveSessionRecord& record,
                               std::chrono::milliseconds interval = k_default_interval);
    ~SessionInfoPoller();
    SessionInfoPoller(const SessionInfoPoller&) = delete;
    SessionInfoPoller& operator=(const SessionInfoPoller&) = delete;

    // Starts the thread, which polls until stop() or until `session_running`
    // turns false. Without a backend address or a token there is nothing to
    // ask: false, and no thread. A poller runs once; after stop() it stays off.
    bool start(BackendAccess access, std::function<bool()> session_running);

    // Wakes the wait and calls off a request in flight, then joins.
    // Idempotent; the destructor calls it.
    void stop();

    bool started() const { return thread_.joinable(); }
    uint64_t polls() const;
    // Blocks until `count` polls have finished, the thread ended or `limit`
    // passed; true when the polls finished.
    bool wait_for_polls(uint64_t count, std::chrono::milliseconds limit) const;

private:
    void run();
    void poll_once();

    ui::LiveSessionRecord& record_;
    const std::chrono::milliseconds interval_;
    BackendAccess access_;
    std::function<bool()> session_running_;
    ui::HttpCancel cancel_;
    ui::HttpOptions http_options_;  // poller thread only
    bool failing_ = false;          // poller thread only: the last poll got nothing

    mutable std::mutex lock_;  // guards stop_requested_, finished_ and polls_
    mutable std::condition_variable wake_;
    bool stop_requested_ = false;
    bool finished_ = false;
    uint64_t polls_ = 0;
    std::thread thread_;
};

}  // namespace nb
