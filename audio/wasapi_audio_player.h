// Low-latency playback on the default output device through WASAPI.
#pragma once

#include <windows.h>

#include <atomic>
#include <audioclient.h>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mmdeviceapi.h>
#include <mutex>
#include <thread>
#include <wrl/client.h>

#include "audio/audio_interfaces.h"
#include "audio/sample_ring.h"

namespace nb {

// Decoded audio waits in a 100 ms drop-oldest ring; a time-critical thread
// copies it into the device buffer whenever the audio engine signals that
// it wants more, padding with silence when the ring runs dry. Exclusive mode
// is tried first for the shortest device buffer; shared mode lets the engine
// convert our float stereo to its mix format.
//
// initialize, start, stop and destruction belong to the session's control
// thread; push_samples may come from any network thread once initialised.
class WasapiAudioPlayer final : public IAudioSink {
public:
    // 100 ms at 48 kHz stereo.
    static constexpr size_t k_ring_samples = 9600;

    WasapiAudioPlayer() = default;
    ~WasapiAudioPlayer() override;

    WasapiAudioPlayer(const WasapiAudioPlayer&) = delete;
    WasapiAudioPlayer& operator=(const WasapiAudioPlayer&) = delete;

    bool initialize(uint32_t sample_rate, uint32_t channels) override;
    bool start() override;
    void push_samples(const float* interleaved, size_t frames) override;
    void stop() override;
    bool is_initialized() const override { return initialized_.load(std::memory_order_acquire); }

    bool exclusive() const { return exclusive_; }
    bool is_running() const { return running_.load(std::memory_order_acquire); }
    uint32_t buffer_frames() const { return buffer_frames_; }
    size_t ring_fill_samples() const { return ring_.stored(); }
    uint32_t underruns() const { return ring_.underruns(); }
    uint32_t overruns() const { return ring_.overruns(); }
    // Frames handed to the device since initialize, silence included.
    uint64_t device_frames() const { return device_frames_.load(std::memory_order_relaxed); }

private:
    enum class Mode { exclusive, shared };

    bool open_stream(Mode mode);
    void release_stream();
    void stop_locked();
    void playback_loop();
    void fill_device(uint32_t frames);

    // Serialises initialize, start and stop; never taken by the playback
    // thread or push_samples.
    std::mutex state_lock_;

    Microsoft::WRL::ComPtr<IMMDeviceEnumerator> enumerator_;
    Microsoft::WRL::ComPtr<IMMDevice> device_;
    Microsoft::WRL::ComPtr<IAudioClient> client_;
    Microsoft::WRL::ComPtr<IAudioRenderClient> render_client_;
    HANDLE event_ = nullptr;  // auto-reset; the engine's "wants data", and stop's wake-up
    uint32_t sample_rate_ = 48000;
    uint32_t channels_ = 2;
    uint32_t buffer_frames_ = 0;
    bool exclusive_ = false;
    bool com_initialized_ = false;
    std::thread thread_;

    SampleRing ring_{k_ring_samples};
    std::atomic<bool> initialized_{false};
    std::atomic<bool> running_{false};
    std::atomic<uint64_t> device_frames_{0};
};

}  // namespace nb
