// Per-thread cache of released codecs. The depacketizer builds a fresh
// decoder for every repair attempt; handing it a codec whose buffers are
// already allocated and faulted in saves most of the cost of small frames.
// Each thread keeps at most one codec, so a stream holds no more than one
// frame of the largest size per repairing thread, and the session's end
// hands everything back with release_all().
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "fec/codec.h"

namespace nb::fec {

class CodecPool {
public:
    // The heap one kept codec may hold: a decoder for the largest video
    // frame (4096 blocks) with its extra rows stays well under it; anything
    // bigger is freed rather than kept.
    static constexpr size_t k_max_bytes = 32u << 20;

    // The codec this thread kept, or a new one (null if out of memory).
    static std::unique_ptr<Codec> acquire(uint64_t block_count);
    // Keeps the codec for reuse on this thread when it is the larger of the
    // two and within the limit, otherwise frees it. Never throws.
    static void release(std::unique_ptr<Codec> codec) noexcept;
    // Frees the codecs every thread keeps and returns the allocator's free
    // pages to the system; the heap they held, in bytes. Called when a
    // session ends, from any thread.
    static size_t release_all() noexcept;
    // Heap the kept codecs hold now, over all threads.
    static size_t kept_bytes() noexcept;
};

}  // namespace nb::fec
