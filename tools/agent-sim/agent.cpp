#include "tools/agent-sim/agent.h"

#include <asio/executor_work_guard.hpp>
#include <asio/post.hpp>
#include <sodium.h>
#include <spdlog/spdlog.h>

#include <future>

namespace nb {

Agent::Agent(AgentOptions options)
    : options_(std::move(options)),
      control_(io_, *this, events_),
      video_(io_, "video", events_),
      audio_(io_, "audio", events_),
      input_(io_, events_),
      video_streamer_(options_, video_, events_),
      audio_streamer_(options_, audio_, events_) {}

Agent::~Agent() { stop(); }

bool Agent::start() {
    if (started_) return true;
    if (sodium_init() < 0) {
        spdlog::critical("Agent: libsodium initialization failed");
        return false;
    }
    if (!options_.events_file.empty() && !events_.open(options_.events_file)) return false;
    if (!control_.listen(options_.bind_address, options_.control_port) ||
        !video_.open(options_.bind_address, options_.video_port) ||
        !audio_.open(options_.bind_address, options_.audio_port) ||
        !input_.open(options_.bind_address, options_.input_port)) {
        return false;
    }
    control_port_ = control_.port();
    // A probe from a new place means a new receiver on the client: it needs
    // a key frame to start decoding.
    video_.set_endpoint_callback([this](const asio::ip::udp::endpoint&) { video_streamer_.request_idr(); });
    if (!video_streamer_.start()) return false;
    if (options_.audio && !audio_streamer_.start()) {
        video_streamer_.stop();
        return false;
    }
    io_thread_ = std::thread([this] {
        auto guard = asio::make_work_guard(io_);
        while (true) {
            try {
                io_.run();
                break;
            } catch (const std::exception& e) {
                spdlog::error("Agent: I/O thread exception: {}", e.what());
            }
        }
    });
    started_ = true;
    events_.write("agent_started", {{"control_port", control_port_},
                                    {"video_port", video_.port()},
                                    {"audio_port", audio_.port()},
                                    {"input_port", input_.port()},
                                    {"seed", options_.seed},
                                    {"source", options_.annexb_file.empty() ? "scene" : options_.annexb_file}});
    spdlog::info("Agent: ready (control {}, video {}, audio {}, input {})", control_port_, video_.port(),
                 audio_.port(), input_.port());
    return true;
}

void Agent::stop() {
    if (!started_ || stopped_) return;
    stopped_ = true;
    // Streams first, so no thread sends on a socket that is being closed.
    video_streamer_.stop();
    audio_streamer_.stop();
    std::promise<void> closed;
    asio::post(io_, [&] {
        control_.stop();
        video_.close();
        audio_.close();
        input_.close();
        closed.set_value();
    });
    closed.get_future().wait();
    io_.stop();
    if (io_thread_.joinable()) io_thread_.join();
    events_.write("agent_stopped", {{"frames_sent", video_streamer_.frames_sent()},
                                    {"audio_packets_sent", audio_streamer_.packets_sent()},
                                    {"input_records", input_.records_accepted()},
                                    {"input_rejected", input_.datagrams_rejected()},
                                    {"probes_rejected", video_.probes_rejected() + audio_.probes_rejected()}});
    spdlog::info("Agent: stopped ({} frames, {} audio packets, {} input records)", video_streamer_.frames_sent(),
                 audio_streamer_.packets_sent(), input_.records_accepted());
    events_.close();
}

std::shared_ptr<const StreamSession> Agent::session() const {
    std::lock_guard lock(session_mutex_);
    return session_;
}

bool Agent::is_active(uint64_t connection) const {
    std::lock_guard lock(session_mutex_);
    return session_ != nullptr && session_connection_ == connection;
}

std::shared_ptr<const StreamSession> Agent::authenticate(uint64_t connection, const AuthRequest& request,
                                                         std::string& error) {
    if (!options_.accept_any_token &&
        (request.token.size() != options_.token.size() ||
         sodium_memcmp(request.token.data(), options_.token.data(), options_.token.size()) != 0)) {
        error = "invalid session token";
        return nullptr;
    }
    if (request.codec != 0 && request.codec != 1) {
        error = "unsupported codec " + std::to_string(request.codec) + " (0 H.264 and 1 HEVC only)";
        return nullptr;
    }
    const auto codec = static_cast<VideoCodec>(request.codec);
    if (video_streamer_.streams_file() && codec != video_streamer_.file_codec()) {
        error = "this agent streams a prepared " +
                std::string(video_streamer_.file_codec() == VideoCodec::HEVC ? "HEVC" : "H.264") + " file";
        return nullptr;
    }
    if (!VideoStreamer::valid_size(request.width, request.height, error)) return nullptr;
    if (request.fps < 1 || request.fps > 240) {
        error = "unsupported fps " + std::to_string(request.fps) + " (1 to 240)";
        return nullptr;
    }
    if (request.bitrate_kbps < 50 || request.bitrate_kbps > 1000000) {
        error = "unsupported bitrate " + std::to_string(request.bitrate_kbps) + " (50 to 1000000 kbit/s)";
        return nullptr;
    }
    auto session = StreamSession::create(++sessions_created_);
    session->codec = codec;
    session->width = options_.stream_width > 0 ? options_.stream_width : request.width;
    session->height = options_.stream_height > 0 ? options_.stream_height : request.height;
    session->fps = request.fps;
    session->bitrate_kbps = request.bitrate_kbps;
    session->omit_video_key = options_.omit_video_key;
    session->omit_audio_key = options_.omit_audio_key;
    session->omit_input_key = options_.omit_input_key;
    {
        std::lock_guard lock(session_mutex_);
        session_ = session;
        session_connection_ = connection;
    }
    video_.set_session(session->id, &session->video_key);
    audio_.set_session(session->id, &session->audio_key);
    input_.set_key(&session->input_key);
    video_streamer_.set_session(session);
    audio_streamer_.set_session(session);
    control_.close_others(connection);
    return session;
}

void Agent::request_idr(uint64_t connection) {
    if (is_active(connection)) video_streamer_.request_idr();
}

bool Agent::apply_settings(uint64_t connection, const SettingsRequest& request, std::string& error) {
    if (!is_active(connection)) {
        error = "not the active session";
        return false;
    }
    return video_streamer_.apply_settings(request, error);
}

void Agent::connection_closed(uint64_t connection) {
    if (is_active(connection)) end_session("control connection closed");
}

void Agent::end_session(const char* reason) {
    std::shared_ptr<const StreamSession> ended;
    {
        std::lock_guard lock(session_mutex_);
        ended = std::move(session_);
        session_.reset();
        session_connection_ = 0;
    }
    if (!ended) return;
    video_.set_session(0, nullptr);
    audio_.set_session(0, nullptr);
    input_.set_key(nullptr);
    video_streamer_.set_session(nullptr);
    audio_streamer_.set_session(nullptr);
    spdlog::info("Agent: session {} ended ({})", ended->id, reason);
    events_.write("session_ended", {{"session", ended->id}, {"reason", reason}});
}

}  // namespace nb
