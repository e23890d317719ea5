// show(): the launcher window's life from opening to hand-over or close.
#include "ui/native_launcher.h"

#include <imgui.h>
#include <spdlog/spdlog.h>

#include "ui/launcher_actions.h"
#include "ui/launcher_impl.h"
#include "ui/launcher_storage.h"
#include "ui/launcher_window.h"
#include "ui/screens/auth_screens.h"
#include "ui/screens/browse_screen.h"
#include "ui/screens/detail_screen.h"
#include "ui/screens/session_screen.h"
#include "ui/screens/settings_screen.h"
#include "ui/screens/sidebar.h"
#include "ui/theme.h"

namespace nb::ui {

namespace {

void draw_screen(NativeLauncher::Impl& impl) {
    switch (impl.screen) {
    case Screen::Auth:
        return render_auth(impl);
    case Screen::Register:
        return render_register(impl);
    case Screen::Browse:
        return render_browse(impl);
    case Screen::Detail:
        return render_detail(impl);
    case Screen::Session:
        return render_session(impl, impl.result);
    case Screen::Settings:
        return render_settings(impl);
    }
}

void draw_frame(NativeLauncher::Impl& impl) {
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f));
    ImGui::SetNextWindowSize(display);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0.0f, 0.0f));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowRounding, 0.0f);
    ImGui::Begin("##host", nullptr,
                 ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoResize |
                     ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoBringToFrontOnFocus);
    ImGui::PopStyleVar(2);
    if (impl.logged_in) {
        render_sidebar(impl);
        ImGui::SameLine(0.0f, 0.0f);
    }
    ImGui::PushStyleColor(ImGuiCol_ChildBg, ImGui::GetStyleColorVec4(ImGuiCol_WindowBg));
    ImGui::PushStyleVar(ImGuiStyleVar_ChildRounding, 0.0f);
    ImGui::BeginChild("##content", ImVec2(0.0f, 0.0f), false);
    ImGui::PopStyleVar();
    draw_screen(impl);
    ImGui::EndChild();
    ImGui::PopStyleColor();
    ImGui::End();
}

}  // namespace

NativeLauncher::NativeLauncher(ConfigStore store) : NativeLauncher(rest_backend_api(), std::move(store)) {}

NativeLauncher::NativeLauncher(const BackendApi& api, ConfigStore store)
    : impl_(std::make_unique<Impl>(api, std::move(store))) {
    load_config(*impl_);
}

NativeLauncher::~NativeLauncher() = default;

void NativeLauncher::set_backend_host(const std::string& host) { impl_->backend_host = clamp_backend_host(host); }

void NativeLauncher::set_deep_link(const std::string& uri) {
    impl_->deep_link = uri;
    if (impl_->logged_in) impl_->screen = Screen::Session;
}

void NativeLauncher::notify_session_ended(const std::string& reason) {
    Impl& impl = *impl_;
    impl.ended = true;
    impl.ended_reason = reason;
    impl.ended_time = std::chrono::steady_clock::now();
    clear_session(impl);
    if (impl.logged_in) impl.screen = Screen::Browse;
}

void NativeLauncher::set_shutdown_check(std::function<bool()> requested) {
    impl_->shutdown_requested = std::move(requested);
}

const std::string& NativeLauncher::backend_host() const { return impl_->backend_host; }
bool NativeLauncher::use_https() const { return impl_->use_https; }
const std::string& NativeLauncher::deep_link() const { return impl_->deep_link; }

NativeLauncher::Result NativeLauncher::show() {
    Impl& impl = *impl_;
    reset_result(impl.result);
    LauncherWindow window;
    if (!window.open(impl.fonts)) {
        impl.fonts = {};
        impl.result.quit = true;
        return impl.result;
    }
    bool closed = false;
    bool shown = false;
    if (!take_deep_link_at_start(impl)) {
        if (impl.logged_in && impl.balance_cents == 0) start_profile_refresh(impl);
        while (!impl.result.connect) {
            if (!window.pump_events()) {
                closed = true;
                break;
            }
            if (impl.shutdown_requested && impl.shutdown_requested()) {
                spdlog::info("NativeLauncher: shutdown requested — closing the window");
                closed = true;
                break;
            }
            apply_ready_results(impl);
            if (impl.result.connect) break;
            window.begin_frame();
            draw_frame(impl);
            window.end_frame();
            if (!shown) {
                shown = true;
                spdlog::info("NativeLauncher: window shown");
            }
            if (impl.after_frame && !impl.after_frame(impl, window.window())) {
                closed = true;
                break;
            }
        }
    }
    apply_ready_results(impl);
    window.close();
    impl.fonts = {};
    // A stream whose details arrived after the user closed the window is not
    // started behind their back.
    if (closed) {
        impl.result.connect = false;
        impl.result.quit = true;
    }
    return impl.result;
}

}  // namespace nb::ui
