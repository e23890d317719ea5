// One access unit as frame assembly hands it on, with the times its packets
// arrived, so the stages after it can tell how long the frame has been
// under way without any state beside the record.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace nb {

struct CompletedFrame {
    uint32_t frame_id = 0;
    std::vector<uint8_t> access_unit;
    bool key = false;
    int64_t first_packet_us = 0;  // the frame's first packet was stored
    int64_t last_packet_us = 0;   // the datagram that completed it reached the handler
};

// Receives completed frames in frame_id order. It runs under the assembler's
// lock, so it must only queue the frame and return.
using FrameCallback = std::function<void(CompletedFrame&& frame)>;

}  // namespace nb
