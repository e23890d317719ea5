// Drawing of the launcher's buttons, spinner, badges, stars and language switch.
#include "ui/launcher_widgets.h"

#include <cmath>
#include <numbers>

#include "ui/launcher_format.h"
#include "ui/launcher_storage.h"
#include "ui/localisation.h"
#include "ui/theme.h"

namespace nb::ui {

namespace {

namespace lp = launcher_palette;

constexpr float k_button_height = 38.0f;

bool tinted_button(const char* label, float width, const ImVec4& fill, const ImVec4& hover, const ImVec4& press,
                   const ImVec4& text) {
    ImGui::PushStyleColor(ImGuiCol_Button, fill);
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, hover);
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, press);
    ImGui::PushStyleColor(ImGuiCol_Text, text);
    ImGui::PushStyleVar(ImGuiStyleVar_FrameRounding, 6.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_FrameBorderSize, 0.0f);
    const float used_width = width > 0.0f ? width : ImGui::GetContentRegionAvail().x;
    const bool clicked = ImGui::Button(label, ImVec2(used_width, k_button_height));
    ImGui::PopStyleVar(2);
    ImGui::PopStyleColor(4);
    return clicked;
}

}  // namespace

ImVec4 to_vec4(const Rgba& colour) { return ImVec4(colour.r, colour.g, colour.b, colour.a); }
ImVec4 to_vec4(const Rgba& colour, float alpha) { return ImVec4(colour.r, colour.g, colour.b, alpha); }
ImU32 to_u32(const Rgba& colour, float alpha) { return ImGui::GetColorU32(to_vec4(colour, colour.a * alpha)); }

bool primary_button(const char* label, float width) {
    return tinted_button(label, width, to_vec4(lp::accent), to_vec4(lp::accent_hover), to_vec4(lp::accent_pressed),
                         to_vec4(lp::button_text));
}

bool secondary_button(const char* label, float width) {
    return tinted_button(label, width, to_vec4(lp::accent, 0.08f), to_vec4(lp::accent, 0.16f),
                         to_vec4(lp::accent, 0.24f), to_vec4(lp::accent));
}

bool danger_button(const char* label, float width, float fill_alpha, float hover_alpha, float press_alpha) {
    return tinted_button(label, width, to_vec4(lp::error, fill_alpha), to_vec4(lp::error, hover_alpha),
                         to_vec4(lp::error, press_alpha), to_vec4(lp::error));
}

bool link_button(const char* label) {
    ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0, 0, 0, 0));
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, ImVec4(0, 0, 0, 0));
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, ImVec4(0, 0, 0, 0));
    ImGui::PushStyleColor(ImGuiCol_Text, to_vec4(lp::accent));
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(0.0f, 0.0f));
    ImGui::PushStyleVar(ImGuiStyleVar_FrameBorderSize, 0.0f);
    const bool clicked = ImGui::Button(label);
    if (ImGui::IsItemHovered()) ImGui::SetMouseCursor(ImGuiMouseCursor_Hand);
    ImGui::PopStyleVar(2);
    ImGui::PopStyleColor(4);
    return clicked;
}

void spinner(float radius) {
    const ImVec2 top_left = ImGui::GetCursorScreenPos();
    ImGui::Dummy(ImVec2(2.0f * radius + 4.0f, 2.0f * radius + 4.0f));
    const ImVec2 centre(top_left.x + radius, top_left.y + radius + 2.0f);
    const float t = static_cast<float>(ImGui::GetTime());
    ImDrawList* draw = ImGui::GetWindowDrawList();
    draw->AddCircle(centre, radius, to_u32(lp::border, 0.6f), 64, 2.5f);
    draw->PathArcTo(centre, radius, 2.2f * t, 2.2f * t + 4.398f, 64);
    draw->PathStroke(to_u32(lp::accent), 0, 3.0f);
    draw->PathArcTo(centre, 0.68f * radius, -3.8f * t, -3.8f * t + std::numbers::pi_v<float> / 2.0f, 32);
    draw->PathStroke(to_u32(lp::teal, 0.65f), 0, 2.0f);
}

void status_badge(std::string_view status) {
    const StatusBadge badge = badge_for_status(status);
    const char* label = texts()[badge.label];
    const ImVec2 text_size = ImGui::CalcTextSize(label);
    const ImVec2 top_left = ImGui::GetCursorScreenPos();
    const ImVec2 size(text_size.x + 16.0f, ImGui::GetTextLineHeight() + 4.0f);
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 bottom_right(top_left.x + size.x, top_left.y + size.y);
    draw->AddRectFilled(top_left, bottom_right, to_u32(badge.colour, 0.18f), 4.0f);
    draw->AddRect(top_left, bottom_right, to_u32(badge.colour, 0.6f), 4.0f, 0, 1.0f);
    draw->AddText(ImVec2(top_left.x + 8.0f, top_left.y + 2.0f), to_u32(badge.colour), label);
    ImGui::Dummy(ImVec2(size.x + 6.0f, size.y));
}

void star_rating(float value) {
    const ImVec2 origin = ImGui::GetCursorScreenPos();
    ImDrawList* draw = ImGui::GetWindowDrawList();
    for (int star = 1; star <= 5; ++star) {
        const ImVec2 centre(origin.x + 7.0f + 17.0f * static_cast<float>(star - 1), origin.y + 7.0f);
        ImVec2 points[10];
        for (int i = 0; i < 10; ++i) {
            const float angle = -std::numbers::pi_v<float> / 2.0f + static_cast<float>(i) * std::numbers::pi_v<float> / 5.0f;
            const float radius = i % 2 == 0 ? 7.0f : 3.2f;
            points[i] = ImVec2(centre.x + radius * std::cos(angle), centre.y + radius * std::sin(angle));
        }
        if (value >= static_cast<float>(star)) {
            draw->AddCircle(centre, 8.5f, to_u32(lp::amber, 0.18f), 0, 2.0f);
            // The star is concave: fill it as ten triangles around its centre.
            for (int i = 0; i < 10; ++i) {
                draw->AddTriangleFilled(centre, points[i], points[(i + 1) % 10], to_u32(lp::amber));
            }
        } else {
            draw->AddPolyline(points, 10, to_u32(lp::border, 0.8f), ImDrawFlags_Closed, 0.8f);
        }
    }
    ImGui::Dummy(ImVec2(84.0f, 14.0f));
}

void language_switch(NativeLauncher::Impl& impl, bool stacked) {
    const bool russian = is_russian();
    auto toggle = [&impl](const char* label, bool current, bool to_russian) {
        ImGui::PushStyleColor(ImGuiCol_Button, current ? to_vec4(lp::accent, 0.2f) : ImVec4(0, 0, 0, 0));
        ImGui::PushStyleColor(ImGuiCol_ButtonHovered, to_vec4(lp::accent, 0.16f));
        ImGui::PushStyleColor(ImGuiCol_ButtonActive, to_vec4(lp::accent, 0.28f));
        ImGui::PushStyleColor(ImGuiCol_Text, current ? to_vec4(lp::accent) : to_vec4(lp::secondary));
        ImGui::PushStyleVar(ImGuiStyleVar_FrameRounding, 4.0f);
        ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(0.0f, 0.0f));
        ImGui::PushStyleVar(ImGuiStyleVar_FrameBorderSize, 0.0f);
        if (ImGui::Button(label, ImVec2(36.0f, 24.0f)) && !current) {
            set_language(to_russian);
            save_config(impl);
        }
        ImGui::PopStyleVar(3);
        ImGui::PopStyleColor(4);
    };
    ImGui::PushID("##lang");
    toggle("EN", !russian, false);
    if (!stacked) ImGui::SameLine(0.0f, 4.0f);
    toggle("РУ", russian, true);
    ImGui::PopID();
}

void text_in(ImFont* font, const char* text) {
    if (font) ImGui::PushFont(font);
    ImGui::TextUnformatted(text);
    if (font) ImGui::PopFont();
}

void text_in(ImFont* font, const Rgba& colour, const char* text) {
    ImGui::PushStyleColor(ImGuiCol_Text, to_vec4(colour));
    text_in(font, text);
    ImGui::PopStyleColor();
}

void centred_text(ImFont* font, const Rgba& colour, const char* text) {
    if (font) ImGui::PushFont(font);
    const float width = ImGui::CalcTextSize(text).x;
    const float avail = ImGui::GetContentRegionAvail().x;
    if (avail > width) ImGui::SetCursorPosX(ImGui::GetCursorPosX() + (avail - width) / 2.0f);
    ImGui::PushStyleColor(ImGuiCol_Text, to_vec4(colour));
    ImGui::TextUnformatted(text);
    ImGui::PopStyleColor();
    if (font) ImGui::PopFont();
}

}  // namespace nb::ui
