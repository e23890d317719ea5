// Where the time of one frame goes between its last datagram and the
// picture on screen; collected only when a sink is installed (benchmarks).
#pragma once

#include <cstdint>

namespace nb {

struct FrameTiming {
    uint32_t frame_id = 0;
    int64_t last_packet_us = 0;  // the datagram that completed the frame reached the handler
    int64_t handed_over_us = 0;  // the frame handler began
    int64_t locked_us = 0;       // the render lock was taken
    int64_t decoded_us = 0;
    int64_t drawn_us = 0;        // picture drawn and the overlay over it
    int64_t presented_us = 0;    // 0 when no picture was presented
};

class IFrameTimingSink {
public:
    virtual ~IFrameTimingSink() = default;
    // Called on the I/O thread that handled the frame, under the render lock.
    virtual void on_frame_timing(const FrameTiming& timing) = 0;
};

}  // namespace nb
