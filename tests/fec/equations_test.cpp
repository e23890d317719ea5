// The equations each block id stands for: generator, parameters, rows and
// dense rows, checked against values worked out for the agents' codec.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <fstream>
#include <set>
#include <sstream>

#include "fec/block_row.h"
#include "fec/codec_params.h"
#include "fec/dense_pattern.h"
#include "fec/pcg32.h"
#include "tests/fec/fec_fixtures.h"

namespace nb::fec {
namespace {

TEST(Pcg32, StreamMatchesPeers) {
    Pcg32 a(0, 0);
    EXPECT_EQ(a.next(), 0xe4c14788u);
    EXPECT_EQ(a.next(), 0x379c6516u);
    EXPECT_EQ(a.next(), 0x5c4ab3bbu);
    Pcg32 b(42, 54);
    EXPECT_EQ(b.next(), 0x3fd4c3bau);
    EXPECT_EQ(b.next(), 0xc773318fu);
    EXPECT_EQ(b.next(), 0x2c9cfe17u);
}

// Every parameter for N = 2..4096 as the agents derive them; this also
// pins the interpolation rules used beyond the hand-tuned range.
TEST(CodecParams, MatchTheSharedTableForEveryBlockCount) {
    std::ifstream csv(testing::vector_dir() + "/params.csv");
    ASSERT_TRUE(csv) << "the FEC vectors in tests/fec/vectors must be present";
    std::string line;
    std::getline(csv, line);
    uint32_t rows = 0;
    while (std::getline(csv, line)) {
        std::stringstream fields(line);
        std::vector<uint32_t> v;
        for (std::string f; std::getline(fields, f, ',');) v.push_back(static_cast<uint32_t>(std::stoul(f)));
        ASSERT_EQ(v.size(), 9u);
        const auto p = CodecParams::for_block_count(v[0]);
        ASSERT_TRUE(p.has_value()) << v[0];
        EXPECT_EQ(p->dense_count, v[1]) << "N=" << v[0];
        EXPECT_EQ(p->dense_seed, v[2]) << "N=" << v[0];
        EXPECT_EQ(p->peel_seed, v[3]) << "N=" << v[0];
        EXPECT_EQ(p->mix_count, v[4]) << "N=" << v[0];
        EXPECT_EQ(p->heavy_cols, v[5]) << "N=" << v[0];
        EXPECT_EQ(p->peel_prime, v[6]) << "N=" << v[0];
        EXPECT_EQ(p->mix_prime, v[7]) << "N=" << v[0];
        EXPECT_EQ(p->tie_seed, v[8]) << "N=" << v[0];
        ++rows;
    }
    EXPECT_EQ(rows, 4095u);
}

TEST(CodecParams, BlockCountLimits) {
    EXPECT_FALSE(CodecParams::for_block_count(0));
    EXPECT_FALSE(CodecParams::for_block_count(1));
    EXPECT_FALSE(CodecParams::for_block_count(64001));
    const auto largest = CodecParams::for_block_count(64000);
    ASSERT_TRUE(largest);
    EXPECT_EQ(largest->dense_count % 4, 2u);
    EXPECT_EQ(next_prime(65520), 65521u);
    EXPECT_EQ(next_prime(2), 2u);
}

TEST(FastModulus, AgreesWithDivisionForRowDraws) {
    std::mt19937 rng(4);
    for (uint32_t d = 1; d <= 64000; d += (d < 300 ? 1 : 97)) {
        const FastModulus mod(d);
        for (const uint32_t v : {0u, 1u, d - 1, d, d + 1, 0xFFFFu, 0xFFFFFFFFu}) {
            ASSERT_EQ(mod(v), v % d) << v << " % " << d;
        }
        for (int k = 0; k < 50; ++k) {
            const uint32_t v = rng();
            ASSERT_EQ(mod(v), v % d) << v << " % " << d;
        }
    }
}

struct RowCase {
    uint32_t n;
    uint32_t id;
    std::vector<uint32_t> peel;
    std::array<uint32_t, 3> mix;
};

TEST(BlockRow, ColumnsMatchPeers) {
    const std::vector<RowCase> cases = {
        {10, 0, {6, 3, 7, 0, 4}, {1, 9, 0}},
        {10, 9, {0, 4, 8, 1, 5}, {5, 6, 7}},
        {10, 10, {0, 3}, {10, 3, 8}},
        {10, 265, {5, 7}, {2, 8, 14}},
        {1000, 999, {712, 632, 552, 472}, {54, 36, 18}},
        {1000, 1255, {103, 443, 783}, {53, 37, 21}},
        {4096, 0, {1948, 3257, 467, 1776, 3085, 295, 1604, 2913, 123, 1432}, {66, 24, 61}},
        {4096, 4351, {3700, 3418, 3136, 2854, 2572, 2290, 2008}, {43, 51, 59}},
    };
    for (const RowCase& c : cases) {
        const auto params = *CodecParams::for_block_count(c.n);
        const BlockRow row = BlockRow::for_id(params, c.id);
        std::vector<uint32_t> peel;
        row.for_each_peel_column(params, [&](uint32_t col) { peel.push_back(col); });
        EXPECT_EQ(peel, c.peel) << "N=" << c.n << " id=" << c.id;
        EXPECT_EQ(row.mix_columns(params), c.mix) << "N=" << c.n << " id=" << c.id;
    }
}

// The peel walk must visit distinct columns for any id, including ids
// whose sequence number needs all 32 bits.
TEST(BlockRow, PeelColumnsAreDistinctAndInRange) {
    for (const uint32_t n : {2u, 3u, 17u, 2048u, 2049u, 4096u}) {
        const auto params = *CodecParams::for_block_count(n);
        for (const uint32_t id : {0u, n - 1, n, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
            const BlockRow row = BlockRow::for_id(params, id);
            std::set<uint32_t> seen;
            row.for_each_peel_column(params, [&](uint32_t col) {
                EXPECT_LT(col, n);
                EXPECT_TRUE(seen.insert(col).second) << "N=" << n << " id=" << id;
            });
            EXPECT_GE(seen.size(), 1u);
            EXPECT_LE(seen.size(), std::max(1u, n / 2));
            const auto mix = row.mix_columns(params);
            EXPECT_EQ(std::set<uint32_t>(mix.begin(), mix.end()).size(), 3u);
        }
    }
}

TEST(DensePattern, RowsForTenBlocksMatchPeers) {
    const auto params = *CodecParams::for_block_count(10);
    DensePattern dense;
    dense.build(params);
    std::vector<std::set<uint32_t>> rows(params.dense_count);
    std::set<uint32_t> acc;
    dense.walk([&] { acc.clear(); },
               [&](uint32_t col) {
                   if (!acc.erase(col)) acc.insert(col);
               },
               [&](uint32_t t) {
                   for (uint32_t c : acc) {
                       if (!rows[t].erase(c)) rows[t].insert(c);
                   }
               });
    const std::vector<std::set<uint32_t>> expected_peel = {
        {0, 2, 4, 5, 8}, {1, 2, 4, 9},       {0, 4, 5, 6, 8, 9},       {1, 2, 4, 5, 8, 9}, {1, 2, 3, 4, 7, 9},
        {2, 3, 5, 6, 7, 9}, {0, 2, 3, 5, 6, 7, 8, 9}, {0, 3, 5, 6, 8}, {1, 2, 3, 6, 7, 9}};
    const std::vector<std::set<uint32_t>> expected_tie = {
        {3, 7, 8}, {0, 1, 3, 4, 5, 7, 8}, {2, 3, 7, 8}, {0, 2, 3, 5}, {0, 3, 7, 8},
        {0, 3, 4, 6, 7}, {2, 3, 4, 6, 7, 8}, {0, 1, 8}, {0, 3, 4, 7}};
    for (uint32_t t = 0; t < params.dense_count; ++t) {
        EXPECT_EQ(rows[t], expected_peel[t]) << "dense row " << t;
        std::set<uint32_t> tie;
        for (uint32_t k = 0; k < params.dense_count; ++k) {
            if (dense.tie_row(t)[k / 64] >> (k % 64) & 1) tie.insert(k);
        }
        EXPECT_EQ(tie, expected_tie[t]) << "dense row " << t;
    }
}

// Small complete encodings: systematic originals and the first repair
// blocks, through the C interface.
TEST(Encoder, SmallMessagesGivePeersRepairBlocks) {
    ASSERT_EQ(wirehair_init(), Wirehair_Success);
    std::vector<uint8_t> three(12);
    for (size_t i = 0; i < three.size(); ++i) three[i] = static_cast<uint8_t>(i);
    const auto e3 = testing::make_encoder(three, 4);
    ASSERT_NE(e3, nullptr);
    const std::vector<std::pair<uint32_t, uint32_t>> expected3 = {
        {3, 0xafaeadac}, {4, 0x4e4f4c4d}, {5, 0xefeeedec}, {6, 0x40414243}, {7, 0x66676465}, {8, 0x64656667}};
    for (const auto& [id, bytes] : expected3) {
        uint8_t out[4];
        uint32_t written = 0;
        ASSERT_EQ(wirehair_encode(e3.get(), id, out, 4, &written), Wirehair_Success);
        EXPECT_EQ(written, 4u);
        const uint32_t got = uint32_t{out[0]} << 24 | uint32_t{out[1]} << 16 | uint32_t{out[2]} << 8 | out[3];
        EXPECT_EQ(got, bytes) << "id " << id;
    }
    std::vector<uint8_t> ten(40);
    for (size_t i = 0; i < ten.size(); ++i) ten[i] = static_cast<uint8_t>(i / 4);
    const auto e10 = testing::make_encoder(ten, 4);
    ASSERT_NE(e10, nullptr);
    for (const auto& [id, value] : std::vector<std::pair<uint32_t, uint8_t>>{
             {10, 0x20}, {11, 0x2b}, {12, 0x17}, {13, 0x32}, {265, 0x86}}) {
        uint8_t out[4];
        uint32_t written = 0;
        ASSERT_EQ(wirehair_encode(e10.get(), id, out, 4, &written), Wirehair_Success);
        EXPECT_EQ(std::vector<uint8_t>(out, out + 4), std::vector<uint8_t>(4, value)) << "id " << id;
    }
}

}  // namespace
}  // namespace nb::fec
