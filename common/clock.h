// One monotonic clock for every time stamp of the client, in microseconds.
#pragma once

#include <chrono>
#include <cstdint>

namespace nb {

// Microseconds of the steady clock. 64 bits of microseconds cover the uptime
// of any machine many times over, so callers may subtract freely.
inline int64_t now_us() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace nb
