// A growable, 64-byte aligned byte buffer that is never cleared on reuse.
// Codecs keep these between messages so a new frame does not fault in
// fresh pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include <sys/mman.h>

namespace nb::fec {

class BlockBuffer {
public:
    BlockBuffer() = default;
    ~BlockBuffer() { release(); }
    BlockBuffer(BlockBuffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)),
          capacity_(std::exchange(other.capacity_, 0)),
          mapped_(std::exchange(other.mapped_, false)) {}
    BlockBuffer& operator=(BlockBuffer&& other) noexcept {
        if (this != &other) {
            release();
            data_ = std::exchange(other.data_, nullptr);
            capacity_ = std::exchange(other.capacity_, 0);
            mapped_ = std::exchange(other.mapped_, false);
        }
        return *this;
    }

    // Returns storage for at least `bytes` bytes (contents unspecified), or
    // null when the allocation fails.
    uint8_t* reserve(size_t bytes) {
        if (bytes <= capacity_) return data_;
        release();
        if (bytes >= k_map_threshold) {
            map(bytes);
        } else {
            const size_t rounded = (bytes + 63) / 64 * 64;
            data_ = static_cast<uint8_t*>(std::aligned_alloc(64, rounded));
            capacity_ = data_ ? rounded : 0;
        }
        return data_;
    }
    uint8_t* data() const { return data_; }
    size_t capacity() const { return capacity_; }

private:
    // Large buffers get mappings of their own: freed, they go straight back
    // to the system. From the allocator they would stay in a thread arena's
    // top chunk, which nothing trims, long after their session ended.
    static constexpr size_t k_map_threshold = 256u << 10;
    static constexpr size_t k_huge_page = 2u << 20;

    void map(size_t bytes) {
        // Buffers of several megabytes are read in random block order; huge
        // pages keep the address translations for them in the TLB.
        const bool huge = bytes >= k_huge_page * 2;
        const size_t alignment = huge ? k_huge_page : 4096;
        const size_t rounded = (bytes + alignment - 1) / alignment * alignment;
        const size_t span = huge ? rounded + alignment : rounded;
        void* p = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) return;
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
        // The codec fills the buffer right away: one call faults it all in
        // for a fraction of what a page fault per 4 KiB costs. Best effort.
        madvise(start, rounded, MADV_POPULATE_WRITE);
        data_ = start;
        capacity_ = rounded;
        mapped_ = true;
    }

    void release() {
        if (!data_) return;
        if (mapped_) {
            munmap(data_, capacity_);
        } else {
            std::free(data_);
        }
        data_ = nullptr;
        capacity_ = 0;
        mapped_ = false;
    }

    uint8_t* data_ = nullptr;
    size_t capacity_ = 0;
    bool mapped_ = false;
};

}  // namespace nb::fec
