#include "fec/gf256.h"

namespace nb::fec {

bool Gf256::self_test() {
    for (uint32_t a = 0; a < 256; ++a) {
        for (uint32_t b = 0; b < 256; ++b) {
            const auto x = static_cast<uint8_t>(a);
            const auto y = static_cast<uint8_t>(b);
            const uint8_t expected = detail::gf256_slow_mul(x, y, k_polynomial);
            if (mul(x, y) != expected) return false;
            if ((low_nibble_products(x)[b & 15] ^ high_nibble_products(x)[b >> 4]) != expected) return false;
        }
        if (a != 0 && mul(static_cast<uint8_t>(a), inv(static_cast<uint8_t>(a))) != 1) return false;
    }
    return true;
}

}  // namespace nb::fec
