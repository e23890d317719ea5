// Reads a fuzzer's bytes as a stream of typed values. Past the end every
// read gives zero, so a target never has to check lengths and a short input
// simply ends its loop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

namespace nb::fuzz {

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ >= size_; }
    size_t remaining() const { return empty() ? 0 : size_ - at_; }

    uint8_t u8() { return at_ < size_ ? data_[at_++] : 0; }
    uint16_t u16() { return static_cast<uint16_t>(u8() | u8() << 8); }
    uint32_t u32() { return static_cast<uint32_t>(u16()) | static_cast<uint32_t>(u16()) << 16; }

    // Up to `count` bytes; fewer when the input runs out.
    std::span<const uint8_t> bytes(size_t count) {
        const size_t n = count < remaining() ? count : remaining();
        const std::span<const uint8_t> out(data_ + at_, n);
        at_ += n;
        return out;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// Bytes of a fixed xorshift sequence: bulk content for a target that only
// takes its seed from the input.
inline std::vector<uint8_t> pseudo_random_bytes(uint32_t seed, size_t count) {
    std::vector<uint8_t> out(count);
    uint32_t x = seed | 1u;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    return out;
}

// Silences the project's logger: bad input is logged on purpose, and a
// million warnings would only slow the search down.
void quiet_logs();

}  // namespace nb::fuzz

// A property the target asserts for every input. Aborts, so that libFuzzer,
// the sanitizers and the replay driver all report the input that broke it.
#define NB_FUZZ_CHECK(condition)                                                                \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                       \
        }                                                                                       \
    } while (false)
