// Byte-exact reading and writing of the media header, independent of host
// byte order and struct padding.

#include "net/media_header.h"

#include <algorithm>
#include <cstring>

namespace nb {

namespace {

uint32_t read_u32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

uint16_t read_u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

void write_u32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void write_u16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace

void MediaHeader::serialize(std::span<uint8_t, k_media_header_bytes> out) const {
    write_u32(out.data(), nonce_prefix);
    write_u32(out.data() + 4, frame_id);
    write_u16(out.data() + 8, packet_index);
    write_u16(out.data() + 10, packet_count);
    out[12] = flags;
    out[13] = fec_index;
    std::copy(reserved.begin(), reserved.end(), out.begin() + 14);
}

std::array<uint8_t, k_media_header_bytes> MediaHeader::to_bytes() const {
    std::array<uint8_t, k_media_header_bytes> out{};
    serialize(out);
    return out;
}

MediaHeader MediaHeader::parse_unchecked(const uint8_t* p) {
    MediaHeader h;
    h.nonce_prefix = read_u32(p);
    h.frame_id = read_u32(p + 4);
    h.packet_index = read_u16(p + 8);
    h.packet_count = read_u16(p + 10);
    h.flags = p[12];
    h.fec_index = p[13];
    std::memcpy(h.reserved.data(), p + 14, h.reserved.size());
    return h;
}

std::optional<MediaHeader> MediaHeader::parse(std::span<const uint8_t> bytes) {
    if (bytes.size() < k_media_header_bytes) return std::nullopt;
    return parse_unchecked(bytes.data());
}

std::array<uint8_t, k_aead_nonce_bytes> media_nonce(const uint8_t* header) {
    std::array<uint8_t, k_aead_nonce_bytes> nonce{};
    std::memcpy(nonce.data(), header, 10);
    return nonce;
}

}  // namespace nb
