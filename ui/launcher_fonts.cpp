// Locating and loading the launcher's faces.
#include "ui/launcher_fonts.h"

#include <fontconfig/fontconfig.h>
#include <imgui.h>
#include <spdlog/spdlog.h>

#include <filesystem>
#include <memory>

namespace nb::ui {

namespace {

constexpr const char* k_dejavu_folder = "/usr/share/fonts/truetype/dejavu/";

// Latin-1 and the Cyrillic blocks both languages need, then the single
// symbols the screens draw: — ← ▣ ▶ ◆ ⚙ ✓.
constexpr ImWchar k_ranges[] = {0x0020, 0x00FF, 0x0400, 0x052F, 0x2DE0, 0x2DFF, 0xA640, 0xA69F,
                                0x2014, 0x2014, 0x2190, 0x2190, 0x25A3, 0x25A3, 0x25B6, 0x25B6,
                                0x25C6, 0x25C6, 0x2699, 0x2699, 0x2713, 0x2713, 0};

struct PatternDeleter {
    void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
};
using Pattern = std::unique_ptr<FcPattern, PatternDeleter>;

std::string fontconfig_lookup(bool bold) {
    if (!FcInit()) return {};
    Pattern pattern(FcPatternCreate());
    if (!pattern) return {};
    FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>("DejaVu Sans"));
    FcPatternAddInteger(pattern.get(), FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern.get(), FC_SLANT, FC_SLANT_ROMAN);
    FcPatternAddInteger(pattern.get(), FC_WIDTH, FC_WIDTH_NORMAL);
    FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());
    FcResult outcome = FcResultNoMatch;
    Pattern match(FcFontMatch(nullptr, pattern.get(), &outcome));
    if (!match) return {};
    // fontconfig always answers with something; a substitute family would
    // lack the Cyrillic or the symbols, so only DejaVu Sans itself counts.
    FcChar8* family = nullptr;
    FcChar8* file = nullptr;
    int weight = 0;
    if (FcPatternGetString(match.get(), FC_FAMILY, 0, &family) != FcResultMatch ||
        FcPatternGetString(match.get(), FC_FILE, 0, &file) != FcResultMatch ||
        FcPatternGetInteger(match.get(), FC_WEIGHT, 0, &weight) != FcResultMatch) {
        return {};
    }
    const bool weight_matches = bold ? weight >= FC_WEIGHT_BOLD : weight < FC_WEIGHT_DEMIBOLD;
    if (std::string(reinterpret_cast<const char*>(family)) != "DejaVu Sans" || !weight_matches) return {};
    return reinterpret_cast<const char*>(file);
}

ImFont* load_slot(ImGuiIO& io, const std::string& file, float pixels, const char* slot_name) {
    std::error_code error;
    if (!file.empty() && std::filesystem::exists(file, error)) {
        ImFontConfig config;
        config.OversampleH = 2;
        config.OversampleV = 2;
        if (ImFont* font = io.Fonts->AddFontFromFileTTF(file.c_str(), pixels, &config, k_ranges)) return font;
    }
    spdlog::warn("NativeLauncher: font for the {} slot not found ({}) — using the built-in face", slot_name,
                 file.empty() ? "DejaVu Sans" : file);
    ImFontConfig config;
    config.SizePixels = pixels;
    return io.Fonts->AddFontDefault(&config);
}

}  // namespace

std::string find_dejavu_sans(bool bold) {
    std::string file = fontconfig_lookup(bold);
    std::error_code error;
    if (!file.empty() && std::filesystem::exists(file, error)) return file;
    file = std::string(k_dejavu_folder) + (bold ? "DejaVuSans-Bold.ttf" : "DejaVuSans.ttf");
    return std::filesystem::exists(file, error) ? file : std::string{};
}

LauncherFonts load_launcher_fonts(ImGuiIO& io) {
    const std::string regular = find_dejavu_sans(false);
    const std::string bold = find_dejavu_sans(true);
    LauncherFonts fonts;
    fonts.regular_15 = load_slot(io, regular, 15.0f, "regular 15 px");
    fonts.regular_13 = load_slot(io, regular, 13.0f, "regular 13 px");
    fonts.semibold_17 = load_slot(io, bold, 17.0f, "semibold 17 px");
    fonts.semibold_22 = load_slot(io, bold, 22.0f, "semibold 22 px");
    io.FontDefault = fonts.regular_15;
    return fonts;
}

const ImWchar* launcher_glyph_ranges() { return k_ranges; }

}  // namespace nb::ui
