#include "fec/block_memory.h"

#include <cstdlib>

#include <sys/mman.h>

namespace nb::fec {

namespace {

// Large buffers get mappings of their own: freed, they go straight back to
// the system. From the allocator they would stay in a thread arena's top
// chunk, which nothing trims, long after their session ended.
constexpr size_t k_map_threshold = 256u << 10;
constexpr size_t k_huge_page = 2u << 20;

BlockMemory map_pages(size_t bytes) {
    // Buffers of several megabytes are read in random block order; huge
    // pages keep the address translations for them in the TLB.
    const bool huge = bytes >= k_huge_page * 2;
    const size_t alignment = huge ? k_huge_page : 4096;
    const size_t rounded = (bytes + alignment - 1) / alignment * alignment;
    const size_t span = huge ? rounded + alignment : rounded;
    void* p = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return {};
    auto* start = static_cast<uint8_t*>(p);
    if (huge) {
        const auto address = reinterpret_cast<uintptr_t>(start);
        auto* aligned = reinterpret_cast<uint8_t*>((address + alignment - 1) / alignment * alignment);
        if (aligned > start) munmap(start, static_cast<size_t>(aligned - start));
        const size_t tail = static_cast<size_t>(start + span - (aligned + rounded));
        if (tail > 0) munmap(aligned + rounded, tail);
        start = aligned;
        madvise(start, rounded, MADV_HUGEPAGE);
    }
    // The codec fills the buffer right away: one call faults it all in for a
    // fraction of what a page fault per 4 KiB costs. Best effort.
    madvise(start, rounded, MADV_POPULATE_WRITE);
    return {start, rounded, true};
}

}  // namespace

BlockMemory allocate_block_memory(size_t bytes) {
    if (bytes >= k_map_threshold) return map_pages(bytes);
    const size_t rounded = (bytes + 63) / 64 * 64;
    auto* data = static_cast<uint8_t*>(std::aligned_alloc(64, rounded));
    return {data, data ? rounded : 0, false};
}

void free_block_memory(const BlockMemory& memory) {
    if (!memory.data) return;
    if (memory.mapped) {
        munmap(memory.data, memory.capacity);
    } else {
        std::free(memory.data);
    }
}

}  // namespace nb::fec
