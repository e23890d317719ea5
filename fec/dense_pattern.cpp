#include "fec/dense_pattern.h"

#include <array>

#include "fec/block_row.h"
#include "fec/pcg32.h"

namespace nb::fec {
namespace {

// Decks never exceed the largest dense count (394), so swap indices can use
// precomputed reciprocals instead of a division per card.
constexpr uint32_t k_fast_deck = 512;

const std::array<FastModulus, k_fast_deck>& deck_moduli() {
    static const std::array<FastModulus, k_fast_deck> moduli = [] {
        std::array<FastModulus, k_fast_deck> m;
        for (uint32_t i = 1; i < k_fast_deck; ++i) m[i] = FastModulus(i);
        return m;
    }();
    return moduli;
}

// Inside-out shuffle whose swap index comes from 0..i-1. The draws are
// split into bytes (or 16-bit halves for large decks) in a fixed order,
// including one wasted draw at the end, because peers consume the stream
// exactly this way.
void shuffle(Pcg32& prng, uint16_t* deck, uint32_t n) {
    deck[0] = 0;
    const auto& moduli = deck_moduli();
    const auto place = [deck, &moduli](uint32_t i, uint32_t r) {
        const uint32_t j = i < k_fast_deck ? moduli[i](r) : r % i;
        deck[i] = deck[j];
        deck[j] = static_cast<uint16_t>(i);
    };
    uint32_t i = 1;
    if (n <= 256) {
        for (;;) {
            const uint32_t u = prng.next();
            const uint32_t left = n - i;
            if (left >= 4) {
                place(i, u & 0xFF);
                place(i + 1, (u >> 8) & 0xFF);
                place(i + 2, (u >> 16) & 0xFF);
                place(i + 3, u >> 24);
                i += 4;
                continue;
            }
            if (left == 3) {
                place(i, u & 0xFF);
                place(i + 1, (u >> 8) & 0xFF);
                place(i + 2, (u >> 16) & 0xFF);
            } else if (left == 2) {
                place(i, (u >> 8) & 0xFF);
                place(i + 1, (u >> 16) & 0xFF);
            } else if (left == 1) {
                place(i, (u >> 16) & 0xFF);
            }
            return;
        }
    }
    for (;;) {
        const uint32_t u = prng.next();
        const uint32_t left = n - i;
        if (left >= 2) {
            place(i, u & 0xFFFF);
            place(i + 1, u >> 16);
            i += 2;
            continue;
        }
        if (left == 1) place(i, u & 0xFFFF);
        return;
    }
}

}  // namespace

void DensePattern::build(const CodecParams& params) {
    block_count_ = params.block_count;
    dense_count_ = params.dense_count;
    const uint32_t d = dense_count_;
    const uint32_t blocks = (block_count_ + d - 1) / d;
    shuffles_.resize(static_cast<size_t>(blocks) * 4 * d);
    Pcg32 prng(params.dense_seed, 0);
    for (size_t k = 0; k < static_cast<size_t>(blocks) * 4; ++k) shuffle(prng, shuffles_.data() + k * d, d);

    tie_words_ = (d + 63) / 64;
    ties_.assign(static_cast<size_t>(d) * tie_words_, 0);
    if (d >= 512) {
        // Very large dense counts use a banded tie instead of random bits.
        for (uint32_t t = 0; t < d; ++t) {
            uint64_t* row = ties_.data() + static_cast<size_t>(t) * tie_words_;
            row[t / 64] |= uint64_t{1} << (t % 64);
            if (t + 1 < d) row[(t + 1) / 64] |= uint64_t{1} << ((t + 1) % 64);
        }
    } else {
        Pcg32 tie(params.tie_seed, 0);
        for (uint32_t t = 0; t < d; ++t) {
            uint64_t* row = ties_.data() + static_cast<size_t>(t) * tie_words_;
            for (uint32_t w = 0; w < tie_words_; ++w) {
                const uint64_t low = tie.next();
                const uint64_t high = tie.next();
                row[w] = low | (high << 32);
            }
            if (d % 64 != 0) row[tie_words_ - 1] &= (uint64_t{1} << (d % 64)) - 1;
        }
    }
    built_ = true;
}

}  // namespace nb::fec
