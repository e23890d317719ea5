// Polls a condition that another thread or a peer makes true.
#pragma once

#include <chrono>
#include <thread>

namespace nb::test {

// Polls `done` until it holds or `limit` passes; the result of `done`. The
// limit only keeps a broken build from hanging.
template <typename Condition>
bool eventually(Condition done, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace nb::test
