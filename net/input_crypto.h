// Sealing and opening of the 56-byte input datagrams: nonce (the record's
// seq and timestamp, then two zero bytes) || encrypted 28-byte record || tag.
// No associated data. The client seals, the test agent opens.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "input/input_event.h"
#include "net/media_header.h"

namespace nb {

inline constexpr size_t k_input_datagram_bytes =
    k_aead_nonce_bytes + InputEvent::k_wire_size + k_aead_tag_bytes;

using InputRecordBytes = std::array<uint8_t, InputEvent::k_wire_size>;
using InputDatagram = std::array<uint8_t, k_input_datagram_bytes>;
using AeadKey = std::array<uint8_t, k_aead_key_bytes>;

// Record bytes 2-3 (seq) and 4-11 (timestamp_us) as stored, then two zeros.
std::array<uint8_t, k_aead_nonce_bytes> input_nonce(const InputRecordBytes& record);

// Deterministic: the same record and key always give the same datagram,
// which is why duplicated sends are byte-identical.
InputDatagram seal_input_datagram(const AeadKey& key, const InputRecordBytes& record);

// The record bytes, or nothing when the size is not 56 or the tag fails.
std::optional<InputRecordBytes> open_input_datagram(const AeadKey& key, std::span<const uint8_t> datagram);

}  // namespace nb
