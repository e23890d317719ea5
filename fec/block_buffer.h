// A growable, 64-byte aligned byte buffer that is never cleared on reuse.
// Codecs keep these between messages so a new frame does not fault in
// fresh pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include <sys/mman.h>

namespace nb::fec {

class BlockBuffer {
public:
    // Returns storage for at least `bytes` bytes (contents unspecified), or
    // null when the allocation fails.
    uint8_t* reserve(size_t bytes) {
        if (bytes <= capacity_) return data_.get();
        // Buffers of several megabytes are read in random block order; huge
        // pages keep the address translations for them in the TLB.
        const size_t alignment = bytes >= k_huge_page * 2 ? k_huge_page : 64;
        const size_t rounded = (bytes + alignment - 1) / alignment * alignment;
        data_.reset(static_cast<uint8_t*>(std::aligned_alloc(alignment, rounded)));
        capacity_ = data_ ? rounded : 0;
        if (data_ && alignment == k_huge_page) madvise(data_.get(), rounded, MADV_HUGEPAGE);
        return data_.get();
    }
    uint8_t* data() const { return data_.get(); }
    size_t capacity() const { return capacity_; }

private:
    static constexpr size_t k_huge_page = 2u << 20;
    struct Free {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<uint8_t[], Free> data_;
    size_t capacity_ = 0;
};

}  // namespace nb::fec
