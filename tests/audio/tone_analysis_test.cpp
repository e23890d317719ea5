#include "tests/audio/tone_analysis.h"

#include <gtest/gtest.h>

#include <vector>

namespace nb::test {
namespace {

TEST(ToneAnalysis, MeasuresSynthesisedPitch) {
    for (double hz : {50.0, 437.3, 440.0, 1000.0, 5001.5}) {
        std::vector<float> samples(48000 * 2);
        double phase = 0.3;
        generate_tone(samples, 2, hz, 48000.0, 0.4, phase);
        EXPECT_NEAR(measure_frequency_hz(samples, 2, 0, 48000.0), hz, 0.05) << hz;
        EXPECT_NEAR(measure_frequency_hz(samples, 2, 1, 48000.0), hz, 0.05) << hz;
    }
    const std::vector<float> flat(1000, 0.0f);
    EXPECT_EQ(measure_frequency_hz(flat, 2, 0, 48000.0), 0.0);
    EXPECT_EQ(measure_frequency_hz(flat, 2, 2, 48000.0), 0.0);
}

TEST(ToneAnalysis, FindsInsertedSilenceButNotZeroCrossings) {
    std::vector<float> samples(4800 * 2);
    double phase = 0.0;  // starts exactly on a zero sample
    generate_tone(samples, 2, 440.0, 48000.0, 0.5, phase);
    EXPECT_TRUE(find_silent_runs(samples, 2, 4).empty());

    std::fill(samples.begin() + 1000 * 2, samples.begin() + 1460 * 2, 0.0f);
    std::fill(samples.end() - 10 * 2, samples.end(), 0.0f);
    const auto runs = find_silent_runs(samples, 2, 4);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].first_frame, 1000u);
    EXPECT_EQ(runs[0].frames, 460u);
    EXPECT_EQ(runs[1].first_frame, 4790u);
    EXPECT_EQ(runs[1].frames, 10u);
}

}  // namespace
}  // namespace nb::test
