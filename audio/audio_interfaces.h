// The two seams of the audio path: the network side decodes each Opus packet
// through an IAudioDecoder and hands the PCM to an IAudioSink for playback.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace nb {

// Turns one Opus packet into interleaved 32-bit float PCM.
class IAudioDecoder {
public:
    // The longest packet accepted: 20 ms at 48 kHz.
    static constexpr int k_max_frame_samples = 960;

    virtual ~IAudioDecoder() = default;

    // Creates (or replaces) the decoder for this rate and channel count.
    virtual bool initialize(uint32_t sample_rate, uint32_t channels) = 0;

    // Decodes `packet` into `pcm`, which must hold k_max_frame_samples ×
    // channels floats. Returns samples per channel (0 to 960), or a negative
    // Opus error code (logged here). An uninitialised decoder decodes nothing
    // and returns 0. Safe to call from several threads.
    virtual int decode(std::span<const uint8_t> packet, std::span<float> pcm) = 0;

    // Destroys the decoder. Idempotent.
    virtual void shutdown() = 0;

    virtual uint32_t channels() const = 0;
};

// Plays interleaved float PCM on the local output device.
class IAudioSink {
public:
    virtual ~IAudioSink() = default;

    // Opens the output device and the sample ring.
    virtual bool initialize(uint32_t sample_rate, uint32_t channels) = 0;

    // Starts playback; true also when already playing. Before a successful
    // initialize it returns false.
    virtual bool start() = 0;

    // Queues `frames` frames (frames × channels floats) for playback. When
    // the ring would overflow, the oldest queued audio is dropped. Ignored
    // before initialize. Safe to call from several threads.
    virtual void push_samples(const float* interleaved, size_t frames) = 0;

    // Stops playback. Idempotent.
    virtual void stop() = 0;

    // True once initialize succeeded; the packet path pushes only then.
    virtual bool is_initialized() const = 0;
};

}  // namespace nb
