// Sealing and opening of input datagrams with libsodium.

#include "net/input_crypto.h"

#include <sodium.h>

#include <algorithm>

namespace nb {

std::array<uint8_t, k_aead_nonce_bytes> input_nonce(const InputRecordBytes& record) {
    std::array<uint8_t, k_aead_nonce_bytes> nonce{};
    std::copy(record.begin() + 2, record.begin() + 12, nonce.begin());
    return nonce;
}

InputDatagram seal_input_datagram(const AeadKey& key, const InputRecordBytes& record) {
    InputDatagram datagram{};
    const auto nonce = input_nonce(record);
    std::copy(nonce.begin(), nonce.end(), datagram.begin());
    unsigned long long sealed_length = 0;
    crypto_aead_chacha20poly1305_ietf_encrypt(datagram.data() + k_aead_nonce_bytes, &sealed_length, record.data(),
                                              record.size(), nullptr, 0, nullptr, nonce.data(), key.data());
    return datagram;
}

std::optional<InputRecordBytes> open_input_datagram(const AeadKey& key, std::span<const uint8_t> datagram) {
    if (datagram.size() != k_input_datagram_bytes) return std::nullopt;
    InputRecordBytes record{};
    unsigned long long plain_length = 0;
    if (crypto_aead_chacha20poly1305_ietf_decrypt(record.data(), &plain_length, nullptr,
                                                  datagram.data() + k_aead_nonce_bytes,
                                                  datagram.size() - k_aead_nonce_bytes, nullptr, 0, datagram.data(),
                                                  key.data()) != 0) {
        return std::nullopt;
    }
    return record;
}

}  // namespace nb
