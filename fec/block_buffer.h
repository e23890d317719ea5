// A growable, 64-byte aligned byte buffer that is never cleared on reuse.
// Codecs keep these between messages so a new frame does not fault in
// fresh pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace nb::fec {

class BlockBuffer {
public:
    // Returns storage for at least `bytes` bytes (contents unspecified), or
    // null when the allocation fails.
    uint8_t* reserve(size_t bytes) {
        if (bytes <= capacity_) return data_.get();
        const size_t rounded = (bytes + 63) / 64 * 64;
        data_.reset(static_cast<uint8_t*>(std::aligned_alloc(64, rounded)));
        capacity_ = data_ ? rounded : 0;
        return data_.get();
    }
    uint8_t* data() const { return data_.get(); }
    size_t capacity() const { return capacity_; }

private:
    struct Free {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<uint8_t[], Free> data_;
    size_t capacity_ = 0;
};

}  // namespace nb::fec
