// One summary line per period for a failure that can repeat as fast as a
// peer can send it: the log grows with time, never with the attack rate.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "common/clock.h"

namespace nb {

class LogRateLimiter {
public:
    static constexpr int64_t k_default_period_us = 1'000'000;

    // `clock` gives monotonic microseconds (now_us unless a test moves time).
    explicit LogRateLimiter(int64_t period_us = k_default_period_us, std::function<int64_t()> clock = {})
        : period_us_(period_us), clock_(clock ? std::move(clock) : std::function<int64_t()>(now_us)) {}

    // Counts `occurrences`. Returns how many occurred since the last line
    // (these included) when a line is due now, else 0. The first call is
    // always reported at once. Safe from any thread: of concurrent callers
    // at most one per period gets a non-zero count.
    uint64_t count(uint64_t occurrences = 1) {
        unsent_.fetch_add(occurrences, std::memory_order_relaxed);
        const int64_t now = clock_();
        int64_t due = next_line_us_.load(std::memory_order_relaxed);
        if (now < due) return 0;
        if (!next_line_us_.compare_exchange_strong(due, now + period_us_, std::memory_order_relaxed)) return 0;
        return unsent_.exchange(0, std::memory_order_relaxed);
    }

    int64_t period_ms() const { return period_us_ / 1000; }

private:
    int64_t period_us_;
    std::function<int64_t()> clock_;
    std::atomic<uint64_t> unsent_{0};
    std::atomic<int64_t> next_line_us_{INT64_MIN};
};

}  // namespace nb
