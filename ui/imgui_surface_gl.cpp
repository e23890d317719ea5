// The OpenGL side of ImGuiSurface: a 3.3 core context made current on the
// owning thread, ImGui's SDL2 and OpenGL3 back ends.
#include "ui/imgui_surface.h"

#include <imgui.h>
#include <imgui_impl_opengl3.h>
#include <imgui_impl_sdl.h>
#include <spdlog/spdlog.h>

#include <GL/gl.h>


namespace nb::ui {

namespace {

constexpr const char* k_glsl_version = "#version 330 core";

}  // namespace

struct ImGuiSurface::Backend {
    SDL_GLContext gl_context = nullptr;
    bool platform = false;
    bool renderer = false;
};

uint32_t ImGuiSurface::window_flags() { return SDL_WINDOW_OPENGL; }

void ImGuiSurface::prepare_window() {
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
}

ImGuiSurface::ImGuiSurface(SDL_Window* window) : window_(window), backend_(std::make_unique<Backend>()) {}

ImGuiSurface::~ImGuiSurface() { close(); }

bool ImGuiSurface::open(LauncherFonts& fonts, bool vsync, const char* owner) {
    backend_->gl_context = SDL_GL_CreateContext(window_);
    if (!backend_->gl_context) {
        spdlog::warn("{}: OpenGL 3.3 context failed: {}", owner, SDL_GetError());
        return false;
    }
    SDL_GL_MakeCurrent(window_, backend_->gl_context);
    if (SDL_GL_SetSwapInterval(vsync ? 1 : 0) != 0 && vsync) {
        spdlog::warn("{}: vertical sync unavailable: {}", owner, SDL_GetError());
    }
    create_launcher_imgui_context(fonts);
    backend_->platform = ImGui_ImplSDL2_InitForOpenGL(window_, backend_->gl_context);
    backend_->renderer = backend_->platform && ImGui_ImplOpenGL3_Init(k_glsl_version);
    if (!backend_->renderer) {
        spdlog::warn("{}: ImGui back ends failed to start", owner);
        return false;
    }
    ready_ = true;
    return true;
}

void ImGuiSurface::close() {
    ready_ = false;
    if (backend_->renderer) ImGui_ImplOpenGL3_Shutdown();
    if (backend_->platform) ImGui_ImplSDL2_Shutdown();
    backend_->renderer = backend_->platform = false;
    if (ImGui::GetCurrentContext()) ImGui::DestroyContext();
    if (backend_->gl_context) {
        SDL_GL_MakeCurrent(window_, nullptr);
        SDL_GL_DeleteContext(backend_->gl_context);
    }
    backend_->gl_context = nullptr;
}

void ImGuiSurface::process_event(const SDL_Event& event) {
    if (ready_) ImGui_ImplSDL2_ProcessEvent(&event);
}

void ImGuiSurface::begin_frame() {
    ImGui_ImplOpenGL3_NewFrame();
    ImGui_ImplSDL2_NewFrame();
    ImGui::NewFrame();
}

void ImGuiSurface::end_frame(const Rgba& background) {
    ImGui::Render();
    int width = 0;
    int height = 0;
    // The drawable follows the window on resize, so the viewport is set from
    // it every frame rather than recreated on the resize event.
    SDL_GL_GetDrawableSize(window_, &width, &height);
    glViewport(0, 0, width, height);
    glClearColor(background.r, background.g, background.b, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
    SDL_GL_SwapWindow(window_);
}

}  // namespace nb::ui
