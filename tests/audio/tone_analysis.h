// Measures what came out of an audio path: the pitch of a tone and the
// silent gaps in it. Header-only so end-to-end tests and benchmarks can share it.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <span>
#include <vector>

namespace nb::test {

// Frequency of the dominant tone in one channel of interleaved samples, from
// the spacing of rising zero crossings (interpolated between samples, so a
// second of 48 kHz audio resolves well under 0.1 Hz). Returns 0 when fewer
// than two crossings exist.
inline double measure_frequency_hz(std::span<const float> interleaved, uint32_t channels, uint32_t channel,
                                   double sample_rate) {
    if (channels == 0 || channel >= channels || sample_rate <= 0) return 0.0;
    const size_t frames = interleaved.size() / channels;
    double first = -1.0;
    double last = -1.0;
    size_t crossings = 0;
    for (size_t i = 1; i < frames; ++i) {
        const float a = interleaved[(i - 1) * channels + channel];
        const float b = interleaved[i * channels + channel];
        if (a < 0.0f && b >= 0.0f) {
            const double t = static_cast<double>(i - 1) + static_cast<double>(a) / static_cast<double>(a - b);
            if (crossings == 0) first = t;
            last = t;
            ++crossings;
        }
    }
    if (crossings < 2 || last <= first) return 0.0;
    return static_cast<double>(crossings - 1) * sample_rate / (last - first);
}

struct SilentRun {
    size_t first_frame = 0;
    size_t frames = 0;
};

// Runs of at least `min_frames` frames in which every sample is exactly zero.
// A tone passes through zero only at isolated samples, so such a run is
// padding the player inserted, not the signal.
inline std::vector<SilentRun> find_silent_runs(std::span<const float> interleaved, uint32_t channels,
                                               size_t min_frames) {
    std::vector<SilentRun> runs;
    if (channels == 0) return runs;
    const size_t frames = interleaved.size() / channels;
    size_t run_start = 0;
    size_t run_len = 0;
    for (size_t i = 0; i <= frames; ++i) {
        bool silent = false;
        if (i < frames) {
            silent = true;
            for (uint32_t c = 0; c < channels; ++c) {
                if (interleaved[i * channels + c] != 0.0f) silent = false;
            }
        }
        if (silent) {
            if (run_len == 0) run_start = i;
            ++run_len;
        } else {
            if (run_len >= min_frames) runs.push_back({run_start, run_len});
            run_len = 0;
        }
    }
    return runs;
}

// Fills `frames` interleaved frames of a sine at `frequency_hz`, the same on
// every channel, continuing from `phase` (radians, updated) so consecutive
// calls join without a click.
inline void generate_tone(std::span<float> out, uint32_t channels, double frequency_hz, double sample_rate,
                          double amplitude, double& phase) {
    const double step = 2.0 * std::numbers::pi * frequency_hz / sample_rate;
    const size_t frames = out.size() / channels;
    for (size_t i = 0; i < frames; ++i) {
        const float v = static_cast<float>(amplitude * std::sin(phase));
        for (uint32_t c = 0; c < channels; ++c) out[i * channels + c] = v;
        phase += step;
        if (phase > 2.0 * std::numbers::pi) phase -= 2.0 * std::numbers::pi;
    }
}

}  // namespace nb::test
