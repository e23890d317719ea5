// Logo, navigation, the user block and the language switch in the sidebar.
#include "ui/screens/sidebar.h"

#include <imgui.h>

#include <cctype>
#include <string>

#include "ui/launcher_storage.h"
#include "ui/launcher_widgets.h"
#include "ui/localisation.h"
#include "ui/theme.h"

namespace nb::ui {

namespace {

namespace lp = launcher_palette;

struct NavItem {
    const char* icon;
    Txt label;
    Screen target;
};

constexpr NavItem k_nav_items[] = {
    {"▣", t_servers, Screen::Browse}, {"▶", t_session, Screen::Session}, {"⚙", t_settings, Screen::Settings}};

void draw_logo(NativeLauncher::Impl& impl, bool collapsed, float width) {
    const ImVec2 origin = ImGui::GetWindowPos();
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const float outer = collapsed ? 22.0f : 26.0f;
    const float inner = collapsed ? 14.0f : 16.0f;
    const ImVec2 centre(origin.x + (collapsed ? width / 2.0f : 20.0f + outer), origin.y + 20.0f + outer);
    draw->AddCircleFilled(centre, outer, to_u32(lp::accent, 0.08f));
    draw->AddCircleFilled(centre, inner, to_u32(lp::accent, 0.16f));
    ImFont* font = impl.fonts.semibold_17 ? impl.fonts.semibold_17 : ImGui::GetFont();
    const ImVec2 diamond = font->CalcTextSizeA(font->FontSize, 100.0f, 0.0f, "◆");
    draw->AddText(font, font->FontSize, ImVec2(centre.x - diamond.x / 2.0f, centre.y - diamond.y / 2.0f),
                  to_u32(lp::accent), "◆");
    if (!collapsed) {
        const char* name = texts()[t_product_name];
        draw->AddText(font, font->FontSize, ImVec2(centre.x + outer + 12.0f, centre.y - font->FontSize / 2.0f),
                      to_u32(lp::text), name);
    }
    ImGui::SetCursorPosY(20.0f + 2.0f * outer + 24.0f);
}

void draw_nav_item(NativeLauncher::Impl& impl, const NavItem& item, bool collapsed, float width) {
    const TextTable& table = texts();
    const float inset = collapsed ? 4.0f : 10.0f;
    const bool selected = impl.screen == item.target;
    const std::string id = std::string("##nav_") + table[item.label];
    const std::string label =
        collapsed ? item.icon + id : std::string("  ") + item.icon + "   " + table[item.label] + id;
    ImGui::SetCursorPosX(inset);
    const ImVec2 top = ImGui::GetCursorScreenPos();
    ImGui::PushStyleColor(ImGuiCol_Button, selected ? to_vec4(lp::accent, 0.12f) : ImVec4(0, 0, 0, 0));
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, selected ? to_vec4(lp::accent, 0.12f) : to_vec4(lp::accent, 0.08f));
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, to_vec4(lp::accent, 0.18f));
    ImGui::PushStyleColor(ImGuiCol_Text, selected ? to_vec4(lp::accent) : to_vec4(lp::secondary));
    ImGui::PushStyleVar(ImGuiStyleVar_FrameRounding, 8.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_FrameBorderSize, 0.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_ButtonTextAlign, ImVec2(collapsed ? 0.5f : 0.0f, 0.5f));
    if (ImGui::Button(label.c_str(), ImVec2(width - 2.0f * inset, 40.0f))) impl.screen = item.target;
    if (collapsed && ImGui::IsItemHovered()) ImGui::SetTooltip("%s", table[item.label]);
    ImGui::PopStyleVar(3);
    ImGui::PopStyleColor(4);
    if (selected) {
        const float bar_x = ImGui::GetWindowPos().x + 5.0f;
        ImGui::GetWindowDrawList()->AddRectFilled(ImVec2(bar_x, top.y + 6.0f), ImVec2(bar_x + 2.0f, top.y + 34.0f),
                                                  to_u32(lp::accent), 2.0f);
    }
}

void draw_avatar(NativeLauncher::Impl& impl, ImVec2 centre, float radius) {
    ImDrawList* draw = ImGui::GetWindowDrawList();
    draw->AddCircleFilled(centre, radius, to_u32(lp::accent, 0.22f));
    draw->AddCircle(centre, radius, to_u32(lp::accent, 0.5f), 0, 1.0f);
    // The first character as written; only an ASCII letter is upper-cased,
    // the rest of a UTF-8 sequence is kept whole.
    std::string letter = "?";
    if (!impl.display_name.empty()) {
        const unsigned char first = static_cast<unsigned char>(impl.display_name[0]);
        size_t length = first < 0x80 ? 1 : first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : 2;
        letter = impl.display_name.substr(0, length);
        if (length == 1) letter[0] = static_cast<char>(std::toupper(first));
    }
    ImFont* font = impl.fonts.semibold_17 ? impl.fonts.semibold_17 : ImGui::GetFont();
    const ImVec2 size = font->CalcTextSizeA(font->FontSize, 100.0f, 0.0f, letter.c_str());
    draw->AddText(font, font->FontSize, ImVec2(centre.x - size.x / 2.0f, centre.y - size.y / 2.0f),
                  to_u32(lp::accent), letter.c_str());
}

// The name cut with "..." to fit `width`, at UTF-8 character boundaries.
std::string fit_text(ImFont* font, const std::string& text, float width) {
    auto measure = [font](const std::string& s) { return font->CalcTextSizeA(font->FontSize, 1e6f, 0.0f, s.c_str()).x; };
    if (measure(text) <= width) return text;
    std::string cut = text;
    while (!cut.empty()) {
        cut.pop_back();
        while (!cut.empty() && (static_cast<unsigned char>(cut.back()) & 0xC0) == 0x80) cut.pop_back();
        if (!cut.empty() && static_cast<unsigned char>(cut.back()) >= 0xC0) cut.pop_back();
        if (measure(cut + "...") <= width) return cut + "...";
    }
    return "...";
}

void draw_user_block(NativeLauncher::Impl& impl, bool collapsed, float width, float height) {
    const TextTable& table = texts();
    const float block_height = collapsed ? 176.0f : 150.0f;
    ImGui::SetCursorPosY(height - block_height);
    const ImVec2 origin = ImGui::GetCursorScreenPos();
    if (collapsed) {
        draw_avatar(impl, ImVec2(ImGui::GetWindowPos().x + width / 2.0f, origin.y + 16.0f), 16.0f);
        ImGui::SetCursorPosY(ImGui::GetCursorPosY() + 40.0f);
        ImGui::SetCursorPosX(4.0f);
        if (danger_button("←##logout", width - 8.0f, 0.08f, 0.2f, 0.32f)) forget_session(impl);
        if (ImGui::IsItemHovered()) ImGui::SetTooltip("%s", table[t_sign_out]);
    } else {
        draw_avatar(impl, ImVec2(origin.x + 10.0f + 18.0f, origin.y + 18.0f), 18.0f);
        ImFont* name_font = impl.fonts.semibold_17 ? impl.fonts.semibold_17 : ImGui::GetFont();
        const float text_x = origin.x + 10.0f + 36.0f + 10.0f;
        const std::string name = fit_text(name_font, impl.display_name, width - (text_x - origin.x) - 12.0f);
        ImDrawList* draw = ImGui::GetWindowDrawList();
        draw->AddText(name_font, name_font->FontSize, ImVec2(text_x, origin.y), to_u32(lp::text), name.c_str());
        const std::string balance = std::string(table[t_balance]) + " " + format_amount(impl.balance_cents);
        ImFont* small = impl.fonts.regular_13 ? impl.fonts.regular_13 : ImGui::GetFont();
        draw->AddText(small, small->FontSize, ImVec2(text_x, origin.y + 22.0f), to_u32(lp::secondary),
                      balance.c_str());
        ImGui::SetCursorPosY(ImGui::GetCursorPosY() + 48.0f);
        ImGui::SetCursorPosX(10.0f);
        if (danger_button(table[t_sign_out], width - 20.0f, 0.08f, 0.2f, 0.32f)) forget_session(impl);
    }
    // Two toggles do not fit side by side in 58 px; stacked they do.
    ImGui::SetCursorPosX(collapsed ? (width - 36.0f) / 2.0f : 10.0f);
    ImGui::BeginGroup();
    language_switch(impl, collapsed);
    ImGui::EndGroup();
}

}  // namespace

void render_sidebar(NativeLauncher::Impl& impl) {
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    const bool collapsed = display.x < k_sidebar_collapse_below;
    const float width = collapsed ? k_sidebar_collapsed_width : k_sidebar_width;
    ImGui::PushStyleColor(ImGuiCol_ChildBg, ImVec4(0.024f, 0.039f, 0.071f, 1.0f));
    ImGui::PushStyleVar(ImGuiStyleVar_ChildRounding, 0.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0.0f, 0.0f));
    ImGui::BeginChild("##sidebar", ImVec2(width, display.y), false,
                      ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse);
    const ImVec2 origin = ImGui::GetWindowPos();
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const float band = display.y * 0.38f;
    draw->AddRectFilledMultiColor(origin, ImVec2(origin.x + width, origin.y + band), to_u32(lp::accent, 0.05f),
                                  to_u32(lp::accent, 0.05f), to_u32(lp::accent, 0.0f), to_u32(lp::accent, 0.0f));
    draw->AddLine(ImVec2(origin.x + width - 1.0f, origin.y), ImVec2(origin.x + width - 1.0f, origin.y + display.y),
                  to_u32(lp::card_line), 1.0f);
    draw_logo(impl, collapsed, width);
    for (const NavItem& item : k_nav_items) draw_nav_item(impl, item, collapsed, width);
    draw_user_block(impl, collapsed, width, display.y);
    ImGui::EndChild();
    ImGui::PopStyleVar(2);
    ImGui::PopStyleColor();
}

}  // namespace nb::ui
