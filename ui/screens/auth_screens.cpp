// The sign-in and registration forms with their hero panels.
#include "ui/screens/auth_screens.h"

#include <imgui.h>

#include "ui/launcher_actions.h"
#include "ui/launcher_widgets.h"
#include "ui/localisation.h"
#include "ui/screens/auth_hero.h"
#include "ui/theme.h"

namespace nb::ui {

namespace {

namespace lp = launcher_palette;

// The submit button, or a spinner while the request is out. Empty e-mail or
// password never reaches the backend.
void submit_row(NativeLauncher::Impl& impl, const char* label, float column, bool registration) {
    const TextTable& table = texts();
    ImGui::Spacing();
    if (impl.auth_op.is_busy()) {
        ImGui::SetCursorPosX(ImGui::GetCursorPosX() + column / 2.0f - 14.0f);
        spinner(14.0f);
        return;
    }
    if (!primary_button(label, column)) return;
    if (impl.email_input[0] == '\0' || impl.password_input[0] == '\0') {
        set_status(impl, table[t_fill_all_fields], StatusKind::error);
        return;
    }
    set_status(impl, table[t_loading], StatusKind::info);
    if (registration) {
        start_registration(impl);
    } else {
        start_sign_in(impl);
    }
}

void status_line(NativeLauncher::Impl& impl) {
    if (impl.status.text.empty()) return;
    ImGui::PushTextWrapPos(ImGui::GetCursorPosX() + ImGui::CalcItemWidth());
    text_in(nullptr, impl.status.kind == StatusKind::error ? lp::error : lp::dim, impl.status.text.c_str());
    ImGui::PopTextWrapPos();
}

void footer(const char* question, const char* link, NativeLauncher::Impl& impl, Screen target) {
    ImGui::Spacing();
    text_in(nullptr, lp::dim, question);
    ImGui::SameLine();
    if (link_button(link)) {
        impl.screen = target;
        set_status(impl, {}, StatusKind::info);
    }
}

}  // namespace

void render_auth(NativeLauncher::Impl& impl) {
    const TextTable& table = texts();
    render_hero(impl, {"##auth_hero", table[t_product_name], "Rent high-end gaming PCs\nfrom anywhere in the world.",
                       lp::accent, lp::accent, 0.07f, lp::violet, 0.06f, true});
    const float column = begin_form_panel(impl, "##auth_form");
    text_in(impl.fonts.semibold_22, table[t_welcome_back]);
    text_in(impl.fonts.regular_13, lp::dim, table[t_sign_in_to_nubora]);
    ImGui::Dummy(ImVec2(0.0f, 12.0f));
    form_input(table[t_email_address], "##email", impl.email_input.data(), impl.email_input.size(), column, false);
    form_input(table[t_password], "##pass", impl.password_input.data(), impl.password_input.size(), column, true);
    ImGui::Checkbox(table[t_remember_me], &impl.remember_me);
    submit_row(impl, table[t_sign_in], column, false);
    status_line(impl);
    footer(table[t_no_account], table[t_create_one], impl, Screen::Register);
    end_form_panel();
}

void render_register(NativeLauncher::Impl& impl) {
    const TextTable& table = texts();
    render_hero(impl, {"##reg_hero", "Join Nubora", "Share your PC as a host\nor rent a gaming rig.", lp::teal,
                       lp::teal, 0.06f, lp::accent, 0.07f, false});
    const float column = begin_form_panel(impl, "##reg_form");
    text_in(impl.fonts.semibold_22, table[t_create_account]);
    text_in(impl.fonts.regular_13, lp::dim, table[t_join_today]);
    ImGui::Dummy(ImVec2(0.0f, 8.0f));
    form_input(table[t_display_name], "##name", impl.display_name_input.data(), impl.display_name_input.size(),
               column, false);
    form_input(table[t_register_email_address], "##email", impl.email_input.data(), impl.email_input.size(), column,
               false);
    form_input(table[t_register_password], "##pass", impl.password_input.data(), impl.password_input.size(), column,
               true);
    ImGui::TextUnformatted(table[t_i_want_to]);
    const float half = (column - ImGui::GetStyle().ItemSpacing.x) / 2.0f;
    for (int choice = 0; choice < 2; ++choice) {
        if (choice == 1) ImGui::SameLine();
        const bool chosen = impl.role_choice == choice;
        ImGui::PushStyleColor(ImGuiCol_Button, chosen ? to_vec4(lp::accent, 0.2f) : ImVec4(0.059f, 0.09f, 0.157f, 1.0f));
        ImGui::PushStyleColor(ImGuiCol_Border, chosen ? to_vec4(lp::accent) : to_vec4(lp::border));
        ImGui::PushStyleColor(ImGuiCol_Text, chosen ? to_vec4(lp::accent) : to_vec4(lp::secondary));
        // Narrow padding: the Russian choices barely fit half the column.
        ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(4.0f, 10.0f));
        const char* label = table[choice == 0 ? t_rent_gaming_pcs : t_share_my_pc];
        const bool smaller = impl.fonts.regular_13 && ImGui::CalcTextSize(label).x > half - 8.0f;
        if (smaller) ImGui::PushFont(impl.fonts.regular_13);
        if (ImGui::Button(label, ImVec2(half, 38.0f))) impl.role_choice = choice;
        if (smaller) ImGui::PopFont();
        ImGui::PopStyleVar();
        ImGui::PopStyleColor(3);
    }
    submit_row(impl, table[t_create_account], column, true);
    status_line(impl);
    footer(table[t_have_account], table[t_sign_in_link], impl, Screen::Auth);
    end_form_panel();
}

}  // namespace nb::ui
