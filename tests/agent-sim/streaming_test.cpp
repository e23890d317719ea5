// The agent against the client's own transport code in one process: Launcher
// handshake, UdpReceiver probes, Depacketizer with repair, audio and input;
// control requests against a running stream, and a prepared Annex-B file.
#include <gtest/gtest.h>

#include <fstream>

#include "net/input_sender.h"
#include "tests/agent-sim/client_side.h"
#include "tests/agent-sim/control_client.h"
#include "tests/agent-sim/scene_decoder.h"
#include "tools/agent-sim/annexb_file.h"

namespace nb {
namespace {

using nlohmann::json;
using test::ClientSide;

using AgentStreaming = test::AgentTest;

// The stamp the scene of a "frame_sent" event carries.
SceneStamp stamp_of(const json& sent) {
    return {sent["frame_id"].get<uint32_t>(), static_cast<uint32_t>(sent["send_time_us"].get<int64_t>())};
}
class CleanStream : public test::AgentTest, public ::testing::WithParamInterface<VideoCodec> {};

TEST_P(CleanStream, DecodesToItsOwnFrameNumbers) {
    ASSERT_TRUE(start([](AgentOptions& o) { o.audio = true; }));
    Agent& agent = *agent_;
    const auto side = ClientSide::after_handshake(agent, GetParam(), 320, 180, 30, 800);
    ASSERT_NE(side, nullptr);
    ClientSide& client = *side;
    test::stream_frames(agent, client, options_.events_file, 45);

    const auto sent = events("frame_sent");
    auto frames = client.frames();
    ASSERT_GE(sent.size(), 45u);
    EXPECT_TRUE(sent.front()["key"].get<bool>()) << "a stream starts with a key frame";
    EXPECT_EQ(sent.front()["frame_id"], 1);
    test::SceneDecoder decoder(GetParam());
    for (const auto& event : sent) {
        const auto id = event["frame_id"].get<uint32_t>();
        ASSERT_TRUE(frames.count(id)) << "frame " << id << " was not delivered";
        EXPECT_TRUE(test::intact(frames[id], event)) << "frame " << id;
        EXPECT_EQ(frames[id].key, event["key"].get<bool>());
        EXPECT_EQ(decoder.decode(frames[id].bytes), stamp_of(event)) << "frame " << id;
        // Default repair is at least one packet, except that a one-block frame cannot have any.
        EXPECT_TRUE(event["data_packets"].get<int>() == 1 || event["repair_packets"].get<int>() > 0);
    }
    EXPECT_EQ(client.decrypt_failures(), 0u);
    // Audio ran beside it: 20 ms Opus packets decoded into 960-frame blocks.
    EXPECT_GT(client.sink().pushes_.load(), 0u);
    EXPECT_EQ(client.sink().frames_.load() % 960, 0u);
    EXPECT_FALSE(events("audio_sent").empty());
}

INSTANTIATE_TEST_SUITE_P(AgentStreaming, CleanStream, ::testing::Values(VideoCodec::H264, VideoCodec::HEVC),
                         [](const auto& info) { return info.param == VideoCodec::HEVC ? "HEVC" : "H264"; });

TEST_F(AgentStreaming, RepairableFramesSurviveImpairment) {
    // Frequent key frames keep frames several packets long; three repair packets give room.
    ASSERT_TRUE(start([](AgentOptions& o) {
        o.fec_count = 3;
        o.idr_interval = 3;
        o.seed = 7;
        o.impairment = {.loss_pct = 8, .burst_pct = 1, .burst_length = 3, .reorder_window = 6,
                        .duplicate_pct = 3, .corrupt_pct = 2, .forge_pct = 3, .withhold_frames = {9}};
    }));
    Agent& agent = *agent_;
    const auto side = ClientSide::after_handshake(agent, VideoCodec::H264, 640, 360, 30, 4000);
    ASSERT_NE(side, nullptr);
    ClientSide& client = *side;
    test::stream_frames(agent, client, options_.events_file, 90);

    auto frames = client.frames();
    int repaired = 0, damaged = 0;
    for (const auto& event : events("frame_sent")) {
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
            EXPECT_TRUE(test::intact(frames[id], event)) << "frame " << id;
            if (lost > 0) ++repaired;
        } else if (lost > repair_held) {
            EXPECT_EQ(frames.count(id), 0u) << "frame " << id << " cannot be rebuilt from fewer blocks than it has";
        }  // Exactly as many blocks as data decodes with high, not certain, probability.
    }
    EXPECT_GT(repaired, 0) << "the seed should exercise repair";
    EXPECT_GT(damaged, 0);
    EXPECT_GT(client.decrypt_failures(), 0u) << "corrupted and forged datagrams fail authentication";
}

TEST_F(AgentStreaming, InputRecordsAreOpenedCheckedAndRecorded) {
    ASSERT_TRUE(start());
    Agent& agent = *agent_;
    const auto side = ClientSide::after_handshake(agent, VideoCodec::H264, 320, 180, 30, 500);
    ASSERT_NE(side, nullptr);
    ClientSide& client = *side;

    InputSender sender(client.io(), agent.input_port(), "127.0.0.1");
    ASSERT_TRUE(sender.connect("127.0.0.1"));
    ASSERT_TRUE(sender.set_key(client.keys().input));
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
    std::copy(client.keys().input.begin(), client.keys().input.end(), input_key.begin());
    auto odd = records[0].to_bytes();
    odd[20] = 1;
    raw.send_to(asio::buffer(seal_input_datagram(input_key, odd)), agent_input);
    // So is a key press that carries the release flag.
    auto press = InputEvent::key(true, 0x41, 0x1E, k_key_flag_break);
    press.seq = 200;
    raw.send_to(asio::buffer(seal_input_datagram(input_key, press.to_bytes())), agent_input);

    ASSERT_TRUE(test::wait_until([&] { return events("input").size() == 7 && events("input_rejected").size() == 4; }));
    agent.stop();
    const auto inputs = events("input");
    std::vector<int> first_copies;
    int copies = 0;
    for (const auto& e : inputs) {
        if (e["duplicate"].get<bool>()) ++copies;
        else first_copies.push_back(e["seq"].get<int>());
    }
    EXPECT_EQ(first_copies, (std::vector<int>{100, 101, 102, 103}));
    EXPECT_EQ(copies, 3) << "buttons, wheel and key records come twice";
    EXPECT_EQ(inputs[0]["type"], 0);
    EXPECT_EQ(static_cast<int16_t>(inputs[0]["x"].get<uint16_t>()), -5);
    EXPECT_EQ(inputs[0]["timestamp_us"], 5000000);
    std::vector<std::string> reasons;
    for (const auto& e : events("input_rejected")) reasons.push_back(e["reason"]);
    EXPECT_EQ(reasons, (std::vector<std::string>{"authentication", "size", "reserved bytes set",
                                                  "break flag disagrees with the key record's type"}));
    EXPECT_EQ(agent.input_records(), 4u);
    sender.stop();
}

// A raw control connection's session and a client on its keys.
std::unique_ptr<ClientSide> client_of(Agent& agent, test::ControlClient& control, int bitrate) {
    control.send(test::auth_message(test::k_token, 0, 320, 180, 30, bitrate));
    SessionKeys keys;
    std::string refusal;
    if (!read_session_ready(control.read().dump(), keys, refusal)) return nullptr;
    return std::make_unique<ClientSide>(agent, keys);
}

TEST_F(AgentStreaming, SettingsAndKeyFrameRequestsReachTheStream) {
    ASSERT_TRUE(start());
    Agent& agent = *agent_;
    test::ControlClient control(agent.control_port());
    const auto client = client_of(agent, control, 600);
    ASSERT_NE(client, nullptr);

    ASSERT_TRUE(frames_reach(10));
    control.send_line(R"({"bitrate":1500,"height":360,"type":"set_settings","width":640})");
    const uint64_t resized_after = agent.frames_sent();
    ASSERT_TRUE(frames_reach(resized_after + 10));
    control.send_line(R"({"type":"request_idr"})");
    const uint64_t requested_after = agent.frames_sent();
    ASSERT_TRUE(frames_reach(requested_after + 5));
    test::stream_frames(agent, *client, options_.events_file, 0);

    // Replay the log in order: the frame after each change must show it.
    bool resize_seen = false, request_seen = false, key_after_request = false;
    int key_frames = 0;
    test::SceneDecoder decoder(VideoCodec::H264);
    auto frames = client->frames();
    for (const auto& e : events()) {
        const std::string kind = e["event"];
        if (kind == "set_settings") {
            EXPECT_TRUE(e["applied"].get<bool>());
            resize_seen = true;
        } else if (kind == "request_idr") {
            request_seen = true;
        } else if (kind == "frame_sent") {
            const auto id = e["frame_id"].get<uint32_t>();
            ASSERT_TRUE(frames.count(id)) << id;
            EXPECT_EQ(decoder.decode(frames[id].bytes), stamp_of(e)) << id;
            EXPECT_EQ(decoder.last_width(), resize_seen ? 640 : 320) << id;
            if (e["key"].get<bool>()) ++key_frames;
            if (request_seen && e["key"].get<bool>()) key_after_request = true;
        }
    }
    EXPECT_TRUE(key_after_request);
    EXPECT_EQ(key_frames, 3) << "the first frame, the new size and the request";
}

TEST_F(AgentStreaming, PreparedFileIsStreamedUnitByUnit) {
    // Twelve frames of the scene, a key frame every sixth.
    auto config = test::small_config(VideoCodec::H264, 800);
    config.idr_interval = 6;
    VideoEncoder encoder;
    ASSERT_TRUE(encoder.open(config));
    std::vector<std::vector<uint8_t>> units;
    {
        std::ofstream out(dir_ / "clip.h264", std::ios::binary);
        YuvPicture picture;
        for (uint32_t n = 1; n <= 12; ++n) {
            TestScene::render(picture, 320, 180, {n, 0});
            EncodedFrame frame;
            ASSERT_TRUE(encoder.encode(picture, frame));
            out.write(reinterpret_cast<const char*>(frame.bytes.data()), static_cast<std::streamsize>(frame.bytes.size()));
            units.push_back(frame.bytes);
        }
    }
    AnnexBFile file;
    ASSERT_TRUE(file.load((dir_ / "clip.h264").string(), VideoCodec::H264));
    ASSERT_EQ(file.units().size(), 12u);
    EXPECT_TRUE(file.units()[0].key);
    EXPECT_TRUE(file.units()[6].key);
    EXPECT_FALSE(file.units()[1].key);

    ASSERT_TRUE(start([&](AgentOptions& o) { o.annexb_file = (dir_ / "clip.h264").string(); }));
    Agent& agent = *agent_;
    {
        test::ControlClient wrong_codec(agent.control_port());
        wrong_codec.send(test::auth_message(test::k_token, 1, 320, 180, 30, 800));
        EXPECT_EQ(wrong_codec.read()["type"], "error");
    }
    test::ControlClient control(agent.control_port());
    const auto client = client_of(agent, control, 800);
    ASSERT_NE(client, nullptr);
    test::stream_frames(agent, *client, options_.events_file, 30);

    auto frames = client->frames();
    test::SceneDecoder decoder(VideoCodec::H264);
    for (const auto& e : events("frame_sent")) {
        const auto id = e["frame_id"].get<uint32_t>();
        const size_t unit = (id - 1) % 12;  // the file loops
        EXPECT_EQ(e["hash"], content_hash(units[unit])) << id;
        ASSERT_TRUE(frames.count(id)) << id;
        EXPECT_EQ(decoder.decode(frames[id].bytes), (SceneStamp{static_cast<uint32_t>(unit + 1), 0})) << id;
    }
}

}  // namespace
}  // namespace nb
