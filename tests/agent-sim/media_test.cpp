// The agent's picture source and encoder: the stamp must survive scaling,
// RGB screenshots and real compression, and the encoder must honour IDR
// requests and bitrate changes the way the control channel asks for them.
#include <gtest/gtest.h>

#include <vector>

#include "tests/agent-sim/av_test_decoder.h"
#include "tools/agent-sim/test_scene.h"
#include "tools/agent-sim/video_encoder.h"

namespace nb {
namespace {

TEST(TestScene, StampReadsBackFromLumaAcrossSizes) {
    for (auto [w, h] : std::vector<std::pair<int, int>>{{64, 36}, {320, 180}, {1280, 720}, {1920, 1080}, {642, 362}}) {
        YuvPicture picture;
        const SceneStamp stamp{0xDEADBEEFu + static_cast<uint32_t>(w), 0x01234567u};
        TestScene::render(picture, w, h, stamp);
        const auto back = TestScene::read_stamp(picture.y.data(), w, w, h);
        ASSERT_TRUE(back.has_value()) << w << "x" << h;
        EXPECT_EQ(*back, stamp);
    }
}

TEST(TestScene, StampSurvivesScaledRgbScreenshot) {
    YuvPicture picture;
    const SceneStamp stamp{4242, 987654321};
    TestScene::render(picture, 1280, 720, stamp);
    // Nearest-neighbour downscale to 853x480 into packed RGBA, luma in every
    // channel, as a screenshot of a scaled window would look.
    const int w = 853, h = 480;
    std::vector<uint8_t> rgba(static_cast<size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const uint8_t l = picture.y[static_cast<size_t>(y * 720 / h) * 1280 + x * 1280 / w];
            for (int c = 0; c < 4; ++c) rgba[(static_cast<size_t>(y) * w + x) * 4 + c] = l;
        }
    }
    const auto back = TestScene::read_stamp(rgba.data() + 1, w * 4, w, h, 4);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, stamp);
}

TEST(TestScene, RejectsPicturesThatAreNotTheScene) {
    std::vector<uint8_t> grey(320 * 180, 128);
    EXPECT_FALSE(TestScene::read_stamp(grey.data(), 320, 320, 180).has_value());
    YuvPicture picture;
    TestScene::render(picture, 320, 180, {77, 1000});
    // Blacken the lowest bit cell of the frame-number row (77 is odd, so
    // that cell is white): the check word no longer matches.
    for (int y = 150; y < 160; ++y)
        for (int x = 301; x < 310; ++x) picture.y[static_cast<size_t>(y) * 320 + x] = 16;
    EXPECT_FALSE(TestScene::read_stamp(picture.y.data(), 320, 320, 180).has_value());
    EXPECT_NE(TestScene::block_x(1, 320), TestScene::block_x(2, 320));
}

struct CodecCase {
    VideoCodec codec;
    const char* name;
};

class VideoEncoderCodec : public ::testing::TestWithParam<CodecCase> {};

TEST_P(VideoEncoderCodec, StampsSurviveEncodeAndDecode) {
    VideoEncoderConfig config;
    config.codec = GetParam().codec;
    config.width = 320;
    config.height = 180;
    config.fps = 30;
    config.bitrate_kbps = 300;
    VideoEncoder encoder;
    ASSERT_TRUE(encoder.open(config));
    test::AvTestDecoder decoder(config.codec);
    YuvPicture picture;
    int decoded = 0;
    for (uint32_t n = 1; n <= 30; ++n) {
        TestScene::render(picture, 320, 180, {n, n * 1000});
        if (n == 20) encoder.request_idr();
        EncodedFrame frame;
        ASSERT_TRUE(encoder.encode(picture, frame));
        ASSERT_FALSE(frame.bytes.empty()) << "zero latency gives one access unit per picture, frame " << n;
        // Only the first picture and the requested one are key frames.
        EXPECT_EQ(frame.key, n == 1 || n == 20) << n;
        ASSERT_GE(frame.bytes.size(), 4u);
        EXPECT_EQ(frame.bytes[0], 0);
        EXPECT_EQ(frame.bytes[1], 0);
        const auto stamp = decoder.decode(frame.bytes);
        ASSERT_TRUE(stamp.has_value()) << "frame " << n;
        EXPECT_EQ(stamp->frame_number, n);
        EXPECT_EQ(stamp->send_time_us, n * 1000);
        ++decoded;
    }
    EXPECT_EQ(decoded, 30);
    EXPECT_EQ(encoder.frames_encoded(), 30u);
}

TEST_P(VideoEncoderCodec, BitrateChangeKeepsTheStreamDecodable) {
    VideoEncoderConfig config;
    config.codec = GetParam().codec;
    config.width = 320;
    config.height = 180;
    config.fps = 30;
    config.bitrate_kbps = 2000;
    VideoEncoder encoder;
    ASSERT_TRUE(encoder.open(config));
    test::AvTestDecoder decoder(config.codec);
    YuvPicture picture;
    for (uint32_t n = 1; n <= 20; ++n) {
        if (n == 10) encoder.set_bitrate(200);
        TestScene::render(picture, 320, 180, {n, 0});
        EncodedFrame frame;
        ASSERT_TRUE(encoder.encode(picture, frame));
        const auto stamp = decoder.decode(frame.bytes);
        ASSERT_TRUE(stamp.has_value()) << n;
        EXPECT_EQ(stamp->frame_number, n);
    }
    EXPECT_EQ(encoder.config().bitrate_kbps, 200);
}

INSTANTIATE_TEST_SUITE_P(Codecs, VideoEncoderCodec,
                         ::testing::Values(CodecCase{VideoCodec::H264, "H264"}, CodecCase{VideoCodec::HEVC, "HEVC"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(VideoEncoder, BusySceneFillsTheBitrateAndKeepsItsStamp) {
    auto average_size = [](bool busy) {
        VideoEncoderConfig config;
        config.width = 320;
        config.height = 180;
        config.fps = 30;
        config.bitrate_kbps = 1500;
        VideoEncoder encoder;
        EXPECT_TRUE(encoder.open(config));
        test::AvTestDecoder decoder(VideoCodec::H264);
        YuvPicture picture;
        size_t bytes = 0;
        for (uint32_t n = 1; n <= 30; ++n) {
            TestScene::render(picture, 320, 180, {n, 7 * n}, busy);
            EncodedFrame frame;
            EXPECT_TRUE(encoder.encode(picture, frame));
            if (n > 1) bytes += frame.bytes.size();
            const auto stamp = decoder.decode(frame.bytes);
            EXPECT_TRUE(stamp.has_value() && stamp->frame_number == n) << (busy ? "busy " : "plain ") << n;
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
    VideoEncoderConfig config;
    config.codec = VideoCodec::AV1;
    EXPECT_FALSE(encoder.open(config));
    config.codec = VideoCodec::H264;
    config.width = 321;
    EXPECT_FALSE(encoder.open(config));
    config.width = 320;
    config.height = 180;
    ASSERT_TRUE(encoder.open(config));
    YuvPicture wrong;
    wrong.allocate(640, 360);
    EncodedFrame frame;
    EXPECT_FALSE(encoder.encode(wrong, frame));
}

}  // namespace
}  // namespace nb
