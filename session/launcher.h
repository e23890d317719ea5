// One streaming session: control channel, media pipelines, I/O threads and
// the orderly shutdown.
#pragma once

#include <asio.hpp>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/connection_params.h"
#include "session/control_channel.h"
#include "session/launcher_tuning.h"
#include "session/stats_reporter.h"
#include "video/frame_timing.h"
#include "video/frame_trace_writer.h"
#include "video/video_thread.h"

struct SDL_Window;

namespace nb {

class AudioPacketHandler;
class Decryption;
class IAudioDecoder;
class IAudioSink;
class IInputCapture;
class IRenderer;
class IVideoDecoder;
class InputPipeline;
class StatsReporter;
class UdpReceiver;
class VideoPipeline;

// Builds the platform components of a session; tests substitute fakes.
struct SessionComponents {
    std::function<std::unique_ptr<IRenderer>()> make_renderer;
    std::function<std::unique_ptr<IVideoDecoder>()> make_decoder;
    std::function<std::unique_ptr<IAudioDecoder>()> make_audio_decoder;
    std::function<std::unique_ptr<IAudioSink>()> make_audio_player;
    std::function<std::unique_ptr<IInputCapture>()> make_input_capture;

    // OpenGL renderer, libavcodec decoder, Opus, SDL audio and SDL input.
    static SessionComponents platform_defaults();
};

class Launcher {
public:
    explicit Launcher(LauncherTuning tuning = {}, SessionComponents components = SessionComponents::platform_defaults());
    ~Launcher();
    Launcher(const Launcher&) = delete;
    Launcher& operator=(const Launcher&) = delete;

    // The whole session start: tcp_handshake, then start_streaming. False
    // after logging the cause; whatever was created stays for shutdown.
    bool connect(const ConnectionParams& params, SDL_Window* window);

    // Resolve, connect, authenticate and receive the session keys. Blocking,
    // on any one thread, before start_streaming; cancel_connect ends it early.
    bool tcp_handshake(const ConnectionParams& params);
    // Ends a tcp_handshake in progress within milliseconds. Any thread.
    void cancel_connect() { control_.cancel_handshake(); }
    bool connect_cancelled() const { return control_.handshake_cancelled(); }
    // Why tcp_handshake failed and what to check, in words for the user.
    const std::string& connect_failure() const { return control_.failure_advice(); }
    // What the connection attempt is doing, in words for the user; called on
    // the thread that runs tcp_handshake. Set before it.
    void set_connect_progress(ControlChannel::ProgressHandler progress) {
        control_.set_progress_handler(std::move(progress));
    }

    // Media pipelines, statistics and I/O threads once the handshake has
    // succeeded. Main thread.
    bool start_streaming(const ConnectionParams& params, SDL_Window* window);

    // Pipeline thread: waits until the session stops. Input leaves from the
    // window's event hook and stale frames go on a timer, so nothing polls.
    void run();

    // Idempotent, callable from any thread.
    void shutdown();

    // Queues one control message (compact JSON, no line feed). Never blocks.
    void send_control(const std::string& json_text) { control_.send(json_text); }

    // Called once, on an I/O thread, when the agent's control connection
    // fails or closes; by then running() is false. Set before connect.
    void set_on_connection_lost(std::function<void()> callback) { on_connection_lost_ = std::move(callback); }
    // The session ended because the control connection failed or closed.
    bool connection_lost() const { return connection_lost_.load(); }

    // Hands the records the capture holds to the sender at once (the
    // window's input hook, right after each event). Main thread.
    void send_pending_input();

    // Sends the agent a release of every key and button it was last told is
    // down. Called once input stops flowing to it (the overlay opened), so
    // that nothing stays held on the remote PC meanwhile. Main thread.
    void release_remote_input();

    // Re-arms the input capture after relative mouse mode changed.
    void refresh_raw_input();

    // Installs a collector of per-frame timings; before connect only.
    void set_frame_timing_sink(IFrameTimingSink* sink) { timing_sink_ = sink; }

    // The thread that owns decoder, renderer and overlay drawing; null until
    // the video pipeline started. Work for them is posted to it.
    VideoThread* video();

    bool running() const { return running_.load(); }
    int64_t last_present_us() const;
    const std::vector<uint8_t>& video_key() const { return video_key_; }
    const std::vector<uint8_t>& audio_key() const { return audio_key_; }
    const std::vector<uint8_t>& input_key() const { return input_key_; }
    uint64_t dropped_control_messages() const { return control_.dropped_messages(); }
    int32_t target_bitrate() const { return target_bitrate_.load(); }
    void set_target_bitrate(int32_t kbps) { target_bitrate_.store(kbps); }
    uint64_t audio_decrypt_failures() const;
    uint64_t frames_presented() const;
    uint64_t frames_skipped() const;

    // The session's I/O context, for components that live on it.
    asio::io_context& io_context() { return io_context_; }

    // Also tells the video thread, which keeps a shown panel alive over a
    // frozen picture. Main thread.
    void set_overlay_visible(bool visible);
    bool overlay_visible() const { return overlay_visible_.load(); }

    IInputCapture* input_capture();

    // Null until connect has started it; lives until the Launcher is destroyed.
    const StatsReporter* stats() const { return stats_.get(); }
    VideoCodec codec() const { return params_.codec; }

private:
    bool start_audio_pipeline(const ConnectionParams& params);

    void start_io_threads();
    void io_thread_body(unsigned index);
    void on_control_lost();

    LauncherTuning tuning_;
    SessionComponents components_;
    asio::io_context io_context_;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work_guard_;
    std::vector<std::thread> io_threads_;
    ControlChannel control_;
    std::function<void()> on_connection_lost_;  // set before connect, then read only
    std::atomic<bool> connection_lost_{false};

    ConnectionParams params_;
    std::vector<uint8_t> video_key_;
    std::vector<uint8_t> audio_key_;
    std::vector<uint8_t> input_key_;

    std::unique_ptr<VideoPipeline> video_;

    std::unique_ptr<Decryption> audio_decryption_;
    std::shared_ptr<UdpReceiver> audio_receiver_;
    std::unique_ptr<IAudioDecoder> audio_decoder_;
    std::unique_ptr<IAudioSink> audio_player_;
    std::unique_ptr<AudioPacketHandler> audio_handler_;

    std::unique_ptr<InputPipeline> input_;
    std::unique_ptr<StatsReporter> stats_;

    std::atomic<int32_t> target_bitrate_{0};
    std::atomic<bool> running_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> overlay_visible_{false};
    IFrameTimingSink* timing_sink_ = nullptr;  // set before connect, then read only
    std::unique_ptr<FrameTraceWriter> frame_trace_;  // the sink when the tuning names a trace file

    // Guards nothing but the wait of run() for stopping_.
    std::mutex run_lock_;
    std::condition_variable run_wake_;
};

}  // namespace nb
