// libopus encoding of 20 ms stereo blocks into packets that fit one audio
// datagram (at most 1162 bytes).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

struct OpusEncoder;

namespace nb {

class OpusPacketEncoder {
public:
    static constexpr int k_max_packet_bytes = 1162;

    OpusPacketEncoder() = default;
    ~OpusPacketEncoder();
    OpusPacketEncoder(const OpusPacketEncoder&) = delete;
    OpusPacketEncoder& operator=(const OpusPacketEncoder&) = delete;

    // 48 kHz, stereo, low-delay mode. False, with the cause logged, on error.
    bool open(int bitrate_kbps);
    // One 960-frame interleaved block in, one packet out (empty on error).
    std::vector<uint8_t> encode(std::span<const int16_t> block);

private:
    OpusEncoder* encoder_ = nullptr;
};

}  // namespace nb
