// The detail page: the PC's hardware card beside (or above) the price and rent card.
#include "ui/screens/detail_screen.h"

#include <imgui.h>
#include <spdlog/spdlog.h>

#include <cstdio>
#include <string>

#include "common/log_text.h"
#include "ui/launcher_actions.h"
#include "ui/launcher_format.h"
#include "ui/launcher_widgets.h"
#include "ui/localisation.h"
#include "ui/theme.h"

namespace nb::ui {

namespace {

namespace lp = launcher_palette;

void begin_card(const char* id, float width, float height) {
    ImGui::PushStyleColor(ImGuiCol_ChildBg, to_vec4(lp::card));
    ImGui::PushStyleVar(ImGuiStyleVar_ChildRounding, 12.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(16.0f, 14.0f));
    ImGui::BeginChild(id, ImVec2(width, height), false, ImGuiWindowFlags_AlwaysUseWindowPadding |
                                                            ImGuiWindowFlags_NoScrollbar);
}

void end_card() {
    ImGui::EndChild();
    ImGui::PopStyleVar(2);
    ImGui::PopStyleColor();
}

void spec_row(const char* label, const std::string& value, float value_x) {
    text_in(nullptr, lp::secondary, label);
    ImGui::SameLine(value_x);
    ImGui::TextUnformatted(value.c_str());
}

std::string joined_codecs(const ServerInfo& server, const TextTable& table) {
    if (server.supported_codecs.empty()) return table[t_dash];
    std::string text;
    for (const std::string& codec : server.supported_codecs) text += (text.empty() ? "" : ", ") + codec;
    return text;
}

void spec_card(NativeLauncher::Impl& impl, float width) {
    const TextTable& table = texts();
    const ServerInfo& server = impl.selected;
    begin_card("##spec_card", width, 222.0f);
    text_in(impl.fonts.semibold_17, table[t_specifications]);
    ImGui::Separator();
    const float value_x = 150.0f;
    spec_row(table[t_gpu], server.gpu_model.empty() ? table[t_dash] : server.gpu_model, value_x);
    spec_row(table[t_vram], format_size(server.gpu_vram_mb, true, table), value_x);
    spec_row(table[t_cpu], server.cpu_model.empty() ? table[t_dash] : server.cpu_model, value_x);
    spec_row(table[t_ram], format_size(server.ram_mb, true, table), value_x);
    spec_row(table[t_max_resolution], server.max_resolution.empty() ? table[t_dash] : server.max_resolution, value_x);
    spec_row(table[t_max_fps], std::to_string(server.max_fps) + " " + table[t_fps_unit], value_x);
    spec_row(table[t_codecs], joined_codecs(server, table), value_x);
    end_card();
}

void action_card(NativeLauncher::Impl& impl, float width) {
    const TextTable& table = texts();
    const ServerInfo& server = impl.selected;
    begin_card("##action_card", width, 220.0f);
    text_in(impl.fonts.regular_13, lp::secondary, table[t_price_per_hour]);
    text_in(impl.fonts.semibold_22, lp::accent, format_price_per_hour(server.price_per_hour_cents).c_str());
    star_rating(server.rating);
    char rating[96];
    std::snprintf(rating, sizeof(rating), "%.1f  (%d %s)", static_cast<double>(server.rating), server.total_sessions,
                  table[t_total_sessions]);
    text_in(impl.fonts.regular_13, lp::dim, rating);
    ImGui::Spacing();
    if (impl.session_op.is_busy()) {
        static const char* const k_dots[] = {"", ".", "..", "..."};
        const std::string text = table[t_loading] + std::string(k_dots[static_cast<int>(2.0 * ImGui::GetTime()) % 4]);
        text_in(nullptr, lp::dim, text.c_str());
    } else if (server.status == "online") {
        if (primary_button(table[t_rent_this_pc], width - 32.0f)) {
            set_status(impl, table[t_loading], StatusKind::info);
            start_rent(impl);
        }
    } else {
        text_in(nullptr, lp::dim, table[t_unavailable]);
    }
    end_card();
}

}  // namespace

void render_detail(NativeLauncher::Impl& impl) {
    // Logged while the page is first drawn: a click that follows the line
    // finds its buttons in place.
    if (!impl.selected_announced) {
        spdlog::info("NativeLauncher: showing {}", log_safe(impl.selected.id));
        impl.selected_announced = true;
    }
    const TextTable& table = texts();
    const bool narrow = ImGui::GetIO().DisplaySize.x < k_detail_narrow_below;
    const float pad = narrow ? 12.0f : 20.0f;
    ImGui::SetCursorPos(ImVec2(pad, 16.0f));
    ImGui::BeginGroup();
    if (secondary_button(table[t_back], 80.0f)) impl.screen = Screen::Browse;
    ImGui::Spacing();
    text_in(impl.fonts.semibold_22,
            impl.selected.gpu_model.empty() ? table[t_dash] : impl.selected.gpu_model.c_str());
    text_in(nullptr, lp::secondary, impl.selected.hostname.c_str());
    status_badge(impl.selected.status);
    ImGui::Spacing();

    const float width = ImGui::GetContentRegionAvail().x - pad;
    ImGui::BeginChild("##detail_scroll", ImVec2(width, 0.0f), false);
    if (narrow) {
        spec_card(impl, width);
        ImGui::Spacing();
        action_card(impl, width);
    } else {
        spec_card(impl, (width - 16.0f) * 0.58f);
        ImGui::SameLine(0.0f, 16.0f);
        action_card(impl, (width - 16.0f) * 0.42f);
    }
    if (impl.status.kind == StatusKind::error && !impl.status.text.empty()) {
        ImGui::Spacing();
        ImGui::PushTextWrapPos(width);
        text_in(nullptr, lp::error, impl.status.text.c_str());
        ImGui::PopTextWrapPos();
    }
    ImGui::EndChild();
    ImGui::EndGroup();
}

}  // namespace nb::ui
