// Repair of lost video packets from repair packets, with blocks made by our
// own encoder and with the reference blocks of the compatibility vectors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>

#include "depacketizer_fixture.h"
#include "fec/wirehair.h"
#include "tests/fec/fec_fixtures.h"

namespace nb {
namespace {

// Repair block `fec_index` of an access unit, zero-padded to whole blocks as
// the agent pads it before encoding.
std::vector<uint8_t> repair_block(const std::vector<uint8_t>& au, uint8_t fec_index) {
    const size_t n = (au.size() + k_video_block_bytes - 1) / k_video_block_bytes;
    std::vector<uint8_t> message(au);
    message.resize(n * k_video_block_bytes, 0);
    const auto encoder = fec::testing::make_encoder(message, k_video_block_bytes);
    EXPECT_NE(encoder, nullptr);
    std::vector<uint8_t> block(k_video_block_bytes);
    uint32_t written = 0;
    EXPECT_EQ(wirehair_encode(encoder.get(), static_cast<unsigned>(n + fec_index), block.data(), k_video_block_bytes,
                              &written),
              Wirehair_Success);
    return block;
}

// Like the reference library, reports success with filler even when the
// decoder lacked blocks: the depacketizer must not trust it on its word.
WirehairResult lenient_recover(WirehairCodec codec, void* message_out, uint64_t message_bytes) {
    if (wirehair_recover(codec, message_out, message_bytes) != Wirehair_Success) {
        std::memset(message_out, 0xEE, message_bytes);
    }
    return Wirehair_Success;
}

class RepairTest : public test::DepacketizerTest {
protected:
    RepairTest() : DepacketizerTest(FecCodecApi{.recover = lenient_recover}) {
        EXPECT_EQ(wirehair_init(), Wirehair_Success);
        spdlog::default_logger()->set_level(spdlog::level::debug);
    }
    std::vector<uint8_t> fec_packet(uint32_t frame_id, uint16_t count, const std::vector<uint8_t>& au,
                                    uint8_t fec_index) {
        return stream_.packet(frame_id, 0, count, repair_block(au, fec_index), k_media_flag_fec, fec_index);
    }
};

TEST_F(RepairTest, RestoresLostPacketsOnlyFromRepairBlocksWithNewInformation) {
    // 4 packets, the last one 500 bytes; packets 1 and 3 are lost.
    const auto au = test::access_unit(40, 3 * 1162 + 500);
    const auto data = stream_.frame(40, au);
    feed(data[0]);
    feed(data[2]);
    feed(fec_packet(40, 4, au, 0));
    EXPECT_TRUE(frames_.empty());  // 2 missing, 1 repair packet: no attempt yet
    EXPECT_EQ(logs_.count_containing("Depacketizer: FEC repair"), 0u);
    feed(fec_packet(40, 4, au, 1));
    ASSERT_EQ(frames_.size(), 1u);
    EXPECT_EQ(logs_.count_containing("Depacketizer: FEC repair succeeded for frame 40 (2 recovered)"), 1u);

    // The last packet's size was never seen: it comes back as a full block,
    // its zero padding included.
    auto expected = au;
    expected.resize(4 * 1162, 0);
    EXPECT_EQ(frames_[0].access_unit, expected);
    EXPECT_EQ(depacketizer_.pending_bytes(), 0u);

    // With two data packets repair block 8 copies packet 0, so it cannot
    // rebuild packet 1; block 3 (a copy of packet 1) then completes the frame.
    const auto au50 = test::access_unit(50, 2 * 1162);
    ASSERT_EQ(repair_block(au50, 8), std::vector<uint8_t>(au50.begin(), au50.begin() + 1162));
    feed(stream_.frame(50, au50)[0]);
    feed(fec_packet(50, 2, au50, 8));
    EXPECT_EQ(frames_.size(), 1u);
    EXPECT_EQ(logs_.count_containing("Depacketizer: FEC repair failed for frame 50 (1 missing, 1 fec)"), 1u);
    feed(fec_packet(50, 2, au50, 3));
    ASSERT_EQ(frames_.size(), 2u);
    EXPECT_EQ(frames_[1].access_unit, au50);
}

TEST_F(RepairTest, RestoresASingleLossAtEveryIndex) {
    uint32_t frame_id = 100;
    for (uint16_t n : {2, 5, 54}) {
        for (uint16_t lost = 0; lost < n; ++lost) {
            ++frame_id;
            const auto au = test::access_unit(frame_id, n * size_t{1162});
            const auto data = stream_.frame(frame_id, au);
            // The repair packet arrives first, in the middle or last.
            const size_t fec_at = lost % 3 == 0 ? 0 : (lost % 3 == 1 ? n / 2 : n);
            for (size_t i = 0; i <= n; ++i) {
                if (i == fec_at) feed(fec_packet(frame_id, n, au, static_cast<uint8_t>(lost % 7)));
                if (i < n && i != lost) feed(data[i]);
            }
            ASSERT_EQ(frames_.size(), 1u) << "n=" << n << " lost=" << lost;
            EXPECT_EQ(frames_[0].frame_id, frame_id);
            EXPECT_EQ(frames_[0].access_unit, au) << "n=" << n << " lost=" << lost;
            frames_.clear();
        }
    }
}

// --- The reference library's own blocks ------------------------------------

struct VectorScenario {
    uint32_t n = 0, seed = 0;
    std::vector<uint32_t> lost;
    std::map<uint32_t, std::vector<uint8_t>> repair;  // block id -> bytes
};

uint32_t read_u32(std::ifstream& in) {
    uint8_t b[4] = {};
    in.read(reinterpret_cast<char*>(b), 4);
    return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
}

// The first kind-4 scenario (losses that need more repair blocks than
// there are losses) with at most `max_n` blocks of 1162 bytes.
std::optional<VectorScenario> find_rank_short_scenario(uint32_t max_n) {
    std::ifstream in(fec::testing::vector_dir() + "/wirehair-b1162.bin", std::ios::binary);
    if (!in) return std::nullopt;
    char magic[8];
    in.read(magic, 8);
    if (std::memcmp(magic, "WHFECV01", 8) != 0) return std::nullopt;
    const uint32_t cases = read_u32(in);
    for (uint32_t c = 0; c < cases && in; ++c) {
        VectorScenario s;
        read_u32(in);  // case id
        s.seed = read_u32(in);
        s.n = read_u32(in);
        const uint32_t block_bytes = read_u32(in);
        const uint32_t repairs = read_u32(in);
        for (uint32_t r = 0; r < repairs; ++r) {
            const uint32_t id = read_u32(in);
            std::vector<uint8_t> bytes(block_bytes);
            in.read(reinterpret_cast<char*>(bytes.data()), block_bytes);
            s.repair[id] = std::move(bytes);
        }
        for (uint32_t k = read_u32(in); k > 0; --k) {  // scenarios
            const uint32_t kind = read_u32(in);
            std::vector<uint32_t> lost(read_u32(in));
            for (auto& id : lost) id = read_u32(in);
            for (uint32_t skip = read_u32(in) + 2; skip > 0; --skip) read_u32(in);  // tokens, expected, earliest
            if (kind == 4 && s.lost.empty() && s.n <= max_n && block_bytes == k_video_block_bytes) s.lost = lost;
        }
        if (!s.lost.empty()) return s;
    }
    return std::nullopt;
}

// As many repair packets as losses but short in rank: the frame stays pending
// rather than come from a half-solved decoder, until more repair arrives.
TEST_F(RepairTest, RankShortFrameStaysPendingUntilDecodable) {
    const auto scenario = find_rank_short_scenario(64);
    if (!scenario) GTEST_SKIP() << "compatibility vectors not found";
    const uint32_t n = scenario->n;
    const auto message = fec::testing::make_message(scenario->seed, n * size_t{1162});
    const uint32_t frame_id = 77;
    const auto data = stream_.frame(frame_id, message, true);
    for (uint32_t i = 0; i < n; ++i) {
        if (std::find(scenario->lost.begin(), scenario->lost.end(), i) == scenario->lost.end()) feed(data[i]);
    }
    auto feed_repair = [&](uint32_t r) {
        feed(stream_.packet(frame_id, 0, static_cast<uint16_t>(n), scenario->repair.at(n + r), k_media_flag_fec,
                            static_cast<uint8_t>(r)));
    };
    const uint32_t k = static_cast<uint32_t>(scenario->lost.size());
    for (uint32_t r = 0; r < k; ++r) feed_repair(r);
    EXPECT_TRUE(frames_.empty()) << "n=" << n << " losses=" << k;
    EXPECT_GE(logs_.count_containing("Depacketizer: FEC repair failed for frame 77"), 1u);
    EXPECT_EQ(depacketizer_.pending_frames(), 1u);

    for (uint32_t r = k; r < k + 6 && frames_.empty(); ++r) feed_repair(r);
    ASSERT_EQ(frames_.size(), 1u);
    EXPECT_EQ(frames_[0].access_unit, message);
}

}  // namespace
}  // namespace nb
