// The audio DatagramHandler: decrypts each datagram into one Opus packet,
// decodes it and queues the PCM for playback. No reordering or concealment:
// packets play in arrival order and a lost one is simply absent.
#pragma once

#include <asio/ip/udp.hpp>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "audio/audio_interfaces.h"
#include "common/log_rate_limiter.h"
#include "net/decryption.h"
#include "net/udp_receiver.h"

namespace nb {

class AudioPacketHandler {
public:
    static constexpr size_t k_min_datagram_bytes = 38;  // header + tag
    static constexpr size_t k_max_ciphertext_bytes = 1178;
    static constexpr size_t k_pcm_channels = 2;

    // All three must outlive the handler. `sink` may be null: the PCM is
    // then decoded and discarded. `clock` (monotonic microseconds, now_us
    // by default) paces the failure lines.
    AudioPacketHandler(Decryption& decryption, IAudioDecoder& decoder, IAudioSink* sink,
                       std::function<int64_t()> clock = {});
    AudioPacketHandler(const AudioPacketHandler&) = delete;
    AudioPacketHandler& operator=(const AudioPacketHandler&) = delete;

    // Safe for concurrent calls from several I/O threads.
    void handle_datagram(const uint8_t* data, size_t length, const asio::ip::udp::endpoint& from);
    DatagramHandler datagram_handler();

    uint64_t decrypt_failures() const { return decrypt_failures_.load(std::memory_order_relaxed); }

private:
    Decryption& decryption_;
    IAudioDecoder& decoder_;
    IAudioSink* sink_;
    std::atomic<uint64_t> decrypt_failures_{0};
    LogRateLimiter decrypt_failure_log_;  // one line a second under a flood
};

}  // namespace nb
