// The overlay's graph gets the last two seconds of presented pictures,
// oldest first, however many the ring has seen.
#include "video/frame_time_history.h"

#include <gtest/gtest.h>

#include <vector>

namespace nb {
namespace {

struct HistoryCase {
    const char* name;
    int samples;          // one every `spacing_us`, the i-th with decode i and total 10 * i
    int64_t spacing_us;
    int64_t read_after_us;  // from the last sample
    int first_kept;       // index of the oldest sample returned; samples when none
};

TEST(FrameTimeHistory, ReturnsTheLastTwoSecondsOldestFirst) {
    const std::vector<HistoryCase> cases = {
        {"empty", 0, 16'667, 0, 0},
        {"one second at 60 fps", 60, 16'667, 0, 0},
        {"five seconds at 60 fps keeps two", 300, 16'667, 0, 180},
        {"read late: the window moved on", 60, 16'667, 1'500'000, 30},
        {"read much later: nothing", 60, 16'667, 3'000'000, 60},
        {"more than the ring holds within two seconds", 500, 2'000, 0, 500 - 240},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FrameTimeHistory history;
        int64_t at = 5'000'000;
        for (int i = 0; i < c.samples; ++i) {
            at += c.spacing_us;
            history.add(at, static_cast<float>(i), static_cast<float>(10 * i));
        }
        std::vector<float> decode{99.0f};
        std::vector<float> total;
        history.recent(at + c.read_after_us, decode, total);
        ASSERT_EQ(decode.size(), static_cast<size_t>(c.samples - c.first_kept));
        ASSERT_EQ(total.size(), decode.size());
        for (size_t k = 0; k < decode.size(); ++k) {
            EXPECT_EQ(decode[k], static_cast<float>(c.first_kept + static_cast<int>(k)));
            EXPECT_EQ(total[k], 10.0f * decode[k]);
        }
    }
}

}  // namespace
}  // namespace nb
