// The dense rows: each one covers about half of the peel columns (drawn as
// shuffled patterns, one column block at a time) plus a random tie to the
// first mix columns. They depend only on the message's parameters, so one
// instance serves every codec of the same block count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fec/codec_params.h"

namespace nb::fec {

class DensePattern {
public:
    void build(const CodecParams& params);
    bool built_for(const CodecParams& params) const {
        return built_ && block_count_ == params.block_count && dense_count_ == params.dense_count;
    }

    // Replays the construction of the peel part of all dense rows. Each
    // block of dense_count columns starts with an empty accumulator set
    // (begin()); columns are toggled in and out of it (toggle(column)) and
    // its current content is added to one dense row (emit(row)); every
    // dense row gets exactly one emit per block. Consumers keep the
    // accumulator in whatever form they need (bits or block data), which
    // keeps the cost near 3.5 XORs per column instead of D/2.
    template <class Begin, class Toggle, class Emit>
    void walk(Begin&& begin, Toggle&& toggle, Emit&& emit) const {
        const uint32_t d = dense_count_;
        const uint32_t half_up = (d + 1) / 2;
        const uint32_t half_down = d / 2;
        const uint16_t* deck = shuffles_.data();
        for (uint32_t start = 0; start < block_count_; start += d) {
            const uint32_t width = block_count_ - start < d ? block_count_ - start : d;
            const uint16_t* rows = deck;
            const uint16_t* first = deck + d;
            const uint16_t* second = deck + 2 * d;
            const uint16_t* third = deck + 3 * d;
            deck += 4 * d;
            begin();
            const auto flip = [&](uint32_t position) {
                if (position < width) toggle(start + position);
            };
            for (uint32_t k = 0; k < half_up; ++k) flip(first[k]);
            emit(rows[0]);
            for (uint32_t k = 0; k < half_down; ++k) {
                flip(second[k]);
                flip(second[half_up + k]);
                emit(rows[1 + k]);
            }
            for (uint32_t k = 0; k + 1 < half_down + (d % 2); ++k) {
                flip(third[k]);
                flip(third[half_up + k]);
                emit(rows[1 + half_down + k]);
            }
        }
    }

    // Tie matrix row t as a bit set over mix columns 0..dense_count-1.
    const uint64_t* tie_row(uint32_t t) const { return ties_.data() + static_cast<size_t>(t) * tie_words_; }
    uint32_t tie_words() const { return tie_words_; }

    size_t retained_bytes() const {
        return shuffles_.capacity() * sizeof(uint16_t) + ties_.capacity() * sizeof(uint64_t);
    }

private:
    bool built_ = false;
    uint32_t block_count_ = 0;
    uint32_t dense_count_ = 0;
    uint32_t tie_words_ = 0;
    // Four permutations of 0..dense_count-1 per column block.
    std::vector<uint16_t> shuffles_;
    std::vector<uint64_t> ties_;
};

}  // namespace nb::fec
