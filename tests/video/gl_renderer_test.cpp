// GlRenderer on a real X server with Mesa's OpenGL: pictures of known
// samples go in, the back buffer is read back and compared.
#include "video/gl_renderer.h"

#include <gtest/gtest.h>

#include <SDL.h>

#include <algorithm>
#include <array>
#include <thread>
#include <vector>

#include "tests/video/log_capture.h"
#include "tests/video/renderer_cases.h"
#include "tests/video/x_display.h"

namespace nb {
namespace {

using test::LogCapture;
using namespace test::pictures;

class GlRendererTest : public test::RendererCases {
protected:
    // SDL stays up until the process ends: SDL_Quit would unload the GL
    // driver, and the leak checker could no longer tell its allocations from ours.
    static void SetUpTestSuite() {
        ASSERT_TRUE(test::ensure_x_display());
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    }

    IRenderer& renderer() override { return renderer_; }
    std::vector<uint8_t> read_back() override { return renderer_.read_back_buffer(); }
    std::string_view component() const override { return "GlRenderer"; }
    void resize_window(uint32_t w, uint32_t h) override {
        SDL_SetWindowSize(window_, static_cast<int>(w), static_cast<int>(h));
        // Let the server apply the new size before GL draws into it.
        for (int i = 0, cw = 0, ch = 0; i < 50 && (cw != int(w) || ch != int(h)); ++i) {
            SDL_Delay(i ? 10 : 0);
            SDL_PumpEvents();
            SDL_GL_GetDrawableSize(window_, &cw, &ch);
        }
        renderer_.resize(w, h);
    }

    GlRenderer renderer_;
};

TEST_F(GlRendererTest, ConvertsKnownSamplesToRgb) { converts_known_samples_to_rgb(); }
TEST_F(GlRendererTest, KeepsThePictureUprightAndCropsCodingPadding) { keeps_upright_and_crops_padding(); }
TEST_F(GlRendererTest, ShowsAPictureOfANewSizeWhole) { shows_a_picture_of_a_new_size_whole(); }
TEST_F(GlRendererTest, ScalesToTheWindowWithBlackBars) { scales_to_the_window_with_black_bars(); }
TEST_F(GlRendererTest, SnapshotRedrawsTheLastPictureUntilAResize) { snapshot_lasts_until_a_resize(); }

TEST_F(GlRendererTest, CallsFromAnotherThreadAreRefused) {
    // The context belongs to the thread that set the renderer up (the
    // session's video thread); drawing elsewhere would use no context at all.
    LogCapture log;
    const OwnedPicture pic(PixelLayout::nv12, 320, 240, k_red);
    std::thread other([&] {
        EXPECT_EQ(renderer_.render_frame(&pic.picture, 320, 240), 0.0f);
        EXPECT_FALSE(renderer_.restore_snapshot());
        renderer_.present();
        renderer_.resize(640, 480);
    });
    other.join();
    EXPECT_TRUE(log.contains("GlRenderer: called from a thread that does not own the GL context"));
    EXPECT_EQ(renderer_.frames_presented(), 0u);
    expect_pixel(draw(pic), 320, 100, 100, {255, 0, 0});
    EXPECT_EQ(renderer_.frames_presented(), 1u);
}

TEST_F(GlRendererTest, RefusesWhatItCannotDrawAndNothingAfterShutdown) { refuses_bad_pictures_and_shutdown(); }

TEST(GlRendererNoWindow, InitializeWithoutWindowFails) {
    LogCapture log;
    GlRenderer renderer;
    EXPECT_FALSE(renderer.initialize(nullptr, 320, 240));
    EXPECT_TRUE(log.contains("GlRenderer: failed to create context"));
    const OwnedPicture pic(PixelLayout::nv12, 16, 16);
    EXPECT_EQ(renderer.render_frame(&pic.picture, 16, 16), 0.0f);
    renderer.shutdown();
    EXPECT_FALSE(log.contains("GlRenderer: shutdown"));
}


}  // namespace
}  // namespace nb
