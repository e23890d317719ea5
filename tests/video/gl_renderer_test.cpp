// GlRenderer on a real X server with Mesa's OpenGL: pictures of known
// samples go in, the back buffer is read back and compared.
#include "video/gl_renderer.h"

#include <gtest/gtest.h>

#include <SDL.h>

#include <algorithm>
#include <array>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/video/log_capture.h"
#include "tests/video/x_display.h"

namespace nb {
namespace {

using test::LogCapture;

struct Yuv {
    uint8_t y, cb, cr;
};
struct Rgb {
    int r, g, b;
};
// 100% colour bars in BT.709, limited range.
constexpr Yuv k_red{63, 102, 240}, k_green{173, 42, 26}, k_blue{32, 240, 118}, k_white{235, 128, 128};

// A picture with its own planes, rows wider than the picture as decoders
// align them; `fill` paints a rectangle.
struct OwnedPicture {
    Picture picture;
    std::array<std::vector<uint8_t>, 3> planes;

    OwnedPicture(PixelLayout layout, uint32_t width, uint32_t height, ColorMatrix matrix = ColorMatrix::bt709,
                 bool full_range = false) {
        const bool nv12 = layout == PixelLayout::nv12;
        const int32_t stride = static_cast<int32_t>(width + 32), chroma = nv12 ? stride : stride / 2;
        picture = {.layout = layout, .width = width, .height = height, .matrix = matrix, .full_range = full_range};
        picture.strides = {stride, chroma, nv12 ? 0 : chroma};
        planes[0].assign(size_t(stride) * height, 0);
        for (int i = 1; i < (nv12 ? 2 : 3); ++i) planes[i].assign(size_t(chroma) * ((height + 1) / 2), 128);
        for (int i = 0; i < 3; ++i) picture.planes[i] = planes[i].empty() ? nullptr : planes[i].data();
    }
    OwnedPicture(PixelLayout layout, uint32_t width, uint32_t height, Yuv c) : OwnedPicture(layout, width, height) {
        fill(0, 0, width, height, c);
    }

    void fill(uint32_t x0, uint32_t y0, uint32_t w, uint32_t h, Yuv c) {
        const auto& s = picture.strides;
        for (uint32_t y = y0; y < y0 + h; ++y) std::fill_n(&planes[0][y * s[0] + x0], w, c.y);
        for (uint32_t y = y0 / 2; y < (y0 + h) / 2; ++y) {
            for (uint32_t x = x0 / 2; x < (x0 + w) / 2; ++x) {
                const bool nv12 = picture.layout == PixelLayout::nv12;
                planes[1][y * s[1] + (nv12 ? 2 * x : x)] = c.cb;
                (nv12 ? planes[1][y * s[1] + 2 * x + 1] : planes[2][y * s[2] + x]) = c.cr;
            }
        }
    }
};

class GlRendererTest : public ::testing::Test {
protected:
    // SDL stays up until the process ends: SDL_Quit would unload the GL
    // driver, and the leak checker could no longer tell its allocations from ours.
    static void SetUpTestSuite() {
        ASSERT_TRUE(test::ensure_x_display());
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    }

    void SetUp() override {
        GlRenderer::prepare_window_attributes();
        window_ = SDL_CreateWindow("nb_test_video", 0, 0, 320, 240, SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN);
        ASSERT_NE(window_, nullptr) << SDL_GetError();
        ASSERT_TRUE(renderer_.initialize(window_, 320, 240));
    }
    void TearDown() override {
        renderer_.shutdown();
        if (window_) SDL_DestroyWindow(window_);
    }

    void resize_window(uint32_t w, uint32_t h) {
        SDL_SetWindowSize(window_, static_cast<int>(w), static_cast<int>(h));
        // Let the server apply the new size before GL draws into it.
        for (int i = 0, cw = 0, ch = 0; i < 50 && (cw != int(w) || ch != int(h)); ++i) {
            SDL_Delay(i ? 10 : 0);
            SDL_PumpEvents();
            SDL_GL_GetDrawableSize(window_, &cw, &ch);
        }
        renderer_.resize(w, h);
    }

    // Reads the back buffer of the sequence in progress, then presents.
    std::vector<uint8_t> read_and_present() {
        auto pixels = renderer_.read_back_buffer();
        renderer_.present();
        return pixels;
    }
    std::vector<uint8_t> draw(const OwnedPicture& pic, uint32_t w = 320, uint32_t h = 240) {
        renderer_.render_frame(&pic.picture, w, h);
        return read_and_present();
    }

    SDL_Window* window_ = nullptr;
    GlRenderer renderer_;
};

void expect_pixel(const std::vector<uint8_t>& rows, uint32_t width, uint32_t x, uint32_t y, Rgb e, int tolerance = 3) {
    const size_t i = (size_t(y) * width + x) * 3;
    ASSERT_LT(i + 2, rows.size());
    EXPECT_NEAR(rows[i], e.r, tolerance) << "red at " << x << "," << y;
    EXPECT_NEAR(rows[i + 1], e.g, tolerance) << "green at " << x << "," << y;
    EXPECT_NEAR(rows[i + 2], e.b, tolerance) << "blue at " << x << "," << y;
}

struct ColourCase {
    const char* name;
    ColorMatrix matrix;
    bool full_range;
    uint32_t height;  // the matrix of unsignalled streams follows it
    Yuv sample;
    Rgb expected;
};

// Reference values from the standards' tables of 100% colour bars.
const ColourCase k_colour_cases[] = {
    {"limited white", ColorMatrix::bt709, false, 240, {235, 128, 128}, {255, 255, 255}},
    {"limited black", ColorMatrix::bt709, false, 240, {16, 128, 128}, {0, 0, 0}},
    {"below black clamps", ColorMatrix::bt709, false, 240, {4, 128, 128}, {0, 0, 0}},
    {"709 red", ColorMatrix::bt709, false, 240, {63, 102, 240}, {255, 0, 0}},
    {"709 green", ColorMatrix::bt709, false, 240, {173, 42, 26}, {0, 255, 0}},
    {"709 blue", ColorMatrix::bt709, false, 240, {32, 240, 118}, {0, 0, 255}},
    {"601 red", ColorMatrix::bt601, false, 240, {81, 90, 240}, {255, 0, 0}},
    {"601 green", ColorMatrix::bt601, false, 240, {145, 54, 34}, {0, 255, 0}},
    {"unsignalled SD is 601", ColorMatrix::unspecified, false, 240, {81, 90, 240}, {255, 0, 0}},
    {"unsignalled HD is 709", ColorMatrix::unspecified, false, 720, {63, 102, 240}, {255, 0, 0}},
    {"full range 601 red", ColorMatrix::bt601, true, 240, {76, 85, 255}, {254, 0, 0}},
    {"full range grey", ColorMatrix::bt709, true, 240, {128, 128, 128}, {128, 128, 128}},
};

TEST_F(GlRendererTest, ConvertsKnownSamplesToRgb) {
    for (const PixelLayout layout : {PixelLayout::nv12, PixelLayout::yuv420p}) {
        for (const ColourCase& c : k_colour_cases) {
            SCOPED_TRACE(std::string(c.name) + (layout == PixelLayout::nv12 ? " NV12" : " YUV420P"));
            OwnedPicture pic(layout, 320, c.height, c.matrix, c.full_range);
            pic.fill(0, 0, 320, c.height, c.sample);
            EXPECT_GT(renderer_.render_frame(&pic.picture, 320, c.height), 0.0f);
            // A 720-line picture shrinks into the window; being flat, its
            // centre keeps the colour.
            const auto pixels = read_and_present();
            ASSERT_EQ(pixels.size(), 320u * 240u * 3u);
            expect_pixel(pixels, 320, 160, 120, c.expected);
        }
    }
}

TEST_F(GlRendererTest, KeepsThePictureUprightAndCropsCodingPadding) {
    // 256 coded lines for a 240-line stream: the last 16 are padding.
    OwnedPicture pic(PixelLayout::yuv420p, 320, 256, k_white);
    pic.fill(0, 0, 160, 120, k_red);
    pic.fill(160, 0, 160, 120, k_green);
    pic.fill(0, 120, 320, 120, k_blue);
    const auto pixels = draw(pic);
    expect_pixel(pixels, 320, 40, 30, {255, 0, 0});
    expect_pixel(pixels, 320, 280, 30, {0, 255, 0});
    expect_pixel(pixels, 320, 160, 200, {0, 0, 255});
    expect_pixel(pixels, 320, 160, 239, {0, 0, 255});  // no white row at the bottom edge
}

TEST_F(GlRendererTest, ShowsAPictureOfANewSizeWhole) {
    // The first picture after a size change arrives with the old size; it
    // is still shown in full, not cut to a corner.
    OwnedPicture pic(PixelLayout::nv12, 640, 480, k_red);
    pic.fill(480, 360, 160, 120, k_green);
    const auto pixels = draw(pic);
    expect_pixel(pixels, 320, 300, 220, {0, 255, 0});
    expect_pixel(pixels, 320, 100, 100, {255, 0, 0});
}

TEST_F(GlRendererTest, ScalesToTheWindowWithBlackBars) {
    LogCapture log;
    resize_window(640, 240);
    EXPECT_TRUE(log.contains("GlRenderer: resizing 320x240 → 640x240"));
    const auto pixels = draw(OwnedPicture(PixelLayout::nv12, 320, 240, k_white));
    ASSERT_EQ(pixels.size(), 640u * 240u * 3u);
    // A 4:3 picture in a 8:3 window: 160 black columns on either side.
    for (const uint32_t x : {80, 560}) expect_pixel(pixels, 640, x, 120, {0, 0, 0}, 0);
    for (const uint32_t x : {170, 470}) expect_pixel(pixels, 640, x, 120, {255, 255, 255});
}

TEST_F(GlRendererTest, SnapshotRedrawsTheLastPictureUntilAResize) {
    LogCapture log;
    EXPECT_FALSE(renderer_.restore_snapshot());
    const OwnedPicture pic(PixelLayout::yuv420p, 320, 240, k_green);
    draw(pic);
    renderer_.clear();
    expect_pixel(read_and_present(), 320, 10, 10, {0, 0, 0}, 0);
    ASSERT_TRUE(renderer_.restore_snapshot());
    renderer_.bind_render_target();
    expect_pixel(read_and_present(), 320, 10, 10, {0, 255, 0});

    // Same size: nothing happens, the snapshot stays.
    renderer_.resize(320, 240);
    EXPECT_FALSE(log.contains("GlRenderer: resizing"));
    EXPECT_TRUE(renderer_.restore_snapshot());
    renderer_.present();

    resize_window(400, 300);
    EXPECT_FALSE(renderer_.restore_snapshot());
    // The next picture brings the snapshot back, at the new size.
    draw(pic);
    EXPECT_TRUE(renderer_.restore_snapshot());
    expect_pixel(read_and_present(), 400, 200, 150, {0, 255, 0});
}

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

TEST_F(GlRendererTest, RefusesWhatItCannotDrawAndNothingAfterShutdown) {
    LogCapture log;
    EXPECT_EQ(renderer_.render_frame(nullptr, 320, 240), 0.0f);
    OwnedPicture odd(PixelLayout::nv12, 320, 240);
    odd.picture.strides[1] = 321;  // NV12 chroma rows hold whole pairs
    OwnedPicture missing(PixelLayout::yuv420p, 320, 240);
    missing.picture.planes[2] = nullptr;
    OwnedPicture narrow(PixelLayout::yuv420p, 320, 240);
    narrow.picture.strides[0] = 100;  // rows shorter than the picture
    for (const auto* bad : {&odd, &missing, &narrow}) EXPECT_EQ(renderer_.render_frame(&bad->picture, 320, 240), 0.0f);
    EXPECT_FALSE(renderer_.restore_snapshot());
    renderer_.present();  // ends the sequence: one frame

    const OwnedPicture pic(PixelLayout::nv12, 320, 240);
    draw(pic);
    renderer_.shutdown();
    renderer_.shutdown();
    EXPECT_EQ(log.count("GlRenderer: shutdown (2 frames presented)"), 1u);
    EXPECT_EQ(renderer_.render_frame(&pic.picture, 320, 240), 0.0f);
    EXPECT_FALSE(renderer_.restore_snapshot());
    renderer_.present();
    EXPECT_EQ(renderer_.frames_presented(), 2u);
}

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

TEST(Letterbox, FitsThePictureCentred) {
    struct {
        uint32_t pw, ph, ww, wh;
        int32_t x, y, width, height;
    } const cases[] = {
        {1920, 1080, 1920, 1080, 0, 0, 1920, 1080}, {1920, 1080, 1280, 720, 0, 0, 1280, 720},
        {1920, 1080, 1920, 1200, 0, 60, 1920, 1080}, {1280, 720, 1024, 768, 0, 96, 1024, 576},
        {640, 480, 1920, 1080, 240, 0, 1440, 1080},  {0, 0, 800, 600, 0, 0, 800, 600},
    };
    for (const auto& c : cases) {
        const ViewRect r = letterbox(c.pw, c.ph, c.ww, c.wh);
        EXPECT_EQ(std::tie(r.x, r.y, r.width, r.height), std::tie(c.x, c.y, c.width, c.height))
            << c.pw << "x" << c.ph << " in " << c.ww << "x" << c.wh;
    }
}

}  // namespace
}  // namespace nb
