// What the launcher's screens derive from backend values: durations, sizes,
// the colour a GPU model earns and the badge a server status shows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ui/localisation.h"
#include "ui/overlay_quality.h"

namespace nb::ui {

// "HH:MM:SS"; hours run past 99 rather than wrap. Negative counts read zero.
std::string format_duration(int32_t seconds);

// Megabytes as whole gigabytes from 1024 MB up, else as megabytes: "24GB",
// "1023MB"; `spaced` puts a space before the unit ("24 GB").
std::string format_size(int32_t megabytes, bool spaced, const TextTable& table);

// The card colour of a GPU family; the more specific model numbers are
// tested before the brand names.
Rgba gpu_accent(std::string_view gpu_model);

struct StatusBadge {
    Txt label;
    Rgba colour;
};
StatusBadge badge_for_status(std::string_view status);

// The waiting text of a rented session that is not streaming yet.
Txt session_wait_text(std::string_view status);

// "✓  Session ended", with " — reason" when the reason adds something.
std::string ended_banner_text(const TextTable& table, std::string_view reason);

// The server grid: at least one column of cards about 260 px wide.
int browse_columns(float available_width);
float browse_card_width(float available_width, int columns);

}  // namespace nb::ui
