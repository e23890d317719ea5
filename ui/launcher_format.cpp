// Pure helpers behind the launcher's cards, badges and session texts.
#include "ui/launcher_format.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "ui/theme.h"

namespace nb::ui {

namespace {

constexpr float k_card_gap = 12.0f;
constexpr float k_card_step = 272.0f;

bool contains_any(std::string_view text, std::initializer_list<std::string_view> needles) {
    return std::any_of(needles.begin(), needles.end(),
                       [text](std::string_view needle) { return text.find(needle) != std::string_view::npos; });
}

}  // namespace

std::string format_duration(int32_t seconds) {
    const int32_t total = std::max(seconds, 0);
    char buffer[32];
    std::snprintf(buffer, sizeof(buffer), "%02d:%02d:%02d", total / 3600, total / 60 % 60, total % 60);
    return buffer;
}

std::string format_size(int32_t megabytes, bool spaced, const TextTable& table) {
    const bool gigabytes = megabytes >= 1024;
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), spaced ? "%d %s" : "%d%s", gigabytes ? megabytes / 1024 : megabytes,
                  table[gigabytes ? t_gigabytes : t_megabytes]);
    return buffer;
}

Rgba gpu_accent(std::string_view model) {
    namespace lp = launcher_palette;
    if (contains_any(model, {"4090", "4080"})) return lp::violet;
    if (contains_any(model, {"4070", "3090", "3080"})) return lp::accent;
    if (contains_any(model, {"3070", "4060", "3060"})) return lp::teal;
    if (contains_any(model, {"RTX", "RX 6", "RX 7"})) return lp::light_blue;
    return lp::dim;
}

StatusBadge badge_for_status(std::string_view status) {
    namespace lp = launcher_palette;
    if (status == "online") return {t_online, lp::accent};
    if (status == "in_session") return {t_in_session, lp::orange};
    return {t_offline, lp::dim};
}

Txt session_wait_text(std::string_view status) {
    if (status == "preparing") return t_preparing_session;
    if (status == "handshaking") return t_establishing_connection;
    return t_loading;
}

std::string ended_banner_text(const TextTable& table, std::string_view reason) {
    std::string text = "✓  ";
    text += table[t_session_ended];
    // The session loop passes "Session ended" itself as the reason; printing
    // it twice ("Session ended — Session ended") says nothing more.
    if (!reason.empty() && reason != texts_for(false)[t_session_ended] && reason != table[t_session_ended]) {
        text += " — ";
        text += reason;
    }
    return text;
}

int browse_columns(float available_width) {
    return std::max(1, static_cast<int>(std::floor((available_width + k_card_gap) / k_card_step)));
}

float browse_card_width(float available_width, int columns) {
    return (available_width - static_cast<float>(columns - 1) * k_card_gap) / static_cast<float>(columns);
}

}  // namespace nb::ui
