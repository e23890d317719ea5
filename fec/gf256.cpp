#include "fec/gf256.h"

namespace nb::fec {
namespace {

constexpr uint8_t slow_mul(uint8_t a, uint8_t b) {
    uint32_t product = 0;
    uint32_t shifted = a;
    for (int bit = 0; bit < 8; ++bit) {
        if (b & (1u << bit)) product ^= shifted;
        shifted <<= 1;
        if (shifted & 0x100u) shifted ^= Gf256::k_polynomial;
    }
    return static_cast<uint8_t>(product);
}

}  // namespace

const Gf256::Tables& Gf256::tables() {
    static constexpr Tables built = [] {
        Tables t;
        uint32_t x = 1;
        for (uint32_t i = 0; i < 255; ++i) {
            t.exp[i] = static_cast<uint8_t>(x);
            t.log[x] = static_cast<uint16_t>(i);
            x <<= 1;
            if (x & 0x100u) x ^= k_polynomial;
        }
        // Doubling the exponent table lets mul() skip the mod 255.
        for (uint32_t i = 255; i < 512; ++i) t.exp[i] = t.exp[i - 255];
        for (uint32_t c = 0; c < 256; ++c) {
            for (uint32_t v = 0; v < 16; ++v) {
                t.low[c][v] = slow_mul(static_cast<uint8_t>(c), static_cast<uint8_t>(v));
                t.high[c][v] = slow_mul(static_cast<uint8_t>(c), static_cast<uint8_t>(v << 4));
            }
        }
        return t;
    }();
    return built;
}

bool Gf256::self_test() {
    for (uint32_t a = 0; a < 256; ++a) {
        for (uint32_t b = 0; b < 256; ++b) {
            const auto x = static_cast<uint8_t>(a);
            const auto y = static_cast<uint8_t>(b);
            const uint8_t expected = slow_mul(x, y);
            if (mul(x, y) != expected) return false;
            if ((low_nibble_products(x)[b & 15] ^ high_nibble_products(x)[b >> 4]) != expected) return false;
        }
        if (a != 0 && mul(static_cast<uint8_t>(a), inv(static_cast<uint8_t>(a))) != 1) return false;
    }
    return true;
}

}  // namespace nb::fec
