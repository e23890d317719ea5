#include "session/video_pipeline.h"

#include <spdlog/spdlog.h>

#include <chrono>

#include "net/decryption.h"
#include "net/depacketizer.h"
#include "net/udp_receiver.h"
#include "session/stats_reporter.h"
#include "video/renderer.h"
#include "video/video_decoder.h"

namespace nb {

VideoPipeline::VideoPipeline(asio::io_context& io, const LauncherTuning& tuning, Hooks hooks)
    : io_(io), tuning_(tuning), hooks_(std::move(hooks)), sweep_timer_(io) {}

VideoPipeline::~VideoPipeline() {
    stop_receiving();
    stop();
}

bool VideoPipeline::start(const ConnectionParams& params, SDL_Window* window, const std::vector<uint8_t>& key,
                          std::unique_ptr<IRenderer> renderer, std::unique_ptr<IVideoDecoder> decoder) {
    spdlog::debug("Launcher: start_video_pipeline {}x{}", params.width, params.height);
    if (!renderer || !decoder) {
        spdlog::error("Launcher: no {} for the video pipeline", renderer ? "decoder" : "renderer");
        return false;
    }
    VideoThread::Hooks video_hooks;
    video_hooks.request_key_frame = hooks_.request_key_frame;
    video_hooks.rtt_ms = [this] {
        const StatsReporter* stats = stats_.load(std::memory_order_acquire);
        return stats ? stats->rtt_ms() : 0.0f;
    };
    video_hooks.picture_decoded = [this] {
        if (StatsReporter* stats = stats_.load(std::memory_order_acquire)) stats->count_decoded_frame();
    };
    video_hooks.timing_sink = hooks_.timing_sink;
    video_thread_ = std::make_unique<VideoThread>(std::move(renderer), std::move(decoder), std::move(video_hooks));
    if (!video_thread_->start(window, params.codec, static_cast<uint32_t>(params.width),
                              static_cast<uint32_t>(params.height))) {
        return false;
    }

    decryption_ = std::make_unique<Decryption>();
    if (!decryption_->set_key(key)) {
        spdlog::error("Launcher: video decryption key setup failed");
        return false;
    }
    depacketizer_ = std::make_unique<Depacketizer>(*decryption_);
    VideoThread* video = video_thread_.get();
    depacketizer_->set_frame_callback([video](CompletedFrame&& frame) { video->submit(std::move(frame)); });
    depacketizer_->set_stats(stats_.load());

    receiver_ = open_receiver(io_, tuning_.ports.video_local, tuning_);
    if (!receiver_) return false;
    spdlog::debug("Launcher: video UDP receiver on port {}", receiver_->local_port());
    receiver_->set_probe_token(key.data(), key.size());
    receiver_->start_probe(params.host, tuning_.ports.video_probe);
    receiver_->set_handler(depacketizer_->datagram_handler());
    receiver_->start();
    {
        std::lock_guard lock(sweep_lock_);
        sweeping_ = true;
        arm_sweep_locked();
    }
    spdlog::info("Launcher: sent initial IDR request to agent");
    spdlog::info("Launcher: video pipeline started");
    return true;
}

void VideoPipeline::set_stats(StatsReporter* stats) {
    stats_.store(stats, std::memory_order_release);
    if (depacketizer_) depacketizer_->set_stats(stats);
}

void VideoPipeline::arm_sweep_locked() {
    sweep_timer_.expires_after(std::chrono::milliseconds(k_sweep_interval_ms));
    sweep_timer_.async_wait([this](const asio::error_code& error) {
        if (error) return;
        depacketizer_->sweep_stale();
        std::lock_guard lock(sweep_lock_);
        if (sweeping_) arm_sweep_locked();
    });
}

void VideoPipeline::stop_receiving() {
    if (receiver_) receiver_->stop();
    std::lock_guard lock(sweep_lock_);
    if (!sweeping_) return;
    sweeping_ = false;
    sweep_timer_.cancel();
}

void VideoPipeline::stop() {
    if (video_thread_) video_thread_->stop();
}

}  // namespace nb
