// The times of the last pictures presented, for the overlay's frame-time
// graph: a ring of samples, no allocation after construction. The video
// thread records and reads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace nb {

class FrameTimeHistory {
public:
    static constexpr int64_t k_span_us = 2'000'000;
    // Two seconds at 120 fps; at higher rates the graph shows less time.
    static constexpr size_t k_capacity = 240;

    // One presented picture: its decode time and the time from its last
    // packet to the present.
    void add(int64_t at_us, float decode_ms, float total_ms);
    // The samples taken during the span before `now_us`, oldest first. The
    // vectors are overwritten; reserved ones never allocate.
    void recent(int64_t now_us, std::vector<float>& decode_ms, std::vector<float>& total_ms) const;

private:
    struct Sample {
        int64_t at_us = 0;
        float decode_ms = 0.0f;
        float total_ms = 0.0f;
    };

    std::array<Sample, k_capacity> samples_{};
    size_t next_ = 0;  // slot the next sample goes to
    size_t count_ = 0;
};

}  // namespace nb
