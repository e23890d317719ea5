// The renderer and decoder pair of the platform the client was built for,
// so that the session and the window code never name a back end.
#pragma once

#include <cstdint>
#include <memory>

#include "video/renderer.h"
#include "video/video_decoder.h"

namespace nb {

// Sets whatever the renderer needs from SDL before the streaming window is
// created, and returns the SDL_WindowFlags that window must carry besides
// the caller's own (SDL_WINDOW_OPENGL for the OpenGL renderer, none for
// Direct3D). Call after SDL_Init(SDL_INIT_VIDEO).
uint32_t prepare_platform_video_window();

std::unique_ptr<IRenderer> make_platform_renderer();
std::unique_ptr<IVideoDecoder> make_platform_decoder();

}  // namespace nb
