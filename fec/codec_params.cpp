#include "fec/codec_params.h"

#include <algorithm>

#include "fec/codec_tables.h"

namespace nb::fec {
namespace {

// Dense counts are kept at 2 mod 4; peers round the same way.
uint32_t round_dense_count(uint32_t count) {
    switch (count % 4) {
    case 0: return count + 2;
    case 1: return count + 1;
    case 3: return count + 3;
    default: return count;
    }
}

uint32_t interpolate(int64_t n, int64_t n0, int64_t c0, int64_t n1, int64_t c1) {
    // C++ division truncates toward zero, which is what the tables assume
    // (slopes may be negative).
    return static_cast<uint32_t>(c0 + (n - n0) * (c1 - c0) / (n1 - n0));
}

uint32_t mid_dense_count(uint32_t n) {
    if (n <= 500) return round_dense_count(interpolate(n, 64, 26, 500, 35));
    if (n <= 1000) return round_dense_count(interpolate(n, 500, 35, 1000, 48));
    return round_dense_count(interpolate(n, 1000, 48, 2048, 62));
}

uint32_t large_dense_count(uint32_t n) {
    const auto& points = tables::large_dense_points;
    // Last anchor strictly below n (the first one if none is).
    size_t low = 0;
    size_t high = points.size() - 1;
    while (low < high) {
        const size_t mid = (low + high + 1) / 2;
        if (points[mid].block_count < n) {
            low = mid;
        } else {
            high = mid - 1;
        }
    }
    const size_t upper = std::min(low + 1, points.size() - 1);
    const auto& p0 = points[low];
    const auto& p1 = points[upper];
    if (p1.block_count == p0.block_count) return round_dense_count(p0.dense_count);
    return round_dense_count(interpolate(n, p0.block_count, p0.dense_count, p1.block_count, p1.dense_count));
}

}  // namespace

uint32_t next_prime(uint32_t n) {
    const auto is_prime = [](uint32_t v) {
        if (v < 2) return false;
        for (uint32_t d = 2; d * d <= v; ++d) {
            if (v % d == 0) return false;
        }
        return true;
    };
    while (!is_prime(n)) ++n;
    return n;
}

std::optional<CodecParams> CodecParams::for_block_count(uint32_t n) {
    if (n < k_min_block_count || n > k_max_block_count) return std::nullopt;
    CodecParams p;
    p.block_count = n;
    if (n < 65) {
        p.dense_count = tables::small_dense_count[n];
        p.dense_seed = tables::small_dense_seed[n];
    } else if (n < 2048) {
        p.dense_count = mid_dense_count(n);
        p.dense_seed = tables::mid_dense_seed[n];
    } else {
        p.dense_count = large_dense_count(n);
        p.dense_seed = tables::large_dense_seed[p.dense_count / 4];
    }
    p.peel_seed = n < 2048 ? tables::small_peel_seed[n] : tables::large_peel_seed[n % 2048];
    p.mix_count = p.dense_count + k_heavy_rows;
    p.heavy_cols = std::min(p.mix_count, k_max_heavy_cols);
    p.peel_prime = next_prime(n);
    p.mix_prime = next_prime(p.mix_count);
    p.tie_seed = p.dense_count < tables::tie_seed.size() ? tables::tie_seed[p.dense_count] : 0;
    return p;
}

}  // namespace nb::fec
