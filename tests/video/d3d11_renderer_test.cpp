// D3d11Renderer on a real SDL window (wine's Direct3D on Xvfb in CI):
// pictures of known samples go in, the back buffer is copied to a staging
// texture and compared.
#include "video/d3d11_renderer.h"

#include <gtest/gtest.h>

#include <SDL.h>

#include <vector>

#include "tests/video/log_capture.h"
#include "tests/video/renderer_cases.h"

namespace nb {
namespace {

using test::LogCapture;
using namespace test::pictures;

// Both ways of converting NV12: the video processor where the device has
// one (real Windows machines), the pixel shader everywhere.
class D3d11RendererTest : public test::RendererCases,
                          public ::testing::WithParamInterface<D3d11Renderer::Nv12Path> {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError(); }

    IRenderer& renderer() override { return renderer_; }
    std::vector<uint8_t> read_back() override { return renderer_.read_back_buffer(); }
    std::string_view component() const override { return "D3d11Renderer"; }
    void resize_window(uint32_t w, uint32_t h) override {
        SDL_SetWindowSize(window_, static_cast<int>(w), static_cast<int>(h));
        SDL_PumpEvents();
        renderer_.resize(w, h);
    }

    D3d11Renderer renderer_{GetParam()};
};

TEST_P(D3d11RendererTest, ConvertsKnownSamplesToRgb) { converts_known_samples_to_rgb(); }
TEST_P(D3d11RendererTest, KeepsThePictureUprightAndCropsCodingPadding) { keeps_upright_and_crops_padding(); }
TEST_P(D3d11RendererTest, ShowsAPictureOfANewSizeWhole) { shows_a_picture_of_a_new_size_whole(); }
TEST_P(D3d11RendererTest, ScalesToTheWindowWithBlackBars) { scales_to_the_window_with_black_bars(); }
TEST_P(D3d11RendererTest, SnapshotRedrawsTheLastPictureUntilAResize) { snapshot_lasts_until_a_resize(); }
TEST_P(D3d11RendererTest, RefusesWhatItCannotDrawAndNothingAfterShutdown) { refuses_bad_pictures_and_shutdown(); }

TEST_P(D3d11RendererTest, SwitchingLayoutsAndSizesRebuildsOnlyWhatChanged) {
    LogCapture log;
    draw(OwnedPicture(PixelLayout::yuv420p, 320, 240, k_red));
    const auto nv12 = draw(OwnedPicture(PixelLayout::nv12, 320, 240, k_blue));
    expect_pixel(nv12, 320, 160, 120, {0, 0, 255});
    const auto larger = draw(OwnedPicture(PixelLayout::nv12, 640, 480, k_green));
    expect_pixel(larger, 320, 160, 120, {0, 255, 0});
    const auto again = draw(OwnedPicture(PixelLayout::nv12, 640, 480, k_white));
    expect_pixel(again, 320, 160, 120, {255, 255, 255});
    if (renderer_.uses_video_processor()) {
        EXPECT_EQ(log.count("D3d11Renderer: input texture 640x480 != VP 320x240, recreating"), 1u);
    } else {
        EXPECT_EQ(log.count("D3d11Renderer: input picture 320x240 NV12 != textures 320x240 YUV420P, recreating"), 1u);
        EXPECT_EQ(log.count("D3d11Renderer: input picture 640x480 NV12 != textures 320x240 NV12, recreating"), 1u);
    }
    EXPECT_EQ(renderer_.frames_presented(), 4u);
}

TEST_P(D3d11RendererTest, GivesTheOverlayItsDeviceUntilShutdown) {
    EXPECT_NE(renderer_.device(), nullptr);
    EXPECT_NE(renderer_.context(), nullptr);
    EXPECT_EQ(renderer_.name(), "D3D11");
    renderer_.shutdown();
    EXPECT_EQ(renderer_.device(), nullptr);
    EXPECT_EQ(renderer_.context(), nullptr);
    // A second session on the same window starts afresh.
    ASSERT_TRUE(renderer_.initialize(window_, 320, 240));
    expect_pixel(draw(OwnedPicture(PixelLayout::nv12, 320, 240, k_red)), 320, 160, 120, {255, 0, 0});
}

INSTANTIATE_TEST_SUITE_P(Nv12Paths, D3d11RendererTest,
                         ::testing::Values(D3d11Renderer::Nv12Path::video_processor_when_available,
                                           D3d11Renderer::Nv12Path::shader),
                         [](const auto& info) {
                             return info.param == D3d11Renderer::Nv12Path::shader ? "Shader" : "VideoProcessor";
                         });

TEST(D3d11RendererNoWindow, InitializeWithoutWindowFailsWithTheCause) {
    LogCapture log;
    D3d11Renderer renderer;
    EXPECT_FALSE(renderer.initialize(nullptr, 320, 240));
    EXPECT_TRUE(log.contains("D3d11Renderer: SDL_GetWindowWMInfo failed: "));
    EXPECT_TRUE(log.contains("D3d11Renderer: failed to create device/swapchain"));
    EXPECT_EQ(renderer.device(), nullptr);
    const OwnedPicture pic(PixelLayout::nv12, 16, 16);
    EXPECT_EQ(renderer.render_frame(&pic.picture, 16, 16), 0.0f);
    EXPECT_FALSE(renderer.restore_snapshot());
    renderer.present();
    renderer.shutdown();
    EXPECT_FALSE(log.contains("D3d11Renderer: shutdown"));
    EXPECT_EQ(renderer.frames_presented(), 0u);
}

}  // namespace
}  // namespace nb
