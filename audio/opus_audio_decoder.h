// One libopus decoder for the session's audio stream.
#pragma once

#include <cstdint>
#include <mutex>
#include <span>

#include "audio/audio_interfaces.h"

struct OpusDecoder;

namespace nb {

class OpusAudioDecoder final : public IAudioDecoder {
public:
    OpusAudioDecoder() = default;
    ~OpusAudioDecoder() override;

    OpusAudioDecoder(const OpusAudioDecoder&) = delete;
    OpusAudioDecoder& operator=(const OpusAudioDecoder&) = delete;

    bool initialize(uint32_t sample_rate, uint32_t channels) override;
    int decode(std::span<const uint8_t> packet, std::span<float> pcm) override;
    void shutdown() override;

    uint32_t channels() const override;
    uint32_t sample_rate() const;
    bool is_initialized() const;

private:
    void destroy_locked();

    // Guards every field below: decode may run on two I/O threads at once and
    // shutdown comes from the session teardown thread.
    mutable std::mutex lock_;
    OpusDecoder* decoder_ = nullptr;  // owned; released through opus_decoder_destroy
    uint32_t sample_rate_ = 48000;
    uint32_t channels_ = 2;
    bool initialized_ = false;
};

}  // namespace nb
