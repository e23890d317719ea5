// Control requests against a running stream, and a prepared Annex-B file as the source.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/agent-sim/av_test_decoder.h"
#include "tests/agent-sim/client_side.h"
#include "tests/agent-sim/control_client.h"
#include "tools/agent-sim/annexb_file.h"

namespace nb {
namespace {

using AgentStreamControl = test::AgentTest;

// A raw control connection's session and a client on its keys.
std::unique_ptr<test::ClientSide> client_of(Agent& agent, test::ControlClient& control, int bitrate) {
    control.send(test::auth_message(test::k_token, 0, 320, 180, 30, bitrate));
    const auto ready = control.read();
    if (!ready || !ready->contains("video_key")) return nullptr;
    return std::make_unique<test::ClientSide>(
        agent, test::ClientKeys{test::decode_key((*ready)["video_key"]), test::decode_key((*ready)["audio_key"]),
                                test::decode_key((*ready)["input_key"])});
}

TEST_F(AgentStreamControl, SettingsAndKeyFrameRequestsReachTheStream) {
    ASSERT_TRUE(start());
    Agent& agent = *agent_;
    test::ControlClient control(agent.control_port());
    const auto client = client_of(agent, control, 600);
    ASSERT_NE(client, nullptr);

    ASSERT_TRUE(test::wait_until([&] { return agent.frames_sent() >= 10; }));
    control.send_line(R"({"bitrate":1500,"height":360,"type":"set_settings","width":640})");
    const uint64_t resized_after = agent.frames_sent();
    ASSERT_TRUE(test::wait_until([&] { return agent.frames_sent() >= resized_after + 10; }));
    control.send_line(R"({"type":"request_idr"})");
    const uint64_t requested_after = agent.frames_sent();
    ASSERT_TRUE(test::wait_until([&] { return agent.frames_sent() >= requested_after + 5; }));
    test::stream_frames(agent, *client, options_.events_file, 0);

    // Replay the log in order: the frame after each change must show it.
    bool resize_seen = false, request_seen = false, key_after_request = false;
    int key_frames = 0;
    test::AvTestDecoder decoder(VideoCodec::H264);
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
            const auto stamp = decoder.decode(frames[id].bytes);
            ASSERT_TRUE(stamp.has_value()) << id;
            EXPECT_EQ(stamp->frame_number, id);
            EXPECT_EQ(decoder.last_width(), resize_seen ? 640 : 320) << id;
            if (e["key"].get<bool>()) ++key_frames;
            if (request_seen && e["key"].get<bool>()) key_after_request = true;
        }
    }
    EXPECT_TRUE(key_after_request);
    EXPECT_EQ(key_frames, 3) << "the first frame, the new size and the request";
}

TEST_F(AgentStreamControl, PreparedFileIsStreamedUnitByUnit) {
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
        const auto reply = wrong_codec.read();
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ((*reply)["type"], "error");
    }
    test::ControlClient control(agent.control_port());
    const auto client = client_of(agent, control, 800);
    ASSERT_NE(client, nullptr);
    test::stream_frames(agent, *client, options_.events_file, 30);

    auto frames = client->frames();
    test::AvTestDecoder decoder(VideoCodec::H264);
    for (const auto& e : events("frame_sent")) {
        const auto id = e["frame_id"].get<uint32_t>();
        const size_t unit = (id - 1) % 12;  // the file loops
        EXPECT_EQ(e["hash"], content_hash(units[unit])) << id;
        ASSERT_TRUE(frames.count(id)) << id;
        const auto stamp = decoder.decode(frames[id].bytes);
        ASSERT_TRUE(stamp.has_value()) << id;
        EXPECT_EQ(stamp->frame_number, unit + 1) << id;
    }
}

}  // namespace
}  // namespace nb
