// The launcher's four font slots: DejaVu Sans regular at 13 and 15 px and
// bold at 17 and 22 px, with Latin, Cyrillic and the screens' symbols.
#pragma once

#include <string>

#include "ui/launcher_impl.h"

struct ImGuiIO;

namespace nb::ui {

// The file of DejaVu Sans in the wanted weight: fontconfig's answer when it
// really is that family, else Debian's standard path. Empty when neither
// exists.
std::string find_dejavu_sans(bool bold);

// Adds the four slots to the atlas, regular 15 px first so it is the
// default. A slot whose file is missing gets ImGui's built-in face and a
// warning.
LauncherFonts load_launcher_fonts(ImGuiIO& io);

// The code point ranges every slot carries (zero-terminated pairs).
const ImWchar* launcher_glyph_ranges();

}  // namespace nb::ui
