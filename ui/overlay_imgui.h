// The in-stream overlay: a small floating panel drawn with Dear ImGui into
// the streaming window's back buffer just before each present. An
// information panel (session time, money, frame rate, latency, bitrate,
// loss, codec) and a settings panel (bitrate and frame-rate sliders).
#pragma once

#include <SDL.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/connection_params.h"
#include "ui/live_session_info.h"
#include "ui/overlay_backend.h"
#include "ui/overlay_placement.h"
#include "ui/streaming_change.h"

struct ImGuiContext;

namespace nb::ui {

enum class OverlayMode : int32_t { information = 0, settings = 1 };

// What the session measures, gathered by the shell for each draw.
struct OverlayStats {
    float rtt_ms = 0.0f;
    float presented_fps = 0.0f;   // pictures on screen during the last second
    float loss_pct = 0.0f;
    int32_t bitrate_kbps = 0;     // asked of the agent
    std::string codec_name;
    float measured_kbps = 0.0f;   // video received during the last second
    float decode_ms = 0.0f;       // mean decode time of the last second
    // Presented pictures of the last two seconds, oldest first, in ms;
    // borrowed for the draw call.
    std::span<const float> decode_history_ms{};
    std::span<const float> total_history_ms{};  // last packet to present
};

std::string_view codec_display_name(VideoCodec codec);

class OverlayImGui {
public:
    using ChangeCallback = std::function<void(const StreamingChange&)>;

    // Monotonic nanoseconds; tests substitute their own clock.
    explicit OverlayImGui(std::function<int64_t()> now_ns = {});
    ~OverlayImGui();
    OverlayImGui(const OverlayImGui&) = delete;
    OverlayImGui& operator=(const OverlayImGui&) = delete;

    // Creates the GUI context and binds it to the window's graphics through
    // `backend`, on the thread that draws (where a GL context is current).
    // Once; false with the cause logged.
    bool initialize(std::unique_ptr<OverlayBackend> backend);
    // Releases the back end's graphics objects, on the drawing thread.
    // Idempotent.
    void shutdown();
    void set_stream_info(int32_t bitrate_kbps, int32_t fps, int32_t width, int32_t height);
    void set_change_callback(ChangeCallback callback);

    // The hot-key rule: the key of the mode already shown hides the panel,
    // any other shows the panel in that mode. Returns whether it is shown.
    bool toggle(OverlayMode mode);
    bool visible() const;
    OverlayMode mode() const;
    bool initialized() const { return initialized_.load(); }

    // Hands one window event to the GUI while the panel is shown.
    void handle_event(const SDL_Event& event);

    // One frame of the panel into the bound back buffer. Called on the
    // session's video thread, where the GL context is current; does nothing
    // while hidden or uninitialised.
    void draw(const OverlayStats& stats, const LiveSessionInfo& live);

    PanelPosition position() const;

private:
    void draw_frame_locked();
    void draw_drag_handle_locked();

    // Guards every field below and every ImGui call the overlay makes: the
    // event loop hands events in while the video thread draws.
    mutable std::mutex lock_;
    std::atomic<bool> initialized_{false};
    bool visible_ = false;
    OverlayMode mode_ = OverlayMode::information;
    ImGuiContext* context_ = nullptr;
    std::unique_ptr<OverlayBackend> backend_;

    int64_t session_seconds_ = 0;
    int64_t balance_cents_ = 0;
    int64_t cost_cents_ = 0;
    std::string server_hostname_;
    int32_t fps_ = 0;
    float rtt_ms_ = 0.0f;
    float loss_pct_ = 0.0f;
    int32_t bitrate_kbps_ = 0;
    int32_t measured_kbps_ = 0;
    float decode_ms_ = 0.0f;
    std::vector<float> decode_history_ms_;
    std::vector<float> total_history_ms_;
    std::string codec_name_;
    StreamSettings stream_;
    ChangeCallback on_change_;
    std::function<int64_t()> now_ns_;
    int64_t start_time_ns_ = 0;
    bool has_start_time_ = false;
    bool have_backend_info_ = false;
    PanelPosition position_;
    // The pointer as the window's motion events last placed it, in window
    // coordinates; negative before the first event.
    float pointer_x_ = -1.0f;
    float pointer_y_ = -1.0f;
};

}  // namespace nb::ui
