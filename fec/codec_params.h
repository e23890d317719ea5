// Per-message parameters: how many dense and mix columns a message of N
// blocks gets, and the seeds its equations are drawn from.
#pragma once

#include <cstdint>
#include <optional>

namespace nb::fec {

inline constexpr uint32_t k_min_block_count = 2;
inline constexpr uint32_t k_max_block_count = 64000;
inline constexpr uint32_t k_heavy_rows = 6;
inline constexpr uint32_t k_max_heavy_cols = 18;

struct CodecParams {
    uint32_t block_count = 0;  // N
    uint32_t dense_count = 0;  // D
    uint32_t mix_count = 0;    // D + heavy rows
    uint32_t heavy_cols = 0;   // min(mix_count, 18), the last mix columns
    uint32_t peel_prime = 0;   // smallest prime >= N
    uint32_t mix_prime = 0;    // smallest prime >= mix_count
    uint16_t dense_seed = 0;
    uint16_t peel_seed = 0;
    uint16_t tie_seed = 0;

    // Intermediate symbols: peel columns followed by mix columns.
    uint32_t column_count() const { return block_count + mix_count; }

    // Parameters for N blocks, or nothing when N is outside 2..64000.
    static std::optional<CodecParams> for_block_count(uint32_t block_count);
};

// Smallest prime that is not below n (n >= 2).
uint32_t next_prime(uint32_t n);

}  // namespace nb::fec
