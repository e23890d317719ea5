// The player on SDL's disk audio driver: what the device is fed lands in a
// file, so the test hears exactly what a speaker would have played.
#include "audio/sdl_audio_player.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "tests/audio/player_cases.h"
#include "tests/audio/tone_analysis.h"
#include "tests/support/eventually.h"
#include "tests/support/log_capture.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_folder.h"

namespace nb {
namespace {

// Each case plays into a capture file of its own on SDL's disk driver.
class SdlAudioPlayerTest : public ::testing::Test {
protected:
    SdlAudioPlayerTest() {
        env_.set("SDL_AUDIODRIVER", "disk");
        env_.set("SDL_DISKAUDIOFILE", capture_.string());
    }

    test::TempFolder dir_{"nb-audio"};
    const std::filesystem::path capture_ = dir_ / "device.raw";
    test::ScopedEnv env_;
};

TEST_F(SdlAudioPlayerTest, LifecycleCallsAndTheirLogLines) {
    test::check_lifecycle_calls_and_their_log_lines<SdlAudioPlayer>("SdlAudioPlayer",
                                                                    "exclusive mode is not available on Linux");
    // Destruction hands SDL's audio subsystem back.
    EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
}

TEST_F(SdlAudioPlayerTest, BadFormatsAndEarlyPushesAreRefused) {
    test::check_bad_formats_and_early_pushes_are_refused<SdlAudioPlayer>("SdlAudioPlayer");
}

TEST_F(SdlAudioPlayerTest, OverrunsKeepTheNewestAudioAndLogSparsely) {
    test::check_overruns_keep_the_newest_audio_and_log_sparsely<SdlAudioPlayer>("SdlAudioPlayer");
}

// The shell's video stays up throughout: the player hands back only the
// audio subsystem it took.
TEST_F(SdlAudioPlayerTest, ReinitialisingReplacesTheDeviceWithoutLeakingTheSubsystem) {
    env_.set("SDL_VIDEODRIVER", "dummy");
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS), 0) << SDL_GetError();
    SdlAudioPlayer player;
    ASSERT_TRUE(player.initialize(48000, 2));
    const std::vector<float> queued(2000, 0.5f);
    player.push_samples(queued.data(), 1000);
    ASSERT_TRUE(player.start());
    ASSERT_TRUE(player.initialize(48000, 2));
    EXPECT_EQ(player.ring_fill_samples(), 0u);  // audio from before never plays on the new device
    EXPECT_TRUE(player.start());
    player.shutdown();
    player.shutdown();
    EXPECT_FALSE(player.is_initialized());
    EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
    EXPECT_NE(SDL_WasInit(SDL_INIT_VIDEO), 0u);
    // Pushing after shutdown is ignored rather than touching a closed device.
    const float frame[2] = {0.5f, 0.5f};
    player.push_samples(frame, 1);
    SDL_Quit();
}

TEST_F(SdlAudioPlayerTest, MissingAudioDriverFailsInitialiseWithACause) {
    env_.set("SDL_AUDIODRIVER", "no-such-driver");
    test::LogCapture log;
    SdlAudioPlayer player;
    EXPECT_FALSE(player.initialize(48000, 2));
    EXPECT_EQ(log.count_containing("SdlAudioPlayer: failed to get audio device"), 1u);
    EXPECT_FALSE(player.is_initialized());
    EXPECT_FALSE(player.start());
    const float frame[2] = {0.5f, 0.5f};
    player.push_samples(frame, 1);  // ignored
    EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
}

// A second of 440 Hz, pushed in 20 ms packets the way the network path does,
// must reach the device bit for bit: in order, nothing dropped, and silence
// only where the player counted an underrun.
TEST_F(SdlAudioPlayerTest, PlaysAToneWithoutLossOrUncountedGaps) {
    constexpr uint32_t channels = 2;
    constexpr size_t packet_frames = 960;
    constexpr int packets = 50;

    std::vector<float> sent;
    uint32_t underruns_before_audio = 0;
    uint32_t underruns_total = 0;
    {
        SdlAudioPlayer player;
        ASSERT_TRUE(player.initialize(48000, channels));
        ASSERT_TRUE(player.start());

        double phase = 0.25;  // never exactly zero, so every sent frame is audible
        std::vector<float> packet(packet_frames * channels);
        const size_t room_needed = player.ring_capacity_samples() - packet.size();
        for (int i = 0; i < packets; ++i) {
            // Keep the ring topped up without ever overflowing it; only the
            // device thread lowers the fill, so the check cannot go stale.
            while (player.ring_fill_samples() > room_needed) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            test::generate_tone(packet, channels, 440.0, 48000.0, 0.5, phase);
            if (i == 0) underruns_before_audio = player.underruns();
            player.push_samples(packet.data(), packet_frames);
            sent.insert(sent.end(), packet.begin(), packet.end());
        }
        ASSERT_TRUE(test::eventually([&] { return player.ring_fill_samples() == 0; }, std::chrono::seconds(20)))
            << "device stopped consuming";
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(player.overruns(), 0u);
        player.shutdown();  // closes the device, flushing the capture file
        underruns_total = player.underruns();
    }

    // Everything the device was given, as interleaved floats.
    const std::string bytes = test::read_text_file(capture_);
    std::vector<float> device(bytes.size() / sizeof(float));
    std::memcpy(device.data(), bytes.data(), device.size() * sizeof(float));
    ASSERT_GE(device.size(), sent.size());

    // Audible frames, in order, must equal what was pushed.
    std::vector<float> audible;
    size_t first_audible = SIZE_MAX;
    size_t last_audible = 0;
    for (size_t f = 0; f < device.size() / channels; ++f) {
        if (device[f * channels] == 0.0f && device[f * channels + 1] == 0.0f) continue;
        first_audible = std::min(first_audible, f);
        last_audible = f;
        audible.push_back(device[f * channels]);
        audible.push_back(device[f * channels + 1]);
    }
    ASSERT_EQ(audible.size(), sent.size());
    EXPECT_TRUE(audible == sent) << "samples reordered or altered on the way to the device";

    // Silence inside the tone is allowed only where an underrun was counted.
    const std::span<const float> tone(device.data() + first_audible * channels,
                                      (last_audible - first_audible + 1) * channels);
    const auto gaps = test::find_silent_runs(tone, channels, 1);
    EXPECT_LE(gaps.size(), underruns_total - underruns_before_audio);

    EXPECT_NEAR(test::measure_frequency_hz(tone, channels, 0, 48000.0), 440.0, 2.0);
    EXPECT_NEAR(test::measure_frequency_hz(tone, channels, 1, 48000.0), 440.0, 2.0);
}

// Every driver asks the callback for whole buffers of the size it was
// granted; a driver that rounds the size behind SDL's back would show here
// as a partial buffer (and as a heap overflow under the asan preset).
class SdlAudioDriverTest : public SdlAudioPlayerTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(SdlAudioDriverTest, CallbackFillsExactlyTheGrantedBuffer) {
    env_.set("SDL_AUDIODRIVER", GetParam());
    SdlAudioPlayer player;
    ASSERT_TRUE(player.initialize(48000, 2));
    ASSERT_TRUE(player.start());
    const std::vector<float> pcm(960 * 2, 0.25f);
    ASSERT_TRUE(test::eventually([&] {
        player.push_samples(pcm.data(), 960);
        return player.device_frames() >= 4u * player.buffer_frames();
    })) << "the device never played";
    player.shutdown();
    EXPECT_EQ(player.buffer_frames(), SdlAudioPlayer::k_requested_buffer_frames);
    EXPECT_EQ(player.device_frames() % player.buffer_frames(), 0u) << player.device_frames();
}

INSTANTIATE_TEST_SUITE_P(Drivers, SdlAudioDriverTest, ::testing::Values("disk", "dummy"));

}  // namespace
}  // namespace nb
