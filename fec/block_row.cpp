#include "fec/block_row.h"

#include <algorithm>

#include "fec/codec_tables.h"
#include "fec/pcg32.h"

namespace nb::fec {
namespace {

// Row weight from one draw: the weight-1 band exists only for N <= 2048,
// then the first threshold at or above the draw gives the weight.
uint32_t draw_weight(uint32_t u, uint32_t block_count) {
    constexpr uint32_t k_weight_one_band = 0x01FFFFFF;
    if (block_count <= 2048) {
        if (u < k_weight_one_band) return 1;
        u -= k_weight_one_band;
    }
    const auto& t = tables::weight_thresholds;
    // The last threshold is 0xFFFFFFFF, so the search always ends.
    const auto it = std::lower_bound(t.begin() + 1, t.end(), u);
    return static_cast<uint32_t>(it - t.begin()) + 1;
}

}  // namespace

BlockRow BlockRow::for_id(const CodecParams& params, uint32_t block_id) {
    return for_id(params, RowModuli(params), block_id);
}

BlockRow BlockRow::for_id(const CodecParams& params, const RowModuli& moduli, uint32_t block_id) {
    Pcg32 prng(block_id, params.peel_seed);
    const uint32_t u1 = prng.next();
    const uint32_t u2 = prng.next();
    const uint32_t u3 = prng.next();
    BlockRow row;
    const uint32_t n = params.block_count;
    row.peel_count_ = std::min(draw_weight(u1, n), n / 2);
    row.peel_step_ = moduli.peel_step(u2 & 0xFFFF) + 1;
    row.peel_first_ = moduli.peel(u2 >> 16);
    row.mix_step_ = moduli.mix_step(u3 & 0xFFFF) + 1;
    row.mix_first_ = moduli.mix(u3 >> 16);
    return row;
}

std::array<uint32_t, 3> BlockRow::mix_columns(const CodecParams& params) const {
    std::array<uint32_t, 3> mix{};
    mix[0] = mix_first_;
    mix[1] = step(mix[0], mix_step_, params.mix_count, params.mix_prime);
    mix[2] = step(mix[1], mix_step_, params.mix_count, params.mix_prime);
    return mix;
}

}  // namespace nb::fec
