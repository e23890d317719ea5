// The presentation interface the session drives: pictures in, window out.
#pragma once

#include <cstdint>
#include <string_view>

#include "video/video_decoder.h"

struct SDL_Window;

namespace nb {

// Every call is made on one thread, the session's video thread, which runs
// render_frame, bind_render_target, the overlay's drawing and present for a
// picture, and resize, or restore_snapshot (clear when it returns false),
// bind_render_target, the overlay and present for a redraw.
class IRenderer {
public:
    virtual ~IRenderer() = default;

    virtual bool initialize(SDL_Window* window, uint32_t width, uint32_t height) = 0;
    // Draws `picture`, cropped to width x height, into the back buffer.
    // Returns the microseconds spent; 0 when nothing was drawn.
    virtual float render_frame(const Picture* picture, uint32_t width, uint32_t height) = 0;
    virtual void clear() = 0;
    // Redraws the last picture; false when there is none to redraw.
    virtual bool restore_snapshot() = 0;
    // Prepares the whole back buffer for the overlay's drawing.
    virtual void bind_render_target() = 0;
    virtual void present() = 0;
    // The window's new drawable size.
    virtual void resize(uint32_t width, uint32_t height) = 0;
    // Idempotent; logs one summary line when it did something.
    virtual void shutdown() = 0;
    virtual std::string_view name() const = 0;
    // Safe from any thread.
    virtual uint64_t frames_presented() const = 0;
};

}  // namespace nb
