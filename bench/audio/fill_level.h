// Long-running latency measurement of the player's ring under steady packet
// pacing, as the network would deliver it.
#pragma once

#include <cstdint>

namespace nb::bench {

struct FillLevelOptions {
    int seconds = 60;
    // Settle time excluded from the "steady" underrun figures.
    int warmup_ms = 1000;
    // Pace packets by the output device's measured clock rather than the
    // wall clock. A real sender and a real sound card agree to within a few
    // hundred ppm; SDL's disk driver runs a percent or two slow, which on
    // wall-clock pacing shows up as a ring that fills and overflows.
    bool device_clock = true;
};

// Streams a decoded 440 Hz tone into an SdlAudioPlayer at 20 ms per packet
// for `seconds`, sampling the ring's fill every millisecond, and prints the
// figures. Returns a process exit code.
int run_fill_level(const FillLevelOptions& options);

}  // namespace nb::bench
