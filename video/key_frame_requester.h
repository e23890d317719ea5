// When to ask the agent for a key frame. Frames reach the video thread in
// frame_id order, so a skipped id is a frame that never completed: every
// picture after it would be built on a missing reference. Such frames are
// held back from the decoder until a key frame restarts the chain, and the
// request for it is spaced so that one loss never turns into a storm.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace nb {

class KeyFrameRequester {
public:
    // Requests are at least this far apart, and at least one round trip:
    // a key frame asked for cannot have come back any sooner.
    static constexpr int64_t k_min_spacing_us = 100'000;
    // Asked again when none came for this long (the one answering the last
    // request may have been lost on its way too, unnoticed if nothing follows).
    static constexpr int64_t k_retry_us = 1'000'000;

    struct Hooks {
        std::function<void()> send;           // puts one request on the control channel
        std::function<float()> rtt_ms;        // latest round trip; empty or 0 when unknown
        std::function<int64_t()> clock_us;    // now_us when empty
    };

    explicit KeyFrameRequester(Hooks hooks);

    // Judges the next frame in order: true when it may be decoded. A gap
    // before it or a frame id that went backwards asks for a key frame.
    bool admit(uint32_t frame_id, bool key);

    // A decoder that stalls or fails asks through the same spacing, without
    // holding frames back.
    void request();

    bool awaiting_key_frame() const { return awaiting_key_; }
    uint64_t requests_sent() const { return requests_sent_; }
    uint64_t frames_held_back() const { return held_back_; }

private:
    void send_if_due();
    int64_t spacing_us() const;
    int64_t now() const;

    Hooks hooks_;
    bool have_last_ = false;
    uint32_t last_frame_id_ = 0;
    bool awaiting_key_ = false;   // frames are held back until a key frame
    bool want_request_ = false;   // a request is owed, waiting for the spacing
    bool ever_sent_ = false;
    int64_t last_sent_us_ = 0;
    uint64_t requests_sent_ = 0;
    uint64_t held_back_ = 0;
    std::atomic<uint64_t> gap_log_count_{0};
};

}  // namespace nb
