// Builds the encrypted video datagrams of test frames the way the agent
// cuts them: 1162-byte slices, the last one possibly shorter.
#pragma once

#include <cstdint>
#include <vector>

#include "net/media_encryption.h"
#include "net/pending_frame.h"
#include "tests/fec/fec_fixtures.h"

namespace nb::test {

inline std::vector<uint8_t> video_key() {
    std::vector<uint8_t> key(32);
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(0x11 * (i + 1));
    return key;
}

// Distinct, frame-dependent bytes so a mix-up between frames shows.
inline std::vector<uint8_t> access_unit(uint32_t frame_id, size_t bytes) {
    return fec::testing::make_message(frame_id * 2654435761u + 1, bytes);
}

class VideoStream {
public:
    VideoStream() { sealer_.set_key(video_key()); }

    std::vector<uint8_t> packet(uint32_t frame_id, uint16_t index, uint16_t count, std::span<const uint8_t> payload,
                                uint8_t flags = 0, uint8_t fec_index = 0) const {
        const MediaHeader header{.nonce_prefix = 0xA1B2C3D4, .frame_id = frame_id, .packet_index = index,
                                 .packet_count = count, .flags = flags, .fec_index = fec_index};
        return sealer_.seal(header, payload);
    }

    // Data datagrams of one access unit, in index order.
    std::vector<std::vector<uint8_t>> frame(uint32_t frame_id, const std::vector<uint8_t>& au, bool key = false) const {
        const size_t count = (au.size() + k_video_block_bytes - 1) / k_video_block_bytes;
        std::vector<std::vector<uint8_t>> out;
        for (size_t i = 0; i < count; ++i) {
            const size_t begin = i * k_video_block_bytes;
            const size_t end = std::min(au.size(), begin + k_video_block_bytes);
            out.push_back(packet(frame_id, static_cast<uint16_t>(i), static_cast<uint16_t>(count),
                                 std::span(au).subspan(begin, end - begin), key ? k_media_flag_key_frame : 0));
        }
        return out;
    }

private:
    MediaEncryption sealer_;
};

}  // namespace nb::test
