// OpenGL presentation of decoded pictures on the streaming window.
#include "video/gl_renderer.h"

#include <spdlog/spdlog.h>

#include "common/clock.h"
#include "common/logging.h"

namespace nb {

void GlRenderer::prepare_window_attributes() {
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
}

GlRenderer::~GlRenderer() { shutdown(); }

bool GlRenderer::acquire() {
    if (std::this_thread::get_id() != owner_) {
        if (should_log_throttled(context_error_log_count_, 3, 100)) {
            spdlog::error("GlRenderer: called from a thread that does not own the GL context");
        }
        return false;
    }
    if (SDL_GL_GetCurrentContext() == context_) return true;
    if (SDL_GL_MakeCurrent(window_, context_) != 0) {
        if (should_log_throttled(context_error_log_count_, 3, 100)) {
            spdlog::error("GlRenderer: cannot make the GL context current: {}", SDL_GetError());
        }
        return false;
    }
    return true;
}

bool GlRenderer::initialize(SDL_Window* window, uint32_t width, uint32_t height) {
    if (initialized_) shutdown();
    width_ = width;
    height_ = height;
    window_ = window;
    if (!window) {
        spdlog::error("GlRenderer: no window");
        spdlog::error("GlRenderer: failed to create context");
        return false;
    }
    context_ = SDL_GL_CreateContext(window);
    if (!context_) {
        spdlog::error("GlRenderer: SDL_GL_CreateContext failed: {}", SDL_GetError());
        spdlog::error("GlRenderer: failed to create context");
        return false;
    }
    owner_ = std::this_thread::get_id();
    auto fail = [this] {
        spdlog::error("GlRenderer: failed to create context");
        owner_ = std::thread::id{};
        SDL_GL_MakeCurrent(window_, nullptr);
        SDL_GL_DeleteContext(context_);
        context_ = nullptr;
        return false;
    };
    int major = 0;
    int minor = 0;
    SDL_GL_GetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, &major);
    SDL_GL_GetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, &minor);
    if (major * 10 + minor < 33) {
        spdlog::error("GlRenderer: OpenGL {}.{} context, 3.3 needed", major, minor);
        return fail();
    }
    std::string missing;
    if (!gl_.load(missing)) {
        spdlog::error("GlRenderer: the driver lacks {}", missing);
        return fail();
    }
    if (!program_.create(gl_)) return fail();
    // Vertical sync would hold every picture back until the next refresh.
    if (SDL_GL_SetSwapInterval(0) != 0) {
        spdlog::info("GlRenderer: swap interval not adjustable ({}), the driver's default applies", SDL_GetError());
    }
    const auto* renderer_text = reinterpret_cast<const char*>(gl_.GetString(GL_RENDERER));
    const auto* version_text = reinterpret_cast<const char*>(gl_.GetString(GL_VERSION));
    renderer_text_ = renderer_text ? renderer_text : "unknown";
    spdlog::info("GlRenderer: OpenGL context created ({}, {})", renderer_text_, version_text ? version_text : "?");
    software_rasteriser_ = renderer_text_.find("llvmpipe") != std::string::npos ||
                           renderer_text_.find("softpipe") != std::string::npos;
    if (software_rasteriser_) {
        spdlog::info("GlRenderer: software rasteriser, chroma drawn without filtering to keep up");
    }

    // A black window until the first picture arrives.
    gl_.BindFramebuffer(GL_FRAMEBUFFER, 0);
    gl_.Viewport(0, 0, static_cast<GLsizei>(width_), static_cast<GLsizei>(height_));
    gl_.ClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    gl_.Clear(GL_COLOR_BUFFER_BIT);
    SDL_GL_SwapWindow(window_);

    initialized_ = true;
    has_snapshot_ = false;
    spdlog::info("GlRenderer: initialized {}x{} (vsync off: {})", width_, height_, SDL_GL_GetSwapInterval() == 0);
    return true;
}

float GlRenderer::render_frame(const Picture* picture, uint32_t width, uint32_t height) {
    if (!initialized_ || !picture || !acquire()) return 0.0f;
    const int64_t start_us = now_us();

    const bool had_textures = !textures_.empty();
    const uint32_t old_w = textures_.width();
    const uint32_t old_h = textures_.height();
    const PixelLayout old_layout = textures_.layout();
    const YuvTextures::Upload upload = textures_.upload(gl_, *picture);
    if (upload == YuvTextures::Upload::rejected) {
        if (should_log_throttled(reject_log_count_, 3, 100)) {
            spdlog::warn("GlRenderer: picture {}x{} has a layout the textures cannot take, skipped", picture->width,
                         picture->height);
        }
        return 0.0f;
    }
    if (upload == YuvTextures::Upload::recreated) {
        if (had_textures) {
            spdlog::info("GlRenderer: input picture {}x{} {} != textures {}x{} {}, recreating", picture->width,
                         picture->height, layout_name(picture->layout), old_w, old_h, layout_name(old_layout));
        } else {
            spdlog::debug("GlRenderer: textures created for {}x{} {}", picture->width, picture->height,
                          layout_name(picture->layout));
        }
        const GLenum error = gl_.GetError();
        if (error != GL_NO_ERROR) {
            spdlog::error("GlRenderer: texture allocation failed (0x{:04x})", error);
            textures_.destroy(gl_);
            has_snapshot_ = false;
            return 0.0f;
        }
    }

    crop_width_ = visible_extent(picture->width, width);
    crop_height_ = visible_extent(picture->height, height);
    conversion_ = yuv_to_rgb(effective_matrix(picture->matrix, crop_height_), picture->full_range);
    draw_textures();
    has_snapshot_ = true;
    return static_cast<float>(now_us() - start_us);
}

void GlRenderer::draw_textures() {
    gl_.BindFramebuffer(GL_FRAMEBUFFER, 0);
    // Whatever the overlay left enabled must not clip or blend the picture.
    gl_.Disable(GL_BLEND);
    gl_.Disable(GL_SCISSOR_TEST);
    gl_.Disable(GL_DEPTH_TEST);
    gl_.Disable(GL_CULL_FACE);
    gl_.ColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    gl_.Viewport(0, 0, static_cast<GLsizei>(width_), static_cast<GLsizei>(height_));
    gl_.ClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    gl_.Clear(GL_COLOR_BUFFER_BIT);
    const ViewRect view = letterbox(crop_width_, crop_height_, width_, height_);
    gl_.Viewport(view.x, view.y, view.width, view.height);
    textures_.bind(gl_);
    // Drawn 1:1, every pixel samples a luma texel centre: filtering would
    // only cost time, which a software rasteriser feels.
    const bool one_to_one = view.width == static_cast<int32_t>(crop_width_) &&
                            view.height == static_cast<int32_t>(crop_height_);
    textures_.set_filters(gl_, !one_to_one, !software_rasteriser_);
    program_.draw(gl_, textures_.layout() == PixelLayout::nv12, conversion_, textures_.width(), textures_.height(),
                  crop_width_, crop_height_);
}

void GlRenderer::clear() {
    if (!initialized_ || !acquire()) return;
    gl_.BindFramebuffer(GL_FRAMEBUFFER, 0);
    gl_.Disable(GL_SCISSOR_TEST);
    gl_.ColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    gl_.Viewport(0, 0, static_cast<GLsizei>(width_), static_cast<GLsizei>(height_));
    gl_.ClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    gl_.Clear(GL_COLOR_BUFFER_BIT);
}

bool GlRenderer::restore_snapshot() {
    if (!initialized_ || !has_snapshot_ || textures_.empty() || !acquire()) return false;
    draw_textures();
    return true;
}

void GlRenderer::bind_render_target() {
    if (!initialized_ || !acquire()) return;
    gl_.BindFramebuffer(GL_FRAMEBUFFER, 0);
    gl_.Viewport(0, 0, static_cast<GLsizei>(width_), static_cast<GLsizei>(height_));
}

void GlRenderer::present() {
    if (!initialized_ || !acquire()) return;
    SDL_GL_SwapWindow(window_);
    frames_presented_.fetch_add(1, std::memory_order_relaxed);
}

void GlRenderer::resize(uint32_t width, uint32_t height) {
    if (!initialized_ || std::this_thread::get_id() != owner_ || (width == width_ && height == height_)) return;
    spdlog::info("GlRenderer: resizing {}x{} → {}x{}", width_, height_, width, height);
    // The default framebuffer follows the window by itself; only the
    // viewport changes. The last picture is not redrawn into the new size.
    width_ = width;
    height_ = height;
    has_snapshot_ = false;
}

std::vector<uint8_t> GlRenderer::read_back_buffer() {
    std::vector<uint8_t> rows;
    if (!initialized_ || !acquire()) return rows;
    const size_t row_bytes = size_t{width_} * 3;
    std::vector<uint8_t> bottom_up(row_bytes * height_);
    gl_.BindFramebuffer(GL_FRAMEBUFFER, 0);
    gl_.ReadBuffer(GL_BACK);
    gl_.PixelStorei(GL_PACK_ALIGNMENT, 1);
    gl_.ReadPixels(0, 0, static_cast<GLsizei>(width_), static_cast<GLsizei>(height_), GL_RGB, GL_UNSIGNED_BYTE,
                   bottom_up.data());
    gl_.PixelStorei(GL_PACK_ALIGNMENT, 4);
    rows.resize(bottom_up.size());
    for (uint32_t y = 0; y < height_; ++y) {
        std::copy_n(bottom_up.begin() + static_cast<ptrdiff_t>((height_ - 1 - y) * row_bytes), row_bytes,
                    rows.begin() + static_cast<ptrdiff_t>(y * row_bytes));
    }
    return rows;
}

void GlRenderer::shutdown() {
    if (!initialized_) return;
    // GL objects die with their context; deleting them first only matters
    // when the context is shared, but keeps the driver's books straight.
    if (acquire()) {
        textures_.destroy(gl_);
        program_.destroy(gl_);
        SDL_GL_MakeCurrent(window_, nullptr);
    }
    SDL_GL_DeleteContext(context_);
    context_ = nullptr;
    owner_ = std::thread::id{};
    initialized_ = false;
    has_snapshot_ = false;
    spdlog::info("GlRenderer: shutdown ({} frames presented)", frames_presented_.load());
}

}  // namespace nb
