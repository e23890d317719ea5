// Decrypt, decode and queue one audio datagram, nothing buffered between.

#include "audio/audio_packet_handler.h"

#include <spdlog/spdlog.h>

#include <array>

namespace nb {

AudioPacketHandler::AudioPacketHandler(Decryption& decryption, IAudioDecoder& decoder, IAudioSink* sink,
                                       std::function<int64_t()> clock)
    : decryption_(decryption),
      decoder_(decoder),
      sink_(sink),
      decrypt_failure_log_(LogRateLimiter::k_default_period_us, std::move(clock)) {}

DatagramHandler AudioPacketHandler::datagram_handler() {
    return [this](const uint8_t* data, size_t length, const asio::ip::udp::endpoint& from) {
        handle_datagram(data, length, from);
    };
}

void AudioPacketHandler::handle_datagram(const uint8_t* data, size_t length, const asio::ip::udp::endpoint&) {
    if (data == nullptr || length < k_min_datagram_bytes) {
        spdlog::debug("Audio: runt packet ({} bytes)", length);
        return;
    }
    const size_t ciphertext_length = length - k_media_header_bytes;
    if (ciphertext_length > k_max_ciphertext_bytes) return;

    // Both buffers live on the stack: one Opus packet and at most 20 ms of
    // stereo PCM, so nothing is allocated per datagram.
    std::array<uint8_t, k_max_ciphertext_bytes> plain;
    size_t plain_length = 0;
    if (!decryption_.decrypt(data, data + k_media_header_bytes, ciphertext_length, plain.data(), ciphertext_length,
                             plain_length)) {
        const uint64_t total = decrypt_failures_.fetch_add(1, std::memory_order_relaxed) + 1;
        if (const uint64_t unsent = decrypt_failure_log_.count()) {
            spdlog::warn("Audio decrypt failed (total={}, fid={}, len={}); {} since the last line", total,
                         MediaHeader::parse_unchecked(data).frame_id, ciphertext_length, unsent);
        }
        return;
    }

    std::array<float, IAudioDecoder::k_max_frame_samples * k_pcm_channels> pcm;
    const int frames = decoder_.decode({plain.data(), plain_length}, pcm);
    if (frames < 1) return;
    if (sink_ != nullptr && sink_->is_initialized()) sink_->push_samples(pcm.data(), static_cast<size_t>(frames));
}

}  // namespace nb
