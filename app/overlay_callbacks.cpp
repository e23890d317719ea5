#include "app/overlay_callbacks.h"

#include <spdlog/spdlog.h>

#include "session/launcher.h"
#include "session/stats_reporter.h"

namespace nb {

std::function<void()> make_overlay_draw(ui::OverlayImGui& overlay, Launcher& launcher,
                                        const ui::LiveSessionRecord& live) {
    return [&overlay, &launcher, &live] {
        if (!overlay.visible()) return;
        ui::OverlayStats stats;
        if (const StatsReporter* reporter = launcher.stats()) {
            stats.rtt_ms = reporter->rtt_ms();
            stats.decoded_fps = reporter->decoded_fps();
            stats.loss_pct = reporter->packet_loss_pct();
        }
        stats.codec_name = ui::codec_display_name(launcher.codec());
        stats.bitrate_kbps = launcher.target_bitrate();
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
