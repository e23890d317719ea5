// The agent-side sealing of media datagrams, mirror of Decryption.

#include "net/media_encryption.h"

#include <sodium.h>
#include <spdlog/spdlog.h>

#include <cstring>

namespace nb {

MediaEncryption::MediaEncryption() {
    if (sodium_init() < 0) spdlog::critical("MediaEncryption: libsodium initialization failed");
}

MediaEncryption::~MediaEncryption() { sodium_memzero(key_.data(), key_.size()); }

bool MediaEncryption::set_key(std::span<const uint8_t> key) {
    if (key.size() != k_aead_key_bytes) {
        spdlog::error("MediaEncryption: invalid key length {} (expected {})", key.size(), k_aead_key_bytes);
        return false;
    }
    std::memcpy(key_.data(), key.data(), k_aead_key_bytes);
    key_set_ = true;
    return true;
}

bool MediaEncryption::seal(const MediaHeader& header, std::span<const uint8_t> plaintext,
                           std::vector<uint8_t>& datagram) const {
    if (!key_set_) return false;
    datagram.resize(k_media_header_bytes + plaintext.size() + k_aead_tag_bytes);
    uint8_t* head = datagram.data();
    header.serialize(std::span<uint8_t, k_media_header_bytes>(head, k_media_header_bytes));
    const auto nonce = media_nonce(head);
    unsigned long long sealed_length = 0;
    crypto_aead_chacha20poly1305_ietf_encrypt(head + k_media_header_bytes, &sealed_length, plaintext.data(),
                                              plaintext.size(), head, k_media_header_bytes, nullptr, nonce.data(),
                                              key_.data());
    return sealed_length == plaintext.size() + k_aead_tag_bytes;
}

std::vector<uint8_t> MediaEncryption::seal(const MediaHeader& header, std::span<const uint8_t> plaintext) const {
    std::vector<uint8_t> datagram;
    if (!seal(header, plaintext, datagram)) datagram.clear();
    return datagram;
}

}  // namespace nb
