#include "app/overlay_callbacks.h"

#include <spdlog/spdlog.h>

#include "app/overlay_graphics.h"
#include "common/clock.h"
#include "session/launcher.h"
#include "session/stats_reporter.h"

namespace nb {

namespace {
// The panel's figures reach the log at debug level this often while it is
// shown, so what a user saw can be compared with the counters afterwards.
constexpr int64_t k_figures_log_interval_us = 1'000'000;
}  // namespace

bool attach_overlay(ui::OverlayImGui& overlay, Launcher& launcher, const ConnectionParams& params,
                    const ui::LiveSessionRecord& live) {
    VideoThread* video = launcher.video();
    bool ready = false;
    if (video) {
        video->run_and_wait([&](IRenderer& renderer) {
            if (auto backend = make_overlay_backend(renderer)) ready = overlay.initialize(std::move(backend));
        });
    }
    if (!ready) {
        spdlog::warn("OpenGL context not available — overlay disabled");
        return false;
    }
    overlay.set_stream_info(params.bitrate, params.fps, params.width, params.height);
    overlay.set_change_callback(make_settings_handler(launcher));
    video->set_overlay_draw(make_overlay_draw(overlay, launcher, live));
    return true;
}

void detach_overlay(ui::OverlayImGui& overlay, Launcher& launcher) {
    VideoThread* video = launcher.video();
    if (video) video->set_overlay_draw({});
    if (!video || !video->run_and_wait([&](IRenderer&) { overlay.shutdown(); })) overlay.shutdown();
}

VideoThread::OverlayDraw make_overlay_draw(ui::OverlayImGui& overlay, Launcher& launcher,
                                           const ui::LiveSessionRecord& live) {
    return [&overlay, &launcher, &live, last_log_us = int64_t{0}](const VideoFigures& figures) mutable {
        if (!overlay.visible()) return;
        ui::OverlayStats stats;
        if (const StatsReporter* reporter = launcher.stats()) {
            stats.rtt_ms = reporter->rtt_ms();
            stats.loss_pct = reporter->packet_loss_pct();
        }
        stats.presented_fps = figures.presented_fps;
        stats.measured_kbps = figures.video_kbps;
        stats.decode_ms = figures.decode_ms;
        stats.decode_history_ms = figures.decode_history_ms;
        stats.total_history_ms = figures.total_history_ms;
        stats.codec_name = ui::codec_display_name(launcher.codec());
        stats.bitrate_kbps = launcher.target_bitrate();
        if (const int64_t now = now_us(); now - last_log_us >= k_figures_log_interval_us) {
            last_log_us = now;
            spdlog::debug("Overlay: showing {} fps presented, {:.1f} ms decode, {:.0f} of {} kbps, {:.1f}% loss "
                          "({} presented, {} decoded, {} skipped so far)",
                          static_cast<int>(stats.presented_fps), stats.decode_ms, stats.measured_kbps,
                          stats.bitrate_kbps, stats.loss_pct, figures.presented, figures.decoded, figures.skipped);
        }
        // The live record's lock is released before the overlay takes its own.
        overlay.draw(stats, live.snapshot());
    };
}

ui::OverlayImGui::ChangeCallback make_settings_handler(Launcher& launcher) {
    return [&launcher](const ui::StreamingChange& change) {
        if (change.bitrate > 0) launcher.set_target_bitrate(change.bitrate);
        if (change.fps > 0) {
            spdlog::info("Overlay: active-session FPS change requested but not sent; agent re-init is not "
                         "implemented yet");
        }
        launcher.send_control(ui::settings_message(change));
        spdlog::info("Overlay: sent settings change to agent");
    };
}

}  // namespace nb
