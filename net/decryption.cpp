// Media datagram verification with bounded diagnostics: a wrong key or a
// foreign sender shows up in the log without flooding it.

#include "net/decryption.h"

#include <sodium.h>
#include <spdlog/spdlog.h>

#include <cstring>

namespace nb {

namespace {
// Only the first few tag failures of a stream are worth a full dump: after
// that they repeat the same story (wrong key, foreign sender).
constexpr uint32_t k_diag_lines = 3;
}  // namespace

std::string hex_bytes(std::span<const uint8_t> bytes) {
    static constexpr char k_digits[] = "0123456789abcdef";
    std::string text;
    if (bytes.empty()) return text;
    text.reserve(bytes.size() * 3 - 1);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0) text.push_back(' ');
        text.push_back(k_digits[bytes[i] >> 4]);
        text.push_back(k_digits[bytes[i] & 0x0F]);
    }
    return text;
}

Decryption::Decryption() {
    if (sodium_init() < 0) spdlog::critical("Decryption: libsodium initialization failed");
}

Decryption::~Decryption() { sodium_memzero(key_.data(), key_.size()); }

bool Decryption::set_key(const uint8_t* key, size_t length) {
    if (key == nullptr || length != k_aead_key_bytes) {
        spdlog::error("Decryption: invalid key length {} (expected {})", length, k_aead_key_bytes);
        return false;
    }
    std::memcpy(key_.data(), key, k_aead_key_bytes);
    key_set_ = true;
    spdlog::info("Decryption: session key set");
    return true;
}

bool Decryption::decrypt(const uint8_t* header, const uint8_t* ciphertext, size_t ciphertext_length, uint8_t* out,
                         size_t out_capacity, size_t& out_length) {
    if (!key_set_) {
        spdlog::warn("Decryption: attempted decrypt before key is set");
        return false;
    }
    if (ciphertext_length < k_aead_tag_bytes) {
        spdlog::trace("Decryption: ciphertext too short ({} bytes)", ciphertext_length);
        return false;
    }
    if (ciphertext_length - k_aead_tag_bytes > out_capacity) {
        spdlog::warn("Decryption: ciphertext {}B exceeds output capacity {}B — dropped", ciphertext_length,
                     out_capacity);
        return false;
    }
    const auto nonce = media_nonce(header);
    unsigned long long plain_length = 0;
    const int rc = crypto_aead_chacha20poly1305_ietf_decrypt(out, &plain_length, nullptr, ciphertext,
                                                             ciphertext_length, header, k_media_header_bytes,
                                                             nonce.data(), key_.data());
    if (rc == 0) {
        out_length = static_cast<size_t>(plain_length);
        return true;
    }
    const uint32_t previous = auth_failures_.fetch_add(1, std::memory_order_relaxed);
    if (previous >= k_diag_lines) return false;
    const MediaHeader h = MediaHeader::parse_unchecked(header);
    spdlog::warn("Decryption: DIAG auth failed #{} frame={} pkt={}/{} ct_len={} ad_len={} nonce={} hdr={}",
                 previous + 1, h.frame_id, h.packet_index, h.packet_count, ciphertext_length,
                 k_media_header_bytes, hex_bytes(nonce), hex_bytes({header, k_media_header_bytes}));
    return false;
}

}  // namespace nb
