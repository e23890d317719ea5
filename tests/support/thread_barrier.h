// A reusable barrier for tests that line threads up. libstdc++ 12 builds
// std::barrier on atomic waits, which on Windows (no futex) can miss a
// wake-up and hang; a mutex and a condition variable cannot.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace nb::test {

class ThreadBarrier {
public:
    explicit ThreadBarrier(size_t parties) : parties_(parties) {}

    // Returns once `parties` threads have arrived in this round.
    void arrive_and_wait() {
        std::unique_lock lock(mutex_);
        const size_t round = round_;
        if (++arrived_ == parties_) {
            arrived_ = 0;
            ++round_;
            all_arrived_.notify_all();
            return;
        }
        all_arrived_.wait(lock, [&] { return round_ != round; });
    }

private:
    const size_t parties_;
    std::mutex mutex_;  // guards arrived_ and round_
    std::condition_variable all_arrived_;
    size_t arrived_ = 0;
    size_t round_ = 0;
};

}  // namespace nb::test
