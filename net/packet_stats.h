// What the video datagram path reports to the session statistics. The
// reporter implements it; the depacketizer only knows this seam.
#pragma once

#include <cstdint>

namespace nb {

class IPacketStats {
public:
    virtual ~IPacketStats() = default;

    // Once per video data packet that passed validation and authentication
    // (repair packets and anything forged or damaged never count), with its
    // header's values. Called on I/O threads, possibly at once from two of
    // them; must not block or allocate.
    virtual void on_video_packet(uint32_t frame_id, uint16_t packet_count) = 0;
};

}  // namespace nb
