#include "ui/overlay_quality.h"

namespace nb::ui {

namespace {
// A stream below 55 fps visibly stutters on a 60 Hz display; below 30 it is
// no longer fit for play.
constexpr int32_t k_fps_good = 55;
constexpr int32_t k_fps_fair = 30;
constexpr float k_latency_good_ms = 30.0f;
constexpr float k_latency_fair_ms = 60.0f;
constexpr float k_loss_poor_pct = 1.0f;
}  // namespace

Quality fps_quality(int32_t fps) {
    if (fps >= k_fps_good) return Quality::good;
    if (fps >= k_fps_fair) return Quality::fair;
    return Quality::poor;
}

Quality latency_quality(float rtt_ms) {
    if (rtt_ms <= k_latency_good_ms) return Quality::good;
    if (rtt_ms <= k_latency_fair_ms) return Quality::fair;
    return Quality::poor;
}

Quality loss_quality(float loss_pct) { return loss_pct < k_loss_poor_pct ? Quality::good : Quality::poor; }

Rgba quality_colour(Quality quality) {
    switch (quality) {
    case Quality::good:
        return palette::blue;
    case Quality::fair:
        return palette::cyan;
    case Quality::poor:
        break;
    }
    return palette::red;
}

}  // namespace nb::ui
