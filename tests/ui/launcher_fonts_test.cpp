// The launcher's font slots, loaded the platform's way without a window:
// every slot must draw every character of both languages and every symbol
// the screens use, or a person sees "?" in its place.
#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <cstring>
#include <string>
#include <vector>

#include "ui/launcher_fonts.h"
#include "ui/localisation.h"

namespace nb::ui {
namespace {

std::vector<ImWchar> code_points(const char* text) {
    std::vector<ImWchar> points;
    const char* end = text + std::strlen(text);
    while (text < end) {
        unsigned int c = 0;
        text += ImTextCharFromUtf8(&c, text, end);
        points.push_back(static_cast<ImWchar>(c));
    }
    return points;
}

TEST(LauncherFonts, EverySlotHoldsEveryGlyphOfBothLanguages) {
    ImGuiContext* context = ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    const LauncherFonts fonts = load_launcher_fonts(io);
    ASSERT_TRUE(io.Fonts->Build());

    std::vector<std::string> words = {"◆", "▣", "▶", "⚙", "←", "✓", "—", "EN", "РУ", "¢", "руб./ч"};
    for (const bool russian : {false, true}) {
        for (const char* text : texts_for(russian)) words.push_back(text);
    }
    std::vector<std::string> missing;
    for (ImFont* font : {fonts.regular_15, fonts.regular_13, fonts.semibold_17, fonts.semibold_22}) {
        for (const std::string& word : words) {
            for (ImWchar c : code_points(word.c_str())) {
                if (c != '\n' && !font->FindGlyphNoFallback(c)) {
                    missing.push_back(std::to_string(font->FontSize) + "px U+" + std::to_string(c));
                }
            }
        }
    }
    ImGui::DestroyContext(context);
    EXPECT_TRUE(missing.empty()) << missing.size() << " missing, first " << missing.front();
}

}  // namespace
}  // namespace nb::ui
