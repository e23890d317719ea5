#include "app/overlay_graphics.h"

#include "video/gl_renderer.h"

namespace nb {

std::unique_ptr<ui::OverlayBackend> make_overlay_backend(IRenderer& renderer) {
    auto* gl = dynamic_cast<GlRenderer*>(&renderer);
    if (!gl || !gl->gl_context()) return nullptr;
    return ui::make_gl_overlay_backend(gl->window(), gl->gl_context(), GlRenderer::k_glsl_version);
}

}  // namespace nb
