// Video packet loss as the share of announced data packets that never came.
// Packets are tallied per frame, so frames whose packets interleave (two I/O
// threads) or straddle a report are each announced exactly once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace nb {

class PacketLossMeter {
public:
    // Frames tallied at once; at 240 fps that is more than two reports' worth.
    static constexpr size_t k_open_frames = 128;
    // Frames already reported, whose late packets are then ignored.
    static constexpr size_t k_closed_frames = 128;

    // One authenticated data packet of `frame_id`, whose header announces
    // `packet_count` data packets. No allocation.
    void on_packet(uint32_t frame_id, uint16_t packet_count);

    // The loss of the frames settled since the last call, in percent, and a
    // fresh start for the next. A complete frame settles at once; one still
    // short of packets gets one more report's time for stragglers first.
    float take_loss_pct();

private:
    struct Tally {
        uint32_t frame_id = 0;
        uint16_t expected = 0;
        uint16_t received = 0;
        uint64_t order = 0;    // when tallying began, to settle the oldest first when full
        bool waited = false;   // already carried over one report
    };

    // Callers hold lock_.
    void settle_locked(size_t index);
    bool was_settled_locked(uint32_t frame_id) const;

    // Guards everything below.
    mutable std::mutex lock_;
    std::array<Tally, k_open_frames> open_{};
    size_t open_count_ = 0;
    uint64_t next_order_ = 0;
    std::array<uint32_t, k_closed_frames> closed_{};
    size_t closed_count_ = 0;
    size_t closed_next_ = 0;
    uint64_t expected_ = 0;  // settled since the last report
    uint64_t missing_ = 0;
};

}  // namespace nb
