// Measures the stream as this client sees it (round-trip time, video loss,
// decoded frame rate, arrival jitter) and reports it to the agent. The
// control channel hands it the agent's pongs.
#pragma once

#include <asio.hpp>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "net/packet_stats.h"
#include "session/packet_loss_meter.h"

namespace nb {

struct StatsTiming {
    int64_t stats_interval_ms = 100;
    int64_t ping_interval_ms = 300;
    // Monotonic nanoseconds; tests substitute a clock they move by hand.
    std::function<int64_t()> now_ns;
};

class StatsReporter final : public IPacketStats {
public:
    using Sender = std::function<void(const std::string&)>;

    // `send` writes one control message; without it nothing is sent and
    // no pings go out.
    StatsReporter(asio::io_context& io, Sender send, StatsTiming timing = {});
    ~StatsReporter() override;
    StatsReporter(const StatsReporter&) = delete;
    StatsReporter& operator=(const StatsReporter&) = delete;

    // Both idempotent; the reporter must outlive the I/O threads that serve
    // its timers and reads, or stop must come before they are joined.
    void start();
    void stop();

    // Per authenticated video data packet, from the datagram path; two short
    // critical sections, no allocation.
    void on_video_packet(uint32_t frame_id, uint16_t packet_count) override;

    // The agent answered a ping; measured against the newest ping sent.
    // Any thread.
    void on_pong();

    // Once per picture the frame handler has presented.
    void count_decoded_frame() { decoded_frames_.fetch_add(1, std::memory_order_relaxed); }

    // Latest values, for the overlay.
    float rtt_ms() const { return rtt_ms_.load(std::memory_order_relaxed); }
    float decoded_fps() const { return decoded_fps_.load(std::memory_order_relaxed); }
    float packet_loss_pct() const { return packet_loss_pct_.load(std::memory_order_relaxed); }
    float jitter_ms() const { return jitter_ms_.load(std::memory_order_relaxed); }
    bool running() const { return running_.load(); }

private:
    int64_t now_ns() const;
    void send_ping();
    // Callers hold timer_lock_.
    void arm_stats_timer_locked();
    void arm_ping_timer_locked();
    void on_stats_timer(const asio::error_code& error, uint64_t generation);
    void on_ping_timer(const asio::error_code& error, uint64_t generation);
    void tick();

    StatsTiming timing_;
    Sender send_;

    // Guards both timers and the running flag's transitions, so stop never
    // cancels a timer while a completion re-arms it on another thread.
    std::mutex timer_lock_;
    asio::steady_timer stats_timer_;
    asio::steady_timer ping_timer_;
    // Bumped by every start, so a completion queued before a stop never
    // re-arms a second chain after a restart.
    uint64_t generation_ = 0;

    std::atomic<float> rtt_ms_{0.0f};
    std::atomic<int64_t> ping_sent_us_{0};

    PacketLossMeter loss_;

    std::atomic<uint32_t> decoded_frames_{0};
    int64_t last_tick_ns_ = 0;  // stats timer chain and start only
    std::atomic<float> decoded_fps_{0.0f};
    std::atomic<float> packet_loss_pct_{0.0f};
    std::atomic<float> jitter_ms_{0.0f};

    // Guards the arrival-gap sums. Never held together with the loss meter's lock.
    std::mutex jitter_lock_;
    int64_t last_arrival_ns_ = 0;
    double gap_sum_ms_ = 0.0;
    double gap_sumsq_ms_ = 0.0;
    uint64_t arrivals_ = 0;

    std::atomic<bool> running_{false};
};

}  // namespace nb
