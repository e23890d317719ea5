// The remote PC's sound end to end: the agent's Opus tone arrives, decodes
// and plays through SDL's disk driver, whose file the test reads back.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <thread>

#include "tests/audio/tone_analysis.h"
#include "tests/e2e/stream_session.h"

namespace nb {
namespace {

using namespace std::chrono_literals;
using test::StreamSession;

constexpr uint32_t k_channels = 2;
constexpr double k_rate = 48000.0;

std::vector<float> read_samples(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
}

// The longest stretch of frames without a silent run, where a pitch can be
// measured without the phase jumps that padding causes.
std::span<const float> longest_unbroken(const std::vector<float>& samples) {
    const auto runs = test::find_silent_runs(samples, k_channels, 32);
    size_t best_start = 0;
    size_t best_len = 0;
    size_t start = 0;
    const size_t frames = samples.size() / k_channels;
    auto consider = [&](size_t end) {
        if (end > start && end - start > best_len) {
            best_start = start;
            best_len = end - start;
        }
    };
    for (const auto& run : runs) {
        consider(run.first_frame);
        start = run.first_frame + run.frames;
    }
    consider(frames);
    return std::span<const float>(samples).subspan(best_start * k_channels, best_len * k_channels);
}

TEST(AudioEndToEnd, AgentToneIsHeardAtItsPitch) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X server (run under xvfb-run)";
    StreamSession session("nubora-e2e-audio", {.agent_args = {"--tone", "440"}, .client_env = {}});
    ASSERT_TRUE(session.start()) << session.outputs();
    std::this_thread::sleep_for(4s);
    session.client().signal(SIGINT);
    ASSERT_EQ(session.client().wait_exit(), 0) << session.client().output();

    const auto samples = read_samples(session.audio_path());
    ASSERT_GT(samples.size(), static_cast<size_t>(k_rate * k_channels));  // over a second played
    const auto tone = longest_unbroken(samples);
    ASSERT_GT(tone.size(), static_cast<size_t>(k_rate / 2 * k_channels)) << "no half second without a gap";
    EXPECT_NEAR(test::measure_frequency_hz(tone, k_channels, 0, k_rate), 440.0, 2.0)
        << "unbroken frames: " << tone.size() / k_channels << " of " << samples.size() / k_channels;
    EXPECT_NEAR(test::measure_frequency_hz(tone, k_channels, 1, k_rate), 440.0, 2.0);
    EXPECT_NE(session.client().output().find("Launcher: audio pipeline started"), std::string::npos);
}

TEST(AudioEndToEnd, MissingAudioKeyStillStreamsVideo) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X server (run under xvfb-run)";
    StreamSession session("nubora-e2e-noaudiokey", {.agent_args = {"--omit-key", "audio"}, .client_env = {}});
    ASSERT_TRUE(session.start()) << session.outputs();
    std::this_thread::sleep_for(3s);
    session.client().signal(SIGINT);
    ASSERT_EQ(session.client().wait_exit(), 0) << session.client().output();

    const std::string out = session.client().output();
    EXPECT_NE(out.find("Launcher: invalid audio key size 0 (expected 32)"), std::string::npos) << out;
    EXPECT_NE(out.find("Launcher: audio key is EMPTY — all audio will fail decryption"), std::string::npos);
    const auto frames = session.frame_counts();
    ASSERT_TRUE(frames) << out;
    EXPECT_GT(frames->presented, 10);
}

}  // namespace
}  // namespace nb
