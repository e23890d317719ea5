// The overlay's decisions, apart from its drawing: quality verdicts and
// their colours, where the panel sits, what a slider release reports and
// the control message it becomes, and the hot-key rule.
#include <gtest/gtest.h>

#include "ui/overlay_imgui.h"
#include "ui/overlay_placement.h"
#include "ui/overlay_quality.h"
#include "ui/streaming_change.h"

namespace nb::ui {
namespace {

TEST(OverlayQuality, FrameRateBoundaries) {
    EXPECT_EQ(fps_quality(144), Quality::good);
    EXPECT_EQ(fps_quality(55), Quality::good);
    EXPECT_EQ(fps_quality(54), Quality::fair);
    EXPECT_EQ(fps_quality(30), Quality::fair);
    EXPECT_EQ(fps_quality(29), Quality::poor);
    EXPECT_EQ(fps_quality(0), Quality::poor);
}

TEST(OverlayQuality, LatencyBoundaries) {
    EXPECT_EQ(latency_quality(0.0f), Quality::good);
    EXPECT_EQ(latency_quality(30.0f), Quality::good);
    EXPECT_EQ(latency_quality(30.1f), Quality::fair);
    EXPECT_EQ(latency_quality(60.0f), Quality::fair);
    EXPECT_EQ(latency_quality(60.1f), Quality::poor);
}

TEST(OverlayQuality, LossBoundaries) {
    EXPECT_EQ(loss_quality(0.0f), Quality::good);
    EXPECT_EQ(loss_quality(0.99f), Quality::good);
    EXPECT_EQ(loss_quality(1.0f), Quality::poor);
    EXPECT_EQ(loss_quality(35.0f), Quality::poor);
}

TEST(OverlayQuality, VerdictColoursAreOpaqueBlueCyanRed) {
    EXPECT_EQ(quality_colour(Quality::good), (Rgba{0.302f, 0.62f, 1.0f, 1.0f}));
    EXPECT_EQ(quality_colour(Quality::fair), (Rgba{0.047f, 0.831f, 0.918f, 1.0f}));
    EXPECT_EQ(quality_colour(Quality::poor), (Rgba{0.937f, 0.267f, 0.267f, 1.0f}));
    // Without a running reporter every figure is zero: frame rate poor,
    // latency and loss good.
    EXPECT_EQ(quality_colour(fps_quality(0)), palette::red);
    EXPECT_EQ(quality_colour(latency_quality(0.0f)), palette::blue);
    EXPECT_EQ(quality_colour(loss_quality(0.0f)), palette::blue);
}

TEST(OverlayPlacement, FirstPlacementIsSixteenPixelsInFromTheCorner) {
    const PanelPosition placed = place_panel({}, {0, 0, 1920, 1080});
    EXPECT_EQ(placed.x, 16.0f);
    EXPECT_EQ(placed.y, 16.0f);
    const PanelPosition offset = place_panel({}, {100, 50, 800, 600});
    EXPECT_EQ(offset.x, 116.0f);
    EXPECT_EQ(offset.y, 66.0f);
}

TEST(OverlayPlacement, DraggedPanelStaysInsideTheWindow) {
    const Viewport window{0, 0, 1920, 1080};
    const PanelPosition right = place_panel({5000, 300}, window);
    EXPECT_EQ(right.x, 1640.0f) << "left side 280 pixels from the right border";
    EXPECT_EQ(right.y, 300.0f);
    const PanelPosition bottom = place_panel({300, 5000}, window);
    EXPECT_EQ(bottom.y, 920.0f);
    const PanelPosition up_left = place_panel({0.5f, -0.0f}, {10, 20, 1920, 1080});
    EXPECT_EQ(up_left.x, 10.0f);
    EXPECT_EQ(up_left.y, 20.0f);
    // A placed panel stays where it was put.
    EXPECT_EQ(place_panel({700, 400}, window).x, 700.0f);
}

TEST(OverlayPlacement, WindowSmallerThanThePanelKeepsItsTopLeftEdge) {
    const PanelPosition placed = place_panel({40, 40}, {0, 0, 200, 120});
    EXPECT_EQ(placed.x, 0.0f);
    EXPECT_EQ(placed.y, 0.0f);
}

TEST(StreamingChangeReport, OnlyAReleasedSliderReports) {
    const StreamSettings settings{25000, 90, 1920, 1080};
    EXPECT_FALSE(change_on_release(false, false, settings).has_value()) << "dragging alone reports nothing";
    EXPECT_EQ(change_on_release(true, false, settings), (StreamingChange{25000, 0, 0, 0}));
    EXPECT_EQ(change_on_release(false, true, settings), (StreamingChange{0, 90, 0, 0}));
    EXPECT_EQ(change_on_release(true, true, settings), (StreamingChange{25000, 90, 0, 0}));
}

TEST(StreamingChangeReport, SettingsMessageCarriesBitrateAndSizeButNeverFps) {
    EXPECT_EQ(settings_message({25000, 0, 0, 0}), R"({"bitrate":25000,"type":"set_settings"})");
    EXPECT_EQ(settings_message({0, 90, 0, 0}), R"({"type":"set_settings"})");
    EXPECT_EQ(settings_message({0, 0, 0, 0}), R"({"type":"set_settings"})");
    EXPECT_EQ(settings_message({1000, 120, 1280, 720}),
              R"({"bitrate":1000,"height":720,"type":"set_settings","width":1280})");
}

TEST(OverlayHotKeys, SameKeyHidesOtherKeySwitchesMode) {
    OverlayImGui overlay;
    EXPECT_FALSE(overlay.visible());
    EXPECT_EQ(overlay.mode(), OverlayMode::information);

    EXPECT_TRUE(overlay.toggle(OverlayMode::settings));
    EXPECT_EQ(overlay.mode(), OverlayMode::settings);
    EXPECT_TRUE(overlay.toggle(OverlayMode::information)) << "switching modes keeps the panel up";
    EXPECT_EQ(overlay.mode(), OverlayMode::information);
    EXPECT_FALSE(overlay.toggle(OverlayMode::information));
    EXPECT_TRUE(overlay.toggle(OverlayMode::settings));
    EXPECT_FALSE(overlay.toggle(OverlayMode::settings));
}

TEST(OverlayHotKeys, UninitialisedOverlayTogglesButNeverDraws) {
    OverlayImGui overlay;
    overlay.toggle(OverlayMode::information);
    SDL_Event event{};
    event.type = SDL_MOUSEMOTION;
    overlay.handle_event(event);
    overlay.draw(OverlayStats{}, LiveSessionInfo{});
    EXPECT_FALSE(overlay.initialized());
    EXPECT_TRUE(overlay.visible());
    EXPECT_LT(overlay.position().x, 0.0f) << "never placed without a frame";
}

}  // namespace
}  // namespace nb::ui
