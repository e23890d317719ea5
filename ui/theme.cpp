#include "ui/theme.h"

#include <imgui.h>
#include <spdlog/spdlog.h>

#include <filesystem>

#include "ui/overlay_quality.h"

namespace nb::ui {

namespace {

// Debian's fonts-dejavu-core. The condensed cut keeps figures such as
// "30000 kbps" inside the overlay's narrow cards; the face covers the Latin
// and Cyrillic text both languages of the interface need.
constexpr const char* k_font_path = "/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed.ttf";

ImVec4 vec(const Rgba& c) { return ImVec4(c.r, c.g, c.b, c.a); }
ImVec4 vec(const Rgba& c, float alpha) { return ImVec4(c.r, c.g, c.b, alpha); }

}  // namespace

void apply_theme(ImGuiStyle& style) {
    ImGui::StyleColorsDark(&style);
    style.WindowRounding = 14.0f;
    style.ChildRounding = 10.0f;
    style.FrameRounding = 8.0f;
    style.PopupRounding = 10.0f;
    style.GrabRounding = 8.0f;
    style.ScrollbarRounding = 8.0f;
    style.TabRounding = 8.0f;
    style.WindowBorderSize = 1.0f;
    style.FrameBorderSize = 0.0f;
    style.GrabMinSize = 12.0f;
    style.WindowPadding = ImVec2(12.0f, 12.0f);
    style.FramePadding = ImVec2(10.0f, 6.0f);
    style.ItemSpacing = ImVec2(8.0f, 6.0f);

    ImVec4* colours = style.Colors;
    colours[ImGuiCol_Text] = ImVec4(0.90f, 0.93f, 0.97f, 1.0f);
    colours[ImGuiCol_TextDisabled] = vec(palette::grey);
    colours[ImGuiCol_WindowBg] = vec(palette::panel);
    colours[ImGuiCol_ChildBg] = vec(palette::card, 0.0f);
    colours[ImGuiCol_PopupBg] = vec(palette::panel);
    colours[ImGuiCol_Border] = vec(palette::violet, 0.22f);
    colours[ImGuiCol_FrameBg] = vec(palette::card);
    colours[ImGuiCol_FrameBgHovered] = vec(palette::violet, 0.18f);
    colours[ImGuiCol_FrameBgActive] = vec(palette::violet, 0.28f);
    colours[ImGuiCol_TitleBg] = vec(palette::panel);
    colours[ImGuiCol_TitleBgActive] = vec(palette::panel);
    colours[ImGuiCol_CheckMark] = vec(palette::cyan);
    colours[ImGuiCol_SliderGrab] = vec(palette::violet);
    colours[ImGuiCol_SliderGrabActive] = vec(palette::cyan);
    colours[ImGuiCol_Button] = vec(palette::violet, 0.85f);
    colours[ImGuiCol_ButtonHovered] = vec(palette::violet);
    colours[ImGuiCol_ButtonActive] = vec(palette::blue);
    colours[ImGuiCol_Header] = vec(palette::violet, 0.25f);
    colours[ImGuiCol_HeaderHovered] = vec(palette::violet, 0.35f);
    colours[ImGuiCol_HeaderActive] = vec(palette::violet, 0.45f);
    colours[ImGuiCol_Separator] = vec(palette::violet, 0.2f);
    colours[ImGuiCol_TextSelectedBg] = vec(palette::blue, 0.35f);
    colours[ImGuiCol_NavHighlight] = vec(palette::cyan);
}

void load_theme_font(ImGuiIO& io, float pixel_size) {
    std::error_code error;
    if (std::filesystem::exists(k_font_path, error) && io.Fonts->AddFontFromFileTTF(k_font_path, pixel_size)) {
        return;
    }
    spdlog::warn("Theme: font {} not found — using the built-in face", k_font_path);
    io.Fonts->AddFontDefault();
}

}  // namespace nb::ui
