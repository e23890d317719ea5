// Windows: Direct3D 11 presentation and Media Foundation decoding.
#include "video/d3d11_renderer.h"
#include "video/mf_decoder.h"
#include "video/platform_video.h"

namespace nb {

// The swap chain attaches to the window's HWND; SDL must not put an OpenGL
// or Vulkan surface on it first.
uint32_t prepare_platform_video_window() { return 0; }

std::unique_ptr<IRenderer> make_platform_renderer() { return std::make_unique<D3d11Renderer>(); }
std::unique_ptr<IVideoDecoder> make_platform_decoder() { return std::make_unique<MfDecoder>(); }

}  // namespace nb
