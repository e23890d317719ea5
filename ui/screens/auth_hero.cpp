// Hero drawing (discs, hexagon grid, mark and tagline) and the form column.
#include "ui/screens/auth_hero.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>

#include "ui/launcher_widgets.h"
#include "ui/theme.h"

namespace nb::ui {

namespace {

namespace lp = launcher_palette;

constexpr float k_hex_radius = 18.0f;
constexpr float k_hex_column = 54.0f;
constexpr float k_hex_row = 31.176f;
constexpr float k_hex_odd_shift = 15.588f;

void draw_hexagon_grid(ImDrawList* draw, ImVec2 origin, ImVec2 size) {
    const ImU32 colour = to_u32(lp::accent, 0.025f);
    int column = 0;
    for (float x = -k_hex_column / 2.0f; x < size.x + k_hex_column; x += k_hex_column, ++column) {
        const float shift = column % 2 == 1 ? k_hex_odd_shift : 0.0f;
        for (float y = -k_hex_row + shift; y < size.y + k_hex_row; y += k_hex_row) {
            ImVec2 corners[6];
            for (int i = 0; i < 6; ++i) {
                const float angle = static_cast<float>(i) * 3.14159265f / 3.0f;
                corners[i] = ImVec2(origin.x + x + k_hex_radius * std::cos(angle),
                                    origin.y + y + k_hex_radius * std::sin(angle));
            }
            draw->AddPolyline(corners, 6, colour, ImDrawFlags_Closed, 0.5f);
        }
    }
}

}  // namespace

void render_hero(NativeLauncher::Impl& impl, const HeroLook& look) {
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    const float width = std::floor(display.x * k_hero_share);
    ImGui::PushStyleColor(ImGuiCol_ChildBg, ImVec4(0.03f, 0.05f, 0.08f, 1.0f));
    ImGui::PushStyleVar(ImGuiStyleVar_ChildRounding, 0.0f);
    ImGui::BeginChild(look.id, ImVec2(width, display.y), false,
                      ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse);
    const ImVec2 origin = ImGui::GetWindowPos();
    const ImVec2 size = ImGui::GetWindowSize();
    const float t = static_cast<float>(ImGui::GetTime());
    ImDrawList* draw = ImGui::GetWindowDrawList();
    auto at = [&](float fx, float fy) { return ImVec2(origin.x + fx * size.x, origin.y + fy * size.y); };
    draw->AddCircleFilled(at(0.35f, 0.35f), 0.6f * size.x * (0.85f + 0.15f * std::sin(0.8f * t)),
                          to_u32(look.first_disc, look.first_alpha), 96);
    draw->AddCircleFilled(at(0.68f, 0.62f), 0.42f * size.x * (0.85f + 0.15f * std::cos(0.6f * t + 1.2f)),
                          to_u32(look.second_disc, look.second_alpha), 96);
    if (look.third_disc) draw->AddCircleFilled(at(0.80f, 0.22f), 0.25f * size.x, to_u32(lp::teal, 0.04f), 64);
    draw_hexagon_grid(draw, origin, size);

    ImGui::SetCursorPos(ImVec2(32.0f, size.y * 0.38f));
    ImGui::BeginGroup();
    ImGui::PushFont(impl.fonts.semibold_22 ? impl.fonts.semibold_22 : ImGui::GetFont());
    ImGui::PushStyleColor(ImGuiCol_Text, to_vec4(look.mark_colour));
    ImGui::TextUnformatted("◆");
    ImGui::PopStyleColor();
    ImGui::SameLine();
    ImGui::TextUnformatted(look.title);
    ImGui::PopFont();
    ImGui::Spacing();
    text_in(impl.fonts.regular_13, lp::dim, look.tagline);
    ImGui::EndGroup();
    ImGui::EndChild();
    ImGui::PopStyleVar();
    ImGui::PopStyleColor();
}

float begin_form_panel(NativeLauncher::Impl& impl, const char* id) {
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    ImGui::SameLine(0.0f, 0.0f);
    ImGui::PushStyleColor(ImGuiCol_ChildBg, ImVec4(0.06f, 0.09f, 0.13f, 1.0f));
    ImGui::PushStyleVar(ImGuiStyleVar_ChildRounding, 0.0f);
    ImGui::BeginChild(id, ImVec2(0.0f, display.y), false);
    ImGui::PopStyleVar();
    const float panel_width = ImGui::GetWindowSize().x;
    ImGui::SetCursorPos(ImVec2(panel_width - 86.0f, 12.0f));
    language_switch(impl);
    const float column = std::min(panel_width - 64.0f, 360.0f);
    // Roughly centred vertically; the form is about 440 px tall.
    ImGui::SetCursorPosY(std::max(48.0f, (ImGui::GetWindowSize().y - 440.0f) / 2.0f));
    ImGui::Indent((panel_width - column) / 2.0f);
    ImGui::PushItemWidth(column);
    return column;
}

void end_form_panel() {
    ImGui::PopItemWidth();
    ImGui::EndChild();
    ImGui::PopStyleColor();
}

void form_input(const char* label, const char* id, char* buffer, size_t size, float width, bool masked) {
    ImGui::TextUnformatted(label);
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(10.0f, 10.0f));
    ImGui::SetNextItemWidth(width);
    ImGui::InputText(id, buffer, size, masked ? ImGuiInputTextFlags_Password : 0);
    ImGui::PopStyleVar();
    ImGui::Spacing();
}

}  // namespace nb::ui
