// The launcher window's SDL set-up and per-frame plumbing; the drawing
// surface underneath is the platform's (ImGuiSurface).
#include "ui/launcher_window.h"

#include <imgui.h>
#include <spdlog/spdlog.h>

#include <cstring>

#include "ui/theme.h"

namespace nb::ui {

LauncherWindow::~LauncherWindow() { close(); }

bool LauncherWindow::open(LauncherFonts& fonts) {
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
        spdlog::critical("SDL_Init: {}", SDL_GetError());
        return false;
    }
    sdl_started_ = true;
    ImGuiSurface::prepare_window();
    window_ = SDL_CreateWindow("Nubora", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, k_width, k_height,
                               SDL_WINDOW_SHOWN | SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI |
                                   ImGuiSurface::window_flags());
    if (!window_) {
        spdlog::error("SDL_CreateWindow failed: {}", SDL_GetError());
        close();
        return false;
    }
    if (std::strcmp(ImGui::GetVersion(), IMGUI_VERSION) != 0 ||
        !ImGui::DebugCheckVersionAndDataLayout(IMGUI_VERSION, sizeof(ImGuiIO), sizeof(ImGuiStyle), sizeof(ImVec2),
                                               sizeof(ImVec4), sizeof(ImDrawVert), sizeof(ImDrawIdx))) {
        spdlog::error("NativeLauncher: ImGui library {} does not match headers {}", ImGui::GetVersion(),
                      IMGUI_VERSION);
        close();
        return false;
    }
    surface_ = std::make_unique<ImGuiSurface>(window_);
    if (!surface_->open(fonts, true, "NativeLauncher")) {
        spdlog::error("NativeLauncher: the window cannot draw");
        close();
        return false;
    }
    return true;
}

void LauncherWindow::close() {
    surface_.reset();
    if (window_) SDL_DestroyWindow(window_);
    window_ = nullptr;
    if (sdl_started_) SDL_Quit();
    sdl_started_ = false;
}

bool LauncherWindow::pump_events() {
    bool open = true;
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        surface_->process_event(event);
        if (event.type == SDL_QUIT) open = false;
        if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE &&
            event.window.windowID == SDL_GetWindowID(window_)) {
            open = false;
        }
    }
    return open;
}

void LauncherWindow::begin_frame() { surface_->begin_frame(); }

void LauncherWindow::end_frame() { surface_->end_frame(launcher_palette::background); }

}  // namespace nb::ui
