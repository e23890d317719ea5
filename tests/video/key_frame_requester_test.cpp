// When frames reach the decoder and when a key frame is asked for, on a
// clock the test moves: gaps hold frames back until a key frame, and
// requests keep their spacing whatever the losses.
#include "video/key_frame_requester.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/video/log_capture.h"

namespace nb {
namespace {

// One step of a stream: a frame to judge (after moving the clock), or a
// decoder's own request when `decoder_asks` is set.
struct Step {
    uint32_t frame_id = 0;
    bool key = false;
    int64_t advance_us = 0;
    bool decoder_asks = false;
};

struct RequesterCase {
    const char* name;
    float rtt_ms;
    std::vector<Step> steps;
    std::vector<uint32_t> admitted;
    int requests;
};

// The name alone: printed as raw bytes, the case would put its pointers
// into the test list, which then differs between listing and running.
void PrintTo(const RequesterCase& c, std::ostream* out) { *out << c.name; }

Step key(uint32_t id, int64_t advance_us = 0) { return {id, true, advance_us}; }
Step frame(uint32_t id, int64_t advance_us = 0) { return {id, false, advance_us}; }
Step decoder_asks(int64_t advance_us = 0) { return {0, false, advance_us, true}; }

constexpr int64_t k_ms = 1000;

const RequesterCase k_cases[] = {
    {"LosslessStreamAsksNothing", 0, {key(1), frame(2), frame(3), frame(4)}, {1, 2, 3, 4}, 0},
    {"GapHoldsFramesBackUntilAKeyFrame",
     0,
     {key(1), frame(2), frame(4), frame(5), key(6), frame(7)},
     {1, 2, 6, 7},
     1},
    {"MoreGapsWithinTheSpacingAskNothingMore",
     0,
     {key(1), frame(3), frame(5, 10 * k_ms), frame(8, 10 * k_ms), key(9), frame(10)},
     {1, 9, 10},
     1},
    {"AGapAfterTheSpacingAsksAgainForTheKeyFrameMayBeLost",
     0,
     {key(1), frame(3), frame(4, 40 * k_ms), frame(6, 70 * k_ms), key(7)},
     {1, 7},
     2},
    {"ARequestOwedIsSentOnceTheSpacingAllows",
     0,
     {key(1), frame(3), frame(5, 50 * k_ms), frame(6, 60 * k_ms), frame(7, 10 * k_ms)},
     {1},
     2},
    {"ALongRoundTripStretchesTheSpacing",
     300,
     {key(1), frame(3), frame(5, 200 * k_ms), frame(6, 99 * k_ms), frame(7, 1 * k_ms)},
     {1},
     2},
    {"NoKeyFrameForASecondAsksAgain",
     0,
     {key(1), frame(3), frame(4, 500 * k_ms), frame(5, 499 * k_ms), frame(6, 1 * k_ms)},
     {1},
     2},
    {"FrameIdGoingBackwardsHoldsUntilAKeyFrame", 0, {key(10), frame(11), frame(5), frame(6), key(7)}, {10, 11, 7}, 1},
    {"AKeyFrameAfterAGapNeedsNoRequest", 0, {key(1), frame(2), key(5), frame(6)}, {1, 2, 5, 6}, 0},
    {"DecoderRequestsShareTheSpacingButHoldNothingBack",
     0,
     {key(1), decoder_asks(), frame(2, 50 * k_ms), decoder_asks(), frame(3, 60 * k_ms)},
     {1, 2, 3},
     2},
};

class KeyFrameRequesterCases : public ::testing::TestWithParam<RequesterCase> {};

TEST_P(KeyFrameRequesterCases, AdmitsAndAsksAsTheStreamRequires) {
    const RequesterCase& c = GetParam();
    int64_t clock_us = 5'000'000;
    int sent = 0;
    KeyFrameRequester requester({[&] { ++sent; }, [&] { return c.rtt_ms; }, [&] { return clock_us; }});
    std::vector<uint32_t> admitted;
    for (const Step& step : c.steps) {
        clock_us += step.advance_us;
        if (step.decoder_asks) {
            requester.request();
        } else if (requester.admit(step.frame_id, step.key)) {
            admitted.push_back(step.frame_id);
        }
    }
    EXPECT_EQ(admitted, c.admitted);
    EXPECT_EQ(sent, c.requests);
    EXPECT_EQ(requester.requests_sent(), static_cast<uint64_t>(c.requests));
}

INSTANTIATE_TEST_SUITE_P(Streams, KeyFrameRequesterCases, ::testing::ValuesIn(k_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(KeyFrameRequester, SaysWhichFramesNeverArrived) {
    test::LogCapture log;
    KeyFrameRequester requester({});
    requester.admit(1, true);
    requester.admit(4, false);
    requester.admit(2, false);
    EXPECT_TRUE(log.contains("KeyFrameRequester: 2 frame(s) before frame 4 never arrived, asking for a key frame"));
    EXPECT_TRUE(log.contains("KeyFrameRequester: frame 2 follows frame 4, asking for a key frame"));
    EXPECT_TRUE(requester.awaiting_key_frame());
    EXPECT_EQ(requester.frames_held_back(), 2u);
}

}  // namespace
}  // namespace nb
