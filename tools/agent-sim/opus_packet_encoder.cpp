#include "tools/agent-sim/opus_packet_encoder.h"

#include <opus/opus.h>
#include <spdlog/spdlog.h>

namespace nb {

OpusPacketEncoder::~OpusPacketEncoder() {
    if (encoder_ != nullptr) opus_encoder_destroy(encoder_);
}

bool OpusPacketEncoder::open(int bitrate_kbps) {
    if (encoder_ != nullptr) opus_encoder_destroy(encoder_);
    int error = 0;
    encoder_ = opus_encoder_create(48000, 2, OPUS_APPLICATION_RESTRICTED_LOWDELAY, &error);
    if (encoder_ == nullptr || error != OPUS_OK) {
        spdlog::error("OpusPacketEncoder: create failed: {}", opus_strerror(error));
        encoder_ = nullptr;
        return false;
    }
    opus_encoder_ctl(encoder_, OPUS_SET_BITRATE(bitrate_kbps * 1000));
    return true;
}

std::vector<uint8_t> OpusPacketEncoder::encode(std::span<const int16_t> block) {
    std::vector<uint8_t> packet(k_max_packet_bytes);
    if (encoder_ == nullptr || block.size() != 960 * 2) return {};
    const int n = opus_encode(encoder_, block.data(), 960, packet.data(), static_cast<opus_int32>(packet.size()));
    if (n < 0) {
        spdlog::warn("OpusPacketEncoder: encode failed: {}", opus_strerror(n));
        return {};
    }
    packet.resize(static_cast<size_t>(n));
    return packet;
}

}  // namespace nb
