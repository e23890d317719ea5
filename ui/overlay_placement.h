// Where the overlay panel sits: 16 pixels in from the top-left corner at
// first, wherever the user drags it later, never pushed out of the window.
#pragma once

namespace nb::ui {

struct Viewport {
    float x = 0.0f;
    float y = 0.0f;
    float width = 0.0f;
    float height = 0.0f;
};

struct PanelPosition {
    // Negative until the panel has been placed for the first time.
    float x = -1.0f;
    float y = -1.0f;
};

inline constexpr float k_panel_width = 264.0f;
inline constexpr float k_panel_margin = 16.0f;
// Room kept for the panel at the right and bottom edges while clamping.
inline constexpr float k_panel_keep_x = 280.0f;
inline constexpr float k_panel_keep_y = 160.0f;

// Places an unplaced panel at its default corner and keeps it inside the
// viewport. In a viewport smaller than the kept room the top-left edge wins,
// so the panel's handle stays reachable.
PanelPosition place_panel(PanelPosition position, const Viewport& viewport);

}  // namespace nb::ui
