// Statistics ticks, pings and the round-trip time from the pongs.
#include "session/stats_reporter.h"

#include <nlohmann/json.hpp>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace nb {

namespace {

int64_t steady_now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Below this the smoothed round-trip time counts as "no sample yet".
constexpr float k_no_rtt_sample_ms = 0.01f;
constexpr float k_rtt_weight = 0.3f;

}  // namespace

StatsReporter::StatsReporter(asio::io_context& io, Sender send, StatsTiming timing)
    : timing_(std::move(timing)), send_(std::move(send)), stats_timer_(io), ping_timer_(io) {
    if (!timing_.now_ns) timing_.now_ns = steady_now_ns;
}

StatsReporter::~StatsReporter() { stop(); }

int64_t StatsReporter::now_ns() const { return timing_.now_ns(); }

void StatsReporter::start() {
    {
        std::lock_guard lock(timer_lock_);
        if (running_.load()) return;
        running_.store(true);
        ++generation_;
        last_tick_ns_ = now_ns();
        decoded_frames_.store(0);
        arm_stats_timer_locked();
    }
    send_ping();
    spdlog::info("StatsReporter: started (interval={}ms)", timing_.stats_interval_ms);
}

void StatsReporter::stop() {
    {
        std::lock_guard lock(timer_lock_);
        if (!running_.exchange(false)) return;
        stats_timer_.cancel();
        ping_timer_.cancel();
    }
    spdlog::info("StatsReporter: stopped");
}

void StatsReporter::arm_stats_timer_locked() {
    stats_timer_.expires_after(std::chrono::milliseconds(timing_.stats_interval_ms));
    stats_timer_.async_wait(
        [this, generation = generation_](const asio::error_code& error) { on_stats_timer(error, generation); });
}

void StatsReporter::arm_ping_timer_locked() {
    ping_timer_.expires_after(std::chrono::milliseconds(timing_.ping_interval_ms));
    ping_timer_.async_wait(
        [this, generation = generation_](const asio::error_code& error) { on_ping_timer(error, generation); });
}

void StatsReporter::send_ping() {
    if (!running_.load() || !send_) return;
    ping_sent_us_.store(now_ns() / 1000);
    const nlohmann::json ping = {{"ts", static_cast<uint64_t>(now_ns() / 1000)}, {"type", "ping"}};
    send_(ping.dump());
    std::lock_guard lock(timer_lock_);
    if (running_.load()) arm_ping_timer_locked();
}

void StatsReporter::on_ping_timer(const asio::error_code& error, uint64_t generation) {
    {
        std::lock_guard lock(timer_lock_);
        if (error || !running_.load() || generation != generation_) return;
    }
    send_ping();
}

void StatsReporter::on_stats_timer(const asio::error_code& error, uint64_t generation) {
    {
        std::lock_guard lock(timer_lock_);
        if (error || !running_.load() || generation != generation_) return;
    }
    tick();
    std::lock_guard lock(timer_lock_);
    if (running_.load() && generation == generation_) arm_stats_timer_locked();
}

void StatsReporter::tick() {
    const int64_t t = now_ns();
    const double elapsed_s = static_cast<double>(t - last_tick_ns_) / 1e9;
    const uint32_t frames = decoded_frames_.exchange(0);
    decoded_fps_.store(elapsed_s > 0.001 ? static_cast<float>(frames / elapsed_s) : 0.0f);
    last_tick_ns_ = t;

    packet_loss_pct_.store(loss_.take_loss_pct());

    {
        std::lock_guard lock(jitter_lock_);
        float jitter = 0.0f;
        if (arrivals_ > 1) {
            const double n = static_cast<double>(arrivals_);
            const double mean = gap_sum_ms_ / n;
            const double variance = std::max(0.0, gap_sumsq_ms_ / n - mean * mean);
            jitter = static_cast<float>(std::sqrt(variance));
        }
        jitter_ms_.store(jitter);
        gap_sum_ms_ = 0.0;
        gap_sumsq_ms_ = 0.0;
        arrivals_ = 0;
    }

    if (!send_) return;
    // The 32-bit values are widened on purpose: the agent sees the digits of
    // the float as stored, not a rounded decimal.
    const nlohmann::json stats = {
        {"decoded_fps", static_cast<double>(decoded_fps_.load())},
        {"jitter_ms", static_cast<double>(jitter_ms_.load())},
        {"packet_loss_pct", static_cast<double>(packet_loss_pct_.load())},
        {"rtt_ms", static_cast<double>(rtt_ms_.load())},
        {"type", "stats"},
    };
    send_(stats.dump());
}

void StatsReporter::on_video_packet(uint32_t frame_id, uint16_t packet_count) {
    loss_.on_packet(frame_id, packet_count);
    const int64_t t = now_ns();
    std::lock_guard lock(jitter_lock_);
    if (arrivals_ != 0) {
        const double gap_ms = static_cast<double>(t - last_arrival_ns_) / 1e6;
        gap_sum_ms_ += gap_ms;
        gap_sumsq_ms_ += gap_ms * gap_ms;
    }
    last_arrival_ns_ = t;
    ++arrivals_;
}

void StatsReporter::on_pong() {
    const int64_t sent_us = ping_sent_us_.load();
    if (sent_us <= 0) return;  // no ping of ours to answer yet
    // Matched against the newest ping: a lagging pong measures from there.
    const float sample = static_cast<float>(now_ns() / 1000 - sent_us) / 1000.0f;
    if (sample < 0.0f) return;
    const float previous = rtt_ms_.load();
    const float weight = previous < k_no_rtt_sample_ms ? 1.0f : k_rtt_weight;
    rtt_ms_.store((1.0f - weight) * previous + weight * sample);
    spdlog::trace("StatsReporter: pong rtt={:.1f}ms", sample);
}

}  // namespace nb
