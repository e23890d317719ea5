// What the video datagram path reports to the session statistics. The
// reporter implements it; the depacketizer only knows this seam.
#pragma once

#include <cstdint>

namespace nb {

class IPacketStats {
public:
    virtual ~IPacketStats() = default;

    // Once per video datagram of at least 22 bytes whose FEC flag is clear,
    // with the raw header's values, whether or not the datagram later passed
    // validation and decryption. Called on I/O threads, possibly at once from
    // two of them; must not block or allocate.
    virtual void on_video_packet(uint32_t frame_id, uint16_t packet_count) = 0;
};

}  // namespace nb
