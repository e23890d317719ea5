// SDL2 + OpenGL 3.3 + Dear ImGui set-up and the per-frame plumbing of the
// launcher window.
#include "ui/launcher_window.h"

#include <imgui.h>
#include <imgui_impl_opengl3.h>
#include <imgui_impl_sdl.h>
#include <spdlog/spdlog.h>

#include <GL/gl.h>

#include <cstring>

#include "ui/launcher_fonts.h"
#include "ui/theme.h"

namespace nb::ui {

namespace {

constexpr const char* k_glsl_version = "#version 330 core";

}  // namespace

LauncherWindow::~LauncherWindow() { close(); }

bool LauncherWindow::open(LauncherFonts& fonts) {
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
        spdlog::critical("SDL_Init: {}", SDL_GetError());
        return false;
    }
    sdl_started_ = true;
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    window_ = SDL_CreateWindow("Nubora", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, k_width, k_height,
                               SDL_WINDOW_SHOWN | SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI |
                                   SDL_WINDOW_OPENGL);
    if (!window_) {
        spdlog::error("SDL_CreateWindow failed: {}", SDL_GetError());
        close();
        return false;
    }
    gl_context_ = SDL_GL_CreateContext(window_);
    if (!gl_context_) {
        spdlog::error("NativeLauncher: OpenGL 3.3 context failed: {}", SDL_GetError());
        close();
        return false;
    }
    SDL_GL_MakeCurrent(window_, gl_context_);
    if (SDL_GL_SetSwapInterval(1) != 0) spdlog::warn("NativeLauncher: vertical sync unavailable: {}", SDL_GetError());

    if (std::strcmp(ImGui::GetVersion(), IMGUI_VERSION) != 0 ||
        !ImGui::DebugCheckVersionAndDataLayout(IMGUI_VERSION, sizeof(ImGuiIO), sizeof(ImGuiStyle), sizeof(ImVec2),
                                               sizeof(ImVec4), sizeof(ImDrawVert), sizeof(ImDrawIdx))) {
        spdlog::error("NativeLauncher: ImGui library {} does not match headers {}", ImGui::GetVersion(),
                      IMGUI_VERSION);
        close();
        return false;
    }
    ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard;
    io.IniFilename = nullptr;
    fonts = load_launcher_fonts(io);
    apply_launcher_theme(ImGui::GetStyle());
    platform_backend_ = ImGui_ImplSDL2_InitForOpenGL(window_, gl_context_);
    renderer_backend_ = platform_backend_ && ImGui_ImplOpenGL3_Init(k_glsl_version);
    if (!renderer_backend_) {
        spdlog::error("NativeLauncher: ImGui back ends failed to start");
        close();
        return false;
    }
    return true;
}

void LauncherWindow::close() {
    if (renderer_backend_) ImGui_ImplOpenGL3_Shutdown();
    if (platform_backend_) ImGui_ImplSDL2_Shutdown();
    renderer_backend_ = platform_backend_ = false;
    if (ImGui::GetCurrentContext()) ImGui::DestroyContext();
    if (gl_context_) SDL_GL_DeleteContext(gl_context_);
    gl_context_ = nullptr;
    if (window_) SDL_DestroyWindow(window_);
    window_ = nullptr;
    if (sdl_started_) SDL_Quit();
    sdl_started_ = false;
}

bool LauncherWindow::pump_events() {
    bool open = true;
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        ImGui_ImplSDL2_ProcessEvent(&event);
        if (event.type == SDL_QUIT) open = false;
        if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE &&
            event.window.windowID == SDL_GetWindowID(window_)) {
            open = false;
        }
    }
    return open;
}

void LauncherWindow::begin_frame() {
    ImGui_ImplOpenGL3_NewFrame();
    ImGui_ImplSDL2_NewFrame();
    ImGui::NewFrame();
}

void LauncherWindow::end_frame() {
    ImGui::Render();
    int width = 0;
    int height = 0;
    // The drawable follows the window on resize, so the viewport is set from
    // it every frame rather than recreated on the resize event.
    SDL_GL_GetDrawableSize(window_, &width, &height);
    glViewport(0, 0, width, height);
    glClearColor(0.031f, 0.047f, 0.082f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
    SDL_GL_SwapWindow(window_);
}

}  // namespace nb::ui
