// How the overlay judges the stream: good, fair or poor for the frame rate,
// the latency and the loss, and the colour each verdict is shown in.
#pragma once

#include <cstdint>

namespace nb::ui {

struct Rgba {
    float r = 0.0f;
    float g = 0.0f;
    float b = 0.0f;
    float a = 1.0f;

    Rgba with_alpha(float alpha) const { return {r, g, b, alpha}; }
    bool operator==(const Rgba&) const = default;
};

enum class Quality { good, fair, poor };

Quality fps_quality(int32_t fps);
Quality latency_quality(float rtt_ms);
Quality loss_quality(float loss_pct);

Rgba quality_colour(Quality quality);

// The overlay's palette, shared by both panels and the launcher's theme.
namespace palette {
inline constexpr Rgba blue{0.302f, 0.62f, 1.0f, 1.0f};
inline constexpr Rgba cyan{0.047f, 0.831f, 0.918f, 1.0f};
inline constexpr Rgba red{0.937f, 0.267f, 0.267f, 1.0f};
inline constexpr Rgba violet{0.506f, 0.251f, 0.929f, 1.0f};
inline constexpr Rgba grey{0.29f, 0.345f, 0.424f, 1.0f};
inline constexpr Rgba light_blue{0.38f, 0.647f, 0.98f, 1.0f};
inline constexpr Rgba panel{0.05f, 0.08f, 0.14f, 0.94f};
inline constexpr Rgba card{0.075f, 0.118f, 0.196f, 0.92f};
}  // namespace palette

}  // namespace nb::ui
