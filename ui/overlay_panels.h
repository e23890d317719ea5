// The bodies of the overlay's two panels, drawn inside its ImGui window.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "ui/streaming_change.h"

namespace nb::ui {

struct PanelValues {
    int64_t session_seconds = 0;
    int64_t balance_cents = 0;
    int64_t cost_cents = 0;
    std::string_view server_hostname;
    int32_t fps = 0;  // pictures presented during the last second
    float rtt_ms = 0.0f;
    float loss_pct = 0.0f;
    int32_t bitrate_kbps = 0;  // asked of the agent
    std::string_view codec_name;
    int32_t measured_kbps = 0;  // received during the last second
    float decode_ms = 0.0f;
    // Presented pictures of the last two seconds, oldest first, in ms.
    std::span<const float> decode_history_ms{};
    std::span<const float> total_history_ms{};  // last packet to present
};

void draw_information_panel(const PanelValues& values);

// Edits `stream` through its sliders; returns a change in the frame a
// slider is released after an edit.
std::optional<StreamingChange> draw_settings_panel(const PanelValues& values, StreamSettings& stream);

}  // namespace nb::ui
