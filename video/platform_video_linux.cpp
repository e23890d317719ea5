// Linux: OpenGL presentation and libavcodec decoding.
#include <SDL.h>

#include "video/gl_renderer.h"
#include "video/libav_decoder.h"
#include "video/platform_video.h"

namespace nb {

uint32_t prepare_platform_video_window() {
    GlRenderer::prepare_window_attributes();
    return SDL_WINDOW_OPENGL;
}

std::unique_ptr<IRenderer> make_platform_renderer() { return std::make_unique<GlRenderer>(); }
std::unique_ptr<IVideoDecoder> make_platform_decoder() { return std::make_unique<LibavDecoder>(); }

}  // namespace nb
