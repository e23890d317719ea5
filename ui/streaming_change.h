// A change the user made with the overlay's settings sliders, and the
// "set_settings" control message it becomes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace nb::ui {

// Zero means the setting was not changed.
struct StreamingChange {
    int32_t bitrate = 0;  // kbit/s
    int32_t fps = 0;
    int32_t width = 0;
    int32_t height = 0;

    bool operator==(const StreamingChange&) const = default;
};

// The values the settings sliders edit.
struct StreamSettings {
    int32_t bitrate = 30000;  // kbit/s
    int32_t fps = 60;
    int32_t width = 1920;
    int32_t height = 1080;
};

inline constexpr int32_t k_min_bitrate_kbps = 1000;
inline constexpr int32_t k_max_bitrate_kbps = 50000;
inline constexpr int32_t k_min_fps = 30;
inline constexpr int32_t k_max_fps = 144;

// What one frame of the settings panel reports: nothing while a slider is
// merely being dragged, the slider's value once it is released after an
// edit. The resolution is not editable in a running stream.
std::optional<StreamingChange> change_on_release(bool bitrate_released, bool fps_released,
                                                 const StreamSettings& settings);

// The compact control message for a change. The frame rate is left out:
// the agent cannot switch it in a running session yet.
std::string settings_message(const StreamingChange& change);

}  // namespace nb::ui
