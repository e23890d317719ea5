// Helpers shared by the fountain-code tests: the vectors' message
// generator, a reader for the vector files, and RAII handles for codecs.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "fec/wirehair.h"

namespace nb::fec::testing {

// xorshift32 (13, 17, 5), one step per byte, low byte kept.
inline std::vector<uint8_t> make_message(uint32_t seed, size_t bytes) {
    std::vector<uint8_t> out(bytes);
    uint32_t x = seed;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    return out;
}

struct CodecDeleter {
    void operator()(WirehairCodec_t* c) const { wirehair_free(c); }
};
using CodecHandle = std::unique_ptr<WirehairCodec_t, CodecDeleter>;

inline CodecHandle make_encoder(const std::vector<uint8_t>& message, uint32_t block_bytes) {
    return CodecHandle(wirehair_encoder_create(nullptr, message.data(), message.size(), block_bytes));
}
inline CodecHandle make_decoder(uint64_t message_bytes, uint32_t block_bytes) {
    return CodecHandle(wirehair_decoder_create(nullptr, message_bytes, block_bytes));
}

// Directory of the Wirehair compatibility vectors kept with the tests.
inline std::string vector_dir() {
    const char* root = std::getenv("NB_SOURCE_DIR");
    if (root == nullptr) throw std::runtime_error("NB_SOURCE_DIR is not set; run the suite through ctest");
    return std::string(root) + "/tests/fec/vectors";
}

}  // namespace nb::fec::testing
