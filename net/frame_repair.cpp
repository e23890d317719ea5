// Fountain-code repair of one pending frame: feed what arrived, recover
// only when the decoder says the message is complete, fill the gaps.

#include "net/frame_repair.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>


namespace nb {

namespace {

// Every block goes in at full size; short packets are zero-padded as the
// sender padded them before encoding.
bool feed(const FecCodecApi& api, WirehairCodec codec, unsigned block_id, const std::vector<uint8_t>& bytes,
          std::array<uint8_t, k_video_block_bytes>& padded) {
    const size_t n = std::min(bytes.size(), k_video_block_bytes);
    if (n > 0) std::memcpy(padded.data(), bytes.data(), n);  // an empty packet may have no storage at all
    std::memset(padded.data() + n, 0, k_video_block_bytes - n);
    return api.decode(codec, block_id, padded.data(), k_video_block_bytes) == Wirehair_Success;
}

}  // namespace

bool repair_frame(PendingFrame& frame, uint64_t& added_bytes, const FecCodecApi& api) {
    const uint32_t count = frame.packet_count;
    const uint64_t message_bytes = static_cast<uint64_t>(count) * k_video_block_bytes;
    const unsigned missing = count - frame.received_count;
    auto release = [&api](WirehairCodec_t* c) { api.free(c); };
    std::unique_ptr<WirehairCodec_t, decltype(release)> codec(
        api.decoder_create(nullptr, message_bytes, k_video_block_bytes), release);
    if (!codec) {
        spdlog::debug("Depacketizer: wirehair_decoder_create failed for frame {}", frame.frame_id);
        return false;
    }

    std::array<uint8_t, k_video_block_bytes> padded;
    bool decoded = false;
    for (uint32_t i = 0; i < count && !decoded; ++i) {
        if (frame.received[i]) decoded = feed(api, codec.get(), i, frame.packets[i], padded);
    }
    for (size_t k = 0; k < frame.fec_packets.size() && !decoded; ++k) {
        const auto& [fec_index, block] = frame.fec_packets[k];
        decoded = feed(api, codec.get(), count + fec_index, block, padded);
    }

    // Recovery is only meaningful once a decode call reported the message
    // complete: asked earlier, a codec may hand back a guess, and a frame one
    // block short would then be delivered corrupted as if whole.
    std::vector<uint8_t> message;
    if (decoded) {
        message.resize(message_bytes);
        decoded = api.recover(codec.get(), message.data(), message_bytes) == Wirehair_Success;
    }
    codec.reset();
    if (!decoded) {
        spdlog::debug("Depacketizer: FEC repair failed for frame {} ({} missing, {} fec)", frame.frame_id, missing,
                      frame.fec_packets.size());
        return false;
    }

    added_bytes = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (frame.received[i]) continue;
        size_t size = k_video_block_bytes;
        // A last packet seen before at a shorter size keeps that size; one
        // never seen comes back at full block size, padding included.
        if (i == count - 1 && frame.last_packet_size >= 1 && frame.last_packet_size < k_video_block_bytes) {
            size = static_cast<size_t>(frame.last_packet_size);
        }
        const uint8_t* from = message.data() + static_cast<size_t>(i) * k_video_block_bytes;
        frame.packets[i].assign(from, from + size);
        frame.received[i] = true;
        ++frame.received_count;
        added_bytes += size;
    }
    frame.bytes += added_bytes;
    spdlog::debug("Depacketizer: FEC repair succeeded for frame {} ({} recovered)", frame.frame_id, missing);
    return true;
}

}  // namespace nb
