// LibavDecoder against real H.264 and HEVC streams from libx264 and libx265.
#include "video/libav_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/video/log_capture.h"
#include "tests/video/test_encoder.h"

namespace nb {
namespace {

using test::AccessUnit;
using test::LogCapture;
using test::TestEncoder;

// A clock the test moves by hand, starting well past zero as a real
// monotonic clock does.
struct ManualClock {
    int64_t now_us = 100'000'000;
    std::function<int64_t()> fn() {
        return [this] { return now_us; };
    }
};

LibavDecoder::Options software(ManualClock* clock = nullptr) {
    LibavDecoder::Options o;
    o.try_hardware = false;
    if (clock) o.clock = clock->fn();
    return o;
}

std::vector<AccessUnit> make_stream(VideoCodec codec, int width, int height, int count) {
    TestEncoder encoder(codec, width, height);
    EXPECT_TRUE(encoder.ok());
    return encoder.encode(count);
}

uint8_t luma_at(const Picture& p, uint32_t x, uint32_t y) { return p.planes[0][y * p.strides[0] + x]; }

class DecoderPerCodec : public ::testing::TestWithParam<VideoCodec> {};

TEST_P(DecoderPerCodec, DeliversOnePictureForEveryAccessUnit) {
    const auto units = make_stream(GetParam(), 320, 240, 24);
    ASSERT_EQ(units.size(), 24u);
    LogCapture log;
    LibavDecoder decoder(software());
    ASSERT_TRUE(decoder.initialize(GetParam(), 320, 240));
    EXPECT_EQ(decoder.name(), "libavcodec");

    for (size_t i = 0; i < units.size(); ++i) {
        const DecodedFrame f = decoder.decode(units[i].data(), units[i].size(), static_cast<uint32_t>(i + 7), i == 0);
        ASSERT_NE(f.picture, nullptr) << "access unit " << i;
        EXPECT_EQ(f.frame_id, i + 7);
        EXPECT_EQ(f.keyframe, i == 0);
        EXPECT_EQ(f.width, 320u);
        EXPECT_EQ(f.height, 240u);
        EXPECT_GT(f.decoded_at_us, 0u);
        const Picture& p = *f.picture;
        EXPECT_EQ(p.width, 320u);
        EXPECT_EQ(p.height, 240u);
        // The bars survive the lossy round trip to within a few steps.
        for (int bar = 0; bar < 8; ++bar) {
            EXPECT_NEAR(luma_at(p, bar * 40 + 20, 60), test::k_bar_luma[bar], 6) << "bar " << bar;
        }
    }
    EXPECT_EQ(decoder.decoded_frames(), 24u);
    decoder.shutdown();
    decoder.shutdown();
    EXPECT_EQ(log.count("LibavDecoder: shutdown (decoded 24 frames)"), 1u);
}

TEST_P(DecoderPerCodec, PoolSlotsComeBackEveryFourthPictureUntouched) {
    const auto units = make_stream(GetParam(), 320, 240, 12);
    LibavDecoder decoder(software());
    ASSERT_TRUE(decoder.initialize(GetParam(), 320, 240));

    std::vector<const Picture*> slots;
    std::vector<uint8_t> first_rows;
    const Picture* first = nullptr;
    for (size_t i = 0; i < units.size(); ++i) {
        const DecodedFrame f = decoder.decode(units[i].data(), units[i].size(), static_cast<uint32_t>(i), i == 0);
        ASSERT_NE(f.picture, nullptr);
        slots.push_back(f.picture);
        if (i == 0) {
            first = f.picture;
            const Picture& p = *first;
            first_rows.assign(p.planes[0] + (p.height - 30) * p.strides[0], p.planes[0] + p.height * p.strides[0]);
        }
        if (i == 3) {
            // Three later pictures must not have overwritten the first one
            // (its moving box sits elsewhere in them).
            const Picture& p = *first;
            EXPECT_EQ(0, std::memcmp(first_rows.data(), p.planes[0] + (p.height - 30) * p.strides[0], first_rows.size()));
        }
    }
    for (size_t i = 0; i + 4 < slots.size(); ++i) {
        EXPECT_EQ(slots[i], slots[i + 4]);
        EXPECT_NE(slots[i], slots[i + 1]);
        EXPECT_NE(slots[i], slots[i + 2]);
        EXPECT_NE(slots[i], slots[i + 3]);
    }
}

TEST_P(DecoderPerCodec, SizeChangeMidStreamRebuildsThePool) {
    auto units = make_stream(GetParam(), 320, 240, 6);
    const auto larger = make_stream(GetParam(), 640, 360, 6);
    units.insert(units.end(), larger.begin(), larger.end());
    LogCapture log;
    LibavDecoder decoder(software());
    ASSERT_TRUE(decoder.initialize(GetParam(), 320, 240));

    std::vector<DecodedFrame> frames;
    for (size_t i = 0; i < units.size(); ++i) {
        frames.push_back(decoder.decode(units[i].data(), units[i].size(), static_cast<uint32_t>(i), i % 6 == 0));
        ASSERT_NE(frames.back().picture, nullptr) << "access unit " << i;
        EXPECT_EQ(frames.back().picture->width, i < 6 ? 320u : 640u);
    }
    // The record of the call that met the new size still carries the size
    // from before; the ones after carry the new size.
    EXPECT_EQ(frames[6].width, 320u);
    EXPECT_EQ(frames[6].height, 240u);
    EXPECT_EQ(frames[7].width, 640u);
    EXPECT_EQ(frames[7].height, 360u);
    EXPECT_EQ(log.count("LibavDecoder: picture size 320x240 -> 640x360, rebuilding pool"), 1u);
    EXPECT_EQ(decoder.decoded_frames(), 12u);
}

TEST_P(DecoderPerCodec, ConvertsOtherChromaLayoutsToPlanar420) {
    TestEncoder encoder(GetParam(), 320, 240, 120, TestEncoder::Scene::bars, 2'000'000, true);
    ASSERT_TRUE(encoder.ok());
    const auto units = encoder.encode(6);
    LibavDecoder decoder(software());
    ASSERT_TRUE(decoder.initialize(GetParam(), 320, 240));
    std::vector<const Picture*> seen;
    for (size_t i = 0; i < units.size(); ++i) {
        const DecodedFrame f = decoder.decode(units[i].data(), units[i].size(), static_cast<uint32_t>(i), i == 0);
        ASSERT_NE(f.picture, nullptr);
        const Picture& p = *f.picture;
        EXPECT_EQ(p.layout, PixelLayout::yuv420p);
        EXPECT_EQ(p.width, 320u);
        for (int bar = 0; bar < 8; ++bar) EXPECT_NEAR(luma_at(p, bar * 40 + 20, 60), test::k_bar_luma[bar], 6);
        EXPECT_NEAR(p.planes[1][60 * p.strides[1] + 80], 128, 4);
        EXPECT_NEAR(p.planes[2][60 * p.strides[2] + 80], 128, 4);
        seen.push_back(f.picture);
    }
    EXPECT_EQ(seen[0], seen[4]);
}

INSTANTIATE_TEST_SUITE_P(Codecs, DecoderPerCodec, ::testing::Values(VideoCodec::H264, VideoCodec::HEVC),
                         [](const auto& info) { return info.param == VideoCodec::H264 ? "H264" : "HEVC"; });

TEST(LibavDecoder, RefusesCodecsOtherThanH264AndHevc) {
    LogCapture log;
    LibavDecoder decoder(software());
    EXPECT_TRUE(decoder.supports_codec(VideoCodec::H264));
    EXPECT_TRUE(decoder.supports_codec(VideoCodec::HEVC));
    for (const uint8_t value : {2, 3, 255}) {
        const auto codec = static_cast<VideoCodec>(value);
        EXPECT_FALSE(decoder.supports_codec(codec));
        EXPECT_FALSE(decoder.initialize(codec, 1920, 1080));
        EXPECT_TRUE(log.contains("LibavDecoder: unsupported codec " + std::to_string(value)));
    }
    EXPECT_EQ(log.count("LibavDecoder: failed to create decoder"), 3u);
    // Refused streams yield nothing, and there is nothing to shut down.
    const uint8_t bytes[] = {0, 0, 0, 1, 0x65};
    EXPECT_EQ(decoder.decode(bytes, sizeof(bytes), 1, true).picture, nullptr);
    decoder.shutdown();
    EXPECT_FALSE(log.contains("LibavDecoder: shutdown"));
}

TEST(LibavDecoder, ThreeFailingInputsAskForAnIdrFrame) {
    LogCapture log;
    int requests = 0;
    LibavDecoder decoder(software());
    ASSERT_TRUE(decoder.initialize(VideoCodec::H264, 320, 240));
    decoder.set_on_request_idr([&] { ++requests; });
    const std::vector<uint8_t> garbage(100, 0xAB);

    for (int i = 1; i <= 7; ++i) {
        EXPECT_EQ(decoder.decode(garbage.data(), garbage.size(), i, false).picture, nullptr);
        EXPECT_EQ(requests, i / 3) << "after input " << i;
    }
    EXPECT_EQ(log.count("LibavDecoder: 3 consecutive errors, requesting IDR"), 2u);
    EXPECT_EQ(decoder.consecutive_errors(), 1u);

    // A picture clears the count.
    const auto units = make_stream(VideoCodec::H264, 320, 240, 1);
    ASSERT_NE(decoder.decode(units[0].data(), units[0].size(), 8, true).picture, nullptr);
    EXPECT_EQ(decoder.consecutive_errors(), 0u);
}

TEST(LibavDecoder, FailingInputsWithoutCallbackKeepCounting) {
    LogCapture log;
    LibavDecoder decoder(software());
    ASSERT_TRUE(decoder.initialize(VideoCodec::H264, 320, 240));
    const std::vector<uint8_t> garbage(64, 0xAB);
    for (int i = 0; i < 5; ++i) decoder.decode(garbage.data(), garbage.size(), i, false);
    EXPECT_EQ(decoder.consecutive_errors(), 5u);
    EXPECT_FALSE(log.contains("requesting IDR"));
}

TEST(LibavDecoder, LostFrameAsksForAnIdrOncePerLoss) {
    const auto units = make_stream(VideoCodec::H264, 320, 240, 12);
    LogCapture log;
    ManualClock clock;
    int requests = 0;
    LibavDecoder decoder(software(&clock));
    ASSERT_TRUE(decoder.initialize(VideoCodec::H264, 320, 240));
    decoder.set_on_request_idr([&] { ++requests; });
    auto feed = [&](uint32_t id, bool key = false) {
        return decoder.decode(units[id].data(), units[id].size(), id, key || id == 0).picture != nullptr;
    };

    for (uint32_t id : {0, 1, 2}) EXPECT_TRUE(feed(id));
    EXPECT_EQ(requests, 0);
    // Frame 3 was lost: 4 still decodes (concealed), and one IDR is asked for.
    EXPECT_TRUE(feed(4));
    EXPECT_EQ(requests, 1);
    EXPECT_TRUE(log.contains("LibavDecoder: 1 frame(s) before frame 4 never arrived, requesting IDR"));
    // Another loss while that request is out: no second request yet...
    EXPECT_TRUE(feed(6));
    EXPECT_EQ(requests, 1);
    // ...unless the IDR seems lost too.
    clock.now_us += LibavDecoder::k_gap_retry_us;
    EXPECT_TRUE(feed(8));
    EXPECT_EQ(requests, 2);

    // A frame handed over after a newer one is dropped, not decoded.
    EXPECT_FALSE(feed(7));
    EXPECT_EQ(decoder.consecutive_errors(), 0u);
    EXPECT_TRUE(feed(9));
    EXPECT_EQ(requests, 2);

    // A key frame closes the request: the next loss asks again at once.
    EXPECT_TRUE(feed(0, true));
    EXPECT_TRUE(feed(2));
    EXPECT_EQ(requests, 3);
}

TEST(LibavDecoder, EmptyAccessUnitFailsWithoutEndingTheStream) {
    // An empty packet is libavcodec's end-of-stream marker; after one the
    // decoder would refuse every later picture.
    const auto units = make_stream(VideoCodec::H264, 320, 240, 2);
    LibavDecoder decoder(software());
    ASSERT_TRUE(decoder.initialize(VideoCodec::H264, 320, 240));
    ASSERT_NE(decoder.decode(units[0].data(), units[0].size(), 0, true).picture, nullptr);
    EXPECT_EQ(decoder.decode(units[1].data(), 0, 1, false).picture, nullptr);
    EXPECT_EQ(decoder.decode(nullptr, 10, 2, false).picture, nullptr);
    EXPECT_EQ(decoder.consecutive_errors(), 2u);
    EXPECT_NE(decoder.decode(units[1].data(), units[1].size(), 3, false).picture, nullptr);
}

// HEVC access units made of NAL types the decoder ignores are accepted and
// yield nothing, as a stream joined after its IDR picture does.
std::vector<uint8_t> hevc_without_picture() { return {0, 0, 0, 1, 0x65, 1, 2, 3, 4, 5, 6, 7, 8, 9}; }

TEST(LibavDecoder, StallRequestsFollowTheSpacedSchedule) {
    LogCapture log;
    ManualClock clock;
    int requests = 0;
    LibavDecoder decoder(software(&clock));
    ASSERT_TRUE(decoder.initialize(VideoCodec::HEVC, 320, 240));
    decoder.set_on_request_idr([&] { ++requests; });
    const auto unit = hevc_without_picture();
    auto feed = [&](uint32_t until) {
        while (decoder.frames_without_output() < until) {
            const uint32_t before = decoder.frames_without_output();
            ASSERT_EQ(decoder.decode(unit.data(), unit.size(), before, false).picture, nullptr);
            ASSERT_EQ(decoder.frames_without_output(), before + 1) << "input was not accepted";
        }
    };

    feed(59);
    EXPECT_EQ(requests, 0);
    feed(60);
    EXPECT_EQ(requests, 1);
    EXPECT_TRUE(log.contains("LibavDecoder: 60 consecutive frames with no output, requesting IDR"));

    // 300 falls within two seconds of the first request: skipped.
    clock.now_us += 1'999'999;
    feed(300);
    EXPECT_EQ(requests, 1);
    feed(599);
    EXPECT_EQ(requests, 1);
    clock.now_us += 1;
    feed(600);
    EXPECT_EQ(requests, 2);
    EXPECT_TRUE(log.contains("LibavDecoder: still no output after 600 frames, requesting IDR again"));
    clock.now_us += 10'000'000;
    feed(899);
    EXPECT_EQ(requests, 2);
    feed(900);
    EXPECT_EQ(requests, 3);

    // Only a picture resets the count.
    const auto units = make_stream(VideoCodec::HEVC, 320, 240, 1);
    ASSERT_NE(decoder.decode(units[0].data(), units[0].size(), 1000, true).picture, nullptr);
    EXPECT_EQ(decoder.frames_without_output(), 0u);
}

TEST(LibavDecoder, StallIsLoggedEvenWithoutCallback) {
    LogCapture log;
    ManualClock clock;
    LibavDecoder decoder(software(&clock));
    ASSERT_TRUE(decoder.initialize(VideoCodec::HEVC, 320, 240));
    const auto unit = hevc_without_picture();
    for (int i = 0; i < 60; ++i) decoder.decode(unit.data(), unit.size(), i, false);
    EXPECT_EQ(log.count("consecutive frames with no output, requesting IDR"), 1u);
}

TEST(LibavDecoder, ReinitializeShutsDownFirstAndCountsAfresh) {
    const auto units = make_stream(VideoCodec::H264, 320, 240, 3);
    LogCapture log;
    LibavDecoder decoder(software());
    ASSERT_TRUE(decoder.initialize(VideoCodec::H264, 320, 240));
    for (uint32_t i = 0; i < units.size(); ++i) decoder.decode(units[i].data(), units[i].size(), i, i == 0);
    ASSERT_TRUE(decoder.initialize(VideoCodec::H264, 320, 240));
    EXPECT_TRUE(log.contains("LibavDecoder: shutdown (decoded 3 frames)"));
    EXPECT_EQ(decoder.decoded_frames(), 0u);
    // The new decoder starts from scratch: the stream's first IDR decodes.
    EXPECT_NE(decoder.decode(units[0].data(), units[0].size(), 0, true).picture, nullptr);
}

TEST(LibavDecoder, DecodeBeforeInitializeOrAfterShutdownYieldsNothing) {
    const auto units = make_stream(VideoCodec::H264, 320, 240, 1);
    LogCapture log;
    LibavDecoder decoder(software());
    DecodedFrame f = decoder.decode(units[0].data(), units[0].size(), 5, true);
    EXPECT_EQ(f.picture, nullptr);
    EXPECT_EQ(f.frame_id, 5u);
    EXPECT_TRUE(f.keyframe);
    EXPECT_EQ(f.decoded_at_us, 0u);
    EXPECT_TRUE(log.contains("LibavDecoder: not initialized"));

    ASSERT_TRUE(decoder.initialize(VideoCodec::H264, 320, 240));
    decoder.shutdown();
    EXPECT_EQ(decoder.decode(units[0].data(), units[0].size(), 6, true).picture, nullptr);
}

}  // namespace
}  // namespace nb
