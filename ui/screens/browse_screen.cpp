// Header, filter row and the card grid of the server browser.
#include "ui/screens/browse_screen.h"

#include <imgui.h>

#include <algorithm>
#include <chrono>

#include "ui/launcher_actions.h"
#include "ui/launcher_format.h"
#include "ui/launcher_widgets.h"
#include "ui/localisation.h"
#include "ui/screens/server_card.h"
#include "ui/theme.h"

namespace nb::ui {

namespace {

namespace lp = launcher_palette;

constexpr auto k_status_lifetime = std::chrono::seconds(5);

void tooltip(const char* text) {
    if (ImGui::IsItemHovered()) ImGui::SetTooltip("%s", text);
}

void filter_row(NativeLauncher::Impl& impl, bool narrow) {
    const TextTable& table = texts();
    ImGui::PushStyleVar(ImGuiStyleVar_FrameRounding, 8.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(10.0f, 8.0f));
    ImGui::SetNextItemWidth(narrow ? -1.0f : 150.0f);
    ImGui::InputTextWithHint("##fgpu", table[t_gpu_model], impl.gpu_filter.data(), impl.gpu_filter.size());
    if (!narrow) {
        ImGui::SameLine();
        ImGui::SetNextItemWidth(80.0f);
        ImGui::InputInt("##ffps", &impl.min_fps, 0, 0);
        tooltip(table[t_min_fps]);
        ImGui::SameLine();
        ImGui::SetNextItemWidth(100.0f);
        ImGui::InputInt("##fprice", &impl.max_price, 0, 0);
        tooltip(table[t_max_price]);
        impl.min_fps = std::max(impl.min_fps, 0);
        impl.max_price = std::max(impl.max_price, 0);
        ImGui::SameLine();
        const char* sorts[] = {table[t_sort_rating], table[t_sort_price]};
        // 120 px, or wider when a sort name would be cut beside the arrow.
        const float longest = std::max(ImGui::CalcTextSize(sorts[0]).x, ImGui::CalcTextSize(sorts[1]).x);
        ImGui::SetNextItemWidth(std::max(120.0f, longest + ImGui::GetFrameHeight() + 24.0f));
        ImGui::Combo("##fsort", &impl.sort_choice, sorts, 2);
        ImGui::SameLine();
        ImGui::PopStyleVar(2);
        if (secondary_button(table[t_refresh], ImGui::CalcTextSize(table[t_refresh]).x + 32.0f) &&
            !impl.browse_op.is_busy()) {
            impl.servers.clear();
            impl.servers_loaded = false;
        }
        return;
    }
    ImGui::PopStyleVar(2);
}

}  // namespace

void render_browse(NativeLauncher::Impl& impl) {
    const TextTable& table = texts();
    if (!impl.servers_loaded && !impl.browse_op.is_busy()) start_load_servers(impl);
    const bool narrow = ImGui::GetIO().DisplaySize.x < k_browse_narrow_below;
    const float pad = narrow ? 12.0f : 20.0f;
    ImGui::SetCursorPos(ImVec2(pad, 16.0f));
    ImGui::BeginGroup();
    ImGui::PushItemWidth(-pad);
    text_in(impl.fonts.semibold_22, table[t_server_browser]);
    text_in(nullptr, lp::secondary, table[t_choose_pc]);
    ImGui::Spacing();
    filter_row(impl, narrow);
    ImGui::Spacing();

    if (impl.status.kind == StatusKind::error && !impl.status.text.empty()) {
        if (std::chrono::steady_clock::now() - impl.status.time > k_status_lifetime) {
            impl.status.text.clear();
        } else {
            text_in(nullptr, lp::error, impl.status.text.c_str());
        }
    }

    if (impl.browse_op.is_busy()) {
        ImGui::SetCursorPos(ImVec2(ImGui::GetCursorPosX() + (ImGui::GetContentRegionAvail().x - pad) / 2.0f - 18.0f,
                                   ImGui::GetCursorPosY() + 40.0f));
        spinner(18.0f);
    } else if (impl.servers.empty()) {
        ImGui::SetCursorPosY(ImGui::GetCursorPosY() + 80.0f);
        ImGui::PushItemWidth(ImGui::GetContentRegionAvail().x - pad);
        centred_text(impl.fonts.semibold_17, lp::dim, table[t_no_servers]);
        ImGui::PopItemWidth();
    } else {
        ImGui::BeginChild("##srv_scroll", ImVec2(ImGui::GetContentRegionAvail().x - pad, 0.0f), false);
        const float available = ImGui::GetContentRegionAvail().x;
        const int columns = browse_columns(available);
        const float card_width = browse_card_width(available, columns);
        const ServerInfo* chosen = nullptr;
        for (size_t i = 0; i < impl.servers.size(); ++i) {
            if (i % static_cast<size_t>(columns) != 0) ImGui::SameLine(0.0f, 12.0f);
            if (render_server_card(impl, impl.servers[i], card_width)) chosen = &impl.servers[i];
            if (i % static_cast<size_t>(columns) == static_cast<size_t>(columns - 1)) ImGui::Dummy(ImVec2(0.0f, 4.0f));
        }
        ImGui::EndChild();
        if (chosen) {
            impl.selected = *chosen;
            impl.selected_announced = false;
            impl.screen = Screen::Detail;
        }
    }
    ImGui::PopItemWidth();
    ImGui::EndGroup();
}

}  // namespace nb::ui
