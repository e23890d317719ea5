// The launcher's four font slots: the platform's face (DejaVu Sans on Linux,
// Segoe UI on Windows) regular at 13 and 15 px and bold at 17 and 22 px,
// with Latin, Cyrillic and the screens' symbols.
#pragma once

#include <string>

#include "ui/launcher_impl.h"

struct ImGuiIO;

namespace nb::ui {

// The family the launcher draws with on this platform.
extern const char* const k_launcher_face;

// The file of that face in the wanted weight, found the platform's way
// (fontconfig, or the system's fonts folder). Empty when there is none.
std::string find_launcher_face(bool bold);

// A face the screens' symbols are merged in from where the launcher face
// lacks them (Segoe UI Symbol on Windows). Empty where there is none to add.
std::string find_symbol_face();

// Adds the four slots to the atlas, regular 15 px first so it is the
// default. A slot whose file is missing gets ImGui's built-in face and a
// warning.
LauncherFonts load_launcher_fonts(ImGuiIO& io);

// The code point ranges every slot carries (zero-terminated pairs).
const ImWchar* launcher_glyph_ranges();

}  // namespace nb::ui
