// The scene stamp through scaling, screenshots and real compression, and the
// encoder's handling of key-frame requests and bitrate changes.
#include <gtest/gtest.h>

#include <vector>

#include "tests/agent-sim/scene_decoder.h"

namespace nb {
namespace {

using test::small_config;

// Across sizes, and from a scaled RGB screenshot.
TEST(TestScene, StampReadsBackFromLuma) {
    for (auto [w, h] : std::vector<std::pair<int, int>>{{64, 36}, {320, 180}, {1280, 720}, {1920, 1080}, {642, 362}}) {
        YuvPicture picture;
        const SceneStamp stamp{0xDEADBEEFu + static_cast<uint32_t>(w), 0x01234567u};
        TestScene::render(picture, w, h, stamp);
        EXPECT_EQ(TestScene::read_stamp(picture.y.data(), w, w, h), stamp) << w << "x" << h;
    }
    YuvPicture picture;
    const SceneStamp stamp{4242, 987654321};
    TestScene::render(picture, 1280, 720, stamp);
    // A screenshot of the window scaled to 853x480: packed RGBA, luma in every channel.
    const int w = 853, h = 480;
    std::vector<uint8_t> rgba(static_cast<size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const uint8_t l = picture.y[static_cast<size_t>(y * 720 / h) * 1280 + x * 1280 / w];
            for (int c = 0; c < 4; ++c) rgba[(static_cast<size_t>(y) * w + x) * 4 + c] = l;
        }
    }
    EXPECT_EQ(TestScene::read_stamp(rgba.data() + 1, w * 4, w, h, 4), stamp);
}

TEST(TestScene, RejectsPicturesThatAreNotTheScene) {
    std::vector<uint8_t> grey(320 * 180, 128);
    EXPECT_FALSE(TestScene::read_stamp(grey.data(), 320, 320, 180).has_value());
    YuvPicture picture;
    TestScene::render(picture, 320, 180, {77, 1000});
    // Blacken the white lowest bit cell of frame number 77: the check word fails.
    for (int y = 150; y < 160; ++y)
        for (int x = 301; x < 310; ++x) picture.y[static_cast<size_t>(y) * 320 + x] = 16;
    EXPECT_FALSE(TestScene::read_stamp(picture.y.data(), 320, 320, 180).has_value());
}

class VideoEncoderCodec : public ::testing::TestWithParam<VideoCodec> {};

// Key frames come only first and on request; a bitrate cut (a reopen for
// HEVC, so checked after the key frames) keeps every picture decodable.
TEST_P(VideoEncoderCodec, StampsSurviveIdrRequestAndBitrateChange) {
    const auto config = small_config(GetParam(), 2000);
    VideoEncoder encoder;
    ASSERT_TRUE(encoder.open(config));
    test::SceneDecoder decoder(config.codec);
    YuvPicture picture;
    for (uint32_t n = 1; n <= 30; ++n) {
        SCOPED_TRACE(n);
        TestScene::render(picture, 320, 180, {n, n * 1000});
        if (n == 10) encoder.request_idr();
        if (n == 20) encoder.set_bitrate(200);
        EncodedFrame frame;
        ASSERT_TRUE(encoder.encode(picture, frame));
        ASSERT_GE(frame.bytes.size(), 4u) << "zero latency gives one access unit per picture";
        EXPECT_EQ(frame.bytes[0], 0);
        EXPECT_EQ(frame.bytes[1], 0);
        EXPECT_TRUE(n >= 20 || frame.key == (n == 1 || n == 10));
        EXPECT_EQ(decoder.decode(frame.bytes), (SceneStamp{n, n * 1000}));
    }
    EXPECT_EQ(encoder.frames_encoded(), 30u);
}

INSTANTIATE_TEST_SUITE_P(Codecs, VideoEncoderCodec, ::testing::Values(VideoCodec::H264, VideoCodec::HEVC),
                         [](const auto& info) { return info.param == VideoCodec::HEVC ? "HEVC" : "H264"; });

TEST(VideoEncoder, BusySceneFillsTheBitrateAndKeepsItsStamp) {
    auto average_size = [](bool busy) {
        VideoEncoder encoder;
        EXPECT_TRUE(encoder.open(small_config(VideoCodec::H264, 1500)));
        test::SceneDecoder decoder(VideoCodec::H264);
        YuvPicture picture;
        size_t bytes = 0;
        for (uint32_t n = 1; n <= 30; ++n) {
            TestScene::render(picture, 320, 180, {n, 7 * n}, busy);
            EncodedFrame frame;
            EXPECT_TRUE(encoder.encode(picture, frame));
            if (n > 1) bytes += frame.bytes.size();
            EXPECT_EQ(decoder.decode(frame.bytes), (SceneStamp{n, 7 * n})) << (busy ? "busy " : "plain ") << n;
        }
        return bytes / 29;
    };
    const size_t plain = average_size(false);
    const size_t busy = average_size(true);
    // 1500 kbit/s at 30 fps is 6250 bytes a frame.
    EXPECT_GT(busy, 4 * plain);
    EXPECT_GT(busy, 3000u);
}

TEST(VideoEncoder, RefusesWhatItCannotEncode) {
    VideoEncoder encoder;
    EXPECT_FALSE(encoder.open(small_config(VideoCodec::AV1, 300)));
    auto config = small_config(VideoCodec::H264, 300);
    config.width = 321;
    EXPECT_FALSE(encoder.open(config));
    ASSERT_TRUE(encoder.open(small_config(VideoCodec::H264, 300)));
    YuvPicture wrong;
    wrong.allocate(640, 360);
    EncodedFrame frame;
    EXPECT_FALSE(encoder.encode(wrong, frame));
}

}  // namespace
}  // namespace nb
