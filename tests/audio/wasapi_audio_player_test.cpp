// The player on wine's default endpoint (a null ALSA device on the test
// machines): the device really consumes what the ring holds.
#include "audio/wasapi_audio_player.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "tests/audio/player_cases.h"
#include "tests/audio/tone_analysis.h"
#include "tests/support/log_capture.h"

namespace nb {
namespace {

constexpr uint32_t k_player_rate = 48000;

TEST(WasapiAudioPlayer, LifecycleCallsAndTheirLogLines) {
    test::check_lifecycle_calls_and_their_log_lines<WasapiAudioPlayer>("WasapiPlayer",
                                                                       "exclusive mode unavailable, trying shared");
}

TEST(WasapiAudioPlayer, BadFormatsAndEarlyPushesAreRefused) {
    test::check_bad_formats_and_early_pushes_are_refused<WasapiAudioPlayer>("WasapiPlayer");
}

TEST(WasapiAudioPlayer, OverrunsKeepTheNewestAudioAndLogSparsely) {
    test::check_overruns_keep_the_newest_audio_and_log_sparsely<WasapiAudioPlayer>("WasapiPlayer");
}

TEST(WasapiAudioPlayer, PlaysAToneForASecondOnTheDefaultDevice) {
    test::LogCapture log;
    WasapiAudioPlayer player;
    ASSERT_TRUE(player.initialize(k_player_rate, 2));
    ASSERT_TRUE(player.start());
    // The network side delivers 10 ms packets; the device pulls at its own pace.
    constexpr size_t k_chunk = 480;
    uint64_t pushed = 0;
    double phase = 0.0;
    std::vector<float> samples(k_chunk * 2);
    const auto begin = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; ++i) {
        test::generate_tone(samples, 2, 440.0, k_player_rate, 0.25, phase);
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
