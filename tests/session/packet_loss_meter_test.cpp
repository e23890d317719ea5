// Loss as the share of announced packets that never came, per frame: what
// the client tells the agent, so a lossless link must read 0 % whatever the
// order in which two I/O threads handle the packets.
#include "session/packet_loss_meter.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace nb {
namespace {

struct Packet {
    uint32_t frame_id;
    uint16_t count;
};

// Every packet of `frames` frames of `count` packets, with the packets of
// neighbouring frames shuffled together as two threads would mix them.
std::vector<Packet> interleaved_stream(uint32_t frames, uint16_t count, uint32_t seed) {
    std::vector<Packet> out;
    for (uint32_t f = 1; f <= frames; ++f) {
        for (uint16_t i = 0; i < count; ++i) out.push_back({f, count});
    }
    std::mt19937 rng(seed);
    for (size_t i = 0; i + 1 < out.size(); ++i) {
        if (rng() % 2) std::swap(out[i], out[i + 1 + rng() % std::min<size_t>(count, out.size() - i - 1)]);
    }
    return out;
}

TEST(PacketLossMeter, InterleavedLosslessFramesReadZeroInEveryReport) {
    PacketLossMeter meter;
    const auto stream = interleaved_stream(600, 5, 11);
    // A report every 37 packets: frames straddle reports all the time.
    for (size_t i = 0; i < stream.size(); ++i) {
        meter.on_packet(stream[i].frame_id, stream[i].count);
        if (i % 37 == 36) {
            EXPECT_EQ(meter.take_loss_pct(), 0.0f) << "after packet " << i;
        }
    }
    EXPECT_EQ(meter.take_loss_pct(), 0.0f);
    EXPECT_EQ(meter.take_loss_pct(), 0.0f);
}

TEST(PacketLossMeter, AShortFrameCountsOnceItsStragglersHadTheirChance) {
    PacketLossMeter meter;
    for (int i = 0; i < 3; ++i) meter.on_packet(7, 4);
    EXPECT_EQ(meter.take_loss_pct(), 0.0f);  // its last packet may still be on its way
    meter.on_packet(8, 1);
    EXPECT_FLOAT_EQ(meter.take_loss_pct(), 20.0f);  // 1 of frame 7's 4 and frame 8's 1 missing
    // A packet of a frame already reported changes nothing any more.
    meter.on_packet(7, 4);
    EXPECT_EQ(meter.take_loss_pct(), 0.0f);
}

TEST(PacketLossMeter, MoreFramesThanItTracksSettleTheOldestFirst) {
    PacketLossMeter meter;
    // One packet of two for each of more frames than the meter keeps open:
    // the oldest settle early, as lost halves, and nothing is counted twice.
    const uint32_t frames = PacketLossMeter::k_open_frames + 10;
    for (uint32_t f = 1; f <= frames; ++f) meter.on_packet(f, 2);
    EXPECT_FLOAT_EQ(meter.take_loss_pct(), 50.0f);
    EXPECT_FLOAT_EQ(meter.take_loss_pct(), 50.0f);
    EXPECT_EQ(meter.take_loss_pct(), 0.0f);
}

}  // namespace
}  // namespace nb
