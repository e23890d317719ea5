// Bulk operations on equal-length blocks: XOR sums and GF(256)
// multiply-add. These carry almost all of the codec's cost, so they pick
// an AVX2 path at run time where the processor has one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace nb::fec {

// dst = XOR of all sources (zero when there are none). dst may be one of
// the sources.
void xor_sum(uint8_t* dst, std::span<const uint8_t* const> sources, size_t bytes);
// sum = XOR of all sources (sum may be one of them), then also dst ^= sum,
// in one pass over the bytes.
void xor_sum_and_add(uint8_t* sum, uint8_t* dst, std::span<const uint8_t* const> sources, size_t bytes);
// dst ^= src.
void xor_into(uint8_t* dst, const uint8_t* src, size_t bytes);
// dst ^= coefficient * src over GF(256).
void mul_add(uint8_t* dst, const uint8_t* src, uint8_t coefficient, size_t bytes);
// dst = coefficient * dst over GF(256).
void mul_in_place(uint8_t* dst, uint8_t coefficient, size_t bytes);

// True when the AVX2 routines are in use.
bool block_ops_use_avx2();

}  // namespace nb::fec
