// Assembly state of one video frame while its packets are arriving.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace nb {

// Plaintext bytes of every data packet but possibly the last, and the
// block size of the frame's fountain-code message.
inline constexpr size_t k_video_block_bytes = 1162;
// Repair packets kept per frame; more would only be redundant.
inline constexpr size_t k_max_fec_packets_per_frame = 512;

struct PendingFrame {
    uint32_t frame_id = 0;
    uint16_t packet_count = 0;  // 0 until the first packet initialises the frame
    bool key = false;           // sticky: set once any packet carried the key flag
    int64_t first_arrival_us = 0;
    std::vector<std::vector<uint8_t>> packets;  // by packet_index, empty until filled
    std::vector<bool> received;                 // one bit per data packet
    uint16_t received_count = 0;
    uint64_t last_packet_size = 0;  // plaintext size of packet packet_count-1 if seen
    uint64_t bytes = 0;             // all stored plaintext, repair packets included
    std::vector<std::pair<uint8_t, std::vector<uint8_t>>> fec_packets;  // (fec_index, block), arrival order
};

}  // namespace nb
