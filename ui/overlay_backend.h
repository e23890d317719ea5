// ImGui's platform and renderer bindings for the in-stream overlay, over
// whatever the streaming window presents with: OpenGL on Linux, Direct3D 11
// on Windows. The overlay calls every method with its own ImGui context
// current and its lock held; drawing happens on the video thread, into the
// back buffer the renderer bound.
#pragma once

#include <SDL.h>

#include <memory>

struct ImDrawData;

namespace nb::ui {

class OverlayBackend {
public:
    virtual ~OverlayBackend() = default;

    // Binds ImGui to the window and its graphics; false with the cause
    // logged.
    virtual bool start() = 0;
    // Undoes start(); the graphics context must still be usable.
    virtual void stop() = 0;
    // One window event for ImGui's input state.
    virtual void process_event(const SDL_Event& event) = 0;
    virtual void new_frame() = 0;
    virtual void render(ImDrawData* draw_data) = 0;
};

// The OpenGL binding: `gl_context` current on the drawing thread.
std::unique_ptr<OverlayBackend> make_gl_overlay_backend(SDL_Window* window, void* gl_context,
                                                        const char* glsl_version);

}  // namespace nb::ui
