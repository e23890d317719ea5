// SDL2 audio device fed from the sample ring by SDL's own audio thread.
#include "audio/sdl_audio_player.h"

#include <SDL.h>
#include <spdlog/spdlog.h>

namespace nb {

namespace {

// Opus never produces more than two channels; the limit only keeps a bad
// argument from sizing an absurd ring.
constexpr uint32_t k_max_channels = 8;
constexpr uint32_t k_max_sample_rate = 384000;

}  // namespace

SdlAudioPlayer::~SdlAudioPlayer() { shutdown(); }

bool SdlAudioPlayer::initialize(uint32_t sample_rate, uint32_t channels) {
    std::lock_guard<std::mutex> guard(state_lock_);
    // Re-initialising replaces the device; the old one goes first so SDL's
    // subsystem reference count stays balanced.
    stop_locked();
    release_locked();
    if (sample_rate == 0 || sample_rate > k_max_sample_rate || channels == 0 || channels > k_max_channels) {
        spdlog::error("SdlAudioPlayer: unsupported format ({}Hz, {}ch)", sample_rate, channels);
        return false;
    }
    sample_rate_ = sample_rate;
    channels_ = channels;

    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        spdlog::error("SdlAudioPlayer: SDL audio init failed: {}", SDL_GetError());
        spdlog::error("SdlAudioPlayer: failed to get audio device");
        return false;
    }
    audio_subsystem_held_ = true;

    // The ring outlives re-initialisation when its size stays the same, so a
    // late push from a network thread never lands in freed memory.
    const size_t capacity = static_cast<size_t>(sample_rate_) * k_ring_ms / 1000 * channels_;
    if (ring_ && ring_->capacity() == capacity) {
        ring_->reset();
    } else {
        ring_ = std::make_unique<SampleRing>(capacity);
    }
    device_frames_.store(0, std::memory_order_relaxed);

    spdlog::info("SdlAudioPlayer: exclusive mode is not available on Linux, using shared output");

    SDL_AudioSpec want{};
    want.freq = static_cast<int>(sample_rate_);
    want.format = AUDIO_F32SYS;
    want.channels = static_cast<Uint8>(channels_);
    want.samples = k_requested_buffer_frames;
    want.callback = &SdlAudioPlayer::audio_callback;
    want.userdata = this;
    SDL_AudioSpec have{};
    // Nothing may differ from the request: whatever the device really runs
    // at, SDL converts and buffers behind the callback, which therefore
    // always fills exactly the buffer SDL sized for it. Letting the sample
    // count change instead trusts each driver to resize its own buffer when
    // it rounds the count, which SDL 2.26's dummy driver does not (a heap
    // overflow on every callback).
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device_ == 0) {
        spdlog::error("SdlAudioPlayer: no default audio output: {}", SDL_GetError());
        spdlog::error("SdlAudioPlayer: failed to get audio device");
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        audio_subsystem_held_ = false;
        return false;
    }
    buffer_frames_ = have.samples;
    const char* driver = SDL_GetCurrentAudioDriver();
    spdlog::debug("SdlAudioPlayer: audio driver '{}'", driver != nullptr ? driver : "?");
    spdlog::debug("SdlAudioPlayer: shared buffer={} frames ({:.1f}ms)", buffer_frames_,
                  buffer_frames_ * 1000.0 / sample_rate_);
    spdlog::info("SdlAudioPlayer: initialized SHARED mode ({}Hz, {}ch)", sample_rate_, channels_);
    initialized_.store(true, std::memory_order_release);
    return true;
}

bool SdlAudioPlayer::start() {
    std::lock_guard<std::mutex> guard(state_lock_);
    if (!initialized_.load()) return false;
    if (running_.exchange(true)) return true;

    SDL_PauseAudioDevice(device_, 0);
    if (SDL_GetAudioDeviceStatus(device_) != SDL_AUDIO_PLAYING) {
        spdlog::error("SdlAudioPlayer: Start failed: the audio device is no longer available");
        running_.store(false);
        return false;
    }
    spdlog::info("SdlAudioPlayer: playback started");
    return true;
}

void SdlAudioPlayer::push_samples(const float* interleaved, size_t frames) {
    if (!initialized_.load(std::memory_order_acquire) || interleaved == nullptr || frames == 0) return;

    // Work in frames first: only the newest ring-full can survive anyway, and
    // this keeps frames × channels from overflowing on a hostile count.
    const size_t capacity_frames = ring_->capacity() / channels_;
    if (frames > capacity_frames + 1) {
        const size_t skip = frames - capacity_frames - 1;
        interleaved += skip * channels_;
        frames -= skip;
    }
    const SampleRing::PushResult result = ring_->push(interleaved, frames * channels_);
    if (result.log_overrun) {
        spdlog::warn("SdlAudioPlayer: ring overrun — dropped oldest samples (total={})", result.overruns);
    }
}

void SdlAudioPlayer::stop() {
    std::lock_guard<std::mutex> guard(state_lock_);
    stop_locked();
}

void SdlAudioPlayer::shutdown() {
    std::lock_guard<std::mutex> guard(state_lock_);
    stop_locked();
    release_locked();
}

void SdlAudioPlayer::stop_locked() {
    if (!running_.exchange(false)) return;
    // Pausing takes SDL's device lock, so once it returns the callback is not
    // running and will not run again until start.
    SDL_PauseAudioDevice(device_, 1);
    spdlog::info("SdlAudioPlayer: stopped (underruns={})", underruns());
}

void SdlAudioPlayer::release_locked() {
    initialized_.store(false, std::memory_order_release);
    if (device_ != 0) {
        // Joins SDL's audio thread; after this no callback can touch the ring.
        SDL_CloseAudioDevice(device_);
        device_ = 0;
    }
    if (audio_subsystem_held_) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        audio_subsystem_held_ = false;
    }
}

size_t SdlAudioPlayer::ring_fill_samples() const { return ring_ ? ring_->stored() : 0; }

size_t SdlAudioPlayer::ring_capacity_samples() const { return ring_ ? ring_->capacity() : 0; }

uint32_t SdlAudioPlayer::underruns() const { return ring_ ? ring_->underruns() : 0; }

uint32_t SdlAudioPlayer::overruns() const { return ring_ ? ring_->overruns() : 0; }

void SdlAudioPlayer::audio_callback(void* user, uint8_t* stream, int len) {
    auto* self = static_cast<SdlAudioPlayer*>(user);
    if (len <= 0) return;
    self->fill_device_buffer(reinterpret_cast<float*>(stream), static_cast<size_t>(len) / sizeof(float));
}

void SdlAudioPlayer::fill_device_buffer(float* out, size_t samples) {
    // Runs on SDL's audio thread: no allocation, no logging, only the ring lock.
    ring_->pull(out, samples);
    device_frames_.fetch_add(samples / channels_, std::memory_order_relaxed);
}

}  // namespace nb
