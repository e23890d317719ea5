// The sparse equation a block id stands for: a walk over the peel columns
// plus three mix columns, all drawn from the id and the peel seed.
#pragma once

#include <array>
#include <cstdint>

#include "fec/codec_params.h"

namespace nb::fec {

// Remainder by a divisor fixed per message, without a division
// instruction (Lemire's method; exact for every 32-bit dividend).
class FastModulus {
public:
    FastModulus() = default;
    explicit FastModulus(uint32_t divisor) : divisor_(divisor), factor_(~uint64_t{0} / divisor + 1) {}
    uint32_t operator()(uint32_t value) const {
        const uint64_t low = factor_ * value;
        return static_cast<uint32_t>((static_cast<unsigned __int128>(low) * divisor_) >> 64);
    }

private:
    uint32_t divisor_ = 1;
    uint64_t factor_ = 0;
};

// The four moduli every row draw uses, prepared once per message.
struct RowModuli {
    RowModuli() = default;
    explicit RowModuli(const CodecParams& params)
        : peel(params.block_count), peel_step(params.block_count - 1), mix(params.mix_count),
          mix_step(params.mix_count - 1) {}
    FastModulus peel;
    FastModulus peel_step;
    FastModulus mix;
    FastModulus mix_step;
};

class BlockRow {
public:
    static BlockRow for_id(const CodecParams& params, uint32_t block_id);
    static BlockRow for_id(const CodecParams& params, const RowModuli& moduli, uint32_t block_id);

    uint32_t peel_count() const { return peel_count_; }

    // Calls visit(column) for each peel column, in walk order.
    template <class Visit>
    void for_each_peel_column(const CodecParams& params, Visit&& visit) const {
        uint32_t column = peel_first_;
        visit(column);
        for (uint32_t k = 1; k < peel_count_; ++k) {
            column = step(column, peel_step_, params.block_count, params.peel_prime);
            visit(column);
        }
    }

    // The three mix columns as indices 0..mix_count-1 (intermediate symbol
    // block_count + index).
    std::array<uint32_t, 3> mix_columns(const CodecParams& params) const;

private:
    // Walks modulo the prime so the sequence never repeats within a row,
    // skipping the values past the column count.
    static uint32_t step(uint32_t x, uint32_t delta, uint32_t count, uint32_t prime) {
        do {
            x += delta;
            if (x >= prime) x -= prime;
        } while (x >= count);
        return x;
    }

    uint32_t peel_count_ = 0;
    uint32_t peel_first_ = 0;
    uint32_t peel_step_ = 0;
    uint32_t mix_first_ = 0;
    uint32_t mix_step_ = 0;
};

}  // namespace nb::fec
