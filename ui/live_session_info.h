// The rented session's live figures (time, cost, balance, machine) as the
// backend last reported them, read by the overlay.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace nb::ui {

struct LiveSessionInfo {
    int32_t duration_sec = 0;
    int64_t balance_cents = 0;
    int64_t cost_cents = 0;
    std::string server_hostname;
    bool valid = false;  // at least one backend query of the last poll succeeded
};

// One record per stream, written by the backend poller and copied by the
// overlay's drawing.
class LiveSessionRecord {
public:
    LiveSessionInfo snapshot() const {
        std::lock_guard lock(lock_);
        return info_;
    }
    void update(LiveSessionInfo info) {
        std::lock_guard lock(lock_);
        info_ = std::move(info);
    }
    // Changes some fields in one step, so a reader never sees half a poll.
    template <typename Change>
    void modify(Change&& change) {
        std::lock_guard lock(lock_);
        change(info_);
    }
    void reset() { update({}); }

private:
    mutable std::mutex lock_;  // guards info_
    LiveSessionInfo info_;
};

}  // namespace nb::ui
