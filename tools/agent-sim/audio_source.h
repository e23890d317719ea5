// 20 ms blocks of 48 kHz stereo PCM for the test agent: a sine tone, or a
// raw s16le file played in a loop.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace nb {

class AudioSource {
public:
    static constexpr int k_sample_rate = 48000;
    static constexpr int k_channels = 2;
    static constexpr int k_block_frames = 960;  // 20 ms

    // A tone at `hz`, amplitude a quarter of full scale.
    void use_tone(double hz);
    // Loads the whole file. False, with the cause logged, when it cannot be
    // read or holds less than one stereo frame.
    bool use_file(const std::string& path);

    // Fills one block of k_block_frames x 2 interleaved samples.
    void next_block(std::span<int16_t, k_block_frames * k_channels> out);

private:
    double tone_hz_ = 440.0;
    uint64_t tone_position_ = 0;  // frames since the start
    std::vector<int16_t> file_;   // interleaved stereo
    size_t file_position_ = 0;    // in samples
};

}  // namespace nb
