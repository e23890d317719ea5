#include "ui/theme.h"

#include <imgui.h>
#include <spdlog/spdlog.h>

#include <filesystem>
#include <utility>

#include "ui/imgui_colour.h"
#include "ui/overlay_quality.h"

namespace nb::ui {

namespace {

// Debian's fonts-dejavu-core. The condensed cut keeps figures such as
// "30000 kbps" inside the overlay's narrow cards; the face covers the Latin
// and Cyrillic text both languages of the interface need.
constexpr const char* k_font_path = "/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed.ttf";


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

void apply_launcher_theme(ImGuiStyle& style) {
    namespace lp = launcher_palette;
    ImGui::StyleColorsDark(&style);
    struct SizeSetting {
        float ImGuiStyle::*field;
        float value;
    };
    const SizeSetting sizes[] = {
        {&ImGuiStyle::WindowRounding, 0.0f},   {&ImGuiStyle::WindowBorderSize, 0.0f},
        {&ImGuiStyle::ChildRounding, 12.0f},   {&ImGuiStyle::ChildBorderSize, 0.0f},
        {&ImGuiStyle::PopupRounding, 12.0f},   {&ImGuiStyle::PopupBorderSize, 1.0f},
        {&ImGuiStyle::FrameRounding, 10.0f},   {&ImGuiStyle::FrameBorderSize, 1.0f},
        {&ImGuiStyle::IndentSpacing, 20.0f},   {&ImGuiStyle::ScrollbarSize, 8.0f},
        {&ImGuiStyle::ScrollbarRounding, 10.0f}};
    for (const SizeSetting& size : sizes) style.*size.field = size.value;
    style.WindowPadding = ImVec2(20.0f, 16.0f);
    style.FramePadding = ImVec2(14.0f, 10.0f);
    style.ItemSpacing = ImVec2(10.0f, 8.0f);
    style.ItemInnerSpacing = ImVec2(8.0f, 6.0f);

    const ImVec4 clear(0.0f, 0.0f, 0.0f, 0.0f);
    const std::pair<ImGuiCol, ImVec4> colours[] = {
        {ImGuiCol_Text, vec(lp::text)},
        {ImGuiCol_TextDisabled, vec(lp::dim)},
        {ImGuiCol_WindowBg, vec(lp::background)},
        {ImGuiCol_ChildBg, clear},
        {ImGuiCol_PopupBg, ImVec4(0.05f, 0.08f, 0.14f, 0.97f)},
        {ImGuiCol_Border, vec(lp::border)},
        {ImGuiCol_FrameBg, ImVec4(0.059f, 0.09f, 0.157f, 1.0f)},
        {ImGuiCol_FrameBgHovered, ImVec4(0.075f, 0.118f, 0.196f, 1.0f)},
        {ImGuiCol_FrameBgActive, ImVec4(0.094f, 0.149f, 0.243f, 1.0f)},
        {ImGuiCol_TitleBg, vec(lp::background)},
        {ImGuiCol_TitleBgActive, vec(lp::background)},
        {ImGuiCol_TitleBgCollapsed, vec(lp::background)},
        {ImGuiCol_ScrollbarBg, clear},
        {ImGuiCol_ScrollbarGrab, vec(lp::dim, 0.3f)},
        {ImGuiCol_ScrollbarGrabHovered, vec(lp::accent, 0.4f)},
        {ImGuiCol_ScrollbarGrabActive, vec(lp::accent)},
        {ImGuiCol_CheckMark, vec(lp::accent)},
        {ImGuiCol_SliderGrab, vec(lp::accent)},
        {ImGuiCol_SliderGrabActive, vec(lp::accent_hover)},
        {ImGuiCol_Button, ImVec4(0.08f, 0.14f, 0.25f, 1.0f)},
        {ImGuiCol_ButtonHovered, ImVec4(0.12f, 0.2f, 0.35f, 1.0f)},
        {ImGuiCol_ButtonActive, ImVec4(0.16f, 0.27f, 0.46f, 1.0f)},
        {ImGuiCol_Header, vec(lp::accent, 0.12f)},
        {ImGuiCol_HeaderHovered, vec(lp::accent, 0.2f)},
        {ImGuiCol_HeaderActive, vec(lp::accent, 0.3f)},
        {ImGuiCol_Separator, vec(lp::card_line)},
        {ImGuiCol_SeparatorHovered, vec(lp::accent, 0.5f)},
        {ImGuiCol_SeparatorActive, vec(lp::accent)},
        {ImGuiCol_ResizeGrip, vec(lp::accent, 0.08f)},
        {ImGuiCol_ResizeGripHovered, vec(lp::accent, 0.25f)},
        {ImGuiCol_ResizeGripActive, vec(lp::accent, 0.45f)},
        {ImGuiCol_TextSelectedBg, vec(lp::accent, 0.22f)},
    };
    for (const auto& [index, colour] : colours) style.Colors[index] = colour;
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
