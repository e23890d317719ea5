// A server card: accent band, badge, title, spec chips, rating, price.
#include "ui/screens/server_card.h"

#include <imgui.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "ui/launcher_format.h"
#include "ui/launcher_widgets.h"
#include "ui/localisation.h"
#include "ui/theme.h"

namespace nb::ui {

namespace {

namespace lp = launcher_palette;

void chip(const std::string& text, const Rgba& colour) {
    const ImVec2 size = ImGui::CalcTextSize(text.c_str());
    const ImVec2 top_left = ImGui::GetCursorScreenPos();
    const ImVec2 bottom_right(top_left.x + size.x + 14.0f, top_left.y + size.y + 6.0f);
    ImDrawList* draw = ImGui::GetWindowDrawList();
    draw->AddRectFilled(top_left, bottom_right, to_u32(colour, 0.14f), 6.0f);
    draw->AddText(ImVec2(top_left.x + 7.0f, top_left.y + 3.0f), to_u32(colour), text.c_str());
    ImGui::Dummy(ImVec2(size.x + 14.0f, size.y + 6.0f));
}

}  // namespace

bool render_server_card(NativeLauncher::Impl& impl, const ServerInfo& server, float width) {
    const TextTable& table = texts();
    const Rgba accent = gpu_accent(server.gpu_model);
    ImGui::PushStyleColor(ImGuiCol_ChildBg, to_vec4(lp::card));
    ImGui::PushStyleVar(ImGuiStyleVar_ChildRounding, 12.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0.0f, 0.0f));
    const std::string id = "##sc_" + server.id;
    ImGui::BeginChild(id.c_str(), ImVec2(width, k_server_card_height), false,
                      ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse);
    const ImVec2 origin = ImGui::GetWindowPos();
    ImDrawList* draw = ImGui::GetWindowDrawList();
    draw->AddRectFilled(origin, ImVec2(origin.x + width, origin.y + 4.0f), to_u32(accent, 0.18f), 12.0f,
                        ImDrawFlags_RoundCornersTop);
    draw->AddRectFilledMultiColor(ImVec2(origin.x, origin.y + 4.0f), ImVec2(origin.x + width, origin.y + 90.0f),
                                  to_u32(accent, 0.02f), to_u32(accent, 0.02f), to_u32(accent, 0.0f),
                                  to_u32(accent, 0.0f));
    if (ImGui::IsWindowHovered(ImGuiHoveredFlags_AllowWhenBlockedByActiveItem | ImGuiHoveredFlags_ChildWindows)) {
        draw->AddRect(origin, ImVec2(origin.x + width, origin.y + k_server_card_height), to_u32(lp::accent, 0.25f),
                      12.0f, 0, 1.0f);
    }

    ImGui::SetCursorPos(ImVec2(14.0f, 14.0f));
    status_badge(server.status);
    ImGui::SetCursorPos(ImVec2(14.0f, 52.0f));
    text_in(impl.fonts.semibold_17, server.gpu_model.empty() ? table[t_dash] : server.gpu_model.c_str());
    ImGui::SetCursorPosX(14.0f);
    text_in(nullptr, lp::secondary, server.hostname.c_str());

    ImGui::SetCursorPos(ImVec2(14.0f, 118.0f));
    chip(format_size(server.gpu_vram_mb, false, table), lp::teal);
    ImGui::SameLine(0.0f, 6.0f);
    chip(format_size(server.ram_mb, false, table), lp::light_blue);
    ImGui::SameLine(0.0f, 6.0f);
    chip(std::to_string(server.max_fps) + table[t_fps_unit], lp::violet);

    ImGui::SetCursorPos(ImVec2(14.0f, 160.0f));
    star_rating(server.rating);
    ImGui::SameLine(0.0f, 8.0f);
    char rating[48];
    std::snprintf(rating, sizeof(rating), "%.1f (%d)", static_cast<double>(server.rating), server.total_sessions);
    text_in(impl.fonts.regular_13, lp::dim, rating);

    ImGui::SetCursorPos(ImVec2(14.0f, 182.0f + 11.0f));
    text_in(impl.fonts.semibold_17, lp::accent, format_price_per_hour(server.price_per_hour_cents).c_str());
    const float button_width = std::min(0.35f * width, 90.0f);
    ImGui::SetCursorPos(ImVec2(width - button_width - 14.0f, 182.0f));
    const std::string details = std::string(table[t_details]) + "##" + server.id;
    const bool clicked = secondary_button(details.c_str(), button_width);
    ImGui::EndChild();
    ImGui::PopStyleVar(2);
    ImGui::PopStyleColor();
    return clicked;
}

}  // namespace nb::ui
