// Video datagrams as the agent builds and damages them, read back by the
// client's own Decryption and Depacketizer.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <tuple>

#include "net/decryption.h"
#include "net/depacketizer.h"
#include "net/input_crypto.h"
#include "tools/agent-sim/impairment.h"
#include "tools/agent-sim/video_packetizer.h"

namespace nb {
namespace {

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 31 + (i >> 8));
    return v;
}

struct Keys {
    Keys() {
        key.fill(0x42);
        encryption.set_key(key);
        decryption.set_key(key);
    }
    bool opens(const std::vector<uint8_t>& d, std::vector<uint8_t>* out = nullptr) {
        std::vector<uint8_t> plain(1226);
        size_t n = 0;
        if (!decryption.decrypt(d.data(), d.data() + 22, d.size() - 22, plain.data(), plain.size(), n)) return false;
        plain.resize(n);
        if (out) *out = std::move(plain);
        return true;
    }
    AeadKey key{};
    MediaEncryption encryption;
    Decryption decryption;
};

TEST(VideoPacketizer, DatagramsCarryTheFrameUnderDistinctNonces) {
    Keys keys;
    VideoPacketizer packetizer(keys.encryption, 0xA1B2C3D4);
    packetizer.set_repair(0.10, -1);
    const auto unit = pattern(5000, 1);
    PacketizedFrame frame;
    ASSERT_TRUE(packetizer.packetize(77, unit, true, frame));
    ASSERT_EQ(frame.data_packets, 5);
    ASSERT_EQ(frame.repair_packets, 1);
    ASSERT_EQ(frame.datagrams.size(), 6u);

    std::vector<uint8_t> joined;
    std::set<uint16_t> indices;
    for (const auto& d : frame.datagrams) {
        const auto header = MediaHeader::parse(d);
        ASSERT_TRUE(header.has_value());
        EXPECT_EQ(header->nonce_prefix, 0xA1B2C3D4u);
        EXPECT_EQ(header->frame_id, 77u);
        EXPECT_EQ(header->packet_count, 5);
        EXPECT_TRUE(header->key_frame());
        EXPECT_TRUE(indices.insert(header->packet_index).second) << "packet index reused: nonce reuse";
        EXPECT_LE(d.size(), 1200u);
        std::vector<uint8_t> plain;
        ASSERT_TRUE(keys.opens(d, &plain));
        if (header->is_fec()) {
            EXPECT_EQ(header->packet_index, 5 + header->fec_index);
            EXPECT_EQ(plain.size(), 1162u);
        } else {
            joined.insert(joined.end(), plain.begin(), plain.end());
        }
    }
    EXPECT_EQ(joined, unit);
}

TEST(VideoPacketizer, RepairCountAndFrameSizeLimits) {
    Keys keys;
    VideoPacketizer p(keys.encryption, 1);
    // ratio, fixed count, data packets, repair packets; fec_index is one byte.
    for (auto [ratio, count, data, repair] : std::vector<std::tuple<double, int, uint32_t, uint32_t>>{
             {0.10, -1, 1, 1}, {0.10, -1, 10, 1}, {0.10, -1, 11, 2}, {0.10, -1, 4096, 256}, {0.10, 0, 100, 0},
             {0, 7, 2, 7}}) {
        p.set_repair(ratio, count);
        EXPECT_EQ(p.repair_count_for(data), repair) << ratio << " " << count << " " << data;
    }
    // Empty frames and frames past the largest packet count are refused.
    PacketizedFrame frame;
    EXPECT_FALSE(p.packetize(1, {}, false, frame));
    const std::vector<uint8_t> huge(4096 * 1162 + 1, 7);
    EXPECT_FALSE(p.packetize(1, huge, false, frame));
    EXPECT_TRUE(frame.datagrams.empty());
    const std::vector<uint8_t> largest(4096 * 1162, 7);
    p.set_repair(0, 0);
    EXPECT_TRUE(p.packetize(1, largest, false, frame));
    EXPECT_EQ(frame.data_packets, 4096);
}

TEST(VideoPacketizer, DepacketizerRebuildsLostPacketsFromRepair) {
    Keys keys;
    VideoPacketizer packetizer(keys.encryption, 9);
    packetizer.set_repair(0, 4);
    for (const size_t size : {size_t{1162} * 20, size_t{1162} * 20 + 1, size_t{55555}}) {
        Depacketizer depacketizer(keys.decryption);
        std::map<uint32_t, std::vector<uint8_t>> delivered;
        depacketizer.set_frame_callback([&](CompletedFrame&& done) { delivered[done.frame_id] = std::move(done.access_unit); });
        const auto unit = pattern(size, static_cast<uint8_t>(size));
        PacketizedFrame frame;
        ASSERT_TRUE(packetizer.packetize(3, unit, false, frame));
        // Lose three data packets, the middle one and both ends.
        const std::set<size_t> lost = {0, frame.data_packets / 2u, frame.data_packets - 1u};
        for (size_t i = 0; i < frame.datagrams.size(); ++i) {
            if (lost.count(i)) continue;
            depacketizer.handle_datagram(frame.datagrams[i].data(), frame.datagrams[i].size(), {});
        }
        ASSERT_EQ(delivered.count(3), 1u) << size;
        const auto& got = delivered[3];
        ASSERT_GE(got.size(), unit.size());
        EXPECT_TRUE(std::equal(unit.begin(), unit.end(), got.begin())) << size;
        EXPECT_TRUE(std::all_of(got.begin() + static_cast<std::ptrdiff_t>(unit.size()), got.end(),
                                [](uint8_t b) { return b == 0; }));
    }
}

std::vector<std::vector<uint8_t>> sample_frame(Keys& keys, uint32_t frame_id) {
    VideoPacketizer packetizer(keys.encryption, 5);
    packetizer.set_repair(0, 4);
    PacketizedFrame frame;
    packetizer.packetize(frame_id, pattern(30 * 1162, 3), false, frame);
    return frame.datagrams;
}

TEST(Impairment, SameSeedSameDamage) {
    Keys keys;
    const ImpairmentConfig config{.loss_pct = 10, .burst_pct = 2, .reorder_window = 5, .duplicate_pct = 10,
                                  .corrupt_pct = 10, .forge_pct = 10, .withhold_frames = {}};
    auto run = [&](uint64_t seed) {
        Impairment impairment(config, seed);
        std::vector<std::vector<std::vector<uint8_t>>> out;
        std::vector<nlohmann::json> reports;
        for (uint32_t f = 1; f <= 5; ++f) {
            auto datagrams = sample_frame(keys, f);
            ImpairmentReport report;
            impairment.apply(f, datagrams, report);
            out.push_back(std::move(datagrams));
            reports.push_back(report.to_json());
        }
        return std::make_pair(out, reports);
    };
    const auto a = run(11), b = run(11), c = run(12);
    EXPECT_EQ(a.first, b.first);
    EXPECT_EQ(a.second, b.second);
    EXPECT_NE(a.first, c.first);
}

TEST(Impairment, EachKindOfDamageDoesWhatItSays) {
    Keys keys;
    const auto original = sample_frame(keys, 4);
    auto run = [&](const std::function<void(ImpairmentConfig&)>& tweak) {
        ImpairmentConfig config;
        tweak(config);
        Impairment impairment(config, 1);
        auto datagrams = original;
        ImpairmentReport report;
        impairment.apply(4, datagrams, report);
        return std::make_pair(datagrams, report);
    };
    {
        auto [out, report] = run([](auto& c) { c.withhold_frames = {4}; });
        EXPECT_TRUE(out.empty());
        EXPECT_TRUE(report.withheld);
        EXPECT_EQ(report.lost_data.size(), 30u);
        EXPECT_EQ(report.lost_repair, 4u);
    }
    {
        auto [out, report] = run([](auto& c) { c.corrupt_pct = 100; });
        ASSERT_EQ(out.size(), original.size());
        for (size_t i = 0; i < out.size(); ++i) {
            EXPECT_TRUE(std::equal(out[i].begin(), out[i].begin() + 22, original[i].begin())) << "header kept";
            EXPECT_NE(out[i], original[i]);
            EXPECT_FALSE(keys.opens(out[i]));
        }
        EXPECT_EQ(report.lost_data.size() + report.lost_repair, original.size());
    }
    {
        auto [out, report] = run([](auto& c) { c.forge_pct = 100; });
        ASSERT_EQ(out.size(), 2 * original.size());
        EXPECT_EQ(report.forged, original.size());
        EXPECT_EQ(std::count_if(out.begin(), out.end(), [&](const auto& d) { return keys.opens(d); }),
                  static_cast<std::ptrdiff_t>(original.size()))
            << "forged copies fail, the real ones still open";
        EXPECT_TRUE(report.lost_data.empty());
    }
    {
        auto [out, report] = run([](auto& c) {
            c.duplicate_pct = 100;
            c.reorder_window = 8;
        });
        auto expected = original;
        expected.insert(expected.end(), original.begin(), original.end());
        std::sort(out.begin(), out.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(out, expected) << "reordering and duplication neither lose nor alter";
        EXPECT_TRUE(report.reordered);
    }
    {
        auto [out, report] = run([](auto& c) {
            c.burst_pct = 100;
            c.burst_length = 34;
        });
        EXPECT_TRUE(out.empty());
        EXPECT_EQ(report.lost_data.size(), 30u);
    }
}

}  // namespace
}  // namespace nb
