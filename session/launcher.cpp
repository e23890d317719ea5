// Session start, run loop and the orderly shutdown of one stream.
#include "session/launcher.h"

#include <spdlog/spdlog.h>

#include <chrono>

#include "audio/audio_interfaces.h"
#include "input/input_capture.h"
#include "audio/audio_packet_handler.h"
#include "net/decryption.h"
#include "net/depacketizer.h"
#include "net/input_sender.h"
#include "net/udp_receiver.h"
#include "video/renderer.h"
#include "video/video_decoder.h"

namespace nb {

namespace {
// Records one drain may carry; far above what 1 ms of input produces.
constexpr size_t k_input_batch_reserve = 256;
}  // namespace

Launcher::Launcher(LauncherTuning tuning, SessionComponents components)
    : tuning_(std::move(tuning)),
      components_(std::move(components)),
      control_(io_context_, tuning_.control, tuning_.resolver) {
    run_loop_input_.reserve(k_input_batch_reserve);
    window_input_.reserve(k_input_batch_reserve);
}

Launcher::~Launcher() { shutdown(); }

bool Launcher::connect(const ConnectionParams& params, SDL_Window* window) {
    return tcp_handshake(params) && start_streaming(params, window);
}

bool Launcher::tcp_handshake(const ConnectionParams& params) {
    params_ = params;
    target_bitrate_.store(params.bitrate);
    spdlog::info("Launcher: connecting to {}:{}", params.host, params.port);
    SessionKeys keys;
    if (!control_.handshake(params, keys)) {
        if (control_.handshake_cancelled()) {
            spdlog::info("Launcher: connecting to {}:{} cancelled", params.host, params.port);
        } else {
            spdlog::error("Launcher: TCP handshake failed");
        }
        return false;
    }
    video_key_ = std::move(keys.video);
    audio_key_ = std::move(keys.audio);
    input_key_ = std::move(keys.input);
    return true;
}

bool Launcher::start_streaming(const ConnectionParams& params, SDL_Window* window) {
    if (!start_video_pipeline(params, window)) {
        spdlog::error("Launcher: video pipeline failed to start");
        return false;
    }
    if (!start_audio_pipeline(params)) {
        spdlog::warn("Launcher: audio pipeline failed (continuing without audio)");
    }
    if (!start_input_pipeline(params, window)) {
        spdlog::warn("Launcher: input pipeline failed (continuing without input)");
    }

    spdlog::debug("Launcher: starting stats reporter");
    stats_ = std::make_unique<StatsReporter>(
        io_context_, [this](const std::string& text) { send_control(text); }, tuning_.stats_timing);
    if (depacketizer_) depacketizer_->set_stats(stats_.get());
    stats_->start();

    // The reader's completions run on the I/O threads started below.
    control_.on_message("pong", [this](std::string_view) { stats_->on_pong(); });
    control_.set_lost_handler([this](const std::string&) { on_control_lost(); });
    control_.start_reading();

    work_guard_.emplace(asio::make_work_guard(io_context_));
    start_io_threads();
    running_.store(true);
    if (connection_lost_.load()) running_.store(false);  // lost before the session was up
    spdlog::info("Launcher: session active ({}x{} @ {}fps, codec={})", params.width, params.height, params.fps,
                 codec_name(params.codec));
    return true;
}

void Launcher::start_io_threads() {
    const unsigned count = io_thread_count(std::thread::hardware_concurrency());
    spdlog::debug("Launcher: starting {} ASIO IO threads", count);
    io_context_.restart();
    for (unsigned i = 0; i < count; ++i) {
        io_threads_.emplace_back([this, i] { io_thread_body(i); });
    }
}

void Launcher::io_thread_body(unsigned index) {
    spdlog::debug("Launcher: IO thread {} started", index);
    try {
        io_context_.run();
    } catch (const std::exception& e) {
        spdlog::critical("Launcher: IO thread {} exception: {}", index, e.what());
    } catch (...) {
        spdlog::critical("Launcher: IO thread {} unknown exception", index);
    }
    spdlog::debug("Launcher: IO thread {} exited", index);
}

void Launcher::run() {
    if (!running_.load()) return;
    spdlog::info("Launcher: entering main run loop");
    while (running_.load()) {
        if (stopping_.load()) break;
        if (!overlay_visible_.load()) drain_and_send(run_loop_input_);
        if (depacketizer_) depacketizer_->sweep_stale();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    spdlog::info("Launcher: run loop exited");
}

void Launcher::drain_and_send(std::vector<InputEvent>& scratch) {
    if (!input_capture_ || !input_sender_) return;
    if (input_capture_->drain(scratch) > 0) input_sender_->send_events(scratch);
}

void Launcher::send_pending_input() {
    if (overlay_visible_.load() || stopping_.load()) return;
    drain_and_send(window_input_);
}

void Launcher::release_remote_input() {
    if (!input_capture_ || stopping_.load()) return;
    if (const size_t released = input_capture_->release_held(); released > 0) {
        spdlog::debug("Launcher: released {} held keys and buttons on the remote", released);
    }
    drain_and_send(window_input_);
}

void Launcher::refresh_raw_input() {
    if (input_capture_ && input_capture_->running()) input_capture_->refresh();
}

void Launcher::set_overlay_draw(std::function<void()> draw) {
    std::lock_guard lock(render_lock_);
    overlay_draw_ = std::move(draw);
}

void Launcher::draw_overlay_locked() {
    if (overlay_draw_) overlay_draw_();
}

uint64_t Launcher::audio_decrypt_failures() const {
    return audio_handler_ ? audio_handler_->decrypt_failures() : 0;
}

void Launcher::on_control_lost() {
    // Without the control channel there are no key frames, settings or
    // statistics: the stream cannot go on, so it ends as if closed.
    connection_lost_.store(true);
    running_.store(false);
    spdlog::error("Launcher: connection to the agent lost — ending the stream");
    if (on_connection_lost_) on_connection_lost_();
}

void Launcher::shutdown() {
    if (stopping_.exchange(true)) return;
    spdlog::info("Launcher: shutdown requested");
    running_.store(false);

    // Sources first, so nothing new enters the pipelines.
    if (stats_) stats_->stop();
    if (input_sender_) input_sender_->stop();
    if (input_capture_) input_capture_->stop();
    if (audio_receiver_) audio_receiver_->stop();
    if (video_receiver_) video_receiver_->stop();

    control_.close();

    work_guard_.reset();
    io_context_.stop();
    for (auto& thread : io_threads_) {
        if (thread.joinable() && thread.get_id() != std::this_thread::get_id()) thread.join();
    }

    if (audio_player_) audio_player_->stop();
    if (audio_decoder_) audio_decoder_->shutdown();
    {
        std::lock_guard lock(render_lock_);
        if (decoder_) decoder_->shutdown();
        if (renderer_) renderer_->shutdown();
    }
    if (frames_skipped_.load() > 0) {
        spdlog::info("Launcher: {} pictures presented, {} decoded but not drawn behind newer frames",
                     frames_presented_.load(), frames_skipped_.load());
    }
    spdlog::info("Launcher: shutdown complete");
}

}  // namespace nb
