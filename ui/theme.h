// The look shared by the launcher window and the in-stream overlay: dark
// navy surfaces, violet accents, rounded frames, one TrueType face.
#pragma once

#include "ui/overlay_quality.h"

struct ImGuiStyle;
struct ImGuiIO;

namespace nb::ui {

void apply_theme(ImGuiStyle& style);

// The launcher window's own sizes and colours, on the same navy and accents.
void apply_launcher_theme(ImGuiStyle& style);

// The launcher's palette; the accents are the overlay's.
namespace launcher_palette {
inline constexpr Rgba background{0.031f, 0.047f, 0.082f, 1.0f};
inline constexpr Rgba text{0.929f, 0.949f, 0.969f, 1.0f};
inline constexpr Rgba dim = palette::grey;
inline constexpr Rgba secondary{0.533f, 0.6f, 0.69f, 1.0f};
inline constexpr Rgba accent = palette::blue;
inline constexpr Rgba accent_hover{0.529f, 0.761f, 1.0f, 1.0f};
inline constexpr Rgba accent_pressed{0.169f, 0.408f, 0.776f, 1.0f};
inline constexpr Rgba error = palette::red;
inline constexpr Rgba card{0.075f, 0.118f, 0.196f, 1.0f};
inline constexpr Rgba card_line{0.086f, 0.133f, 0.216f, 1.0f};
inline constexpr Rgba border{0.118f, 0.176f, 0.278f, 1.0f};
inline constexpr Rgba teal = palette::cyan;
inline constexpr Rgba violet = palette::violet;
inline constexpr Rgba amber{0.98f, 0.78f, 0.082f, 1.0f};
inline constexpr Rgba light_blue = palette::light_blue;
inline constexpr Rgba orange{0.98f, 0.65f, 0.0f, 1.0f};
inline constexpr Rgba cost_orange{0.961f, 0.62f, 0.043f, 1.0f};
inline constexpr Rgba button_text{0.96f, 0.97f, 1.0f, 1.0f};
}  // namespace launcher_palette

// Adds the interface face at `pixel_size` as the default font. Falls back to
// the library's built-in face (and says so) when the file is missing.
void load_theme_font(ImGuiIO& io, float pixel_size);

}  // namespace nb::ui
