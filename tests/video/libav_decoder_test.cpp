// LibavDecoder against real H.264 and HEVC streams from libx264 and libx265.
#include "video/libav_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/video/log_capture.h"
#include "tests/video/reference_stream.h"
#include "tests/video/test_encoder.h"

namespace nb {
namespace {

using test::AccessUnit;
using test::LogCapture;
using test::TestEncoder;

// Moved by hand; starts well past zero as a real monotonic clock does.
struct ManualClock {
    int64_t now_us = 100'000'000;
};

LibavDecoder::Options software(ManualClock* clock = nullptr) {
    LibavDecoder::Options o;
    o.try_hardware = false;
    if (clock) o.clock = [clock] { return clock->now_us; };
    return o;
}

std::vector<AccessUnit> make_stream(VideoCodec codec, int width, int height, int count) {
    TestEncoder encoder(codec, width, height);
    EXPECT_TRUE(encoder.ok());
    return encoder.encode(count);
}

DecodedFrame feed(LibavDecoder& d, const AccessUnit& unit, uint32_t id, bool key) {
    return d.decode(unit.data(), unit.size(), id, key);
}

// The grey bars survive the lossy round trip to within a few steps.
void expect_bars(const Picture& p) {
    for (uint32_t bar = 0; bar < 8; ++bar)
        EXPECT_NEAR(p.planes[0][60 * p.strides[0] + bar * 40 + 20], test::k_bar_luma[bar], 6) << "bar " << bar;
}

class DecoderPerCodec : public ::testing::TestWithParam<VideoCodec> {};

TEST_P(DecoderPerCodec, DeliversOnePictureForEveryAccessUnit) {
    const auto units = make_stream(GetParam(), 320, 240, 24);
    ASSERT_EQ(units.size(), 24u);
    LogCapture log;
    LibavDecoder decoder(software());
    ASSERT_TRUE(decoder.initialize(GetParam(), 320, 240));
    EXPECT_EQ(decoder.name(), "libavcodec");
    for (uint32_t i = 0; i < units.size(); ++i) {
        const DecodedFrame f = feed(decoder, units[i], i + 7, i == 0);
        ASSERT_NE(f.picture, nullptr) << "access unit " << i;
        EXPECT_EQ(f.frame_id, i + 7);
        EXPECT_EQ(f.keyframe, i == 0);
        EXPECT_EQ(f.width, 320u);
        EXPECT_EQ(f.height, 240u);
        EXPECT_GT(f.decoded_at_us, 0u);
        EXPECT_EQ(f.picture->width, 320u);
        EXPECT_EQ(f.picture->height, 240u);
        expect_bars(*f.picture);
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
    std::vector<uint8_t> first_rows;  // the rows the moving box crosses
    for (uint32_t i = 0; i < units.size(); ++i) {
        slots.push_back(feed(decoder, units[i], i, i == 0).picture);
        ASSERT_NE(slots.back(), nullptr);
        const Picture& p = *slots[0];
        const uint8_t* rows = p.planes[0] + (p.height - 30) * p.strides[0];
        if (i == 0) first_rows.assign(rows, rows + 30 * p.strides[0]);
        // Three later pictures must not have overwritten the first one.
        if (i == 3) {
            EXPECT_EQ(0, std::memcmp(first_rows.data(), rows, first_rows.size()));
        }
    }
    for (size_t i = 0; i + 4 < slots.size(); ++i) {
        EXPECT_EQ(slots[i], slots[i + 4]);
        for (size_t j = 1; j < 4; ++j) EXPECT_NE(slots[i], slots[i + j]);
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
    for (uint32_t i = 0; i < units.size(); ++i) {
        frames.push_back(feed(decoder, units[i], i, i % 6 == 0));
        ASSERT_NE(frames.back().picture, nullptr) << "access unit " << i;
        EXPECT_EQ(frames.back().picture->width, i < 6 ? 320u : 640u);
    }
    // The call that met the new size still reports the old one.
    EXPECT_EQ(std::pair(frames[6].width, frames[6].height), std::pair(320u, 240u));
    EXPECT_EQ(std::pair(frames[7].width, frames[7].height), std::pair(640u, 360u));
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
    for (uint32_t i = 0; i < units.size(); ++i) {
        seen.push_back(feed(decoder, units[i], i, i == 0).picture);
        ASSERT_NE(seen.back(), nullptr);
        const Picture& p = *seen.back();
        EXPECT_EQ(p.layout, PixelLayout::yuv420p);
        EXPECT_EQ(p.width, 320u);
        expect_bars(p);
        EXPECT_NEAR(p.planes[1][60 * p.strides[1] + 80], 128, 4);
        EXPECT_NEAR(p.planes[2][60 * p.strides[2] + 80], 128, 4);
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
    EXPECT_EQ(feed(decoder, {0, 0, 0, 1, 0x65}, 1, true).picture, nullptr);
    decoder.shutdown();
    EXPECT_FALSE(log.contains("LibavDecoder: shutdown"));
}

TEST(LibavDecoder, ThreeFailingInputsAskForAnIdrFrame) {
    const auto units = make_stream(VideoCodec::H264, 320, 240, 1);
    LogCapture log;
    LibavDecoder decoder(software());
    ASSERT_TRUE(decoder.initialize(VideoCodec::H264, 320, 240));
    const AccessUnit garbage(100, 0xAB);
    // Without a callback the count just grows; a picture clears it.
    for (uint32_t i = 0; i < 5; ++i) feed(decoder, garbage, i, false);
    EXPECT_EQ(decoder.consecutive_errors(), 5u);
    EXPECT_FALSE(log.contains("requesting IDR"));
    ASSERT_NE(feed(decoder, units[0], 5, true).picture, nullptr);
    EXPECT_EQ(decoder.consecutive_errors(), 0u);

    int requests = 0;
    decoder.set_on_request_idr([&] { ++requests; });
    for (int i = 1; i <= 7; ++i) {
        EXPECT_EQ(feed(decoder, garbage, 5 + i, false).picture, nullptr);
        EXPECT_EQ(requests, i / 3) << "after input " << i;
    }
    EXPECT_EQ(log.count("LibavDecoder: 3 consecutive errors, requesting IDR"), 2u);
    EXPECT_EQ(decoder.consecutive_errors(), 1u);
}

TEST(LibavDecoder, EmptyAccessUnitFailsWithoutEndingTheStream) {
    // An empty packet is libavcodec's end-of-stream marker.
    const auto units = make_stream(VideoCodec::H264, 320, 240, 2);
    LibavDecoder decoder(software());
    ASSERT_TRUE(decoder.initialize(VideoCodec::H264, 320, 240));
    ASSERT_NE(feed(decoder, units[0], 0, true).picture, nullptr);
    EXPECT_EQ(decoder.decode(units[1].data(), 0, 1, false).picture, nullptr);
    EXPECT_EQ(decoder.decode(nullptr, 10, 2, false).picture, nullptr);
    EXPECT_EQ(decoder.consecutive_errors(), 2u);
    EXPECT_NE(feed(decoder, units[1], 3, false).picture, nullptr);
}

TEST(LibavDecoder, StallRequestsFollowTheSpacedSchedule) {
    LogCapture log;
    ManualClock clock;
    int requests = 0;
    LibavDecoder silent(software(&clock));  // no callback: the stall is still logged
    LibavDecoder decoder(software(&clock));
    ASSERT_TRUE(silent.initialize(VideoCodec::HEVC, 320, 240));
    ASSERT_TRUE(decoder.initialize(VideoCodec::HEVC, 320, 240));
    decoder.set_on_request_idr([&] { ++requests; });
    // NAL types the decoder ignores: accepted, no picture, as when a stream
    // is joined after its IDR picture.
    const AccessUnit unit = {0, 0, 0, 1, 0x65, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    for (uint32_t i = 0; i < 60; ++i) feed(silent, unit, i, false);
    EXPECT_EQ(log.count("consecutive frames with no output, requesting IDR"), 1u);

    auto run_to = [&](uint32_t until) {
        while (decoder.frames_without_output() < until) {
            const uint32_t before = decoder.frames_without_output();
            ASSERT_EQ(feed(decoder, unit, before, false).picture, nullptr);
            ASSERT_EQ(decoder.frames_without_output(), before + 1) << "input was not accepted";
        }
    };
    run_to(59);
    EXPECT_EQ(requests, 0);
    run_to(60);
    EXPECT_EQ(requests, 1);
    EXPECT_EQ(log.count("LibavDecoder: 60 consecutive frames with no output, requesting IDR"), 2u);
    // 300 falls within two seconds of the first request: skipped.
    clock.now_us += 1'999'999;
    run_to(599);
    EXPECT_EQ(requests, 1);
    clock.now_us += 1;
    run_to(600);
    EXPECT_EQ(requests, 2);
    EXPECT_TRUE(log.contains("LibavDecoder: still no output after 600 frames, requesting IDR again"));
    clock.now_us += 10'000'000;
    run_to(899);
    EXPECT_EQ(requests, 2);
    run_to(900);
    EXPECT_EQ(requests, 3);
    // Only a picture resets the count.
    const auto units = make_stream(VideoCodec::HEVC, 320, 240, 1);
    ASSERT_NE(feed(decoder, units[0], 1000, true).picture, nullptr);
    EXPECT_EQ(decoder.frames_without_output(), 0u);
}

TEST(LibavDecoder, LifecycleOutsideInitializeAndShutdown) {
    const auto units = make_stream(VideoCodec::H264, 320, 240, 3);
    LogCapture log;
    LibavDecoder decoder(software());
    const DecodedFrame f = feed(decoder, units[0], 5, true);
    EXPECT_EQ(f.picture, nullptr);
    EXPECT_EQ(f.frame_id, 5u);
    EXPECT_TRUE(f.keyframe);
    EXPECT_EQ(f.decoded_at_us, 0u);
    EXPECT_TRUE(log.contains("LibavDecoder: not initialized"));

    // Initializing again shuts down first and counts afresh.
    ASSERT_TRUE(decoder.initialize(VideoCodec::H264, 320, 240));
    for (uint32_t i = 0; i < units.size(); ++i) feed(decoder, units[i], i, i == 0);
    ASSERT_TRUE(decoder.initialize(VideoCodec::H264, 320, 240));
    EXPECT_TRUE(log.contains("LibavDecoder: shutdown (decoded 3 frames)"));
    EXPECT_EQ(decoder.decoded_frames(), 0u);
    EXPECT_NE(feed(decoder, units[0], 0, true).picture, nullptr);
    decoder.shutdown();
    EXPECT_EQ(feed(decoder, units[0], 6, true).picture, nullptr);
}

TEST(LibavDecoder, DecodesTheCommittedReferenceStreamAsRecorded) {
    // The same table checks the Windows decoder: H.264 decoding is exact.
    const auto units = test::load_reference_stream();
    ASSERT_EQ(units.size(), test::k_reference_frames);
    LibavDecoder decoder(software());
    ASSERT_TRUE(decoder.initialize(VideoCodec::H264, 320, 240));
    test::expect_reference_pictures(test::decode_reference_stream(decoder, units));
}

}  // namespace
}  // namespace nb
