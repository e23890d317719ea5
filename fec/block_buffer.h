// A growable, 64-byte aligned byte buffer that is never cleared on reuse.
// Codecs keep these between messages so a new frame does not fault in
// fresh pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "fec/block_memory.h"

namespace nb::fec {

class BlockBuffer {
public:
    BlockBuffer() = default;
    ~BlockBuffer() { free_block_memory(memory_); }
    BlockBuffer(BlockBuffer&& other) noexcept : memory_(std::exchange(other.memory_, {})) {}
    BlockBuffer& operator=(BlockBuffer&& other) noexcept {
        if (this != &other) {
            free_block_memory(memory_);
            memory_ = std::exchange(other.memory_, {});
        }
        return *this;
    }

    // Returns storage for at least `bytes` bytes (contents unspecified), or
    // null when the allocation fails.
    uint8_t* reserve(size_t bytes) {
        if (bytes <= memory_.capacity) return memory_.data;
        free_block_memory(memory_);
        memory_ = allocate_block_memory(bytes);
        return memory_.data;
    }
    uint8_t* data() const { return memory_.data; }
    size_t capacity() const { return memory_.capacity; }

private:
    BlockMemory memory_;
};

}  // namespace nb::fec
