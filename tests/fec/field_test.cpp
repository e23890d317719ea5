// GF(256) arithmetic and the bulk block routines built on it.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "fec/block_ops.h"
#include "fec/gf256.h"

namespace nb::fec {
namespace {

TEST(Gf256, MatchesTheAgentsField) {
    EXPECT_TRUE(Gf256::self_test());
    EXPECT_EQ(Gf256::mul(2, 0x80), 0x4D);
    EXPECT_EQ(Gf256::mul(0x80, 0x80), 0x3E);
    EXPECT_EQ(Gf256::mul(0x53, 0xCA), 0x94);
    EXPECT_EQ(Gf256::mul(0x85, 0xD3), 0x56);
    EXPECT_EQ(Gf256::inv(2), 0xA6);
    EXPECT_EQ(Gf256::inv(0x53), 0x04);
    EXPECT_EQ(Gf256::div(0x94, 0xCA), 0x53);
}

std::vector<uint8_t> random_bytes(std::mt19937& rng, size_t n) {
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

// Lengths around the vector widths and the client's block size, at odd
// offsets, so the ragged ends and unaligned loads are all exercised.
TEST(BlockOps, XorSumOfAnyLengthAndSourceCount) {
    std::mt19937 rng(7);
    for (const size_t bytes : {1, 7, 31, 32, 33, 63, 127, 128, 129, 1162, 1500}) {
        for (const size_t count : {0, 1, 2, 5, 70}) {
            std::vector<std::vector<uint8_t>> blocks;
            std::vector<const uint8_t*> sources;
            for (size_t s = 0; s < count; ++s) blocks.push_back(random_bytes(rng, bytes + 3));
            for (auto& b : blocks) sources.push_back(b.data() + 3);
            std::vector<uint8_t> expected(bytes, 0);
            for (auto& b : blocks) {
                for (size_t i = 0; i < bytes; ++i) expected[i] ^= b[i + 3];
            }
            std::vector<uint8_t> out = random_bytes(rng, bytes + 1);
            const uint8_t guard = out[bytes];
            xor_sum(out.data(), sources, bytes);
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin())) << bytes << " bytes, " << count;
            EXPECT_EQ(out[bytes], guard) << "wrote past the end";
        }
    }
}

TEST(BlockOps, XorSumMayAccumulateIntoOneOfItsSources) {
    std::mt19937 rng(8);
    for (const size_t bytes : {5, 40, 1162}) {
        auto acc = random_bytes(rng, bytes);
        const auto other = random_bytes(rng, bytes);
        auto expected = acc;
        for (size_t i = 0; i < bytes; ++i) expected[i] ^= other[i];
        const uint8_t* sources[] = {acc.data(), other.data()};
        xor_sum(acc.data(), sources, bytes);
        EXPECT_EQ(acc, expected);
        xor_into(acc.data(), other.data(), bytes);
        for (size_t i = 0; i < bytes; ++i) expected[i] ^= other[i];
        EXPECT_EQ(acc, expected);
    }
}

TEST(BlockOps, SumAndAddUpdatesBothBlocks) {
    std::mt19937 rng(10);
    for (const size_t bytes : {3, 32, 45, 1162}) {
        auto acc = random_bytes(rng, bytes);
        auto dst = random_bytes(rng, bytes);
        const auto a = random_bytes(rng, bytes);
        const auto b = random_bytes(rng, bytes);
        auto expected_acc = acc;
        for (size_t i = 0; i < bytes; ++i) expected_acc[i] ^= a[i] ^ b[i];
        auto expected_dst = dst;
        for (size_t i = 0; i < bytes; ++i) expected_dst[i] ^= expected_acc[i];
        const uint8_t* sources[] = {acc.data(), a.data(), b.data()};
        xor_sum_and_add(acc.data(), dst.data(), sources, bytes);
        EXPECT_EQ(acc, expected_acc) << bytes;
        EXPECT_EQ(dst, expected_dst) << bytes;
    }
}

TEST(BlockOps, MultiplyAddAgreesWithFieldArithmetic) {
    std::mt19937 rng(9);
    for (const size_t bytes : {1, 31, 32, 33, 1162}) {
        for (const int c : {0, 1, 2, 0x53, 0xFF}) {
            const auto coefficient = static_cast<uint8_t>(c);
            const auto src = random_bytes(rng, bytes);
            auto dst = random_bytes(rng, bytes);
            auto expected = dst;
            auto scaled = src;
            for (size_t i = 0; i < bytes; ++i) expected[i] ^= Gf256::mul(coefficient, src[i]);
            mul_add(dst.data(), src.data(), coefficient, bytes);
            EXPECT_EQ(dst, expected) << bytes << " bytes, c=" << c;
            mul_in_place(scaled.data(), coefficient, bytes);
            for (size_t i = 0; i < bytes; ++i) ASSERT_EQ(scaled[i], Gf256::mul(coefficient, src[i]));
        }
    }
}

}  // namespace
}  // namespace nb::fec
