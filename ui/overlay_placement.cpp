#include "ui/overlay_placement.h"

#include <algorithm>

namespace nb::ui {

PanelPosition place_panel(PanelPosition position, const Viewport& viewport) {
    if (position.x < 0.0f) {
        position.x = viewport.x + k_panel_margin;
        position.y = viewport.y + k_panel_margin;
    }
    position.x = std::max(viewport.x, std::min(position.x, viewport.x + viewport.width - k_panel_keep_x));
    position.y = std::max(viewport.y, std::min(position.y, viewport.y + viewport.height - k_panel_keep_y));
    return position;
}

}  // namespace nb::ui
