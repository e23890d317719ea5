// The launcher's faces on Linux: DejaVu Sans, through fontconfig. It has
// the symbols too.
#include "ui/launcher_fonts.h"

#include <fontconfig/fontconfig.h>

#include <filesystem>
#include <memory>

namespace nb::ui {

namespace {

constexpr const char* k_dejavu_folder = "/usr/share/fonts/truetype/dejavu/";

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

}  // namespace

const char* const k_launcher_face = "DejaVu Sans";

std::string find_launcher_face(bool bold) {
    std::string file = fontconfig_lookup(bold);
    std::error_code error;
    if (!file.empty() && std::filesystem::exists(file, error)) return file;
    file = std::string(k_dejavu_folder) + (bold ? "DejaVuSans-Bold.ttf" : "DejaVuSans.ttf");
    return std::filesystem::exists(file, error) ? file : std::string{};
}

// DejaVu Sans draws every symbol itself.
std::string find_symbol_face() { return {}; }

}  // namespace nb::ui
