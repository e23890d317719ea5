// A 64-bit FNV-1a digest of a byte string, as hex text. The event log names
// each access unit by it, so a test can tell a frame arrived bit-exact.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace nb {

inline std::string content_hash(std::span<const uint8_t> bytes) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (const uint8_t b : bytes) {
        h ^= b;
        h *= 0x100000001b3ull;
    }
    char text[17];
    std::snprintf(text, sizeof(text), "%016llx", static_cast<unsigned long long>(h));
    return text;
}

}  // namespace nb
