// Presentation with OpenGL 3.3 core on the streaming window's SDL context:
// planes uploaded to reused textures, converted to RGB in a shader, scaled
// to the window with black bars, swapped without waiting for vertical sync.
#pragma once

#include <SDL.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "video/gl_functions.h"
#include "video/renderer.h"
#include "video/yuv_conversion.h"
#include "video/yuv_program.h"
#include "video/yuv_textures.h"

namespace nb {

// The GL context belongs to the thread that calls initialize (the session's
// video thread) and stays current there until shutdown; a call from any
// other thread is refused with an error instead of drawing with a context
// that is not current.
class GlRenderer final : public IRenderer {
public:
    // Sets the context attributes the renderer asks of SDL (3.3 core,
    // double-buffered RGB8, no depth). Call after SDL_Init and before
    // creating the window with SDL_WINDOW_OPENGL.
    static void prepare_window_attributes();

    GlRenderer() = default;
    ~GlRenderer() override;
    GlRenderer(const GlRenderer&) = delete;
    GlRenderer& operator=(const GlRenderer&) = delete;

    bool initialize(SDL_Window* window, uint32_t width, uint32_t height) override;
    float render_frame(const Picture* picture, uint32_t width, uint32_t height) override;
    void clear() override;
    bool restore_snapshot() override;
    void bind_render_target() override;
    void present() override;
    void resize(uint32_t width, uint32_t height) override;
    void shutdown() override;
    std::string_view name() const override { return "OpenGL"; }
    uint64_t frames_presented() const override { return frames_presented_.load(); }

    // What the overlay's SDL and OpenGL3 back ends are set up with, on the
    // owning thread, where the context is current.
    SDL_Window* window() const { return window_; }
    SDL_GLContext gl_context() const { return context_; }
    static constexpr const char* k_glsl_version = "#version 330 core";

    // The back buffer as RGB rows from the top, for tests and diagnostics;
    // call it inside a drawing sequence, before present.
    std::vector<uint8_t> read_back_buffer();

private:
    // True on the owning thread with the context current.
    bool acquire();
    void draw_textures();

    SDL_Window* window_ = nullptr;
    SDL_GLContext context_ = nullptr;
    std::thread::id owner_;  // the thread that called initialize
    GlFunctions gl_;
    YuvProgram program_;
    YuvTextures textures_;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    bool initialized_ = false;
    std::atomic<uint64_t> frames_presented_{0};
    // What the textures hold, to draw them again without a new picture.
    bool has_snapshot_ = false;
    uint32_t crop_width_ = 0;
    uint32_t crop_height_ = 0;
    YuvToRgb conversion_;
    std::string renderer_text_;
    // Mesa's CPU rasterisers: filtered chroma costs several times the draw.
    bool software_rasteriser_ = false;
    std::atomic<uint64_t> context_error_log_count_{0};
    std::atomic<uint64_t> reject_log_count_{0};
};

}  // namespace nb
