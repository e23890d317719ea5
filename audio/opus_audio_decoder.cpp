// Opus packets in, interleaved float PCM out.
#include "audio/opus_audio_decoder.h"

#include <opus.h>
#include <spdlog/spdlog.h>

#include <climits>

namespace nb {

OpusAudioDecoder::~OpusAudioDecoder() { shutdown(); }

bool OpusAudioDecoder::initialize(uint32_t sample_rate, uint32_t channels) {
    std::lock_guard<std::mutex> guard(lock_);
    destroy_locked();
    sample_rate_ = sample_rate;
    channels_ = channels;

    int error = OPUS_OK;
    // opus_decoder_create validates both values itself (rates 8/12/16/24/48 kHz,
    // one or two channels); the casts cannot hide a bad value as a good one.
    if (sample_rate > static_cast<uint32_t>(INT32_MAX) || channels > static_cast<uint32_t>(INT_MAX)) {
        error = OPUS_BAD_ARG;
    } else {
        decoder_ = opus_decoder_create(static_cast<opus_int32>(sample_rate), static_cast<int>(channels), &error);
    }
    if (error != OPUS_OK || decoder_ == nullptr) {
        if (decoder_ != nullptr) {
            opus_decoder_destroy(decoder_);
            decoder_ = nullptr;
        }
        spdlog::error("OpusAudioDecoder: opus_decoder_create failed: {}", opus_strerror(error));
        return false;
    }
    initialized_ = true;
    spdlog::info("OpusAudioDecoder: initialized ({}Hz, {}ch)", sample_rate_, channels_);
    return true;
}

int OpusAudioDecoder::decode(std::span<const uint8_t> packet, std::span<float> pcm) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!initialized_) return 0;

    int result = OPUS_OK;
    if (pcm.size() < static_cast<size_t>(k_max_frame_samples) * channels_) {
        result = OPUS_BUFFER_TOO_SMALL;
    } else if (packet.empty() || packet.size() > static_cast<size_t>(INT32_MAX)) {
        // libopus reads an empty packet as "this one was lost" and synthesises
        // 20 ms of concealment; a datagram that carried no audio must not
        // turn into sound.
        result = OPUS_INVALID_PACKET;
    } else {
        // A frame size of 960 refuses packets longer than 20 ms with
        // OPUS_BUFFER_TOO_SMALL, so one packet can never overrun the caller's
        // buffer. In-band FEC stays off: without a jitter buffer there is no
        // later packet to recover from.
        result = opus_decode_float(decoder_, packet.data(), static_cast<opus_int32>(packet.size()), pcm.data(),
                                   k_max_frame_samples, 0);
    }
    if (result < 0) {
        spdlog::warn("OpusAudioDecoder: decode error: {}", opus_strerror(result));
    }
    return result;
}

void OpusAudioDecoder::shutdown() {
    std::lock_guard<std::mutex> guard(lock_);
    if (!initialized_) return;
    destroy_locked();
    spdlog::info("OpusAudioDecoder: shutdown");
}

void OpusAudioDecoder::destroy_locked() {
    if (decoder_ != nullptr) {
        opus_decoder_destroy(decoder_);
        decoder_ = nullptr;
    }
    initialized_ = false;
}

uint32_t OpusAudioDecoder::channels() const {
    std::lock_guard<std::mutex> guard(lock_);
    return channels_;
}

uint32_t OpusAudioDecoder::sample_rate() const {
    std::lock_guard<std::mutex> guard(lock_);
    return sample_rate_;
}

bool OpusAudioDecoder::is_initialized() const {
    std::lock_guard<std::mutex> guard(lock_);
    return initialized_;
}

}  // namespace nb
