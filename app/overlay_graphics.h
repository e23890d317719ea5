// The overlay's binding to whatever renderer the platform streams with.
#pragma once

#include <memory>

#include "ui/overlay_backend.h"
#include "video/renderer.h"

namespace nb {

// Null when `renderer` offers nothing the overlay can draw with. Called on
// the video thread, which owns the renderer.
std::unique_ptr<ui::OverlayBackend> make_overlay_backend(IRenderer& renderer);

}  // namespace nb
