// The overlay over OpenGL: ImGui's SDL2 and OpenGL3 back ends.
#include "ui/overlay_backend.h"

#include <imgui.h>
#include <imgui_impl_opengl3.h>
#include <imgui_impl_sdl.h>
#include <spdlog/spdlog.h>

#include <string>

namespace nb::ui {

namespace {

class GlOverlayBackend final : public OverlayBackend {
public:
    GlOverlayBackend(SDL_Window* window, SDL_GLContext gl_context, const char* glsl_version)
        : window_(window), gl_context_(gl_context), glsl_version_(glsl_version ? glsl_version : "") {}

    bool start() override {
        if (!window_ || !gl_context_) {
            spdlog::error("Overlay: no window or GL context to draw into");
            return false;
        }
        if (!ImGui_ImplSDL2_InitForOpenGL(window_, gl_context_)) {
            spdlog::error("Overlay: SDL2 platform binding failed");
            return false;
        }
        if (!ImGui_ImplOpenGL3_Init(glsl_version_.c_str())) {
            spdlog::error("Overlay: OpenGL3 renderer binding failed");
            ImGui_ImplSDL2_Shutdown();
            return false;
        }
        return true;
    }

    void stop() override {
        ImGui_ImplOpenGL3_Shutdown();
        ImGui_ImplSDL2_Shutdown();
    }

    void process_event(const SDL_Event& event) override { ImGui_ImplSDL2_ProcessEvent(&event); }

    void new_frame() override {
        ImGui_ImplOpenGL3_NewFrame();
        ImGui_ImplSDL2_NewFrame();
    }

    void render(ImDrawData* draw_data) override { ImGui_ImplOpenGL3_RenderDrawData(draw_data); }

private:
    SDL_Window* window_;
    SDL_GLContext gl_context_;
    std::string glsl_version_;
};

}  // namespace

std::unique_ptr<OverlayBackend> make_gl_overlay_backend(SDL_Window* window, void* gl_context,
                                                        const char* glsl_version) {
    return std::make_unique<GlOverlayBackend>(window, static_cast<SDL_GLContext>(gl_context), glsl_version);
}

}  // namespace nb::ui
