// The session page with its ended banner and the card for each session state.
#include "ui/screens/session_screen.h"

#include <imgui.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>

#include "ui/launcher_actions.h"
#include "ui/launcher_format.h"
#include "ui/launcher_widgets.h"
#include "ui/localisation.h"
#include "ui/theme.h"

namespace nb::ui {

namespace {

namespace lp = launcher_palette;

constexpr auto k_ended_notice_lifetime = std::chrono::seconds(6);

void ended_banner(NativeLauncher::Impl& impl, float width) {
    if (!impl.ended) return;
    if (std::chrono::steady_clock::now() - impl.ended_time >= k_ended_notice_lifetime) {
        impl.ended = false;
        return;
    }
    ImGui::PushStyleColor(ImGuiCol_ChildBg, to_vec4(lp::accent, 0.08f));
    ImGui::PushStyleVar(ImGuiStyleVar_ChildRounding, 10.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(14.0f, 0.0f));
    ImGui::BeginChild("##ended_banner", ImVec2(width, 40.0f), false,
                      ImGuiWindowFlags_AlwaysUseWindowPadding | ImGuiWindowFlags_NoScrollbar);
    ImGui::SetCursorPosY((40.0f - ImGui::GetTextLineHeight()) / 2.0f);
    text_in(nullptr, lp::accent, ended_banner_text(texts(), impl.ended_reason).c_str());
    ImGui::EndChild();
    ImGui::PopStyleVar(2);
    ImGui::PopStyleColor();
    ImGui::Spacing();
}

void value_row(const char* label, const std::string& value, const Rgba& colour) {
    text_in(nullptr, lp::secondary, label);
    ImGui::SameLine(140.0f);
    text_in(nullptr, colour, value.c_str());
}

void streaming_card(NativeLauncher::Impl& impl, float card_width) {
    const TextTable& table = texts();
    const ImVec2 dot = ImGui::GetCursorScreenPos();
    const float pulse = 0.55f + 0.45f * std::sin(4.0f * static_cast<float>(ImGui::GetTime()));
    const float line = ImGui::GetTextLineHeight();
    ImGui::GetWindowDrawList()->AddCircleFilled(ImVec2(dot.x + 5.0f, dot.y + line / 2.0f), 5.0f,
                                                to_u32(lp::accent, pulse));
    ImGui::Dummy(ImVec2(14.0f, line));
    ImGui::SameLine();
    text_in(impl.fonts.semibold_17, lp::accent, table[t_streaming]);
    if (impl.duration_sec > 0 || impl.cost_cents >= 1) {
        value_row(table[t_duration], format_duration(impl.duration_sec), lp::teal);
        value_row(table[t_cost], format_amount(impl.cost_cents), lp::cost_orange);
    } else {
        // Keep the rows' place, so the buttons never move under the pointer
        // when the first figures arrive.
        ImGui::Dummy(ImVec2(0.0f, 2.0f * ImGui::GetTextLineHeight() + ImGui::GetStyle().ItemSpacing.y));
    }
    ImGui::Separator();
    ImGui::Spacing();
    if (primary_button(table[t_launch_stream], card_width - 40.0f)) start_launch_stream(impl);
    ImGui::Spacing();
    ImGui::PushStyleVar(ImGuiStyleVar_FrameRounding, 6.0f);
    const bool clicked = danger_button(impl.ending ? table[t_ending] : table[t_terminate_session], card_width - 40.0f,
                                       0.18f, 0.3f, 0.45f);
    ImGui::PopStyleVar();
    if (clicked && !impl.ending) start_end_session(impl);
}

void waiting_card(NativeLauncher::Impl& impl) {
    const float avail = ImGui::GetContentRegionAvail().x;
    ImGui::SetCursorPosX(ImGui::GetCursorPosX() + avail / 2.0f - 18.0f);
    ImGui::SetCursorPosY(ImGui::GetCursorPosY() + 30.0f);
    spinner(18.0f);
    ImGui::Spacing();
    centred_text(nullptr, lp::secondary, texts()[session_wait_text(impl.session_status)]);
}

void no_session_card(NativeLauncher::Impl& impl, float card_width) {
    const TextTable& table = texts();
    if (impl.session_op.is_busy()) {
        ImGui::SetCursorPos(ImVec2(card_width / 2.0f - 14.0f, ImGui::GetCursorPosY() + 50.0f));
        spinner(14.0f);
        return;
    }
    ImGui::SetCursorPosY(ImGui::GetCursorPosY() + 40.0f);
    centred_text(impl.fonts.semibold_17, lp::secondary, table[t_no_active_session]);
    ImGui::Spacing();
    ImGui::Spacing();
    ImGui::SetCursorPosX((card_width - 200.0f) / 2.0f);
    if (primary_button(table[t_browse_servers], 200.0f)) impl.screen = Screen::Browse;
}

}  // namespace

double steady_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void render_session(NativeLauncher::Impl& impl, NativeLauncher::Result&) {
    if (take_deep_link_in_session(impl)) return;
    poll_if_due(impl, steady_seconds());

    const TextTable& table = texts();
    const float pad = ImGui::GetIO().DisplaySize.x < 500.0f ? 12.0f : 20.0f;
    ImGui::SetCursorPos(ImVec2(pad, 16.0f));
    ImGui::BeginGroup();
    const float available = ImGui::GetContentRegionAvail().x - pad;
    ended_banner(impl, std::min(available, 540.0f));
    text_in(impl.fonts.semibold_22, table[t_my_session]);
    ImGui::Spacing();

    const bool has_session = !impl.session_id.empty();
    const bool streaming = has_session && impl.session_status == "streaming";
    const float height = streaming ? 300.0f : (has_session || impl.session_op.is_busy()) ? 220.0f : 200.0f;
    const float card_width = std::min(available, 540.0f);
    ImGui::PushStyleColor(ImGuiCol_ChildBg, to_vec4(lp::card));
    ImGui::PushStyleVar(ImGuiStyleVar_ChildRounding, 12.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(20.0f, 20.0f));
    ImGui::BeginChild("##sess_card", ImVec2(card_width, height), false,
                      ImGuiWindowFlags_AlwaysUseWindowPadding | ImGuiWindowFlags_NoScrollbar);
    if (streaming) {
        streaming_card(impl, card_width);
    } else if (has_session) {
        waiting_card(impl);
    } else {
        no_session_card(impl, card_width);
    }
    ImGui::EndChild();
    ImGui::PopStyleVar(2);
    ImGui::PopStyleColor();
    if (impl.status.kind == StatusKind::error && !impl.status.text.empty()) {
        ImGui::Spacing();
        ImGui::PushTextWrapPos(ImGui::GetCursorPosX() + card_width);
        text_in(nullptr, lp::error, impl.status.text.c_str());
        ImGui::PopTextWrapPos();
    }
    ImGui::EndGroup();
}

}  // namespace nb::ui
