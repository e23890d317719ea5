// Cuts one access unit into sealed video datagrams: data packets of 1162
// plaintext bytes and repair packets from the fountain code, with packet
// indices that never repeat within a frame, so no nonce is ever reused.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "net/media_encryption.h"

namespace nb {

struct PacketizedFrame {
    std::vector<std::vector<uint8_t>> datagrams;  // data packets first, then repair
    uint16_t data_packets = 0;
    uint16_t repair_packets = 0;
};

class VideoPacketizer {
public:
    static constexpr uint32_t k_block_bytes = 1162;
    static constexpr uint32_t k_max_data_packets = 4096;
    // fec_index is one byte on the wire.
    static constexpr uint32_t k_max_repair_packets = 256;

    // `encryption` must hold the session's video key and outlive this.
    VideoPacketizer(const MediaEncryption& encryption, uint32_t nonce_prefix);

    // Repair packets per frame: `count` when it is 0 or more, else
    // ceil(data packets x `ratio`); capped at 256.
    void set_repair(double ratio, int count);
    uint32_t repair_count_for(uint32_t data_packets) const;

    // False, with the cause logged, for an empty access unit or one larger
    // than 4096 packets. The fountain code needs at least two blocks, so a
    // one-packet frame (and any frame when the encoder is unavailable) goes
    // out without repair packets.
    bool packetize(uint32_t frame_id, std::span<const uint8_t> access_unit, bool key_frame, PacketizedFrame& out);

private:
    const MediaEncryption& encryption_;
    uint32_t nonce_prefix_ = 0;
    double ratio_ = 0.10;
    int count_ = -1;
    std::vector<uint8_t> padded_;  // the frame as the fountain code sees it
    std::vector<uint8_t> block_;
};

}  // namespace nb
