// The agent against the client's own transport code, in one process: the
// handshake of the session, probes through UdpReceiver, frames through the
// Depacketizer (with repair), audio through the audio packet path and input
// through InputSender. Every frame the impairment left repairable must
// arrive bit-exact; every frame must show its own number when decoded.
#include <gtest/gtest.h>

#include <asio.hpp>

#include <map>
#include <mutex>

#include "audio/opus_audio_decoder.h"
#include "net/audio_packet_handler.h"
#include "net/decryption.h"
#include "net/depacketizer.h"
#include "net/input_sender.h"
#include "net/udp_receiver.h"
#include "session/launcher.h"
#include "tests/agent-sim/agent_fixture.h"
#include "tests/agent-sim/av_test_decoder.h"
#include "tools/agent-sim/content_hash.h"

namespace nb {
namespace {

using nlohmann::json;

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

// The client half of a session: handshake through the Launcher, then video
// and audio receivers on free loopback ports probing the agent.
class ClientSide {
public:
    ClientSide(Agent& agent, int width, int height, int fps, int bitrate) {
        LauncherTuning tuning;
        tuning.connect_attempts = 1;
        launcher_ = std::make_unique<Launcher>(tuning, SessionComponents{});
        params_.host = "127.0.0.1";
        params_.port = agent.control_port();
        params_.token = test::k_token;
        params_.width = width;
        params_.height = height;
        params_.fps = fps;
        params_.bitrate = bitrate;
        handshake_ok_ = launcher_->tcp_handshake(params_);
        if (!handshake_ok_) return;
        video_decryption_.set_key(launcher_->video_key());
        audio_decryption_.set_key(launcher_->audio_key());
        depacketizer_ = std::make_unique<Depacketizer>(video_decryption_);
        depacketizer_->set_frame_callback([this](uint32_t id, std::vector<uint8_t>&& unit, bool key) {
            std::lock_guard lock(mutex_);
            frames_[id] = Delivered{std::move(unit), key};
        });
        audio_decoder_.initialize(48000, 2);
        audio_handler_ = std::make_unique<AudioPacketHandler>(audio_decryption_, audio_decoder_, &sink_);

        const ProbeTiming fast{50, 500};
        video_ = UdpReceiver::create(io_, 0, fast, "127.0.0.1");
        video_->set_probe_token(launcher_->video_key().data(), launcher_->video_key().size());
        video_->set_handler(depacketizer_->datagram_handler());
        video_->start_probe("127.0.0.1", agent.video_port());
        video_->start();
        audio_ = UdpReceiver::create(io_, 0, fast, "127.0.0.1");
        audio_->set_probe_token(launcher_->audio_key().data(), launcher_->audio_key().size());
        audio_->set_handler(audio_handler_->datagram_handler());
        audio_->start_probe("127.0.0.1", agent.audio_port());
        audio_->start();
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
        if (launcher_) launcher_->shutdown();
    }

    bool handshake_ok() const { return handshake_ok_; }
    Launcher& launcher() { return *launcher_; }
    asio::io_context& io() { return io_; }
    uint64_t video_datagrams() const { return video_->packets_received(); }
    uint64_t decrypt_failures() const { return depacketizer_->decrypt_failures(); }
    std::map<uint32_t, Delivered> frames() {
        std::lock_guard lock(mutex_);
        return frames_;
    }
    CountingSink& sink() { return sink_; }

private:
    ConnectionParams params_;
    std::unique_ptr<Launcher> launcher_;
    bool handshake_ok_ = false;
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

// Runs until the agent has sent `frames` frames, stops it, and waits until
// every datagram it reported sending has reached the client's socket.
void stream_frames(Agent& agent, ClientSide& client, const std::filesystem::path& events, uint64_t frames) {
    ASSERT_TRUE(test::wait_until([&] { return agent.frames_sent() >= frames; }));
    agent.stop();
    uint64_t sent = 0;
    for (const auto& e : test::read_events(events, "frame_sent")) sent += e["datagrams_sent"].get<uint64_t>();
    ASSERT_TRUE(test::wait_until([&] { return client.video_datagrams() >= sent; }))
        << client.video_datagrams() << " of " << sent << " datagrams arrived";
}

// The access unit as sent: the Depacketizer restores a lost last packet at
// full block size, so anything past the sent length must be zero padding.
bool intact(const Delivered& frame, const json& sent) {
    const size_t bytes = sent["bytes"].get<size_t>();
    if (frame.bytes.size() < bytes) return false;
    for (size_t i = bytes; i < frame.bytes.size(); ++i)
        if (frame.bytes[i] != 0) return false;
    return content_hash(std::span(frame.bytes).first(bytes)) == sent["hash"].get<std::string>();
}

TEST(AgentStreaming, CleanStreamDecodesToItsOwnFrameNumbers) {
    const auto dir = test::fresh_temp_dir("agent-clean");
    AgentOptions options = test::loopback_agent_options(dir);
    Agent agent(options);
    ASSERT_TRUE(agent.start());
    ClientSide client(agent, 320, 180, 30, 800);
    ASSERT_TRUE(client.handshake_ok());
    ASSERT_EQ(client.launcher().video_key().size(), 32u);
    ASSERT_EQ(client.launcher().input_key().size(), 32u);
    stream_frames(agent, client, options.events_file, 45);

    const auto sent = test::read_events(options.events_file, "frame_sent");
    auto frames = client.frames();
    ASSERT_GE(sent.size(), 45u);
    EXPECT_TRUE(sent.front()["key"].get<bool>()) << "a stream starts with a key frame";
    EXPECT_EQ(sent.front()["frame_id"], 1);
    test::AvTestDecoder decoder(VideoCodec::H264);
    for (const auto& event : sent) {
        const auto id = event["frame_id"].get<uint32_t>();
        ASSERT_TRUE(frames.count(id)) << "frame " << id << " was not delivered";
        EXPECT_TRUE(intact(frames[id], event)) << "frame " << id;
        EXPECT_EQ(frames[id].key, event["key"].get<bool>());
        const auto stamp = decoder.decode(frames[id].bytes);
        ASSERT_TRUE(stamp.has_value()) << "frame " << id << " does not show the scene";
        EXPECT_EQ(stamp->frame_number, id);
        EXPECT_EQ(stamp->send_time_us, static_cast<uint32_t>(event["send_time_us"].get<int64_t>()));
        // About 10% repair by default, at least one; the fountain code needs
        // two blocks or more, so a one-packet frame goes without.
        if (event["data_packets"].get<int>() > 1) {
            EXPECT_GT(event["repair_packets"].get<int>(), 0);
        }
    }
    EXPECT_EQ(client.decrypt_failures(), 0u);
    // Audio ran beside it: 20 ms Opus packets decoded into 960-frame blocks.
    EXPECT_GT(client.sink().pushes_.load(), 0u);
    EXPECT_EQ(client.sink().frames_.load() % 960, 0u);
    EXPECT_FALSE(test::read_events(options.events_file, "audio_sent").empty());
}

TEST(AgentStreaming, RepairableFramesSurviveImpairment) {
    const auto dir = test::fresh_temp_dir("agent-impaired");
    AgentOptions options = test::loopback_agent_options(dir);
    // Key frames every third frame keep frames several packets long (the
    // scene is simple), and three repair packets each give repair room.
    options.fec_count = 3;
    options.idr_interval = 3;
    options.seed = 7;
    options.audio = false;
    options.impairment.loss_pct = 8;
    options.impairment.burst_pct = 1;
    options.impairment.burst_length = 3;
    options.impairment.reorder_window = 6;
    options.impairment.duplicate_pct = 3;
    options.impairment.corrupt_pct = 2;
    options.impairment.forge_pct = 3;
    options.impairment.withhold_frames = {9};
    Agent agent(options);
    ASSERT_TRUE(agent.start());
    ClientSide client(agent, 640, 360, 30, 4000);
    ASSERT_TRUE(client.handshake_ok());
    stream_frames(agent, client, options.events_file, 90);

    auto frames = client.frames();
    int repaired = 0, unrepairable = 0, spare_free = 0, damaged = 0;
    for (const auto& event : test::read_events(options.events_file, "frame_sent")) {
        const auto id = event["frame_id"].get<uint32_t>();
        const json& report = event["impairment"];
        const int lost = static_cast<int>(report["lost_data"].size());
        const int repair_held = event["repair_packets"].get<int>() - report["lost_repair"].get<int>();
        damaged += report["corrupted"].get<int>() + report["forged"].get<int>();
        if (report["withheld"].get<bool>()) {
            EXPECT_EQ(frames.count(id), 0u) << "withheld frame " << id << " arrived";
        } else if (lost == 0 || lost < repair_held) {
            ASSERT_TRUE(frames.count(id)) << "frame " << id << " lost " << lost << " with " << repair_held
                                          << " repair packets held";
            EXPECT_TRUE(intact(frames[id], event)) << "frame " << id;
            if (lost > 0) ++repaired;
        } else if (lost > repair_held) {
            EXPECT_EQ(frames.count(id), 0u) << "frame " << id << " cannot be rebuilt from fewer blocks than it has";
            ++unrepairable;
        } else {
            // Exactly as many blocks as the frame has: the fountain code
            // decodes that with high but not certain probability.
            ++spare_free;
        }
    }
    EXPECT_GT(repaired, 0) << "the seed should exercise repair";
    EXPECT_GT(damaged, 0);
    EXPECT_GT(client.decrypt_failures(), 0u) << "corrupted and forged datagrams fail authentication";
    RecordProperty("repaired", repaired);
    RecordProperty("unrepairable", unrepairable);
    RecordProperty("exact_budget", spare_free);
}

TEST(AgentStreaming, InputRecordsAreOpenedCheckedAndRecorded) {
    const auto dir = test::fresh_temp_dir("agent-input");
    AgentOptions options = test::loopback_agent_options(dir);
    options.audio = false;
    Agent agent(options);
    ASSERT_TRUE(agent.start());
    ClientSide client(agent, 320, 180, 30, 500);
    ASSERT_TRUE(client.handshake_ok());

    InputSender sender(client.io(), agent.input_port(), "127.0.0.1");
    ASSERT_TRUE(sender.connect("127.0.0.1"));
    ASSERT_TRUE(sender.set_key(client.launcher().input_key()));
    std::vector<InputEvent> records = {InputEvent::mouse_move(-5, 7, 0), InputEvent::mouse_buttons(k_button_left),
                                       InputEvent::mouse_wheel(-120), InputEvent::key(true, 0x41, 0x1E, 0)};
    for (uint16_t i = 0; i < records.size(); ++i) {
        records[i].seq = static_cast<uint16_t>(100 + i);
        records[i].timestamp_us = 5000000 + i;
    }
    sender.send_events(records);

    // A record sealed with another key and a runt are refused, not recorded.
    AeadKey wrong{};
    wrong.fill(0x5A);
    const InputDatagram forged = seal_input_datagram(wrong, records[0].to_bytes());
    asio::ip::udp::socket raw(client.io(), asio::ip::udp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    const asio::ip::udp::endpoint agent_input(asio::ip::make_address("127.0.0.1"), agent.input_port());
    raw.send_to(asio::buffer(forged), agent_input);
    raw.send_to(asio::buffer(forged.data(), 10), agent_input);
    // A well-sealed record with reserved bytes set is refused too.
    AeadKey input_key{};
    std::copy(client.launcher().input_key().begin(), client.launcher().input_key().end(), input_key.begin());
    auto odd = records[0].to_bytes();
    odd[20] = 1;
    raw.send_to(asio::buffer(seal_input_datagram(input_key, odd)), agent_input);

    ASSERT_TRUE(test::wait_until([&] {
        return test::read_events(options.events_file, "input").size() == 7 &&
               test::read_events(options.events_file, "input_rejected").size() == 3;
    }));
    agent.stop();
    const auto inputs = test::read_events(options.events_file, "input");
    std::vector<int> first_copies;
    int copies = 0;
    for (const auto& e : inputs) {
        if (e["duplicate"].get<bool>()) {
            ++copies;
            continue;
        }
        first_copies.push_back(e["seq"].get<int>());
    }
    EXPECT_EQ(first_copies, (std::vector<int>{100, 101, 102, 103}));
    EXPECT_EQ(copies, 3) << "buttons, wheel and key records come twice";
    EXPECT_EQ(inputs[0]["type"], 0);
    EXPECT_EQ(static_cast<int16_t>(inputs[0]["x"].get<uint16_t>()), -5);
    EXPECT_EQ(inputs[0]["timestamp_us"], 5000000);
    std::vector<std::string> reasons;
    for (const auto& e : test::read_events(options.events_file, "input_rejected")) reasons.push_back(e["reason"]);
    EXPECT_EQ(reasons, (std::vector<std::string>{"authentication", "size", "reserved bytes set"}));
    EXPECT_EQ(agent.input_records(), 4u);
    sender.stop();
}

}  // namespace
}  // namespace nb
