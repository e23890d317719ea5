#include "app/overlay_graphics.h"

#include <SDL_syswm.h>

#include "ui/overlay_backend_d3d11.h"
#include "video/d3d11_renderer.h"

namespace nb {

std::unique_ptr<ui::OverlayBackend> make_overlay_backend(IRenderer& renderer) {
    auto* d3d = dynamic_cast<D3d11Renderer*>(&renderer);
    if (!d3d || !d3d->device() || !d3d->window()) return nullptr;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(d3d->window(), &info)) return nullptr;
    return ui::make_d3d11_overlay_backend(info.info.win.window, d3d->device(), d3d->context());
}

}  // namespace nb
