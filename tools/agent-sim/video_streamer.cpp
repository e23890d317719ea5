#include "tools/agent-sim/video_streamer.h"

#include <spdlog/spdlog.h>

#include <chrono>

#include "common/clock.h"
#include "net/media_encryption.h"
#include "tools/agent-sim/content_hash.h"
#include "tools/agent-sim/impairment.h"
#include "tools/agent-sim/test_scene.h"
#include "tools/agent-sim/video_encoder.h"
#include "tools/agent-sim/video_packetizer.h"

namespace nb {

VideoStreamer::VideoStreamer(const AgentOptions& options, MediaChannel& channel, EventLog& events)
    : options_(options), channel_(channel), events_(events) {}

VideoStreamer::~VideoStreamer() { stop(); }

bool VideoStreamer::valid_size(int width, int height, std::string& error) {
    if (!TestScene::valid_size(width, height) || width > 7680 || height > 4320) {
        error = "unsupported size " + std::to_string(width) + "x" + std::to_string(height) +
                " (even, from 64x36 to 7680x4320)";
        return false;
    }
    return true;
}

bool VideoStreamer::start() {
    if (!options_.annexb_file.empty()) {
        file_ = std::make_unique<AnnexBFile>();
        if (!file_->load(options_.annexb_file, options_.annexb_codec)) return false;
    }
    thread_ = std::thread([this] {
        try {
            run();
        } catch (const std::exception& e) {
            spdlog::error("VideoStreamer: thread exception: {}", e.what());
        }
    });
    return true;
}

void VideoStreamer::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
        spdlog::info("VideoStreamer: stopped ({} frames sent)", frames_sent_.load());
    }
}

void VideoStreamer::set_session(std::shared_ptr<const StreamSession> session) {
    {
        std::lock_guard lock(mutex_);
        pending_session_ = std::move(session);
        session_changed_ = true;
        pending_bitrate_.reset();
        pending_size_.reset();
    }
    wake_.notify_all();
}

bool VideoStreamer::apply_settings(const SettingsRequest& request, std::string& error) {
    if (request.bitrate_kbps && (*request.bitrate_kbps < 50 || *request.bitrate_kbps > 1000000)) {
        error = "bitrate out of range (50 to 1000000 kbit/s)";
        return false;
    }
    std::lock_guard lock(mutex_);
    if (request.bitrate_kbps) pending_bitrate_ = *request.bitrate_kbps;
    if (request.width || request.height) {
        if (file_ != nullptr) {
            error = "the size of a prepared stream cannot change";
            return false;
        }
        // A single dimension keeps the other one as it is.
        const int w = request.width.value_or(pending_size_ ? pending_size_->first
                                             : pending_session_ ? pending_session_->width
                                                                : 0);
        const int h = request.height.value_or(pending_size_ ? pending_size_->second
                                              : pending_session_ ? pending_session_->height
                                                                 : 0);
        if (!valid_size(w, h, error)) return false;
        pending_size_ = std::make_pair(w, h);
    }
    return true;
}

void VideoStreamer::run() {
    using clock = std::chrono::steady_clock;
    std::shared_ptr<const StreamSession> session;
    MediaEncryption encryption;
    std::unique_ptr<VideoPacketizer> packetizer;
    VideoEncoder encoder;
    VideoEncoderConfig config;
    Impairment impairment(options_.impairment, options_.seed);
    YuvPicture picture;
    PacketizedFrame packets;
    EncodedFrame encoded;
    uint32_t frame_id = 0;
    size_t file_position = 0;
    bool failed = false;
    auto next_frame = clock::now();

    while (true) {
        std::optional<int> bitrate;
        std::optional<std::pair<int, int>> size;
        {
            std::unique_lock lock(mutex_);
            wake_.wait_until(lock, next_frame, [&] { return stopping_ || session_changed_; });
            if (stopping_) return;
            if (session_changed_) {
                session_changed_ = false;
                session = pending_session_;
                failed = false;
                if (session) {
                    encryption.set_key(session->video_key);
                    packetizer = std::make_unique<VideoPacketizer>(encryption, session->video_nonce_prefix);
                    packetizer->set_repair(options_.fec_ratio, options_.fec_count);
                    config.codec = session->codec;
                    config.width = session->width;
                    config.height = session->height;
                    config.fps = session->fps;
                    config.bitrate_kbps = session->bitrate_kbps;
                    config.preset = options_.preset;
                    config.idr_interval = options_.idr_interval;
                    config.intra_refresh = options_.intra_refresh;
                    config.threads = options_.encoder_threads;
                    encoder.close();
                    frame_id = 0;
                    file_position = file_ ? file_->next_key(0) : 0;
                } else {
                    encoder.close();
                }
                next_frame = clock::now();
                continue;
            }
            bitrate = pending_bitrate_;
            size = pending_size_;
            pending_bitrate_.reset();
            pending_size_.reset();
        }
        const auto interval = std::chrono::microseconds(1000000 / std::max(1, config.fps));
        next_frame += interval;
        // After a stall (debugger, overloaded machine) pick up the rhythm
        // again instead of sending a burst of late frames.
        if (clock::now() - next_frame > interval * 4) next_frame = clock::now() + interval;
        if (!session || failed || !channel_.peer()) continue;

        if (size) {
            config.width = size->first;
            config.height = size->second;
            encoder.close();
            spdlog::info("VideoStreamer: frame size now {}x{}", config.width, config.height);
        }
        if (bitrate) {
            config.bitrate_kbps = *bitrate;
            if (encoder.is_open()) encoder.set_bitrate(*bitrate);
        }
        bool key = false;
        std::span<const uint8_t> unit;
        const int64_t send_time_us = now_us();
        const uint32_t next_id = frame_id + 1;
        if (file_) {
            if (idr_requested_.exchange(false)) file_position = file_->next_key(file_position);
            const auto& au = file_->units()[file_position];
            file_position = (file_position + 1) % file_->units().size();
            unit = au.bytes;
            key = au.key;
        } else {
            if (!encoder.is_open() && !encoder.open(config)) {
                failed = true;
                events_.write("video_error", {{"session", session->id}, {"error", "encoder refused the settings"}});
                continue;
            }
            if (idr_requested_.exchange(false)) encoder.request_idr();
            TestScene::render(picture, config.width, config.height,
                              {next_id, static_cast<uint32_t>(send_time_us)}, options_.busy_scene);
            if (!encoder.encode(picture, encoded)) {
                failed = true;
                events_.write("video_error", {{"session", session->id}, {"error", "encoding failed"}});
                continue;
            }
            if (encoded.bytes.empty()) continue;
            unit = encoded.bytes;
            key = encoded.key;
        }
        if (!packetizer->packetize(next_id, unit, key, packets)) {
            // The client would need a key frame to recover anyway.
            idr_requested_.store(true);
            continue;
        }
        frame_id = next_id;
        ImpairmentReport report;
        impairment.apply(frame_id, packets.datagrams, report);
        const size_t sent = channel_.send(packets.datagrams);
        frames_sent_.fetch_add(1);
        nlohmann::json fields = {{"session", session->id},     {"frame_id", frame_id},
                                 {"key", key},                 {"bytes", unit.size()},
                                 {"data_packets", packets.data_packets},
                                 {"repair_packets", packets.repair_packets},
                                 {"datagrams_sent", sent},     {"send_time_us", send_time_us},
                                 {"hash", content_hash(unit)}};
        if (impairment.active()) fields["impairment"] = report.to_json();
        events_.write("frame_sent", fields);
        spdlog::trace("VideoStreamer: frame {} ({} bytes, {}+{} packets{})", frame_id, unit.size(),
                      packets.data_packets, packets.repair_packets, key ? ", key" : "");
    }
}

}  // namespace nb
