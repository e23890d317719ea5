#include "fec/block_ops.h"

#include <cstring>

#include "fec/gf256.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define NB_FEC_HAVE_X86 1
#endif

namespace nb::fec {
namespace {

// Portable versions work a machine word at a time where they can.
void xor_sum_portable(uint8_t* dst, std::span<const uint8_t* const> sources, size_t bytes) {
    if (sources.empty()) {
        std::memset(dst, 0, bytes);
        return;
    }
    size_t i = 0;
    for (; i + 8 <= bytes; i += 8) {
        uint64_t acc;
        std::memcpy(&acc, sources[0] + i, 8);
        for (size_t s = 1; s < sources.size(); ++s) {
            uint64_t v;
            std::memcpy(&v, sources[s] + i, 8);
            acc ^= v;
        }
        std::memcpy(dst + i, &acc, 8);
    }
    for (; i < bytes; ++i) {
        uint8_t acc = sources[0][i];
        for (size_t s = 1; s < sources.size(); ++s) acc ^= sources[s][i];
        dst[i] = acc;
    }
}

void xor_sum_and_add_portable(uint8_t* sum, uint8_t* dst, std::span<const uint8_t* const> sources, size_t bytes) {
    xor_sum_portable(sum, sources, bytes);
    const uint8_t* both[2] = {dst, sum};
    xor_sum_portable(dst, std::span<const uint8_t* const>(both, 2), bytes);
}

void mul_add_portable(uint8_t* dst, const uint8_t* src, uint8_t c, size_t bytes) {
    const uint8_t* low = Gf256::low_nibble_products(c);
    const uint8_t* high = Gf256::high_nibble_products(c);
    for (size_t i = 0; i < bytes; ++i) dst[i] ^= low[src[i] & 15] ^ high[src[i] >> 4];
}

void mul_in_place_portable(uint8_t* dst, uint8_t c, size_t bytes) {
    const uint8_t* low = Gf256::low_nibble_products(c);
    const uint8_t* high = Gf256::high_nibble_products(c);
    for (size_t i = 0; i < bytes; ++i) dst[i] = low[dst[i] & 15] ^ high[dst[i] >> 4];
}

#ifdef NB_FEC_HAVE_X86

__attribute__((target("avx2"), always_inline)) inline __m256i load(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

__attribute__((target("avx2"))) void xor_sum_avx2(uint8_t* dst, std::span<const uint8_t* const> sources,
                                                  size_t bytes) {
    if (sources.empty()) {
        std::memset(dst, 0, bytes);
        return;
    }
    if (bytes < 32) {
        xor_sum_portable(dst, sources, bytes);
        return;
    }
    const size_t count = sources.size();
    // A ragged end is covered by one 32-byte chunk that overlaps the body.
    // It is summed before anything is stored, so dst may alias a source.
    const size_t body = bytes & ~size_t{31};
    const size_t tail_at = bytes - 32;
    __m256i tail = load(sources[0] + tail_at);
    if (body != bytes) {
        for (size_t s = 1; s < count; ++s) tail = _mm256_xor_si256(tail, load(sources[s] + tail_at));
    }
    size_t i = 0;
    // Four registers per pass keep each source's loads streaming while the
    // destination is written once.
    for (; i + 128 <= body; i += 128) {
        const uint8_t* s0 = sources[0] + i;
        __m256i a = load(s0);
        __m256i b = load(s0 + 32);
        __m256i c = load(s0 + 64);
        __m256i d = load(s0 + 96);
        for (size_t s = 1; s < count; ++s) {
            const uint8_t* p = sources[s] + i;
            a = _mm256_xor_si256(a, load(p));
            b = _mm256_xor_si256(b, load(p + 32));
            c = _mm256_xor_si256(c, load(p + 64));
            d = _mm256_xor_si256(d, load(p + 96));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), a);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i + 32), b);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i + 64), c);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i + 96), d);
    }
    for (; i < body; i += 32) {
        __m256i a = load(sources[0] + i);
        for (size_t s = 1; s < count; ++s) a = _mm256_xor_si256(a, load(sources[s] + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), a);
    }
    if (body != bytes) _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + tail_at), tail);
}

__attribute__((target("avx2"), always_inline)) inline __m256i sum_at(std::span<const uint8_t* const> sources,
                                                                     size_t at) {
    __m256i a = load(sources[0] + at);
    for (size_t s = 1; s < sources.size(); ++s) a = _mm256_xor_si256(a, load(sources[s] + at));
    return a;
}

__attribute__((target("avx2"))) void xor_sum_and_add_avx2(uint8_t* sum, uint8_t* dst,
                                                          std::span<const uint8_t* const> sources, size_t bytes) {
    if (sources.empty() || bytes < 32) {
        xor_sum_and_add_portable(sum, dst, sources, bytes);
        return;
    }
    const size_t body = bytes & ~size_t{31};
    const size_t tail_at = bytes - 32;
    const __m256i tail_sum = sum_at(sources, tail_at);
    const __m256i tail_dst = _mm256_xor_si256(load(dst + tail_at), tail_sum);
    for (size_t i = 0; i < body; i += 32) {
        const __m256i a = sum_at(sources, i);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(sum + i), a);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), _mm256_xor_si256(load(dst + i), a));
    }
    if (body != bytes) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(sum + tail_at), tail_sum);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + tail_at), tail_dst);
    }
}

__attribute__((target("avx2"), always_inline)) inline __m256i gf_mul32(__m256i x, __m256i low, __m256i high) {
    const __m256i mask = _mm256_set1_epi8(0x0F);
    const __m256i lo = _mm256_shuffle_epi8(low, _mm256_and_si256(x, mask));
    const __m256i hi = _mm256_shuffle_epi8(high, _mm256_and_si256(_mm256_srli_epi64(x, 4), mask));
    return _mm256_xor_si256(lo, hi);
}

__attribute__((target("avx2"), always_inline)) inline __m256i nibble_table(const uint8_t* table) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(table)));
}

// Both routines below finish a ragged end with one overlapping chunk that is
// computed from the original bytes before the body is written, so the
// overlap receives the same result twice rather than being applied twice.
__attribute__((target("avx2"))) void mul_add_avx2(uint8_t* dst, const uint8_t* src, uint8_t c, size_t bytes) {
    if (bytes < 32) {
        mul_add_portable(dst, src, c, bytes);
        return;
    }
    const __m256i low = nibble_table(Gf256::low_nibble_products(c));
    const __m256i high = nibble_table(Gf256::high_nibble_products(c));
    const size_t body = bytes & ~size_t{31};
    const size_t tail_at = bytes - 32;
    const __m256i tail = _mm256_xor_si256(load(dst + tail_at), gf_mul32(load(src + tail_at), low, high));
    for (size_t i = 0; i < body; i += 32) {
        const __m256i product = gf_mul32(load(src + i), low, high);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), _mm256_xor_si256(load(dst + i), product));
    }
    if (body != bytes) _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + tail_at), tail);
}

__attribute__((target("avx2"))) void mul_in_place_avx2(uint8_t* dst, uint8_t c, size_t bytes) {
    if (bytes < 32) {
        mul_in_place_portable(dst, c, bytes);
        return;
    }
    const __m256i low = nibble_table(Gf256::low_nibble_products(c));
    const __m256i high = nibble_table(Gf256::high_nibble_products(c));
    const size_t body = bytes & ~size_t{31};
    const size_t tail_at = bytes - 32;
    const __m256i tail = gf_mul32(load(dst + tail_at), low, high);
    for (size_t i = 0; i < body; i += 32) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), gf_mul32(load(dst + i), low, high));
    }
    if (body != bytes) _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + tail_at), tail);
}

#endif

struct Dispatch {
    void (*xor_sum)(uint8_t*, std::span<const uint8_t* const>, size_t) = xor_sum_portable;
    void (*xor_sum_and_add)(uint8_t*, uint8_t*, std::span<const uint8_t* const>, size_t) = xor_sum_and_add_portable;
    void (*mul_add)(uint8_t*, const uint8_t*, uint8_t, size_t) = mul_add_portable;
    void (*mul_in_place)(uint8_t*, uint8_t, size_t) = mul_in_place_portable;
    bool avx2 = false;
};

const Dispatch& dispatch() {
    static const Dispatch chosen = [] {
        Dispatch d;
#ifdef NB_FEC_HAVE_X86
        if (__builtin_cpu_supports("avx2")) {
            d.xor_sum = xor_sum_avx2;
            d.xor_sum_and_add = xor_sum_and_add_avx2;
            d.mul_add = mul_add_avx2;
            d.mul_in_place = mul_in_place_avx2;
            d.avx2 = true;
        }
#endif
        return d;
    }();
    return chosen;
}

}  // namespace

void xor_sum(uint8_t* dst, std::span<const uint8_t* const> sources, size_t bytes) {
    dispatch().xor_sum(dst, sources, bytes);
}

void xor_sum_and_add(uint8_t* sum, uint8_t* dst, std::span<const uint8_t* const> sources, size_t bytes) {
    dispatch().xor_sum_and_add(sum, dst, sources, bytes);
}

void xor_into(uint8_t* dst, const uint8_t* src, size_t bytes) {
    const uint8_t* both[2] = {dst, src};
    dispatch().xor_sum(dst, std::span<const uint8_t* const>(both, 2), bytes);
}

void mul_add(uint8_t* dst, const uint8_t* src, uint8_t coefficient, size_t bytes) {
    if (coefficient == 0) return;
    if (coefficient == 1) {
        xor_into(dst, src, bytes);
        return;
    }
    dispatch().mul_add(dst, src, coefficient, bytes);
}

void mul_in_place(uint8_t* dst, uint8_t coefficient, size_t bytes) {
    if (coefficient == 1) return;
    if (coefficient == 0) {
        std::memset(dst, 0, bytes);
        return;
    }
    dispatch().mul_in_place(dst, coefficient, bytes);
}

bool block_ops_use_avx2() { return dispatch().avx2; }

}  // namespace nb::fec
