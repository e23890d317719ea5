// The status card: its own OpenGL context and Dear ImGui context on the
// streaming window for as long as no picture needs the window.
#include "ui/status_card.h"

#include <imgui.h>
#include <imgui_impl_opengl3.h>
#include <imgui_impl_sdl.h>
#include <spdlog/spdlog.h>

#include <GL/gl.h>

#include <algorithm>

#include "ui/launcher_fonts.h"
#include "ui/launcher_widgets.h"
#include "ui/theme.h"

namespace nb::ui {

namespace {

namespace lp = launcher_palette;

constexpr const char* k_glsl_version = "#version 330 core";
constexpr float k_button_width = 140.0f;
constexpr float k_margin = 24.0f;
constexpr float k_spinner_radius = 18.0f;

}  // namespace

StatusCard::StatusCard(SDL_Window* window) : window_(window) {
    if (!open()) close();
}

StatusCard::~StatusCard() { close(); }

bool StatusCard::open() {
    gl_context_ = SDL_GL_CreateContext(window_);
    if (!gl_context_) {
        spdlog::warn("StatusCard: no OpenGL context ({}), the title alone shows the status", SDL_GetError());
        return false;
    }
    SDL_GL_MakeCurrent(window_, gl_context_);
    // A blocked swap would hold up the event wait that cancels the attempt.
    SDL_GL_SetSwapInterval(0);
    // The stream's overlay makes its own ImGui context later on the video
    // thread; this one is gone by then.
    ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    fonts_ = load_launcher_fonts(io);
    apply_launcher_theme(ImGui::GetStyle());
    platform_backend_ = ImGui_ImplSDL2_InitForOpenGL(window_, gl_context_);
    renderer_backend_ = platform_backend_ && ImGui_ImplOpenGL3_Init(k_glsl_version);
    if (!renderer_backend_) {
        spdlog::warn("StatusCard: ImGui back ends failed to start, the title alone shows the status");
        return false;
    }
    return true;
}

void StatusCard::close() {
    if (renderer_backend_) ImGui_ImplOpenGL3_Shutdown();
    if (platform_backend_) ImGui_ImplSDL2_Shutdown();
    renderer_backend_ = platform_backend_ = false;
    if (ImGui::GetCurrentContext()) ImGui::DestroyContext();
    if (gl_context_) {
        SDL_GL_MakeCurrent(window_, nullptr);
        SDL_GL_DeleteContext(gl_context_);
    }
    gl_context_ = nullptr;
}

void StatusCard::show(const std::string& text, Kind kind) {
    text_ = text;
    kind_ = kind;
    draw();
}

bool StatusCard::handle(const SDL_Event& event) {
    if (!renderer_backend_) return false;
    ImGui_ImplSDL2_ProcessEvent(&event);
    // A click lands between two draws; the button reports it on the next.
    if (event.type == SDL_MOUSEBUTTONUP || event.type == SDL_MOUSEBUTTONDOWN || event.type == SDL_KEYDOWN) draw();
    const bool pressed = cancel_pressed_;
    cancel_pressed_ = false;
    return pressed;
}

void StatusCard::draw() {
    if (!renderer_backend_) return;
    ImGui_ImplOpenGL3_NewFrame();
    ImGui_ImplSDL2_NewFrame();
    ImGui::NewFrame();

    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(viewport->Pos);
    ImGui::SetNextWindowSize(viewport->Size);
    constexpr ImGuiWindowFlags k_flags = ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove |
                                         ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoBringToFrontOnFocus;
    ImGui::PushStyleColor(ImGuiCol_WindowBg, to_vec4(lp::background));
    ImGui::Begin("##status", nullptr, k_flags);
    // Every line is centred across the whole window.
    const float content_height = kind_ == Kind::progress ? 190.0f : 90.0f;
    ImGui::SetCursorPosY(std::max(16.0f, (viewport->Size.y - content_height) / 2.0f));
    centred_text(fonts_.semibold_22, lp::text, "Nubora");
    ImGui::Dummy(ImVec2(0.0f, 12.0f));
    if (kind_ == Kind::progress) {
        ImGui::SetCursorPosX((viewport->Size.x - 2.0f * k_spinner_radius) / 2.0f);
        spinner(k_spinner_radius);
        ImGui::Dummy(ImVec2(0.0f, 8.0f));
    }
    const Rgba& colour = kind_ == Kind::progress ? lp::secondary : lp::error;
    ImGui::PushFont(fonts_.regular_15);
    const bool fits = ImGui::CalcTextSize(text_.c_str()).x <= viewport->Size.x - 2.0f * k_margin;
    ImGui::PopFont();
    if (fits) {
        centred_text(fonts_.regular_15, colour, text_.c_str());
    } else {
        // Advice can be a long sentence: wrapped inside the margins instead.
        ImGui::SetCursorPosX(k_margin);
        ImGui::PushTextWrapPos(viewport->Size.x - k_margin);
        text_in(fonts_.regular_15, colour, text_.c_str());
        ImGui::PopTextWrapPos();
    }
    if (kind_ == Kind::progress) {
        ImGui::Dummy(ImVec2(0.0f, 16.0f));
        ImGui::SetCursorPosX((viewport->Size.x - k_button_width) / 2.0f);
        if (secondary_button("Cancel", k_button_width)) cancel_pressed_ = true;
    }
    ImGui::End();
    ImGui::PopStyleColor();

    ImGui::Render();
    int width_px = 0;
    int height_px = 0;
    SDL_GL_GetDrawableSize(window_, &width_px, &height_px);
    glViewport(0, 0, width_px, height_px);
    glClearColor(lp::background.r, lp::background.g, lp::background.b, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
    SDL_GL_SwapWindow(window_);
}

}  // namespace nb::ui
