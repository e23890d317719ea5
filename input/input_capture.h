// The input capture interface: turns local mouse and keyboard activity on the
// streaming window into InputEvent records for the input sender.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "input/input_event.h"

struct SDL_Window;

namespace nb {

class IInputCapture {
public:
    // Implementations stop a running capture first.
    virtual ~IInputCapture() = default;

    // Starts recording the input of `window`; seq and the button mask restart
    // at 0. Returns false, with the cause logged, when it cannot.
    virtual bool start(SDL_Window* window) = 0;

    // Replaces the contents of `out` with the records built since the last
    // drain, in order, and returns their number. Records leave exactly once.
    // Keep `out` alive and reserved between calls: draining into a vector
    // with enough capacity never allocates.
    virtual size_t drain(std::vector<InputEvent>& out) = 0;

    // Stops recording; records already pending stay until drained. Idempotent.
    virtual void stop() = 0;

    // Appends a release for every key and mouse button the records so far
    // left held, so that the remote lets go of them when local input stops
    // going to it (the in-stream overlay opens while a hot key is down).
    // Returns how many records it appended.
    virtual size_t release_held() = 0;

    // Re-arms the capture after the owner switched relative mouse mode.
    // Returns false when the capture is not running.
    virtual bool refresh() = 0;

    virtual bool running() const = 0;
    virtual std::string_view name() const = 0;
};

}  // namespace nb
