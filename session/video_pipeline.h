// The video half of a session: the receiver with its decryption, frame
// assembly with its stale-frame sweep, and the video thread they feed.
#pragma once

#include <asio.hpp>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "common/connection_params.h"
#include "session/launcher_tuning.h"
#include "video/frame_timing.h"
#include "video/video_thread.h"

struct SDL_Window;

namespace nb {

class Decryption;
class Depacketizer;
class IRenderer;
class IVideoDecoder;
class StatsReporter;
class UdpReceiver;

class VideoPipeline {
public:
    // How often frames that stopped arriving are looked for; they go once
    // older than Depacketizer::k_stale_age_us.
    static constexpr int64_t k_sweep_interval_ms = 25;

    struct Hooks {
        std::function<void()> request_key_frame;  // sends one "request_idr"
        IFrameTimingSink* timing_sink = nullptr;
    };

    VideoPipeline(asio::io_context& io, const LauncherTuning& tuning, Hooks hooks);
    ~VideoPipeline();
    VideoPipeline(const VideoPipeline&) = delete;
    VideoPipeline& operator=(const VideoPipeline&) = delete;

    // Renderer and decoder start on the video thread, then assembly and the
    // receiver. False after logging the cause; what was created stays for stop.
    bool start(const ConnectionParams& params, SDL_Window* window, const std::vector<uint8_t>& key,
               std::unique_ptr<IRenderer> renderer, std::unique_ptr<IVideoDecoder> decoder);

    // The reporter may come after the start; it must outlive the pipeline's use.
    void set_stats(StatsReporter* stats);

    // Stops the datagrams and the sweep: first in a shutdown.
    void stop_receiving();
    // Ends the video thread, which shuts the decoder and the renderer down.
    // After the I/O threads are joined, so that no frame arrives meanwhile.
    void stop();

    // Null before start.
    VideoThread* video_thread() { return video_thread_.get(); }

private:
    void arm_sweep_locked();

    asio::io_context& io_;
    const LauncherTuning& tuning_;
    Hooks hooks_;
    std::atomic<StatsReporter*> stats_{nullptr};

    std::unique_ptr<VideoThread> video_thread_;
    std::unique_ptr<Decryption> decryption_;
    std::unique_ptr<Depacketizer> depacketizer_;
    std::shared_ptr<UdpReceiver> receiver_;

    // Guards the sweep timer and sweeping_: the timer's completion re-arms on
    // an I/O thread while a shutdown cancels it from another.
    std::mutex sweep_lock_;
    asio::steady_timer sweep_timer_;
    bool sweeping_ = false;
};

}  // namespace nb
