#include "fec/block_memory.h"

#include <malloc.h>
#include <windows.h>

namespace nb::fec {

namespace {

// Large buffers are committed pages of their own, handed straight back to
// the system when freed instead of staying in the process heap.
constexpr size_t k_map_threshold = 256u << 10;
constexpr size_t k_page = 4096;

}  // namespace

BlockMemory allocate_block_memory(size_t bytes) {
    if (bytes >= k_map_threshold) {
        const size_t rounded = (bytes + k_page - 1) / k_page * k_page;
        void* p = VirtualAlloc(nullptr, rounded, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        if (!p) return {};
        return {static_cast<uint8_t*>(p), rounded, true};
    }
    const size_t rounded = (bytes + 63) / 64 * 64;
    auto* data = static_cast<uint8_t*>(_aligned_malloc(rounded, 64));
    return {data, data ? rounded : 0, false};
}

void free_block_memory(const BlockMemory& memory) {
    if (!memory.data) return;
    if (memory.mapped) {
        VirtualFree(memory.data, 0, MEM_RELEASE);
    } else {
        _aligned_free(memory.data);
    }
}

}  // namespace nb::fec
