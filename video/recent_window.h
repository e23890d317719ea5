// Figures over the last second (pictures presented, decode time, bytes),
// for the overlay: a ring of time-stamped samples, no allocation after
// construction. One thread records and reads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace nb {

class RecentWindow {
public:
    static constexpr int64_t k_span_us = 1'000'000;
    // Far above any frame rate a stream runs at; beyond it the oldest
    // samples of the second fall out early.
    static constexpr size_t k_capacity = 1024;

    struct Totals {
        uint64_t count = 0;
        int64_t sum = 0;
    };

    void add(int64_t at_us, int64_t value);
    // The samples taken during the second before `now_us`.
    Totals totals(int64_t now_us);

private:
    struct Sample {
        int64_t at_us = 0;
        int64_t value = 0;
    };

    std::array<Sample, k_capacity> samples_{};
    size_t first_ = 0;  // oldest kept sample
    size_t count_ = 0;
    int64_t sum_ = 0;   // of the kept samples
};

}  // namespace nb
