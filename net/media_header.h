// The 22-byte clear header that opens every video and audio datagram. Its
// bytes feed the AEAD nonce and associated data, so they are kept verbatim.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace nb {

inline constexpr size_t k_media_header_bytes = 22;
inline constexpr size_t k_aead_tag_bytes = 16;
inline constexpr size_t k_aead_key_bytes = 32;
inline constexpr size_t k_aead_nonce_bytes = 12;

inline constexpr uint8_t k_media_flag_key_frame = 0x01;
inline constexpr uint8_t k_media_flag_fec = 0x02;

// Layout, little-endian: 0 nonce_prefix u32 | 4 frame_id u32 |
// 8 packet_index u16 | 10 packet_count u16 | 12 flags u8 | 13 fec_index u8 |
// 14..21 reserved.
struct MediaHeader {
    uint32_t nonce_prefix = 0;
    uint32_t frame_id = 0;
    uint16_t packet_index = 0;
    uint16_t packet_count = 0;
    uint8_t flags = 0;
    uint8_t fec_index = 0;
    std::array<uint8_t, 8> reserved{};

    bool key_frame() const { return (flags & k_media_flag_key_frame) != 0; }
    bool is_fec() const { return (flags & k_media_flag_fec) != 0; }

    void serialize(std::span<uint8_t, k_media_header_bytes> out) const;
    std::array<uint8_t, k_media_header_bytes> to_bytes() const;

    // Reads the first 22 bytes; nothing when fewer are given.
    static std::optional<MediaHeader> parse(std::span<const uint8_t> bytes);
    // Reads exactly 22 bytes; for callers that already checked the length.
    static MediaHeader parse_unchecked(const uint8_t* bytes);

    friend bool operator==(const MediaHeader&, const MediaHeader&) = default;
};

// Nonce of a media datagram: header bytes 0-9 as they stand on the wire,
// then two zero bytes. packet_count and later fields stay out of the nonce
// but are still authenticated as associated data.
std::array<uint8_t, k_aead_nonce_bytes> media_nonce(const uint8_t* header);

}  // namespace nb
