// Arithmetic in GF(2^8) modulo x^8 + x^6 + x^3 + x^2 + 1 (0x14D), the field
// the heavy rows of the code live in. Tables are built at compile time.
#pragma once

#include <array>
#include <cstdint>

namespace nb::fec {

namespace detail {

struct Gf256Tables {
    std::array<uint8_t, 512> exp{};
    std::array<uint16_t, 256> log{};
    std::array<std::array<uint8_t, 16>, 256> low{};
    std::array<std::array<uint8_t, 16>, 256> high{};
};

constexpr uint8_t gf256_slow_mul(uint8_t a, uint8_t b, uint32_t polynomial) {
    uint32_t product = 0;
    uint32_t shifted = a;
    for (int bit = 0; bit < 8; ++bit) {
        if (b & (1u << bit)) product ^= shifted;
        shifted <<= 1;
        if (shifted & 0x100u) shifted ^= polynomial;
    }
    return static_cast<uint8_t>(product);
}

constexpr Gf256Tables build_gf256_tables(uint32_t polynomial) {
    Gf256Tables t;
    uint32_t x = 1;
    for (uint32_t i = 0; i < 255; ++i) {
        t.exp[i] = static_cast<uint8_t>(x);
        t.log[x] = static_cast<uint16_t>(i);
        x <<= 1;
        if (x & 0x100u) x ^= polynomial;
    }
    // Doubling the exponent table lets mul() skip the mod 255.
    for (uint32_t i = 255; i < 512; ++i) t.exp[i] = t.exp[i - 255];
    for (uint32_t c = 0; c < 256; ++c) {
        for (uint32_t v = 0; v < 16; ++v) {
            t.low[c][v] = gf256_slow_mul(static_cast<uint8_t>(c), static_cast<uint8_t>(v), polynomial);
            t.high[c][v] = gf256_slow_mul(static_cast<uint8_t>(c), static_cast<uint8_t>(v << 4), polynomial);
        }
    }
    return t;
}

// Built at compile time; the element 2 generates the multiplicative group.
inline constexpr Gf256Tables gf256_tables = build_gf256_tables(0x14D);

}  // namespace detail

class Gf256 {
public:
    static constexpr uint32_t k_polynomial = 0x14D;

    static uint8_t mul(uint8_t a, uint8_t b) {
        if (a == 0 || b == 0) return 0;
        return detail::gf256_tables.exp[detail::gf256_tables.log[a] + detail::gf256_tables.log[b]];
    }
    // Inverse of a non-zero element.
    static uint8_t inv(uint8_t a) { return detail::gf256_tables.exp[255 - detail::gf256_tables.log[a]]; }
    static uint8_t div(uint8_t a, uint8_t b) { return mul(a, inv(b)); }

    // Products c*x split by nibble: c*x = low[c][x & 15] ^ high[c][x >> 4].
    // This is the shape a byte shuffle consumes.
    static const uint8_t* low_nibble_products(uint8_t c) { return detail::gf256_tables.low[c].data(); }
    static const uint8_t* high_nibble_products(uint8_t c) { return detail::gf256_tables.high[c].data(); }

    // Checks the tables against plain shift-and-add multiplication.
    static bool self_test();
};

}  // namespace nb::fec
