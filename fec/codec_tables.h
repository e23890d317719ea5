// Constant tables that pin down the code's equations for every block count.
#pragma once

#include <array>
#include <cstdint>

namespace nb::fec::tables {

// Anchor of the piecewise-linear dense row count for large messages.
struct DensePoint {
    uint16_t block_count;
    uint16_t dense_count;
};

// Hand-tuned dense row count and seed for N below 65.
extern const std::array<uint8_t, 65> small_dense_count;
extern const std::array<uint16_t, 65> small_dense_seed;
// Dense seed per N for 65 <= N < 2048.
extern const std::array<uint8_t, 2048> mid_dense_seed;
// Peel seed per N below 2048, and per N mod 2048 from 2048 on.
extern const std::array<uint8_t, 2048> small_peel_seed;
extern const std::array<uint8_t, 2048> large_peel_seed;
// Seed of the dense-to-mix tie matrix, indexed by the dense row count.
extern const std::array<uint8_t, 512> tie_seed;
// Dense row count anchors and dense seeds (by count / 4) for N >= 2048.
extern const std::array<DensePoint, 64> large_dense_points;
extern const std::array<uint8_t, 100> large_dense_seed;
// Cumulative thresholds of the row weight distribution.
extern const std::array<uint32_t, 64> weight_thresholds;
// GF(256) coefficients of the six heavy rows over the last mix columns.
extern const std::array<std::array<uint8_t, 18>, 6> heavy_coefficients;

}  // namespace nb::fec::tables
