// What every audio player back end shares, checked on its real device: the
// lifecycle calls and their log lines, refused formats, and overruns that
// keep the newest audio. A back end's suite runs each case as a test of its
// own; `component` starts the back end's log lines.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "tests/support/log_capture.h"

namespace nb::test {

// 100 ms of 48 kHz stereo: what every player's ring holds.
inline constexpr size_t k_player_ring_samples = 9600;

// `shared_mode_line` is how the back end says it fell back to shared output.
template <typename Player>
void check_lifecycle_calls_and_their_log_lines(const std::string& component, const std::string& shared_mode_line) {
    const auto count = [&](LogCapture& log, const std::string& text) {
        return log.count_containing(component + ": " + text);
    };
    LogCapture log;
    {
        Player player;
        EXPECT_FALSE(player.start());
        player.stop();  // never started: silent
        EXPECT_TRUE(log.texts().empty());

        ASSERT_TRUE(player.initialize(48000, 2));
        EXPECT_TRUE(player.is_initialized());
        EXPECT_GT(player.buffer_frames(), 0u);
        const std::string mode = player.exclusive() ? "EXCLUSIVE" : "SHARED";
        EXPECT_EQ(count(log, "initialized " + mode + " mode (48000Hz, 2ch)"), 1u);
        if (!player.exclusive()) {
            EXPECT_EQ(count(log, shared_mode_line), 1u);
            EXPECT_EQ(count(log, "shared buffer=" + std::to_string(player.buffer_frames()) + " frames"), 1u);
        }

        player.stop();  // initialised but not started: still silent
        EXPECT_EQ(log.count_containing("stopped"), 0u);
        EXPECT_TRUE(player.start());
        EXPECT_TRUE(player.start());
        EXPECT_EQ(count(log, "playback started"), 1u);
        player.stop();
        player.stop();
        EXPECT_EQ(count(log, "stopped (underruns="), 1u);

        // Playback resumes on the same device after a stop.
        EXPECT_TRUE(player.start());
        EXPECT_EQ(count(log, "playback started"), 2u);
        // Re-initialising while playing stops the old stream first.
        ASSERT_TRUE(player.initialize(48000, 2));
        EXPECT_FALSE(player.is_running());
        EXPECT_EQ(count(log, "stopped (underruns="), 2u);
        EXPECT_TRUE(player.start());
    }
    // Destruction stops first.
    EXPECT_EQ(count(log, "stopped (underruns="), 3u);
}

template <typename Player>
void check_bad_formats_and_early_pushes_are_refused(const std::string& component) {
    LogCapture log;
    Player player;
    const float frame[2] = {0.5f, 0.5f};
    player.push_samples(frame, 1);  // before initialize: ignored
    EXPECT_EQ(player.ring_fill_samples(), 0u);
    EXPECT_FALSE(player.initialize(48000, 0));
    EXPECT_FALSE(player.initialize(0, 2));
    EXPECT_EQ(log.count_containing(component + ": unsupported format (48000Hz, 0ch)"), 1u);
    EXPECT_FALSE(player.start());
}

// Overruns are logged first and every hundredth, not once each.
template <typename Player>
void check_overruns_keep_the_newest_audio_and_log_sparsely(const std::string& component) {
    LogCapture log;
    Player player;
    ASSERT_TRUE(player.initialize(48000, 2));  // not started: nothing drains the ring
    const std::vector<float> full(k_player_ring_samples, 0.25f);
    player.push_samples(full.data(), full.size() / 2);
    const float frame[2] = {0.5f, 0.5f};
    for (int i = 0; i < 250; ++i) player.push_samples(frame, 1);
    EXPECT_EQ(player.overruns(), 250u);
    EXPECT_EQ(player.ring_fill_samples(), k_player_ring_samples);
    const std::string line = component + ": ring overrun — dropped oldest samples (total=";
    EXPECT_EQ(log.matching("ring overrun"), (std::vector<std::string>{line + "1)", line + "100)", line + "200)"}));
    // A push larger than the ring keeps only its newest ring-full.
    const std::vector<float> huge(k_player_ring_samples * 3, 0.125f);
    player.push_samples(huge.data(), huge.size() / 2);
    EXPECT_EQ(player.ring_fill_samples(), k_player_ring_samples);
}

}  // namespace nb::test
