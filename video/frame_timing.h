// Where the time of one frame goes between its last datagram and the
// picture on screen; collected only when a sink is installed (benchmarks, the frame trace).
#pragma once

#include <cstdint>

namespace nb {

struct FrameTiming {
    uint32_t frame_id = 0;
    int64_t first_packet_us = 0;  // from the frame's record, as assembly stamped it
    int64_t last_packet_us = 0;   // the datagram that completed the frame reached the handler
    int64_t queued_us = 0;        // handed to the video thread
    int64_t dequeued_us = 0;      // the video thread took it up
    int64_t decode_start_us = 0;  // handed to the decoder
    int64_t decoded_us = 0;       // the decoder returned
    int64_t drawn_us = 0;         // picture drawn and the overlay over it; 0 when not drawn
    int64_t presented_us = 0;     // 0 when no picture was presented
};

class IFrameTimingSink {
public:
    virtual ~IFrameTimingSink() = default;
    // Called on the video thread once per frame it took up.
    virtual void on_frame_timing(const FrameTiming& timing) = 0;
};

}  // namespace nb
