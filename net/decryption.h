// Verifies and decrypts the media datagrams of one stream (video or audio)
// with ChaCha20-Poly1305 IETF under that stream's session key.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "net/media_header.h"

namespace nb {

// Bytes as two lower-case hex digits each, separated by single spaces
// ("0a ff 10"); empty input gives "".
std::string hex_bytes(std::span<const uint8_t> bytes);

class Decryption {
public:
    Decryption();
    ~Decryption();
    Decryption(const Decryption&) = delete;
    Decryption& operator=(const Decryption&) = delete;

    // Installs a 32-byte key; any other length is refused and the previous
    // key state kept. Call before the stream's receive loop starts: the key
    // is read without a lock afterwards.
    bool set_key(const uint8_t* key, size_t length);
    bool set_key(std::span<const uint8_t> key) { return set_key(key.data(), key.size()); }

    // `header` points at the 22 clear header bytes (nonce source and
    // associated data), `ciphertext` at the rest of the datagram, tag
    // included. On success the plaintext (ciphertext_length - 16 bytes) is in
    // `out` and its length in `out_length`; on failure `out_length` is left
    // as it was. Safe to call from several threads at once.
    bool decrypt(const uint8_t* header, const uint8_t* ciphertext, size_t ciphertext_length, uint8_t* out,
                 size_t out_capacity, size_t& out_length);

    bool key_set() const { return key_set_; }
    uint32_t auth_failures() const { return auth_failures_.load(std::memory_order_relaxed); }

private:
    std::array<uint8_t, k_aead_key_bytes> key_{};
    bool key_set_ = false;
    std::atomic<uint32_t> auth_failures_{0};
};

}  // namespace nb
