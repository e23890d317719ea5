// WASAPI render stream fed from the sample ring by an event-driven thread.
#include "audio/wasapi_audio_player.h"

#include <mmreg.h>
#include <spdlog/spdlog.h>

#include <exception>

namespace nb {

namespace {

constexpr DWORD k_wait_ms = 100;
// 100-ns units: the shared-mode device buffer of 10 ms.
constexpr REFERENCE_TIME k_shared_buffer = 100000;
constexpr DWORD k_exclusive_flags = AUDCLNT_STREAMFLAGS_EVENTCALLBACK | AUDCLNT_STREAMFLAGS_NOPERSIST;
constexpr DWORD k_shared_flags = k_exclusive_flags | AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY |
                                 AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM;

uint32_t code(HRESULT hr) { return static_cast<uint32_t>(hr); }

WAVEFORMATEX float_format(uint32_t rate, uint32_t channels) {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    format.nChannels = static_cast<WORD>(channels);
    format.nSamplesPerSec = rate;
    format.nBlockAlign = static_cast<WORD>(channels * sizeof(float));
    format.nAvgBytesPerSec = rate * format.nBlockAlign;
    format.wBitsPerSample = 32;
    format.cbSize = 0;
    return format;
}

// S_OK and S_FALSE both owe an uninitialise; a thread already in another
// apartment is usable as it is.
bool com_usable(HRESULT hr, bool& owed) {
    owed = hr == S_OK || hr == S_FALSE;
    return SUCCEEDED(hr) || hr == RPC_E_CHANGED_MODE;
}

}  // namespace

WasapiAudioPlayer::~WasapiAudioPlayer() {
    stop();
    std::lock_guard<std::mutex> guard(state_lock_);
    release_stream();
    enumerator_.Reset();
    if (com_initialized_) CoUninitialize();
}

bool WasapiAudioPlayer::initialize(uint32_t sample_rate, uint32_t channels) {
    std::lock_guard<std::mutex> guard(state_lock_);
    // Re-initialising replaces the stream; the old one stops first so its
    // thread never touches a released client.
    stop_locked();
    // Opus gives one or two channels at 48 kHz; the ring is sized for that.
    if (sample_rate == 0 || sample_rate > 192000 || channels == 0 || channels > 2) {
        spdlog::error("WasapiPlayer: unsupported format ({}Hz, {}ch)", sample_rate, channels);
        return false;
    }
    initialized_.store(false, std::memory_order_release);
    release_stream();
    sample_rate_ = sample_rate;
    channels_ = channels;

    if (!com_initialized_) {
        const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (!com_usable(hr, com_initialized_)) {
            spdlog::error("WasapiPlayer: CoInitializeEx failed (0x{:08x})", code(hr));
            return false;
        }
    }
    HRESULT hr = S_OK;
    if (!enumerator_) {
        hr = CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, IID_PPV_ARGS(&enumerator_));
        if (FAILED(hr)) {
            spdlog::error("WasapiPlayer: failed to create MMDeviceEnumerator (0x{:08x})", code(hr));
            spdlog::error("WasapiPlayer: failed to get audio device");
            return false;
        }
    }
    hr = enumerator_->GetDefaultAudioEndpoint(eRender, eConsole, &device_);
    if (FAILED(hr)) {
        spdlog::error("WasapiPlayer: no default audio output (0x{:08x})", code(hr));
        spdlog::error("WasapiPlayer: failed to get audio device");
        return false;
    }

    if (open_stream(Mode::exclusive)) {
        exclusive_ = true;
        spdlog::info("WasapiPlayer: initialized EXCLUSIVE mode ({}Hz, {}ch)", sample_rate_, channels_);
    } else {
        spdlog::info("WasapiPlayer: exclusive mode unavailable, trying shared");
        if (!open_stream(Mode::shared)) {
            spdlog::error("WasapiPlayer: shared mode also failed");
            release_stream();
            return false;
        }
        exclusive_ = false;
        spdlog::info("WasapiPlayer: initialized SHARED mode ({}Hz, {}ch)", sample_rate_, channels_);
    }
    ring_.reset();
    device_frames_.store(0, std::memory_order_relaxed);
    initialized_.store(true, std::memory_order_release);
    return true;
}

bool WasapiAudioPlayer::open_stream(Mode mode) {
    const bool exclusive = mode == Mode::exclusive;
    const char* label = exclusive ? "exclusive" : "shared";
    client_.Reset();
    render_client_.Reset();
    HRESULT hr = device_->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, &client_);
    if (FAILED(hr)) {
        spdlog::debug("WasapiPlayer: {} Activate failed (0x{:08x})", label, code(hr));
        return false;
    }
    const WAVEFORMATEX format = float_format(sample_rate_, channels_);
    REFERENCE_TIME default_period = 0;
    REFERENCE_TIME minimum_period = 0;
    hr = client_->GetDevicePeriod(&default_period, &minimum_period);
    if (SUCCEEDED(hr)) {
        if (event_ == nullptr) event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (event_ == nullptr) hr = HRESULT_FROM_WIN32(GetLastError());
    }
    if (SUCCEEDED(hr)) {
        hr = exclusive ? client_->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, k_exclusive_flags, minimum_period,
                                             minimum_period, &format, nullptr)
                       : client_->Initialize(AUDCLNT_SHAREMODE_SHARED, k_shared_flags, k_shared_buffer, 0, &format,
                                             nullptr);
    }
    UINT32 frames = 0;
    if (SUCCEEDED(hr)) hr = client_->SetEventHandle(event_);
    if (SUCCEEDED(hr)) hr = client_->GetBufferSize(&frames);
    if (SUCCEEDED(hr)) hr = client_->GetService(IID_PPV_ARGS(&render_client_));
    if (FAILED(hr) || frames == 0) {
        spdlog::debug("WasapiPlayer: {} stream refused (0x{:08x})", label, code(hr));
        render_client_.Reset();
        client_.Reset();
        if (event_ != nullptr) {
            CloseHandle(event_);
            event_ = nullptr;
        }
        return false;
    }
    buffer_frames_ = frames;
    spdlog::debug("WasapiPlayer: {} buffer={} frames ({:.1f}ms)", label, frames, frames * 1000.0 / sample_rate_);
    return true;
}

void WasapiAudioPlayer::release_stream() {
    render_client_.Reset();
    client_.Reset();
    device_.Reset();
    if (event_ != nullptr) {
        CloseHandle(event_);
        event_ = nullptr;
    }
    buffer_frames_ = 0;
}

bool WasapiAudioPlayer::start() {
    std::lock_guard<std::mutex> guard(state_lock_);
    if (!initialized_.load()) return false;
    if (running_.exchange(true)) return true;
    if (const HRESULT hr = client_->Start(); FAILED(hr)) {
        spdlog::error("WasapiPlayer: Start failed (0x{:08x})", code(hr));
        running_.store(false);
        return false;
    }
    thread_ = std::thread([this] { playback_loop(); });
    spdlog::info("WasapiPlayer: playback started");
    return true;
}

void WasapiAudioPlayer::push_samples(const float* interleaved, size_t frames) {
    if (!initialized_.load(std::memory_order_acquire) || interleaved == nullptr || frames == 0) return;
    // Only the newest ring-full can survive; skipping in frames first keeps
    // frames × channels from overflowing on a hostile count.
    const size_t capacity_frames = ring_.capacity() / channels_;
    if (frames > capacity_frames) {
        interleaved += (frames - capacity_frames) * channels_;
        frames = capacity_frames;
    }
    const SampleRing::PushResult result = ring_.push(interleaved, frames * channels_);
    if (result.log_overrun) {
        spdlog::warn("WasapiPlayer: ring overrun — dropped oldest samples (total={})", result.overruns);
    }
}

void WasapiAudioPlayer::stop() {
    std::lock_guard<std::mutex> guard(state_lock_);
    stop_locked();
}

void WasapiAudioPlayer::stop_locked() {
    if (!running_.exchange(false)) return;
    if (thread_.joinable()) {
        SetEvent(event_);
        thread_.join();
    }
    client_->Stop();
    client_->Reset();
    spdlog::info("WasapiPlayer: stopped (underruns={})", underruns());
}

void WasapiAudioPlayer::playback_loop() {
    try {
        bool com_owed = false;
        const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (!com_usable(hr, com_owed)) {
            spdlog::warn("WasapiPlayer: playback thread CoInitializeEx failed (0x{:08x})", code(hr));
        }
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
        while (running_.load(std::memory_order_acquire)) {
            if (WaitForSingleObject(event_, k_wait_ms) != WAIT_OBJECT_0) continue;
            if (!running_.load(std::memory_order_acquire)) break;
            UINT32 queued = 0;
            // An exclusive stream's event means the whole buffer is ours.
            if (!exclusive_ && FAILED(client_->GetCurrentPadding(&queued))) continue;
            if (queued < buffer_frames_) fill_device(buffer_frames_ - queued);
        }
        if (com_owed) CoUninitialize();
    } catch (const std::exception& e) {
        spdlog::error("WasapiPlayer: playback thread exception: {}", e.what());
    }
}

void WasapiAudioPlayer::fill_device(uint32_t frames) {
    BYTE* buffer = nullptr;
    if (FAILED(render_client_->GetBuffer(frames, &buffer))) return;
    // The ring counts the underrun; silence pads whatever was missing.
    ring_.pull(reinterpret_cast<float*>(buffer), static_cast<size_t>(frames) * channels_);
    render_client_->ReleaseBuffer(frames, 0);
    device_frames_.fetch_add(frames, std::memory_order_relaxed);
}

}  // namespace nb
