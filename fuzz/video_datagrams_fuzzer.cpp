// Video datagrams as a broken or hostile network delivers them: real frames
// cut by the agent's packetizer and then lost, repeated and reordered;
// datagrams sealed with the session key around header fields and payloads
// the input chooses; raw bytes; and time passing. Whatever arrives, the
// depacketizer stays within its bounds, hands frames on in order, and a
// frame built only from the sender's own packets comes out as it was sent.
#include <algorithm>
#include <cstdint>
#include <map>
#include <vector>

#include "fuzz/support/fuzz_input.h"
#include "net/decryption.h"
#include "net/depacketizer.h"
#include "net/media_encryption.h"
#include "tools/agent-sim/video_packetizer.h"

namespace {

using nb::fuzz::FuzzInput;

constexpr uint32_t k_max_frame_packets = 40;
constexpr size_t k_largest_unit = size_t{nb::Depacketizer::k_max_packet_count} * nb::k_video_block_bytes;

struct Keys {
    nb::Decryption decryption;
    nb::MediaEncryption encryption;
    Keys() {
        std::vector<uint8_t> key(nb::k_aead_key_bytes);
        for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(0xA5 ^ i);
        NB_FUZZ_CHECK(decryption.set_key(key) && encryption.set_key(key));
    }
};

// What the sender put in each frame, and whether anything else claimed the
// same frame id (a forged packet, or a second frame reusing the id).
struct SentFrame {
    std::vector<uint8_t> access_unit;
    bool mixed = false;
};

// Hands authentic datagrams to the depacketizer and notes when one of them
// lies so far from the newest frame that the receiver starts over, after
// which frame order begins anew.
struct Network {
    nb::Depacketizer& depacketizer;
    bool has_baseline = false;  // a frame came out since the start or the last restart
    bool restarted = false;

    void deliver(const std::vector<uint8_t>& datagram, uint32_t frame_id) {
        const int64_t distance =
            static_cast<int64_t>(frame_id) - static_cast<int64_t>(depacketizer.latest_frame_id());
        if (has_baseline && (distance > nb::Depacketizer::k_frame_id_window ||
                             distance < -nb::Depacketizer::k_frame_id_window)) {
            restarted = true;
            has_baseline = false;
        }
        depacketizer.handle_datagram(datagram.data(), datagram.size(), {});
    }
};

// The sender's packets for one frame, then the network's doing.
void send_real_frame(FuzzInput& in, Network& network, nb::VideoPacketizer& packetizer, uint32_t frame_id,
                     std::map<uint32_t, SentFrame>& sent) {
    const size_t bytes = 1 + in.u16() % (k_max_frame_packets * nb::k_video_block_bytes);
    const auto unit = nb::fuzz::pseudo_random_bytes(in.u32(), bytes);
    packetizer.set_repair(0.0, in.u8() % 12);
    nb::PacketizedFrame frame;
    if (!packetizer.packetize(frame_id, unit, (in.u8() & 1) != 0, frame)) return;
    auto [entry, fresh] = sent.try_emplace(frame_id);
    if (fresh) {
        entry->second.access_unit = unit;
    } else {
        entry->second.mixed = true;
    }

    std::vector<const std::vector<uint8_t>*> late;
    for (const auto& datagram : frame.datagrams) {
        switch (in.u8() % 5) {
        case 0:  // lost
            break;
        case 1:  // duplicated
            network.deliver(datagram, frame_id);
            network.deliver(datagram, frame_id);
            break;
        case 2:  // overtaken by the rest of the frame
            late.push_back(&datagram);
            break;
        default:
            network.deliver(datagram, frame_id);
            break;
        }
    }
    std::reverse(late.begin(), late.end());
    for (const auto* datagram : late) network.deliver(*datagram, frame_id);
}

// A datagram that authenticates but whose header and payload are the input's.
void send_forged(FuzzInput& in, Network& network, const nb::MediaEncryption& encryption, uint32_t frame_id,
                 std::map<uint32_t, SentFrame>& sent) {
    nb::MediaHeader header;
    header.nonce_prefix = in.u32();
    header.frame_id = frame_id;
    header.packet_count = (in.u8() & 1) != 0 ? in.u16() : static_cast<uint16_t>(in.u8() % 48);
    header.packet_index = (in.u8() & 1) != 0 ? in.u16() : static_cast<uint16_t>(in.u8() % 64);
    header.flags = in.u8();
    header.fec_index = in.u8();
    const auto payload = in.bytes(in.u16() % 1300);
    const auto datagram = encryption.seal(header, payload);
    sent[frame_id].mixed = true;
    network.deliver(datagram, frame_id);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    nb::fuzz::quiet_logs();
    static Keys keys;
    FuzzInput in(data, size);

    int64_t now_us = 1'000'000;
    nb::Depacketizer depacketizer(keys.decryption, [&now_us] { return now_us; });
    nb::VideoPacketizer packetizer(keys.encryption, 0x1234);
    Network network{depacketizer};
    std::map<uint32_t, SentFrame> sent;
    bool delivered_any = false;
    uint32_t last_delivered = 0;
    depacketizer.set_frame_callback([&](nb::CompletedFrame&& done) {
        const uint32_t frame_id = done.frame_id;
        const std::vector<uint8_t>& unit = done.access_unit;
        // Empty units can happen (a one-packet frame with no payload); the
        // decoder refuses those itself.
        NB_FUZZ_CHECK(unit.size() <= k_largest_unit);
        // In order, unless the stream jumped so far that the receiver started over.
        if (delivered_any && !network.restarted) NB_FUZZ_CHECK(frame_id > last_delivered);
        network.restarted = false;
        network.has_baseline = true;
        delivered_any = true;
        last_delivered = frame_id;
        const auto it = sent.find(frame_id);
        if (it == sent.end() || it->second.mixed) return;
        // The sender's bytes, possibly followed by the zero padding of a
        // rebuilt last packet.
        const auto& original = it->second.access_unit;
        NB_FUZZ_CHECK(unit.size() >= original.size());
        NB_FUZZ_CHECK(std::equal(original.begin(), original.end(), unit.begin()));
        NB_FUZZ_CHECK(std::all_of(unit.begin() + static_cast<std::ptrdiff_t>(original.size()), unit.end(),
                                  [](uint8_t b) { return b == 0; }));
    });

    uint32_t base = in.u32();
    while (!in.empty()) {
        const uint8_t op = in.u8();
        // Frame ids cluster near a moving base, with rare far jumps.
        const uint32_t frame_id = (op & 0x80) != 0 && (op & 0x40) != 0 ? in.u32() : base + in.u8() % 24;
        switch (op % 5) {
        case 0:
        case 1:
            send_real_frame(in, network, packetizer, frame_id, sent);
            break;
        case 2:
            send_forged(in, network, keys.encryption, frame_id, sent);
            break;
        case 3: {
            const auto raw = in.bytes(in.u16() % 1500);
            depacketizer.handle_datagram(raw.data(), raw.size(), {});
            break;
        }
        default:
            now_us += static_cast<int64_t>(in.u16()) * 8;
            depacketizer.sweep_stale();
            base += in.u8() % 8;
            break;
        }
        NB_FUZZ_CHECK(depacketizer.pending_frames() <= nb::Depacketizer::k_max_pending_frames);
        NB_FUZZ_CHECK(depacketizer.pending_bytes() <= nb::Depacketizer::k_max_pending_bytes);
    }
    return 0;
}
