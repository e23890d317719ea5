#include "tools/agent-sim/video_packetizer.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "fec/wirehair.h"

namespace nb {

VideoPacketizer::VideoPacketizer(const MediaEncryption& encryption, uint32_t nonce_prefix)
    : encryption_(encryption), nonce_prefix_(nonce_prefix), block_(k_block_bytes) {}

void VideoPacketizer::set_repair(double ratio, int count) {
    ratio_ = std::max(0.0, ratio);
    count_ = count;
}

uint32_t VideoPacketizer::repair_count_for(uint32_t data_packets) const {
    double wanted = count_ >= 0 ? count_ : std::ceil(data_packets * ratio_ - 1e-9);
    return static_cast<uint32_t>(std::clamp(wanted, 0.0, static_cast<double>(k_max_repair_packets)));
}

bool VideoPacketizer::packetize(uint32_t frame_id, std::span<const uint8_t> access_unit, bool key_frame,
                                PacketizedFrame& out) {
    out.datagrams.clear();
    out.data_packets = 0;
    out.repair_packets = 0;
    if (access_unit.empty()) {
        spdlog::warn("VideoPacketizer: frame {} is empty, not sent", frame_id);
        return false;
    }
    const size_t n = (access_unit.size() + k_block_bytes - 1) / k_block_bytes;
    if (n > k_max_data_packets) {
        spdlog::warn("VideoPacketizer: frame {} has {} bytes, more than {} packets can carry; not sent", frame_id,
                     access_unit.size(), k_max_data_packets);
        return false;
    }
    MediaHeader header;
    header.nonce_prefix = nonce_prefix_;
    header.frame_id = frame_id;
    header.packet_count = static_cast<uint16_t>(n);
    const uint8_t key_flag = key_frame ? k_media_flag_key_frame : 0;

    const uint32_t repair = repair_count_for(static_cast<uint32_t>(n));
    out.datagrams.reserve(n + repair);
    for (size_t i = 0; i < n; ++i) {
        header.packet_index = static_cast<uint16_t>(i);
        header.flags = key_flag;
        const size_t offset = i * k_block_bytes;
        const size_t length = std::min<size_t>(k_block_bytes, access_unit.size() - offset);
        auto& datagram = out.datagrams.emplace_back();
        if (!encryption_.seal(header, access_unit.subspan(offset, length), datagram)) {
            spdlog::error("VideoPacketizer: sealing frame {} failed (no key)", frame_id);
            out.datagrams.clear();
            return false;
        }
    }
    out.data_packets = static_cast<uint16_t>(n);
    if (repair == 0) return true;

    // The receiver decodes a message of n whole blocks with the last one
    // zero-padded, so the encoder must see exactly that message.
    static const bool fountain_ready = wirehair_init() == Wirehair_Success;
    if (!fountain_ready) {
        spdlog::warn("VideoPacketizer: fountain code unavailable; frame {} sent without repair", frame_id);
        return true;
    }
    padded_.assign(n * k_block_bytes, 0);
    std::memcpy(padded_.data(), access_unit.data(), access_unit.size());
    WirehairCodec encoder = wirehair_encoder_create(nullptr, padded_.data(), padded_.size(), k_block_bytes);
    if (encoder == nullptr) {
        spdlog::debug("VideoPacketizer: no fountain encoder for frame {} ({} packets); sent without repair", frame_id,
                      n);
        return true;
    }
    for (uint32_t k = 0; k < repair; ++k) {
        uint32_t produced = 0;
        // Repair block ids continue after the data blocks, and so do the
        // packet indices that enter the nonce.
        const WirehairResult rc =
            wirehair_encode(encoder, static_cast<unsigned>(n + k), block_.data(), k_block_bytes, &produced);
        if (rc != Wirehair_Success || produced != k_block_bytes) {
            spdlog::warn("VideoPacketizer: repair block {} of frame {} failed: {}", k, frame_id,
                         wirehair_result_string(rc));
            break;
        }
        header.packet_index = static_cast<uint16_t>(n + k);
        header.flags = static_cast<uint8_t>(key_flag | k_media_flag_fec);
        header.fec_index = static_cast<uint8_t>(k);
        auto& datagram = out.datagrams.emplace_back();
        encryption_.seal(header, block_, datagram);
        ++out.repair_packets;
    }
    wirehair_free(encoder);
    return true;
}

}  // namespace nb
