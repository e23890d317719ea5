// Arithmetic in GF(2^8) modulo x^8 + x^6 + x^3 + x^2 + 1 (0x14D), the field
// the heavy rows of the code live in. Tables are built at compile time.
#pragma once

#include <array>
#include <cstdint>

namespace nb::fec {

class Gf256 {
public:
    static constexpr uint32_t k_polynomial = 0x14D;

    static uint8_t mul(uint8_t a, uint8_t b) {
        if (a == 0 || b == 0) return 0;
        return tables().exp[tables().log[a] + tables().log[b]];
    }
    // Inverse of a non-zero element.
    static uint8_t inv(uint8_t a) { return tables().exp[255 - tables().log[a]]; }
    static uint8_t div(uint8_t a, uint8_t b) { return mul(a, inv(b)); }

    // Products c*x split by nibble: c*x = low[c][x & 15] ^ high[c][x >> 4].
    // This is the shape a byte shuffle consumes.
    static const uint8_t* low_nibble_products(uint8_t c) { return tables().low[c].data(); }
    static const uint8_t* high_nibble_products(uint8_t c) { return tables().high[c].data(); }

    // Checks the tables against plain shift-and-add multiplication.
    static bool self_test();

private:
    struct Tables {
        std::array<uint8_t, 512> exp{};
        std::array<uint16_t, 256> log{};
        std::array<std::array<uint8_t, 16>, 256> low{};
        std::array<std::array<uint8_t, 16>, 256> high{};
    };
    static const Tables& tables();
};

}  // namespace nb::fec
