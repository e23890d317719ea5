// Video frame assembly: validates and decrypts each video datagram, gathers
// the packets of every frame, repairs losses from repair packets and hands
// each complete access unit on, in frame order.
#pragma once

#include <asio/ip/udp.hpp>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "common/log_rate_limiter.h"
#include "net/completed_frame.h"
#include "net/decryption.h"
#include "net/frame_repair.h"
#include "net/packet_stats.h"
#include "net/pending_frame.h"
#include "net/udp_receiver.h"

namespace nb {

class Depacketizer {
public:
    static constexpr size_t k_max_pending_frames = 256;
    static constexpr uint64_t k_max_pending_bytes = 64ull * 1024 * 1024;
    static constexpr int64_t k_stale_age_us = 100000;
    static constexpr int64_t k_frame_id_window = int64_t{1} << 30;
    static constexpr size_t k_max_datagram_bytes = 1200;
    static constexpr uint16_t k_max_packet_count = 4096;

    // `decryption` must outlive the depacketizer. `clock` gives microseconds
    // of a monotonic clock (now_us unless a test drives time). Initialises
    // the fountain-code library; if that fails, repairs simply never succeed.
    explicit Depacketizer(Decryption& decryption, std::function<int64_t()> clock = {}, FecCodecApi fec = {});
    // Logs how many frames were assembled and how many given up incomplete.
    ~Depacketizer();
    Depacketizer(const Depacketizer&) = delete;
    Depacketizer& operator=(const Depacketizer&) = delete;

    // Set before the receiver starts.
    void set_frame_callback(FrameCallback callback);
    // May be set or cleared at any time (the reporter starts after the
    // receivers); the object must outlive its use here.
    void set_stats(IPacketStats* stats) { stats_.store(stats, std::memory_order_release); }

    // The video DatagramHandler. Safe to call from several threads at once.
    // The frame callback runs on the calling thread under the lock, which is
    // what keeps deliveries in the order completion decided.
    void handle_datagram(const uint8_t* data, size_t length, const asio::ip::udp::endpoint& from);
    // A handler bound to this object, for UdpReceiver::set_handler.
    DatagramHandler datagram_handler();

    // Drops frames whose first packet is more than 100 ms old.
    void sweep_stale();

    uint64_t decrypt_failures() const { return decrypt_failures_.load(std::memory_order_relaxed); }
    // Frames handed to the callback, and frames dropped before all their
    // data arrived or could be rebuilt (superseded, stale or over a limit).
    uint64_t frames_assembled() const { return frames_assembled_.load(std::memory_order_relaxed); }
    uint64_t frames_given_up() const { return frames_given_up_.load(std::memory_order_relaxed); }
    size_t pending_frames() const;
    uint64_t pending_bytes() const;
    uint32_t latest_frame_id() const;

private:
    using PendingTable = std::unordered_map<uint32_t, PendingFrame>;

    // Steps that run under mutex_; a completed frame goes to the callback.
    void store_locked(const MediaHeader& header, const uint8_t* plaintext, size_t length, int64_t arrival_us);
    PendingTable::iterator find_or_create_locked(const MediaHeader& header, int64_t arrival_us);
    void complete_locked(PendingTable::iterator it, int64_t arrival_us);
    void erase_locked(PendingTable::iterator it);

    Decryption& decryption_;
    std::function<int64_t()> clock_;
    FecCodecApi fec_;
    FrameCallback frame_callback_;
    std::atomic<IPacketStats*> stats_{nullptr};

    // Guards pending_, pending_bytes_, latest_frame_id_ and has_baseline_,
    // and is held while the frame callback queues a frame. Lock order: this
    // one, then whatever lock the callback takes.
    mutable std::mutex mutex_;
    PendingTable pending_;
    uint64_t pending_bytes_ = 0;
    uint32_t latest_frame_id_ = 0;  // highest completed frame, when has_baseline_
    // Kept apart from the id so that frame 0, the first of most streams,
    // is a baseline like any other and is not handed on a second time.
    bool has_baseline_ = false;

    std::atomic<uint64_t> decrypt_failures_{0};
    std::atomic<uint64_t> frames_assembled_{0};
    std::atomic<uint64_t> frames_given_up_{0};
    // Forged datagrams fail as fast as anyone can send them; one line a
    // second says how many.
    LogRateLimiter decrypt_failure_log_;
};

}  // namespace nb
