// MfDecoder against the committed H.264 stream, whose pictures libavcodec
// decoded when it was recorded: H.264 decoding is exact, so every decoder
// must give the same samples.
#include "video/mf_decoder.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/video/log_capture.h"
#include "tests/video/reference_stream.h"

namespace nb {
namespace {

using test::AccessUnit;
using test::LogCapture;

class MfDecoderTest : public ::testing::TestWithParam<bool> {
protected:
    static void SetUpTestSuite() { units_ = test::load_reference_stream(); }
    void SetUp() override { ASSERT_EQ(units_.size(), test::k_reference_frames) << "reference stream missing"; }

    MfDecoder::Options options() const { return {.try_hardware = GetParam(), .clock = {}}; }
    static DecodedFrame feed(MfDecoder& d, const AccessUnit& unit, uint32_t id, bool key = false) {
        return d.decode(unit.data(), unit.size(), id, key);
    }

    static inline std::vector<AccessUnit> units_;
};

TEST_P(MfDecoderTest, DecodesTheReferenceStreamExactly) {
    LogCapture log;
    MfDecoder decoder(options());
    ASSERT_TRUE(decoder.initialize(VideoCodec::H264, 320, 240));
    test::expect_reference_pictures(test::decode_reference_stream(decoder, units_));
    EXPECT_EQ(decoder.counters().decoded_frames, test::k_reference_frames);
    decoder.shutdown();
    decoder.shutdown();
    EXPECT_EQ(log.count("MfDecoder: shutdown (decoded 30 frames)"), 1u);
}

TEST_P(MfDecoderTest, PoolSlotsComeBackEveryFourthPictureUntouched) {
    MfDecoder decoder(options());
    ASSERT_TRUE(decoder.initialize(VideoCodec::H264, 320, 240));
    std::vector<const Picture*> slots;
    std::vector<test::PictureDigest> digests;
    for (uint32_t i = 0; i < units_.size() && slots.size() < 12; ++i) {
        const DecodedFrame f = feed(decoder, units_[i], i, i == 0);
        EXPECT_EQ(f.frame_id, i);
        EXPECT_EQ(f.decoded_at_us > 0, f.picture != nullptr);
        if (!f.picture) continue;
        slots.push_back(f.picture);
        digests.push_back(test::digest(*f.picture));
        // The three pictures before this one are still as they came out.
        const size_t n = slots.size() - 1;
        for (size_t back = 1; back < 4 && back <= n; ++back) {
            EXPECT_EQ(test::digest(*slots[n - back]), digests[n - back]) << n << " - " << back;
        }
    }
    ASSERT_EQ(slots.size(), 12u);
    for (size_t i = 4; i < slots.size(); ++i) EXPECT_EQ(slots[i], slots[i - 4]);
    EXPECT_NE(slots[0], slots[1]);
}

TEST_P(MfDecoderTest, GarbageAndEmptyInputsNeitherCrashNorEndTheStream) {
    LogCapture log;
    MfDecoder decoder(options());
    ASSERT_TRUE(decoder.initialize(VideoCodec::H264, 320, 240));
    int requests = 0;
    decoder.set_on_request_idr([&] { ++requests; });
    // Bytes that are no H.264 at all, and a slice cut off half way.
    const AccessUnit noise(3000, 0xAB);
    const AccessUnit truncated(units_[1].begin(), units_[1].begin() + static_cast<ptrdiff_t>(units_[1].size() / 2));
    for (const AccessUnit* bad : {&noise, &truncated, &noise}) {
        const DecodedFrame f = feed(decoder, *bad, 1);
        EXPECT_EQ(f.frame_id, 1u);
        EXPECT_EQ(f.width, 320u);
    }
    // Nothing at all is refused before it reaches the transform.
    for (int i = 0; i < 2; ++i) EXPECT_EQ(decoder.decode(units_[1].data(), 0, 2, false).picture, nullptr);
    EXPECT_EQ(decoder.decode(nullptr, 10, 3, false).picture, nullptr);
    EXPECT_GE(requests, 1);
    EXPECT_EQ(log.count("MfDecoder: ProcessInput failed (hr=0x80070057)"), 3u);
    // The stream goes on from its next key frame.
    const test::ReferenceRun run = test::decode_reference_stream(decoder, units_);
    EXPECT_FALSE(run.digests.empty());
    EXPECT_EQ(run.wrong_size, 0u);
}

INSTANTIATE_TEST_SUITE_P(DeviceManager, MfDecoderTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "HardwareFirst" : "Software"; });

TEST(MfDecoder, RefusesCodecsItCannotDecode) {
    struct Case {
        const char* name;
        VideoCodec codec;
        bool supported;
        const char* cause;
    };
    // Machines with an HEVC decoder (most Windows 10 installations with
    // the codec extension) take HEVC; the others must fail cleanly.
    const Case cases[] = {
        {"AV1", VideoCodec::AV1, false, "MfDecoder: unsupported codec 2"},
        {"out of range", static_cast<VideoCodec>(7), false, "MfDecoder: unsupported codec 7"},
        {"HEVC", VideoCodec::HEVC, true, "MfDecoder: no MFT decoder found for codec 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        MfDecoder decoder;
        EXPECT_EQ(decoder.supports_codec(c.codec), c.supported);
        if (decoder.initialize(c.codec, 320, 240)) {
            ASSERT_EQ(c.codec, VideoCodec::HEVC);
            continue;
        }
        EXPECT_TRUE(log.contains(c.cause));
        EXPECT_TRUE(log.contains("MfDecoder: failed to create MFT decoder"));
        const DecodedFrame f = decoder.decode(reinterpret_cast<const uint8_t*>("abc"), 3, 9, false);
        EXPECT_EQ(f.picture, nullptr);
        EXPECT_EQ(f.frame_id, 9u);
        decoder.shutdown();
        EXPECT_FALSE(log.contains("MfDecoder: shutdown"));
    }
}

TEST(MfDecoder, DecodeBeforeInitializeOnlyWarns) {
    LogCapture log;
    MfDecoder decoder;
    const DecodedFrame f = decoder.decode(reinterpret_cast<const uint8_t*>("abc"), 3, 5, true);
    EXPECT_EQ(f.picture, nullptr);
    EXPECT_EQ(f.frame_id, 5u);
    EXPECT_TRUE(f.keyframe);
    EXPECT_TRUE(log.contains("MfDecoder: not initialized"));
    decoder.shutdown();
    EXPECT_FALSE(log.contains("MfDecoder: shutdown"));
}

}  // namespace
}  // namespace nb
