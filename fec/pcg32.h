// The 32-bit permuted congruential generator that every row and dense
// pattern is drawn from. Peers derive identical equations only if this
// stream matches theirs bit for bit.
#pragma once

#include <cstdint>

namespace nb::fec {

class Pcg32 {
public:
    Pcg32(uint64_t sequence, uint64_t initial_state) {
        increment_ = (sequence << 1) | 1u;
        state_ = 0;
        next();
        state_ += initial_state;
        next();
    }

    uint32_t next() {
        const uint64_t old = state_;
        state_ = old * k_multiplier + increment_;
        const auto mixed = static_cast<uint32_t>(((old >> 18) ^ old) >> 27);
        const auto rotation = static_cast<uint32_t>(old >> 59);
        return (mixed >> rotation) | (mixed << ((32u - rotation) & 31u));
    }

private:
    static constexpr uint64_t k_multiplier = 6364136223846793005ULL;
    uint64_t state_ = 0;
    uint64_t increment_ = 1;
};

}  // namespace nb::fec
