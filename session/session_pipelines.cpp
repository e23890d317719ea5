// The three media pipelines of a session and the frame handler that turns
// complete access units into presented pictures.
#include <SDL.h>
#include <SDL_syswm.h>
#include <spdlog/spdlog.h>

#include "audio/audio_interfaces.h"
#include "common/clock.h"
#include "input/input_capture.h"
#include "audio/audio_packet_handler.h"
#include "net/decryption.h"
#include "net/depacketizer.h"
#include "net/input_sender.h"
#include "net/udp_receiver.h"
#include "session/launcher.h"
#include "video/renderer.h"
#include "video/video_decoder.h"

namespace nb {

namespace {

constexpr uint32_t k_audio_sample_rate = 48000;
constexpr uint32_t k_audio_channels = 2;
constexpr const char* k_request_idr = R"({"type":"request_idr"})";

// When the current I/O thread last handed a video datagram to the
// depacketizer; kept only while frame timings are collected.
thread_local int64_t t_datagram_arrival_us = 0;

// Creates a receiver, logging instead of throwing when the port is taken.
std::shared_ptr<UdpReceiver> open_receiver(asio::io_context& io, uint16_t port, const LauncherTuning& tuning) {
    try {
        return UdpReceiver::create(io, port, tuning.probe_timing, tuning.udp_bind_address);
    } catch (const std::exception& e) {
        spdlog::error("Launcher: cannot open UDP port {}: {}", port, e.what());
        return nullptr;
    }
}

}  // namespace

bool Launcher::start_video_pipeline(const ConnectionParams& params, SDL_Window* window) {
    spdlog::debug("Launcher: start_video_pipeline {}x{}", params.width, params.height);

    auto renderer = components_.make_renderer();
    if (!renderer || !renderer->initialize(window, static_cast<uint32_t>(params.width),
                                           static_cast<uint32_t>(params.height))) {
        spdlog::error("Launcher: {}::initialize failed", renderer ? renderer->name() : "renderer");
        return false;
    }
    spdlog::debug("Launcher: {} renderer initialized", renderer->name());

    auto decoder = components_.make_decoder();
    if (!decoder || !decoder->initialize(params.codec, static_cast<uint32_t>(params.width),
                                         static_cast<uint32_t>(params.height))) {
        spdlog::error("Launcher: {}::initialize failed", decoder ? decoder->name() : "decoder");
        if (renderer) renderer->shutdown();
        return false;
    }
    spdlog::debug("Launcher: {} decoder initialized", decoder->name());
    decoder->set_on_request_idr([this] { send_control(k_request_idr); });
    {
        std::lock_guard lock(render_lock_);
        renderer_ = std::move(renderer);
        decoder_ = std::move(decoder);
    }

    video_decryption_ = std::make_unique<Decryption>();
    if (!video_decryption_->set_key(video_key_)) {
        spdlog::error("Launcher: video decryption key setup failed");
        return false;
    }

    depacketizer_ = std::make_unique<Depacketizer>(*video_decryption_);
    depacketizer_->set_frame_callback([this](uint32_t frame_id, std::vector<uint8_t>&& access_unit, bool key) {
        on_frame(frame_id, std::move(access_unit), key);
    });

    video_receiver_ = open_receiver(io_context_, tuning_.ports.video_local, tuning_);
    if (!video_receiver_) return false;
    spdlog::debug("Launcher: video UDP receiver on port {}", video_receiver_->local_port());
    video_receiver_->set_probe_token(video_key_.data(), video_key_.size());
    video_receiver_->start_probe(params.host, tuning_.ports.video_probe);
    if (timing_sink_) {
        // Note when each datagram reaches the handler; the one that completes
        // a frame is handed over on the same thread, within the same call.
        auto inner = depacketizer_->datagram_handler();
        video_receiver_->set_handler(
            [inner](const uint8_t* data, size_t length, const asio::ip::udp::endpoint& from) {
                t_datagram_arrival_us = now_us();
                inner(data, length, from);
            });
    } else {
        video_receiver_->set_handler(depacketizer_->datagram_handler());
    }
    video_receiver_->start();

    send_control(k_request_idr);
    spdlog::info("Launcher: sent initial IDR request to agent");
    spdlog::info("Launcher: video pipeline started");
    return true;
}

void Launcher::on_frame(uint32_t frame_id, std::vector<uint8_t>&& access_unit, bool key_frame) {
    FrameTiming timing;
    if (timing_sink_) {
        timing.frame_id = frame_id;
        timing.last_packet_us = t_datagram_arrival_us;
        timing.handed_over_us = now_us();
    }
    frames_waiting_.fetch_add(1, std::memory_order_relaxed);
    std::lock_guard lock(render_lock_);
    frames_waiting_.fetch_sub(1, std::memory_order_relaxed);
    try {
        if (!decoder_ || !renderer_) return;
        if (timing_sink_) timing.locked_us = now_us();
        const DecodedFrame frame = decoder_->decode(access_unit.data(), access_unit.size(), frame_id, key_frame);
        if (timing_sink_) timing.decoded_us = now_us();
        if (frame.picture) {
            if (stats_) stats_->count_decoded_frame();
            // Every frame must pass the decoder, but when a newer one already
            // waits for the lock, drawing this one would only delay that one.
            if (frames_waiting_.load(std::memory_order_relaxed) == 0) {
                renderer_->render_frame(frame.picture, frame.picture->width, frame.picture->height);
                renderer_->bind_render_target();
                if (overlay_draw_) overlay_draw_();
                if (timing_sink_) timing.drawn_us = now_us();
                renderer_->present();
                last_present_us_.store(now_us());
                frames_presented_.fetch_add(1, std::memory_order_relaxed);
                if (timing_sink_) timing.presented_us = now_us();
            } else {
                frames_skipped_.fetch_add(1, std::memory_order_relaxed);
            }
        }
        if (timing_sink_) timing_sink_->on_frame_timing(timing);
    } catch (const std::exception& e) {
        spdlog::error("Launcher: frame callback exception (frame {}): {}", frame_id, e.what());
    } catch (...) {
        spdlog::error("Launcher: frame callback unknown exception (frame {})", frame_id);
    }
    // A sequence cut short before present would keep the GL context on this
    // I/O thread and lock every other thread out of drawing.
    if (renderer_) renderer_->release_current();
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

bool Launcher::start_input_pipeline(const ConnectionParams& params, SDL_Window* window) {
    spdlog::debug("Launcher: start_input_pipeline → {}:{}", params.host, tuning_.ports.input_remote);

    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (window && SDL_GetWindowWMInfo(window, &info)) {
        spdlog::debug("Launcher: got native window from SDL window");
    } else {
        spdlog::warn("Launcher: SDL_GetWindowWMInfo failed: {}", SDL_GetError());
    }

    auto capture = components_.make_input_capture();
    if (!capture || !capture->start(window)) {
        spdlog::error("Launcher: {}::start failed", capture ? capture->name() : "input capture");
        return false;
    }
    input_capture_ = std::move(capture);
    spdlog::debug("Launcher: input capture started");

    try {
        input_sender_ = std::make_unique<InputSender>(io_context_, tuning_.ports.input_remote,
                                                      tuning_.udp_bind_address);
    } catch (const std::exception& e) {
        spdlog::error("Launcher: InputSender socket failed: {}", e.what());
        return false;
    }
    if (!input_sender_->connect(params.host)) {
        spdlog::error("Launcher: InputSender::connect to {}:{} failed", params.host, tuning_.ports.input_remote);
        return false;
    }
    input_sender_->set_key(input_key_);  // logs a missing or wrong key itself; input then drops
    spdlog::info("Launcher: input pipeline started");
    return true;
}

}  // namespace nb
