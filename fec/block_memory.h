// Where BlockBuffer's storage comes from: the system's allocator for small
// buffers, page mappings of their own for large ones.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nb::fec {

struct BlockMemory {
    uint8_t* data = nullptr;
    size_t capacity = 0;
    bool mapped = false;
};

// At least `bytes` bytes, 64-byte aligned; data is null when the system
// refuses.
BlockMemory allocate_block_memory(size_t bytes);
void free_block_memory(const BlockMemory& memory);

}  // namespace nb::fec
