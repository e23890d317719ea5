// The settings card.
#include "ui/screens/settings_screen.h"

#include <imgui.h>

#include <algorithm>
#include <string>

#include "ui/launcher_storage.h"
#include "ui/launcher_widgets.h"
#include "ui/localisation.h"
#include "ui/theme.h"

namespace nb::ui {

namespace {

namespace lp = launcher_palette;

}  // namespace

void render_settings(NativeLauncher::Impl& impl) {
    const TextTable& table = texts();
    const float window_width = ImGui::GetIO().DisplaySize.x;
    const float pad = window_width < 500.0f ? 12.0f : 20.0f;
    ImGui::SetCursorPos(ImVec2(pad, 16.0f));
    ImGui::BeginGroup();
    text_in(impl.fonts.semibold_22, table[t_settings_title]);
    ImGui::Spacing();
    const float card_width = std::min({window_width - 2.0f * pad, 480.0f, ImGui::GetContentRegionAvail().x - pad});
    ImGui::PushStyleColor(ImGuiCol_ChildBg, to_vec4(lp::card));
    ImGui::PushStyleVar(ImGuiStyleVar_ChildRounding, 12.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(20.0f, 20.0f));
    ImGui::BeginChild("##settings_card", ImVec2(card_width, 200.0f), false,
                      ImGuiWindowFlags_AlwaysUseWindowPadding | ImGuiWindowFlags_NoScrollbar);
    if (!impl.display_name.empty()) text_in(impl.fonts.semibold_17, impl.display_name.c_str());
    if (!impl.email.empty()) text_in(nullptr, lp::secondary, impl.email.c_str());
    ImGui::Separator();
    ImGui::AlignTextToFramePadding();
    ImGui::TextUnformatted(table[t_language]);
    ImGui::SameLine(card_width - 40.0f - 76.0f);
    language_switch(impl);
    ImGui::Spacing();
    if (primary_button(table[t_save_settings], card_width - 40.0f)) {
        save_config(impl);
        impl.settings_saved = true;
    }
    if (impl.settings_saved) {
        const std::string saved = std::string("✓  ") + table[t_settings_saved];
        text_in(nullptr, lp::accent, saved.c_str());
    }
    ImGui::EndChild();
    ImGui::PopStyleVar(2);
    ImGui::PopStyleColor();
    ImGui::EndGroup();
}

}  // namespace nb::ui
