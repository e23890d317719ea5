// Bounded queue of interleaved float samples between the network thread that
// decodes audio and the device callback that plays it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace nb {

class SampleRing {
public:
    // Overrun warnings go out for the first overrun and then every 100th, so
    // a persistently fast sender cannot flood the log.
    static constexpr uint32_t k_overrun_log_every = 100;

    struct PushResult {
        size_t written = 0;         // samples stored by this push
        size_t dropped = 0;         // samples lost to make room (old ones or the head of the input)
        uint32_t overruns = 0;      // overrun total after this push; 0 when it did not overrun
        bool log_overrun = false;   // this overrun is one the caller should report
    };

    struct PullResult {
        size_t copied = 0;          // real samples handed out
        size_t silence = 0;         // zero samples padded after them
        bool underrun = false;
    };

    // `capacity` is in samples and never changes; storage is allocated here so
    // that neither push nor pull ever allocates.
    explicit SampleRing(size_t capacity);

    SampleRing(const SampleRing&) = delete;
    SampleRing& operator=(const SampleRing&) = delete;

    // Appends `count` samples. When they do not fit, the oldest stored audio
    // is dropped first, and when `count` alone exceeds the capacity only its
    // newest `capacity` samples are kept: latency stays bounded and the
    // freshest sound wins.
    PushResult push(const float* samples, size_t count);

    // Fills exactly `count` samples of `out`: stored samples first, in order,
    // then silence when the ring runs short (an underrun).
    PullResult pull(float* out, size_t count);

    // Empties the ring and restarts both positions at zero; counters stay.
    void reset();

    size_t capacity() const { return capacity_; }
    size_t stored() const;
    uint64_t read_pos() const;
    uint64_t write_pos() const;
    uint32_t overruns() const { return overruns_.load(std::memory_order_relaxed); }
    uint32_t underruns() const { return underruns_.load(std::memory_order_relaxed); }

private:
    const size_t capacity_;

    // Guards storage_, read_pos_ and write_pos_. Held only while copying, so
    // the device callback never waits long behind a push.
    mutable std::mutex lock_;
    std::vector<float> storage_;
    uint64_t read_pos_ = 0;   // samples ever taken out
    uint64_t write_pos_ = 0;  // samples ever put in

    std::atomic<uint32_t> overruns_{0};
    std::atomic<uint32_t> underruns_{0};
};

}  // namespace nb
