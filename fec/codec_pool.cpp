#include "fec/codec_pool.h"

#include <cstddef>
#include <new>
#include <vector>

namespace nb::fec {
namespace {

struct ThreadCache {
    std::vector<std::unique_ptr<Codec>> codecs;
    size_t bytes = 0;
};

ThreadCache& cache() {
    thread_local ThreadCache instance;
    return instance;
}

}  // namespace

std::unique_ptr<Codec> CodecPool::acquire(uint64_t block_count) {
    ThreadCache& c = cache();
    if (!c.codecs.empty()) {
        size_t pick = c.codecs.size() - 1;
        for (size_t i = 0; i < c.codecs.size(); ++i) {
            if (c.codecs[i]->block_count() == block_count) pick = i;
        }
        std::unique_ptr<Codec> codec = std::move(c.codecs[pick]);
        c.codecs.erase(c.codecs.begin() + static_cast<std::ptrdiff_t>(pick));
        const size_t held = codec->retained_bytes();
        c.bytes = held > c.bytes ? 0 : c.bytes - held;
        return codec;
    }
    try {
        return std::make_unique<Codec>();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void CodecPool::release(std::unique_ptr<Codec> codec) noexcept {
    if (!codec) return;
    ThreadCache& c = cache();
    const size_t held = codec->retained_bytes();
    if (c.codecs.size() >= k_max_codecs || c.bytes + held > k_max_bytes) return;
    try {
        if (c.codecs.capacity() < k_max_codecs) c.codecs.reserve(k_max_codecs);
    } catch (const std::bad_alloc&) {
        return;  // not cached; freed on return
    }
    c.bytes += held;
    c.codecs.push_back(std::move(codec));
}

}  // namespace nb::fec
