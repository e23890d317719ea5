// Low-latency playback on the default output device through SDL2 audio.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "audio/audio_interfaces.h"
#include "audio/sample_ring.h"

namespace nb {

// Decoded audio waits in a 100 ms drop-oldest ring; SDL's audio thread pulls
// from it whenever the device wants more, padding with silence when it runs
// dry. The device is opened for 32-bit float so no conversion happens on our
// side; SDL converts to whatever the hardware takes.
//
// initialize, start, stop, shutdown and destruction belong to the session's
// control thread; push_samples may come from any number of network threads
// at any time except during initialize; it is ignored while the player is
// not initialised.
class SdlAudioPlayer final : public IAudioSink {
public:
    // 10 ms at 48 kHz: small enough for low latency, large enough that a
    // busy desktop does not starve the device, and half an Opus packet, so
    // the ring drains in step with what arrives. Drivers that round it get
    // SDL's own re-buffering, as the device is opened without size changes.
    static constexpr uint16_t k_requested_buffer_frames = 480;
    // The ring holds this much audio; anything older is dropped.
    static constexpr uint32_t k_ring_ms = 100;

    SdlAudioPlayer() = default;
    ~SdlAudioPlayer() override;

    SdlAudioPlayer(const SdlAudioPlayer&) = delete;
    SdlAudioPlayer& operator=(const SdlAudioPlayer&) = delete;

    bool initialize(uint32_t sample_rate, uint32_t channels) override;
    bool start() override;
    void push_samples(const float* interleaved, size_t frames) override;
    void stop() override;
    bool is_initialized() const override { return initialized_.load(std::memory_order_acquire); }

    // Stops playback, closes the device and releases SDL's audio subsystem.
    // Idempotent; the destructor calls it.
    void shutdown();

    bool is_running() const { return running_.load(std::memory_order_acquire); }
    // Linux has no exclusive device access through SDL; always false.
    bool exclusive() const { return false; }
    uint32_t sample_rate() const { return sample_rate_; }
    uint32_t channels() const { return channels_; }
    // Device buffer size SDL granted, in frames.
    uint32_t buffer_frames() const { return buffer_frames_; }
    // Samples queued in the ring right now (0 before initialize).
    size_t ring_fill_samples() const;
    size_t ring_capacity_samples() const;
    uint32_t underruns() const;
    uint32_t overruns() const;
    // Frames the device has asked for since initialize, silence included:
    // the output device's own clock.
    uint64_t device_frames() const { return device_frames_.load(std::memory_order_relaxed); }

private:
    static void audio_callback(void* user, uint8_t* stream, int len);
    void fill_device_buffer(float* out, size_t samples);
    void stop_locked();
    void release_locked();

    // Serialises the lifecycle calls against each other; never taken on the
    // audio thread or in push_samples.
    std::mutex state_lock_;

    uint32_t sample_rate_ = 48000;
    uint32_t channels_ = 2;
    uint32_t buffer_frames_ = 0;
    uint32_t device_ = 0;  // SDL_AudioDeviceID; 0 when closed
    bool audio_subsystem_held_ = false;
    std::unique_ptr<SampleRing> ring_;
    std::atomic<bool> initialized_{false};
    std::atomic<bool> running_{false};
    std::atomic<uint64_t> device_frames_{0};
};

}  // namespace nb
