// The sending side of the media datagrams: header in clear, then the
// ChaCha20-Poly1305 IETF ciphertext with its tag. The test agent and the
// benchmarks build their streams with it, so both ends share one definition.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "net/media_header.h"

namespace nb {

class MediaEncryption {
public:
    MediaEncryption();
    ~MediaEncryption();
    MediaEncryption(const MediaEncryption&) = delete;
    MediaEncryption& operator=(const MediaEncryption&) = delete;

    // Same rule as the receiving side: exactly 32 bytes.
    bool set_key(std::span<const uint8_t> key);
    bool key_set() const { return key_set_; }

    // Writes header || ciphertext || tag into `datagram` (resized to
    // 22 + plaintext + 16). False without a key.
    bool seal(const MediaHeader& header, std::span<const uint8_t> plaintext, std::vector<uint8_t>& datagram) const;
    std::vector<uint8_t> seal(const MediaHeader& header, std::span<const uint8_t> plaintext) const;

private:
    std::array<uint8_t, k_aead_key_bytes> key_{};
    bool key_set_ = false;
};

}  // namespace nb
