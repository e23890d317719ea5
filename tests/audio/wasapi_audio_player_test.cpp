// The player on wine's default endpoint (a null ALSA device on the test
// machines): the device really consumes what the ring holds.
#include "audio/wasapi_audio_player.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

#include "tests/support/log_capture.h"

namespace nb {
namespace {

constexpr uint32_t k_player_rate = 48000;

// 10 ms of a 440 Hz stereo tone starting at frame `first`.
std::vector<float> tone_chunk(uint64_t first, size_t frames) {
    std::vector<float> samples(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        const float value = 0.25f * std::sin(2.0 * 3.14159265358979 * 440.0 * static_cast<double>(first + i) / k_player_rate);
        samples[i * 2] = value;
        samples[i * 2 + 1] = value;
    }
    return samples;
}

TEST(WasapiAudioPlayer, LifecycleCallsAndTheirLogLines) {
    test::LogCapture log;
    {
        WasapiAudioPlayer player;
        EXPECT_FALSE(player.start());
        player.stop();  // never started: silent
        EXPECT_TRUE(log.texts().empty());

        ASSERT_TRUE(player.initialize(k_player_rate, 2));
        EXPECT_TRUE(player.is_initialized());
        EXPECT_GT(player.buffer_frames(), 0u);
        const std::string mode = player.exclusive() ? "EXCLUSIVE" : "SHARED";
        EXPECT_EQ(log.count_containing("WasapiPlayer: initialized " + mode + " mode (48000Hz, 2ch)"), 1u);
        if (!player.exclusive()) {
            EXPECT_EQ(log.count_containing("WasapiPlayer: exclusive mode unavailable, trying shared"), 1u);
            EXPECT_EQ(log.count_containing("WasapiPlayer: shared buffer=" + std::to_string(player.buffer_frames()) + " frames"),
                      1u);
        }

        player.stop();  // initialised but not started: still silent
        EXPECT_EQ(log.count_containing("stopped"), 0u);
        EXPECT_TRUE(player.start());
        EXPECT_TRUE(player.start());
        EXPECT_EQ(log.count_containing("WasapiPlayer: playback started"), 1u);
        player.stop();
        player.stop();
        EXPECT_EQ(log.count_containing("WasapiPlayer: stopped (underruns="), 1u);

        // Playback resumes on the same client after a stop.
        EXPECT_TRUE(player.start());
        EXPECT_EQ(log.count_containing("WasapiPlayer: playback started"), 2u);
        // Re-initialising while playing stops the old stream first.
        ASSERT_TRUE(player.initialize(k_player_rate, 2));
        EXPECT_FALSE(player.is_running());
        EXPECT_EQ(log.count_containing("WasapiPlayer: stopped (underruns="), 2u);
        EXPECT_TRUE(player.start());
    }
    // Destruction stops first.
    EXPECT_EQ(log.count_containing("WasapiPlayer: stopped (underruns="), 3u);
}

TEST(WasapiAudioPlayer, BadFormatsAndEarlyPushesAreRefused) {
    test::LogCapture log;
    WasapiAudioPlayer player;
    const float frame[2] = {0.5f, 0.5f};
    player.push_samples(frame, 1);  // before initialize: ignored
    EXPECT_EQ(player.ring_fill_samples(), 0u);
    EXPECT_FALSE(player.initialize(k_player_rate, 0));
    EXPECT_FALSE(player.initialize(0, 2));
    EXPECT_EQ(log.count_containing("WasapiPlayer: unsupported format (48000Hz, 0ch)"), 1u);
    EXPECT_FALSE(player.start());
}

TEST(WasapiAudioPlayer, OverrunsKeepTheNewestAudioAndLogSparsely) {
    test::LogCapture log;
    WasapiAudioPlayer player;
    ASSERT_TRUE(player.initialize(k_player_rate, 2));  // not started: nothing drains the ring
    const std::vector<float> full(WasapiAudioPlayer::k_ring_samples, 0.25f);
    player.push_samples(full.data(), full.size() / 2);
    const float frame[2] = {0.5f, 0.5f};
    for (int i = 0; i < 250; ++i) player.push_samples(frame, 1);
    EXPECT_EQ(player.overruns(), 250u);
    EXPECT_EQ(player.ring_fill_samples(), WasapiAudioPlayer::k_ring_samples);
    const auto lines = log.matching("ring overrun");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "WasapiPlayer: ring overrun — dropped oldest samples (total=1)");
    EXPECT_EQ(lines[2], "WasapiPlayer: ring overrun — dropped oldest samples (total=200)");
    // A push larger than the ring keeps only its newest ring-full.
    const std::vector<float> huge(WasapiAudioPlayer::k_ring_samples * 3, 0.125f);
    player.push_samples(huge.data(), huge.size() / 2);
    EXPECT_EQ(player.ring_fill_samples(), WasapiAudioPlayer::k_ring_samples);
}

TEST(WasapiAudioPlayer, PlaysAToneForASecondOnTheDefaultDevice) {
    test::LogCapture log;
    WasapiAudioPlayer player;
    ASSERT_TRUE(player.initialize(k_player_rate, 2));
    ASSERT_TRUE(player.start());
    // The network side delivers 10 ms packets; the device pulls at its own pace.
    constexpr size_t k_chunk = 480;
    uint64_t pushed = 0;
    const auto begin = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; ++i) {
        const auto samples = tone_chunk(pushed, k_chunk);
        player.push_samples(samples.data(), k_chunk);
        pushed += k_chunk;
        std::this_thread::sleep_until(begin + std::chrono::milliseconds(10 * (i + 1)));
    }
    player.stop();
    const uint64_t consumed = player.device_frames();
    const uint32_t underruns = player.underruns();
    std::printf("WASAPI: %s buffer %u frames; %llu frames pushed, %llu consumed, %u underruns, %u overruns\n",
                player.exclusive() ? "exclusive" : "shared", player.buffer_frames(),
                static_cast<unsigned long long>(pushed), static_cast<unsigned long long>(consumed), underruns,
                player.overruns());
    // More than the ring could ever hold went to the device: it really played.
    EXPECT_GT(consumed, WasapiAudioPlayer::k_ring_samples / 2);
    EXPECT_EQ(log.count_containing("WasapiPlayer: stopped (underruns=" + std::to_string(underruns) + ")"), 1u);
}

}  // namespace
}  // namespace nb
