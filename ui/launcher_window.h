// The launcher's SDL window with the platform's graphics and an ImGui
// context: created for one show() and gone when it returns.
#pragma once

#include <SDL.h>

#include <memory>

#include "ui/imgui_surface.h"
#include "ui/launcher_impl.h"

namespace nb::ui {

class LauncherWindow {
public:
    static constexpr int k_width = 1120;
    static constexpr int k_height = 720;

    LauncherWindow() = default;
    ~LauncherWindow();
    LauncherWindow(const LauncherWindow&) = delete;
    LauncherWindow& operator=(const LauncherWindow&) = delete;

    // SDL, the window, its graphics and ImGui with the launcher's theme and
    // fonts. False (logged) when any of them fails; close() undoes the rest.
    bool open(LauncherFonts& fonts);
    void close();

    // Drains SDL's queue into ImGui; false once the user closed the window.
    bool pump_events();

    void begin_frame();
    // Clears to the background colour, draws the frame and swaps with vsync.
    void end_frame();

    SDL_Window* window() const { return window_; }

private:
    bool sdl_started_ = false;
    SDL_Window* window_ = nullptr;
    std::unique_ptr<ImGuiSurface> surface_;
};

}  // namespace nb::ui
