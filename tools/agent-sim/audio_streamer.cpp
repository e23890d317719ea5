#include "tools/agent-sim/audio_streamer.h"

#include <spdlog/spdlog.h>

#include <array>
#include <chrono>

#include "net/media_encryption.h"
#include "tools/agent-sim/impairment.h"
#include "tools/agent-sim/opus_packet_encoder.h"

namespace nb {

AudioStreamer::AudioStreamer(const AgentOptions& options, MediaChannel& channel, EventLog& events)
    : options_(options), channel_(channel), events_(events) {}

AudioStreamer::~AudioStreamer() { stop(); }

bool AudioStreamer::start() {
    if (!options_.audio_file.empty()) {
        if (!source_.use_file(options_.audio_file)) return false;
    } else {
        source_.use_tone(options_.tone_hz);
    }
    thread_ = std::thread([this] {
        try {
            run();
        } catch (const std::exception& e) {
            spdlog::error("AudioStreamer: thread exception: {}", e.what());
        }
    });
    return true;
}

void AudioStreamer::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
        spdlog::info("AudioStreamer: stopped ({} packets sent)", packets_sent_.load());
    }
}

void AudioStreamer::set_session(std::shared_ptr<const StreamSession> session) {
    {
        std::lock_guard lock(mutex_);
        pending_session_ = std::move(session);
        session_changed_ = true;
    }
    wake_.notify_all();
}

void AudioStreamer::run() {
    using clock = std::chrono::steady_clock;
    constexpr auto k_period = std::chrono::milliseconds(20);
    std::shared_ptr<const StreamSession> session;
    MediaEncryption encryption;
    OpusPacketEncoder encoder;
    if (!encoder.open(options_.audio_bitrate_kbps)) return;
    // Separate stream of random choices, so enabling audio damage does not
    // change the video damage of the same seed.
    ImpairmentConfig damage = options_.impairment;
    damage.reorder_window = 0;
    damage.withhold_frames.clear();
    Impairment impairment(options_.impair_audio ? damage : ImpairmentConfig{}, options_.seed ^ 0xA0D10ull);
    std::array<int16_t, AudioSource::k_block_frames * AudioSource::k_channels> block{};
    std::vector<std::vector<uint8_t>> datagrams(1);
    uint32_t sequence = 0;
    auto next = clock::now();

    while (true) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait_until(lock, next, [&] { return stopping_ || session_changed_; });
            if (stopping_) return;
            if (session_changed_) {
                session_changed_ = false;
                session = pending_session_;
                if (session) encryption.set_key(session->audio_key);
                sequence = 0;
                next = clock::now();
                continue;
            }
        }
        next += k_period;
        if (clock::now() - next > k_period * 10) next = clock::now() + k_period;
        if (!session || !channel_.peer()) continue;

        source_.next_block(block);
        const std::vector<uint8_t> packet = encoder.encode(block);
        if (packet.empty()) continue;
        MediaHeader header;
        header.nonce_prefix = session->audio_nonce_prefix;
        header.frame_id = ++sequence;  // one packet per id, so nonces never repeat
        header.packet_count = 1;
        datagrams.resize(1);
        encryption.seal(header, packet, datagrams[0]);
        ImpairmentReport report;
        impairment.apply(sequence, datagrams, report);
        const size_t sent = channel_.send(datagrams);
        packets_sent_.fetch_add(1);
        nlohmann::json fields = {{"session", session->id}, {"seq", sequence}, {"bytes", packet.size()},
                                 {"datagrams_sent", sent}};
        if (impairment.active()) fields["impairment"] = report.to_json();
        events_.write("audio_sent", fields);
    }
}

}  // namespace nb
