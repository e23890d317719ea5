// Drop-oldest ring of float samples with absolute read and write positions.
#include "audio/sample_ring.h"

#include <algorithm>
#include <cstring>

namespace nb {

namespace {

// Copies `count` samples between a linear buffer and the ring, starting at the
// absolute position `pos`, splitting at the end of the storage.
void copy_into_ring(std::vector<float>& ring, uint64_t pos, const float* src, size_t count) {
    const size_t cap = ring.size();
    const size_t start = static_cast<size_t>(pos % cap);
    const size_t first = std::min(count, cap - start);
    std::memcpy(ring.data() + start, src, first * sizeof(float));
    std::memcpy(ring.data(), src + first, (count - first) * sizeof(float));
}

void copy_from_ring(const std::vector<float>& ring, uint64_t pos, float* dst, size_t count) {
    const size_t cap = ring.size();
    const size_t start = static_cast<size_t>(pos % cap);
    const size_t first = std::min(count, cap - start);
    std::memcpy(dst, ring.data() + start, first * sizeof(float));
    std::memcpy(dst + first, ring.data(), (count - first) * sizeof(float));
}

}  // namespace

SampleRing::SampleRing(size_t capacity) : capacity_(std::max<size_t>(capacity, 1)), storage_(capacity_, 0.0f) {}

SampleRing::PushResult SampleRing::push(const float* samples, size_t count) {
    PushResult result;
    if (samples == nullptr || count == 0) return result;

    std::lock_guard<std::mutex> guard(lock_);
    const size_t stored = static_cast<size_t>(write_pos_ - read_pos_);
    if (stored + count > capacity_) {
        if (count > capacity_) {
            result.dropped = stored + (count - capacity_);
            samples += count - capacity_;
            count = capacity_;
            read_pos_ = write_pos_;
        } else {
            const size_t excess = stored + count - capacity_;
            result.dropped = excess;
            read_pos_ += excess;
        }
        const uint32_t total = overruns_.fetch_add(1, std::memory_order_relaxed) + 1;
        result.overruns = total;
        result.log_overrun = total == 1 || total % k_overrun_log_every == 0;
    }
    copy_into_ring(storage_, write_pos_, samples, count);
    write_pos_ += count;
    result.written = count;
    return result;
}

SampleRing::PullResult SampleRing::pull(float* out, size_t count) {
    PullResult result;
    if (out == nullptr || count == 0) return result;

    std::lock_guard<std::mutex> guard(lock_);
    const size_t stored = static_cast<size_t>(write_pos_ - read_pos_);
    const size_t take = std::min(stored, count);
    copy_from_ring(storage_, read_pos_, out, take);
    read_pos_ += take;
    result.copied = take;
    if (take < count) {
        std::fill(out + take, out + count, 0.0f);
        result.silence = count - take;
        result.underrun = true;
        underruns_.fetch_add(1, std::memory_order_relaxed);
    }
    return result;
}

void SampleRing::reset() {
    std::lock_guard<std::mutex> guard(lock_);
    std::fill(storage_.begin(), storage_.end(), 0.0f);
    read_pos_ = 0;
    write_pos_ = 0;
}

size_t SampleRing::stored() const {
    std::lock_guard<std::mutex> guard(lock_);
    return static_cast<size_t>(write_pos_ - read_pos_);
}

uint64_t SampleRing::read_pos() const {
    std::lock_guard<std::mutex> guard(lock_);
    return read_pos_;
}

uint64_t SampleRing::write_pos() const {
    std::lock_guard<std::mutex> guard(lock_);
    return write_pos_;
}

}  // namespace nb
