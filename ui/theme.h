// The look shared by the launcher window and the in-stream overlay: dark
// navy surfaces, violet accents, rounded frames, one TrueType face.
#pragma once

struct ImGuiStyle;
struct ImGuiIO;

namespace nb::ui {

void apply_theme(ImGuiStyle& style);

// Adds the interface face at `pixel_size` as the default font. Falls back to
// the library's built-in face (and says so) when the file is missing.
void load_theme_font(ImGuiIO& io, float pixel_size);

}  // namespace nb::ui
