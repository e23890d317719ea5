#include "fec/codec_pool.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

#include "common/heap_trim.h"
#include "common/thread_exit.h"

namespace nb::fec {
namespace {

struct ThreadCache;

// Every live thread's cache, so that release_all() can reach them.
// Lock order: registry_mutex, then a cache's mutex.
std::mutex registry_mutex;  // guards registry
std::vector<ThreadCache*> registry;

struct ThreadCache {
    std::mutex mutex;  // guards codec; uncontended except while release_all() runs
    std::unique_ptr<Codec> codec;

    ThreadCache() {
        std::lock_guard lock(registry_mutex);
        registry.push_back(this);
    }
    ~ThreadCache() {
        std::lock_guard lock(registry_mutex);
        registry.erase(std::find(registry.begin(), registry.end(), this));
    }
};

ThreadCache& cache() {
    thread_local ThreadCache* instance = nullptr;
    if (!instance) {
        instance = new ThreadCache;
        at_thread_exit([](void* object) { delete static_cast<ThreadCache*>(object); }, instance);
    }
    return *instance;
}

}  // namespace

std::unique_ptr<Codec> CodecPool::acquire(uint64_t /*block_count*/) {
    ThreadCache& c = cache();
    {
        std::lock_guard lock(c.mutex);
        if (c.codec) return std::move(c.codec);
    }
    try {
        return std::make_unique<Codec>();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void CodecPool::release(std::unique_ptr<Codec> codec) noexcept {
    if (!codec) return;
    const size_t held = codec->retained_bytes();
    if (held > k_max_bytes) return;
    ThreadCache& c = cache();
    // Two codecs alive on one thread at once (an encoder beside a decoder)
    // come back one after the other: the larger serves any later frame.
    // The one not kept is freed on return, after the lock.
    std::lock_guard lock(c.mutex);
    if (!c.codec || c.codec->retained_bytes() < held) c.codec.swap(codec);
}

size_t CodecPool::release_all() noexcept {
    size_t bytes = 0;
    {
        std::lock_guard registry_lock(registry_mutex);
        for (ThreadCache* c : registry) {
            std::unique_ptr<Codec> freed;
            {
                std::lock_guard lock(c->mutex);
                freed = std::move(c->codec);
            }
            if (freed) bytes += freed->retained_bytes();
        }
    }
    // The codecs' buffers were large enough to come from the allocator's
    // arenas rather than their own mappings; without a trim those pages stay
    // resident long after the stream that needed them.
    return_free_heap_to_system();
    return bytes;
}

size_t CodecPool::kept_bytes() noexcept {
    size_t bytes = 0;
    std::lock_guard registry_lock(registry_mutex);
    for (ThreadCache* c : registry) {
        std::lock_guard lock(c->mutex);
        if (c->codec) bytes += c->codec->retained_bytes();
    }
    return bytes;
}

}  // namespace nb::fec
