// Session start, the audio pipeline, and the orderly shutdown of one stream.
#include "session/launcher.h"

#include <spdlog/spdlog.h>

#include <chrono>

#include "audio/audio_interfaces.h"
#include "audio/audio_packet_handler.h"
#include "common/log_text.h"
#include "common/thread_name.h"
#include "fec/codec_pool.h"
#include "input/input_capture.h"
#include "net/decryption.h"
#include "net/udp_receiver.h"
#include "session/input_pipeline.h"
#include "session/video_pipeline.h"
#include "video/renderer.h"
#include "video/video_decoder.h"

namespace nb {

namespace {
constexpr uint32_t k_audio_sample_rate = 48000;
constexpr uint32_t k_audio_channels = 2;
constexpr const char* k_request_idr = R"({"type":"request_idr"})";
}  // namespace

Launcher::Launcher(LauncherTuning tuning, SessionComponents components)
    : tuning_(std::move(tuning)),
      components_(std::move(components)),
      control_(io_context_, tuning_.control, tuning_.resolver) {}

Launcher::~Launcher() { shutdown(); }

bool Launcher::connect(const ConnectionParams& params, SDL_Window* window) {
    return tcp_handshake(params) && start_streaming(params, window);
}

bool Launcher::tcp_handshake(const ConnectionParams& params) {
    params_ = params;
    target_bitrate_.store(params.bitrate);
    spdlog::info("Launcher: connecting to {}:{}", log_safe(params.host), params.port);
    SessionKeys keys;
    if (!control_.handshake(params, keys)) {
        if (control_.handshake_cancelled()) {
            spdlog::info("Launcher: connecting to {}:{} cancelled", log_safe(params.host), params.port);
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
    if (!timing_sink_ && !tuning_.frame_trace_path.empty()) {
        // A trace that cannot be written is no reason to refuse the stream.
        frame_trace_ = FrameTraceWriter::open(tuning_.frame_trace_path);
        timing_sink_ = frame_trace_.get();
    }
    video_ = std::make_unique<VideoPipeline>(
        io_context_, tuning_,
        VideoPipeline::Hooks{.request_key_frame = [this] { send_control(k_request_idr); }, .timing_sink = timing_sink_});
    if (!video_->start(params, window, video_key_, components_.make_renderer(), components_.make_decoder())) {
        spdlog::error("Launcher: video pipeline failed to start");
        return false;
    }
    if (!start_audio_pipeline(params)) {
        spdlog::warn("Launcher: audio pipeline failed (continuing without audio)");
    }
    input_ = std::make_unique<InputPipeline>(io_context_, tuning_);
    if (!input_->start(params, window, components_.make_input_capture(), input_key_)) {
        spdlog::warn("Launcher: input pipeline failed (continuing without input)");
    }

    spdlog::debug("Launcher: starting stats reporter");
    stats_ = std::make_unique<StatsReporter>(
        io_context_, [this](const std::string& text) { send_control(text); }, tuning_.stats_timing);
    video_->set_stats(stats_.get());
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

bool Launcher::start_audio_pipeline(const ConnectionParams& params) {
    spdlog::debug("Launcher: start_audio_pipeline");

    audio_decoder_ = components_.make_audio_decoder();
    if (!audio_decoder_ || !audio_decoder_->initialize(k_audio_sample_rate, k_audio_channels)) {
        spdlog::error("Launcher: OpusAudioDecoder::initialize failed");
        return false;
    }
    audio_player_ = components_.make_audio_player();
    if (!audio_player_ || !audio_player_->initialize(k_audio_sample_rate, k_audio_channels)) {
        spdlog::error("Launcher: SdlAudioPlayer::initialize failed");
        return false;
    }
    audio_player_->start();
    spdlog::debug("Launcher: SDL audio player started");

    audio_decryption_ = std::make_unique<Decryption>();
    if (!audio_key_.empty()) {
        audio_decryption_->set_key(audio_key_);
        spdlog::info("Launcher: audio decryption key set ({} bytes)", audio_key_.size());
    } else {
        spdlog::warn("Launcher: audio key is EMPTY — all audio will fail decryption");
    }
    audio_handler_ = std::make_unique<AudioPacketHandler>(*audio_decryption_, *audio_decoder_, audio_player_.get());

    audio_receiver_ = open_receiver(io_context_, tuning_.ports.audio_local, tuning_);
    if (!audio_receiver_) return false;
    spdlog::debug("Launcher: audio UDP receiver on port {}", audio_receiver_->local_port());
    audio_receiver_->set_probe_token(audio_key_.data(), audio_key_.size());
    audio_receiver_->start_probe(params.host, tuning_.ports.audio_probe);
    audio_receiver_->set_handler(audio_handler_->datagram_handler());
    audio_receiver_->start();
    spdlog::info("Launcher: audio pipeline started");
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
    const std::string name = "nb-io-" + std::to_string(index);
    name_this_thread(name.c_str());
    spdlog::debug("Launcher: IO thread {} started", index);
    try {
        io_context_.run();
    } catch (const std::exception& e) {
        spdlog::critical("Launcher: IO thread {} exception: {}", index, log_safe(e.what()));
    } catch (...) {
        spdlog::critical("Launcher: IO thread {} unknown exception", index);
    }
    spdlog::debug("Launcher: IO thread {} exited", index);
}

void Launcher::run() {
    if (!running_.load()) return;
    spdlog::info("Launcher: entering main run loop");
    {
        std::unique_lock lock(run_lock_);
        run_wake_.wait(lock, [this] { return stopping_.load(); });
    }
    spdlog::info("Launcher: run loop exited");
}

void Launcher::send_pending_input() {
    if (overlay_visible_.load() || stopping_.load() || !input_) return;
    input_->send_pending();
}

void Launcher::release_remote_input() {
    if (stopping_.load() || !input_) return;
    input_->release_remote();
}

void Launcher::refresh_raw_input() {
    if (input_) input_->refresh();
}

IInputCapture* Launcher::input_capture() { return input_ ? input_->capture() : nullptr; }

VideoThread* Launcher::video() { return video_ ? video_->video_thread() : nullptr; }

void Launcher::set_overlay_visible(bool visible) {
    overlay_visible_.store(visible);
    if (VideoThread* thread = video()) thread->set_overlay_visible(visible);
}

int64_t Launcher::last_present_us() const {
    return video_ && video_->video_thread() ? video_->video_thread()->last_present_us() : 0;
}

uint64_t Launcher::frames_presented() const {
    return video_ && video_->video_thread() ? video_->video_thread()->frames_presented() : 0;
}

uint64_t Launcher::frames_skipped() const {
    return video_ && video_->video_thread() ? video_->video_thread()->frames_skipped() : 0;
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
    {
        std::lock_guard lock(run_lock_);
        if (stopping_.exchange(true)) return;
    }
    run_wake_.notify_all();
    spdlog::info("Launcher: shutdown requested");
    running_.store(false);

    // Sources first, so nothing new enters the pipelines.
    if (stats_) stats_->stop();
    if (input_) input_->stop();
    if (audio_receiver_) audio_receiver_->stop();
    if (video_) video_->stop_receiving();

    control_.close();

    work_guard_.reset();
    io_context_.stop();
    for (auto& thread : io_threads_) {
        if (thread.joinable() && thread.get_id() != std::this_thread::get_id()) thread.join();
    }

    if (audio_player_) audio_player_->stop();
    if (audio_decoder_) audio_decoder_->shutdown();
    if (video_) video_->stop();  // the decoder and the renderer shut down on their thread
    if (frame_trace_) frame_trace_->stop();
    // The repair codecs kept for the next frame are of no use until the next
    // stream, which may be hours away.
    const size_t fec_bytes = fec::CodecPool::release_all();
    spdlog::debug("Launcher: released {} bytes of fountain-code buffers", fec_bytes);
    spdlog::info("Launcher: {} pictures presented, {} decoded but not drawn behind newer frames", frames_presented(),
                 frames_skipped());
    spdlog::info("Launcher: shutdown complete");
}

}  // namespace nb
