// Lifecycle, event forwarding and the frame of the in-stream overlay.
#include "ui/overlay_imgui.h"

#include <imgui.h>
#include <spdlog/spdlog.h>

#include <chrono>
#include <cstring>

#include "ui/overlay_panels.h"
#include "ui/imgui_colour.h"
#include "ui/overlay_quality.h"
#include "ui/theme.h"

namespace nb::ui {

namespace {

constexpr float k_font_pixels = 14.0f;
constexpr float k_drag_handle_height = 12.0f;
constexpr float k_background_alpha = 0.94f;

int64_t steady_now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}


}  // namespace

std::string_view codec_display_name(VideoCodec codec) {
    switch (codec) {
    case VideoCodec::HEVC:
        return "HEVC";
    case VideoCodec::AV1:
        return "AV1";
    default:
        return "H.264";
    }
}

OverlayImGui::OverlayImGui(std::function<int64_t()> now_ns)
    : now_ns_(now_ns ? std::move(now_ns) : std::function<int64_t()>(steady_now_ns)) {}

OverlayImGui::~OverlayImGui() { shutdown(); }

bool OverlayImGui::initialize(std::unique_ptr<OverlayBackend> backend) {
    std::lock_guard lock(lock_);
    if (initialized_.load()) return true;
    // The headers we compiled against must describe the library we linked.
    if (std::strcmp(ImGui::GetVersion(), IMGUI_VERSION) != 0 ||
        !ImGui::DebugCheckVersionAndDataLayout(IMGUI_VERSION, sizeof(ImGuiIO), sizeof(ImGuiStyle), sizeof(ImVec2),
                                               sizeof(ImVec4), sizeof(ImDrawVert), sizeof(ImDrawIdx))) {
        spdlog::error("Overlay: ImGui library {} does not match headers {}", ImGui::GetVersion(), IMGUI_VERSION);
        return false;
    }
    if (!backend) {
        spdlog::error("Overlay: no window or graphics to draw into");
        return false;
    }

    ImGuiContext* previous = ImGui::GetCurrentContext();
    context_ = ImGui::CreateContext();
    ImGui::SetCurrentContext(context_);
    ImGuiIO& io = ImGui::GetIO();
    io.ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard;
    // The shell shows and hides the pointer with the panel; left to the
    // back end, cursor calls would come from whichever thread draws.
    io.ConfigFlags |= ImGuiConfigFlags_NoMouseCursorChange;
    io.IniFilename = nullptr;
    io.LogFilename = nullptr;
    apply_theme(ImGui::GetStyle());
    load_theme_font(io, k_font_pixels);

    if (!backend->start()) {
        ImGui::DestroyContext(context_);
        context_ = nullptr;
        ImGui::SetCurrentContext(previous);
        return false;
    }
    backend_ = std::move(backend);
    start_time_ns_ = now_ns_();
    has_start_time_ = true;
    position_ = {};
    initialized_.store(true);
    spdlog::info("Overlay: initialized (ImGui {})", ImGui::GetVersion());
    return true;
}

void OverlayImGui::shutdown() {
    std::lock_guard lock(lock_);
    if (!initialized_.load()) return;
    ImGui::SetCurrentContext(context_);
    backend_->stop();
    backend_.reset();
    ImGui::DestroyContext(context_);
    context_ = nullptr;
    initialized_.store(false);
    spdlog::info("Overlay: shutdown");
}

void OverlayImGui::set_stream_info(int32_t bitrate_kbps, int32_t fps, int32_t width, int32_t height) {
    std::lock_guard lock(lock_);
    stream_ = {bitrate_kbps, fps, width, height};
}

void OverlayImGui::set_change_callback(ChangeCallback callback) {
    std::lock_guard lock(lock_);
    on_change_ = std::move(callback);
}

bool OverlayImGui::toggle(OverlayMode mode) {
    std::lock_guard lock(lock_);
    if (visible_ && mode_ == mode) {
        visible_ = false;
    } else {
        mode_ = mode;
        visible_ = true;
    }
    return visible_;
}

bool OverlayImGui::visible() const {
    std::lock_guard lock(lock_);
    return visible_;
}

OverlayMode OverlayImGui::mode() const {
    std::lock_guard lock(lock_);
    return mode_;
}

PanelPosition OverlayImGui::position() const {
    std::lock_guard lock(lock_);
    return position_;
}

void OverlayImGui::handle_event(const SDL_Event& event) {
    std::lock_guard lock(lock_);
    if (!initialized_.load() || !visible_) return;
    ImGui::SetCurrentContext(context_);
    backend_->process_event(event);
    if (event.type == SDL_MOUSEMOTION) {
        pointer_x_ = static_cast<float>(event.motion.x);
        pointer_y_ = static_cast<float>(event.motion.y);
    }
}

void OverlayImGui::draw(const OverlayStats& stats, const LiveSessionInfo& live) {
    std::lock_guard lock(lock_);
    if (!visible_) return;
    fps_ = static_cast<int32_t>(stats.presented_fps);
    rtt_ms_ = stats.rtt_ms;
    loss_pct_ = stats.loss_pct;
    bitrate_kbps_ = stats.bitrate_kbps;
    measured_kbps_ = static_cast<int32_t>(stats.measured_kbps + 0.5f);
    decode_ms_ = stats.decode_ms;
    decode_history_ms_.assign(stats.decode_history_ms.begin(), stats.decode_history_ms.end());
    total_history_ms_.assign(stats.total_history_ms.begin(), stats.total_history_ms.end());
    codec_name_ = stats.codec_name;
    if (live.valid) {
        session_seconds_ = live.duration_sec;
        balance_cents_ = live.balance_cents;
        cost_cents_ = live.cost_cents;
        server_hostname_ = live.server_hostname;
        have_backend_info_ = true;
    }
    if (!initialized_.load()) return;
    ImGui::SetCurrentContext(context_);
    draw_frame_locked();
}

void OverlayImGui::draw_frame_locked() {
    backend_->new_frame();
    // The back end asks for the pointer's global position, which SDL on X11
    // caches from raw device motion: warped or injected moves never reach
    // it, and a slider held under such a pointer would not follow. The
    // window's own motion events always do.
    if (pointer_x_ >= 0.0f) ImGui::GetIO().MousePos = ImVec2(pointer_x_, pointer_y_);
    ImGui::NewFrame();
    if (!have_backend_info_ && has_start_time_) {
        session_seconds_ = (now_ns_() - start_time_ns_) / 1'000'000'000;
    }

    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    position_ = place_panel(position_, {viewport->Pos.x, viewport->Pos.y, viewport->Size.x, viewport->Size.y});
    ImGui::SetNextWindowPos(ImVec2(position_.x, position_.y));
    ImGui::SetNextWindowSize(ImVec2(k_panel_width, 0.0f));
    ImGui::SetNextWindowBgAlpha(k_background_alpha);

    const bool settings = mode_ == OverlayMode::settings;
    ImGui::PushStyleVar(ImGuiStyleVar_WindowRounding, 14.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowBorderSize, 1.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(8.0f, 8.0f));
    ImGui::PushStyleVar(ImGuiStyleVar_ItemSpacing, ImVec2(4.0f, 4.0f));
    ImGui::PushStyleColor(ImGuiCol_WindowBg, vec(palette::panel));
    ImGui::PushStyleColor(ImGuiCol_Border, vec((settings ? palette::violet : palette::blue).with_alpha(0.22f)));

    constexpr ImGuiWindowFlags flags = ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize |
                                       ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoScrollbar |
                                       ImGuiWindowFlags_NoScrollWithMouse | ImGuiWindowFlags_AlwaysAutoResize |
                                       ImGuiWindowFlags_NoFocusOnAppearing | ImGuiWindowFlags_NoNavInputs |
                                       ImGuiWindowFlags_NoNavFocus;
    std::optional<StreamingChange> change;
    if (ImGui::Begin("##Overlay", nullptr, flags)) {
        draw_drag_handle_locked();
        const PanelValues values{.session_seconds = session_seconds_,
                                 .balance_cents = balance_cents_,
                                 .cost_cents = cost_cents_,
                                 .server_hostname = server_hostname_,
                                 .fps = fps_,
                                 .rtt_ms = rtt_ms_,
                                 .loss_pct = loss_pct_,
                                 .bitrate_kbps = bitrate_kbps_,
                                 .codec_name = codec_name_,
                                 .measured_kbps = measured_kbps_,
                                 .decode_ms = decode_ms_,
                                 .decode_history_ms = decode_history_ms_,
                                 .total_history_ms = total_history_ms_};
        if (settings) {
            change = draw_settings_panel(values, stream_);
        } else {
            draw_information_panel(values);
        }
    }
    ImGui::End();
    ImGui::PopStyleColor(2);
    ImGui::PopStyleVar(4);

    // Inside the frame and under the lock, so the handler sees the values
    // the user just released.
    if (change && on_change_) on_change_(*change);

    ImGui::Render();
    backend_->render(ImGui::GetDrawData());
}

void OverlayImGui::draw_drag_handle_locked() {
    const float width = ImGui::GetContentRegionAvail().x;
    const ImVec2 handle_pos = ImGui::GetCursorScreenPos();
    ImGui::InvisibleButton("##drag", ImVec2(width, k_drag_handle_height));
    if (ImGui::IsItemActive()) {
        const ImVec2 delta = ImGui::GetIO().MouseDelta;
        position_.x += delta.x;
        position_.y += delta.y;
        ImGui::SetWindowPos(ImVec2(position_.x, position_.y));
    }
    const float centre_x = handle_pos.x + width / 2.0f;
    const float dots_y = ImGui::GetWindowPos().y + 6.0f;
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImU32 dot_colour = ImGui::GetColorU32(vec(palette::grey.with_alpha(0.38f)));
    for (const float offset : {-14.0f, -7.0f, 0.0f, 7.0f, 14.0f}) {
        draw->AddCircleFilled(ImVec2(centre_x + offset, dots_y), 2.0f, dot_colour, 8);
    }
}

}  // namespace nb::ui
