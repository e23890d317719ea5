// Per-thread cache of released codecs. The depacketizer builds a fresh
// decoder for every repair attempt; handing it a codec whose buffers are
// already allocated and faulted in saves most of the cost of small frames.
#pragma once

#include <cstddef>
#include <memory>

#include "fec/codec.h"

namespace nb::fec {

class CodecPool {
public:
    // Codecs kept per thread, and the heap they may hold together.
    static constexpr size_t k_max_codecs = 4;
    static constexpr size_t k_max_bytes = 64u << 20;

    // A codec from this thread's cache, preferably one last used for the
    // same block count (its dense rows are already built), or a new one
    // (null if out of memory).
    static std::unique_ptr<Codec> acquire(uint64_t block_count);
    // Keeps the codec for reuse on this thread while within the limits,
    // otherwise frees it. Never throws.
    static void release(std::unique_ptr<Codec> codec) noexcept;
};

}  // namespace nb::fec
