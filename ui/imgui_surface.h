// Dear ImGui drawing on an SDL window with the platform's graphics: an
// OpenGL 3.3 context and ImGui's SDL2 + OpenGL3 back ends on Linux, a
// Direct3D 11 swap chain and ImGui's Win32 + DX11 back ends on Windows.
// The launcher window and the status card draw through one of these; all
// calls come from the thread that owns the window.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <memory>

#include "ui/launcher_impl.h"
#include "ui/theme.h"

namespace nb::ui {

class ImGuiSurface {
public:
    // What SDL_CreateWindow needs for this platform's graphics.
    static uint32_t window_flags();
    // Settings that must precede SDL_CreateWindow (OpenGL's attributes).
    static void prepare_window();

    explicit ImGuiSurface(SDL_Window* window);
    ~ImGuiSurface();
    ImGuiSurface(const ImGuiSurface&) = delete;
    ImGuiSurface& operator=(const ImGuiSurface&) = delete;

    // The graphics context, an ImGui context with the launcher's theme and
    // fonts, and the back ends. `vsync`: presenting waits for the display.
    // False when any step failed; the cause is logged by the caller's name.
    bool open(LauncherFonts& fonts, bool vsync, const char* owner);
    void close();
    bool ready() const { return ready_; }

    // Hands one window event to ImGui.
    void process_event(const SDL_Event& event);
    void begin_frame();
    // Renders the frame over `background` and presents it.
    void end_frame(const Rgba& background);

private:
    struct Backend;  // the platform's graphics and back-end state

    SDL_Window* window_;
    std::unique_ptr<Backend> backend_;
    bool ready_ = false;
};

// An ImGui context with the launcher's theme and fonts, made current; the
// surfaces call it once their graphics exist.
void create_launcher_imgui_context(LauncherFonts& fonts);

}  // namespace nb::ui
