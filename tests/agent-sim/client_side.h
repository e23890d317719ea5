// The client side of a stream, built from the client's own transport classes.
#pragma once

#include <asio.hpp>

#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/opus_audio_decoder.h"
#include "audio/audio_packet_handler.h"
#include "net/decryption.h"
#include "net/depacketizer.h"
#include "net/udp_receiver.h"
#include "session/control_messages.h"
#include "session/launcher.h"
#include "tests/agent-sim/agent_fixture.h"
#include "tools/agent-sim/content_hash.h"

namespace nb::test {

struct Delivered {
    std::vector<uint8_t> bytes;
    bool key = false;
};

class CountingSink : public IAudioSink {
public:
    bool initialize(uint32_t, uint32_t) override { return true; }
    bool start() override { return true; }
    void push_samples(const float*, size_t frames) override {
        frames_ += frames;
        ++pushes_;
    }
    void stop() override {}
    bool is_initialized() const override { return true; }
    std::atomic<uint64_t> frames_{0};
    std::atomic<uint64_t> pushes_{0};
};

// Video and audio receivers probing the agent, the Depacketizer and the audio path.
class ClientSide {
public:
    // After the handshake by the client's own Launcher, which then holds the
    // control connection; null when the handshake failed.
    static std::unique_ptr<ClientSide> after_handshake(Agent& agent, VideoCodec codec, int width, int height, int fps,
                                                       int bitrate) {
        LauncherTuning tuning;
        tuning.control.connect_attempts = 1;
        auto launcher = std::make_unique<Launcher>(tuning, SessionComponents{});
        const ConnectionParams params{.host = "127.0.0.1", .port = agent.control_port(), .token = k_token,
                                      .codec = codec, .fps = fps, .bitrate = bitrate, .width = width, .height = height};
        if (!launcher->tcp_handshake(params)) return nullptr;
        const SessionKeys keys{launcher->video_key(), launcher->audio_key(), launcher->input_key()};
        auto client = std::make_unique<ClientSide>(agent, keys);
        client->launcher_ = std::move(launcher);
        return client;
    }

    ClientSide(Agent& agent, SessionKeys keys) : keys_(std::move(keys)) {
        video_decryption_.set_key(keys_.video);
        audio_decryption_.set_key(keys_.audio);
        depacketizer_ = std::make_unique<Depacketizer>(video_decryption_);
        depacketizer_->set_frame_callback([this](CompletedFrame&& done) {
            std::lock_guard lock(mutex_);
            frames_[done.frame_id] = Delivered{std::move(done.access_unit), done.key};
        });
        audio_decoder_.initialize(48000, 2);
        audio_handler_ = std::make_unique<AudioPacketHandler>(audio_decryption_, audio_decoder_, &sink_);

        video_ = open_receiver(keys_.video, depacketizer_->datagram_handler(), agent.video_port());
        audio_ = open_receiver(keys_.audio, audio_handler_->datagram_handler(), agent.audio_port());
        thread_ = std::thread([this] {
            auto guard = asio::make_work_guard(io_);
            io_.run();
        });
    }

    ~ClientSide() {
        if (video_) video_->stop();
        if (audio_) audio_->stop();
        io_.stop();
        if (thread_.joinable()) thread_.join();
    }

    const SessionKeys& keys() const { return keys_; }
    asio::io_context& io() { return io_; }
    uint64_t video_datagrams() const { return video_->packets_received(); }
    uint64_t decrypt_failures() const { return depacketizer_->decrypt_failures(); }
    std::map<uint32_t, Delivered> frames() {
        std::lock_guard lock(mutex_);
        return frames_;
    }
    CountingSink& sink() { return sink_; }

private:
    template <typename Handler>
    std::shared_ptr<UdpReceiver> open_receiver(const std::vector<uint8_t>& key, Handler handler, uint16_t port) {
        auto receiver = UdpReceiver::create(io_, 0, ProbeTiming{50, 500}, "127.0.0.1");
        receiver->set_probe_token(key.data(), key.size());
        receiver->set_handler(std::move(handler));
        receiver->start_probe("127.0.0.1", port);
        receiver->start();
        return receiver;
    }

    std::unique_ptr<Launcher> launcher_;
    SessionKeys keys_;
    asio::io_context io_;
    std::thread thread_;
    Decryption video_decryption_;
    Decryption audio_decryption_;
    std::unique_ptr<Depacketizer> depacketizer_;
    OpusAudioDecoder audio_decoder_;
    CountingSink sink_;
    std::unique_ptr<AudioPacketHandler> audio_handler_;
    std::shared_ptr<UdpReceiver> video_;
    std::shared_ptr<UdpReceiver> audio_;
    std::mutex mutex_;  // guards frames_
    std::map<uint32_t, Delivered> frames_;
};

// Streams `frames` frames, stops the agent and waits for every datagram it sent.
inline void stream_frames(Agent& agent, ClientSide& client, const std::filesystem::path& events, uint64_t frames) {
    ASSERT_TRUE(wait_until([&] { return agent.frames_sent() >= frames; }));
    agent.stop();
    uint64_t sent = 0;
    for (const auto& e : read_events(events, "frame_sent")) sent += e["datagrams_sent"].get<uint64_t>();
    ASSERT_TRUE(wait_until([&] { return client.video_datagrams() >= sent; }))
        << client.video_datagrams() << " of " << sent << " datagrams arrived";
}

// The access unit as sent: the Depacketizer restores a lost last packet at
// full block size, so anything past the sent length must be zero padding.
inline bool intact(const Delivered& frame, const nlohmann::json& sent) {
    const size_t bytes = sent["bytes"].get<size_t>();
    if (frame.bytes.size() < bytes) return false;
    for (size_t i = bytes; i < frame.bytes.size(); ++i)
        if (frame.bytes[i] != 0) return false;
    return content_hash(std::span(frame.bytes).first(bytes)) == sent["hash"].get<std::string>();
}

}  // namespace nb::test
