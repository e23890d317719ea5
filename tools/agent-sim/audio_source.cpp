#include "tools/agent-sim/audio_source.h"

#include <spdlog/spdlog.h>

#include <cmath>
#include <fstream>
#include <numbers>

namespace nb {

void AudioSource::use_tone(double hz) {
    tone_hz_ = hz;
    tone_position_ = 0;
    file_.clear();
}

bool AudioSource::use_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        spdlog::error("AudioSource: cannot open {}", path);
        return false;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t frames = bytes.size() / (sizeof(int16_t) * k_channels);
    if (frames == 0) {
        spdlog::error("AudioSource: {} holds no complete stereo frame", path);
        return false;
    }
    file_.resize(frames * k_channels);
    for (size_t i = 0; i < file_.size(); ++i) {
        const auto lo = static_cast<uint8_t>(bytes[2 * i]);
        const auto hi = static_cast<uint8_t>(bytes[2 * i + 1]);
        file_[i] = static_cast<int16_t>(static_cast<uint16_t>(lo | (hi << 8)));
    }
    file_position_ = 0;
    spdlog::info("AudioSource: {} ({:.1f} s, looped)", path, static_cast<double>(frames) / k_sample_rate);
    return true;
}

void AudioSource::next_block(std::span<int16_t, k_block_frames * k_channels> out) {
    if (!file_.empty()) {
        for (auto& sample : out) {
            sample = file_[file_position_];
            file_position_ = (file_position_ + 1) % file_.size();
        }
        return;
    }
    const double step = 2.0 * std::numbers::pi * tone_hz_ / k_sample_rate;
    for (int i = 0; i < k_block_frames; ++i) {
        // The phase is taken modulo one period from an integer position, so
        // the tone stays clean however long the agent runs.
        const double phase = std::fmod(static_cast<double>(tone_position_++) * step, 2.0 * std::numbers::pi);
        const auto v = static_cast<int16_t>(std::lround(8191.0 * std::sin(phase)));
        out[2 * i] = v;
        out[2 * i + 1] = v;
    }
}

}  // namespace nb
