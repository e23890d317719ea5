// Locating and loading the launcher's faces.
#include "ui/launcher_fonts.h"

#include <imgui.h>
#include <spdlog/spdlog.h>

#include <filesystem>

namespace nb::ui {

namespace {

// Latin-1 and the Cyrillic blocks both languages need, then the single
// symbols the screens draw: — ← ▣ ▶ ◆ ⚙ ✓.
constexpr ImWchar k_ranges[] = {0x0020, 0x00FF, 0x0400, 0x052F, 0x2DE0, 0x2DFF, 0xA640, 0xA69F,
                                0x2014, 0x2014, 0x2190, 0x2190, 0x25A3, 0x25A3, 0x25B6, 0x25B6,
                                0x25C6, 0x25C6, 0x2699, 0x2699, 0x2713, 0x2713, 0};
// The symbols alone, the tail of the list above.
constexpr const ImWchar* k_symbol_ranges = k_ranges + 8;

ImFont* add_face(ImGuiIO& io, const std::string& file, float pixels, const char* slot_name) {
    std::error_code error;
    if (!file.empty() && std::filesystem::exists(file, error)) {
        ImFontConfig config;
        config.OversampleH = 2;
        config.OversampleV = 2;
        if (ImFont* font = io.Fonts->AddFontFromFileTTF(file.c_str(), pixels, &config, k_ranges)) return font;
    }
    spdlog::warn("NativeLauncher: font for the {} slot not found ({}) — using the built-in face", slot_name,
                 file.empty() ? k_launcher_face : file);
    ImFontConfig config;
    config.SizePixels = pixels;
    return io.Fonts->AddFontDefault(&config);
}

// A slot's face, with the symbols it lacks taken from `symbols` (merged
// glyphs never replace the face's own).
ImFont* load_slot(ImGuiIO& io, const std::string& file, const std::string& symbols, float pixels,
                  const char* slot_name) {
    ImFont* font = add_face(io, file, pixels, slot_name);
    if (!symbols.empty()) {
        ImFontConfig merge;
        merge.MergeMode = true;
        merge.OversampleH = 2;
        merge.OversampleV = 2;
        if (!io.Fonts->AddFontFromFileTTF(symbols.c_str(), pixels, &merge, k_symbol_ranges)) {
            spdlog::warn("NativeLauncher: symbol face {} could not be read", symbols);
        }
    }
    return font;
}

}  // namespace

LauncherFonts load_launcher_fonts(ImGuiIO& io) {
    const std::string regular = find_launcher_face(false);
    const std::string bold = find_launcher_face(true);
    const std::string symbols = find_symbol_face();
    LauncherFonts fonts;
    fonts.regular_15 = load_slot(io, regular, symbols, 15.0f, "regular 15 px");
    fonts.regular_13 = load_slot(io, regular, symbols, 13.0f, "regular 13 px");
    fonts.semibold_17 = load_slot(io, bold, symbols, 17.0f, "semibold 17 px");
    fonts.semibold_22 = load_slot(io, bold, symbols, 22.0f, "semibold 22 px");
    io.FontDefault = fonts.regular_15;
    return fonts;
}

const ImWchar* launcher_glyph_ranges() { return k_ranges; }

}  // namespace nb::ui
