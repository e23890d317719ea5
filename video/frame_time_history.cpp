#include "video/frame_time_history.h"

namespace nb {

void FrameTimeHistory::add(int64_t at_us, float decode_ms, float total_ms) {
    samples_[next_] = Sample{at_us, decode_ms, total_ms};
    next_ = (next_ + 1) % k_capacity;
    if (count_ < k_capacity) ++count_;
}

void FrameTimeHistory::recent(int64_t now_us, std::vector<float>& decode_ms, std::vector<float>& total_ms) const {
    decode_ms.clear();
    total_ms.clear();
    const size_t oldest = (next_ + k_capacity - count_) % k_capacity;
    for (size_t i = 0; i < count_; ++i) {
        const Sample& s = samples_[(oldest + i) % k_capacity];
        if (now_us - s.at_us > k_span_us) continue;
        decode_ms.push_back(s.decode_ms);
        total_ms.push_back(s.total_ms);
    }
}

}  // namespace nb
