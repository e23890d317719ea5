// GlRenderer on a real X server with Mesa's OpenGL: pictures of known
// samples go in, the back buffer is read back and compared.
#include "video/gl_renderer.h"

#include <gtest/gtest.h>

#include <SDL.h>

#include <array>
#include <future>
#include <thread>
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

// A picture with its own planes; `fill` paints a rectangle.
struct OwnedPicture {
    Picture picture;
    std::array<std::vector<uint8_t>, 3> planes;

    OwnedPicture(PixelLayout layout, uint32_t width, uint32_t height, ColorMatrix matrix = ColorMatrix::unspecified,
                 bool full_range = false) {
        picture.layout = layout;
        picture.width = width;
        picture.height = height;
        picture.matrix = matrix;
        picture.full_range = full_range;
        // Strides wider than the rows, as decoders align them.
        const int32_t luma_stride = static_cast<int32_t>(width + 32);
        const int32_t chroma_stride = layout == PixelLayout::nv12 ? luma_stride : luma_stride / 2;
        const uint32_t ch = (height + 1) / 2;
        planes[0].assign(size_t(luma_stride) * height, 0);
        planes[1].assign(size_t(chroma_stride) * ch, 128);
        if (layout == PixelLayout::yuv420p) planes[2].assign(size_t(chroma_stride) * ch, 128);
        picture.strides = {luma_stride, chroma_stride, layout == PixelLayout::yuv420p ? chroma_stride : 0};
        for (int i = 0; i < 3; ++i) picture.planes[i] = planes[i].empty() ? nullptr : planes[i].data();
    }

    void fill(uint32_t x0, uint32_t y0, uint32_t w, uint32_t h, Yuv c) {
        for (uint32_t y = y0; y < y0 + h; ++y)
            for (uint32_t x = x0; x < x0 + w; ++x) planes[0][y * picture.strides[0] + x] = c.y;
        for (uint32_t y = y0 / 2; y < (y0 + h) / 2; ++y) {
            for (uint32_t x = x0 / 2; x < (x0 + w) / 2; ++x) {
                if (picture.layout == PixelLayout::nv12) {
                    planes[1][y * picture.strides[1] + 2 * x] = c.cb;
                    planes[1][y * picture.strides[1] + 2 * x + 1] = c.cr;
                } else {
                    planes[1][y * picture.strides[1] + x] = c.cb;
                    planes[2][y * picture.strides[2] + x] = c.cr;
                }
            }
        }
    }
};

class GlRendererTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(test::ensure_x_display());
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    }
    // SDL stays up until the process ends: SDL_Quit would unload the GL
    // driver, and the leak checker could then no longer tell its allocations
    // from ours.

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
        for (int i = 0; i < 50; ++i) {
            int cw = 0, ch = 0;
            SDL_PumpEvents();
            SDL_GL_GetDrawableSize(window_, &cw, &ch);
            if (cw == int(w) && ch == int(h)) break;
            SDL_Delay(10);
        }
        renderer_.resize(w, h);
    }

    // Reads the back buffer of the sequence in progress, then presents.
    std::vector<uint8_t> read_and_present() {
        auto pixels = renderer_.read_back_buffer();
        renderer_.present();
        return pixels;
    }

    static Rgb pixel(const std::vector<uint8_t>& rows, uint32_t width, uint32_t x, uint32_t y) {
        const size_t i = (size_t(y) * width + x) * 3;
        return {rows[i], rows[i + 1], rows[i + 2]};
    }

    SDL_Window* window_ = nullptr;
    GlRenderer renderer_;
};

#define EXPECT_RGB_NEAR(actual, expected, tolerance)            \
    do {                                                        \
        const Rgb a_ = (actual);                                \
        const Rgb e_ = (expected);                              \
        EXPECT_NEAR(a_.r, e_.r, tolerance) << "red";            \
        EXPECT_NEAR(a_.g, e_.g, tolerance) << "green";          \
        EXPECT_NEAR(a_.b, e_.b, tolerance) << "blue";           \
    } while (0)

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
            EXPECT_RGB_NEAR(pixel(pixels, 320, 160, 120), c.expected, 3);
        }
    }
}

TEST_F(GlRendererTest, KeepsThePictureUprightAndCropsCodingPadding) {
    // 256 coded lines for a 240-line stream: the last 16 are padding.
    OwnedPicture pic(PixelLayout::yuv420p, 320, 256, ColorMatrix::bt709);
    pic.fill(0, 0, 160, 120, {63, 102, 240});     // red, top left
    pic.fill(160, 0, 160, 120, {173, 42, 26});    // green, top right
    pic.fill(0, 120, 320, 120, {32, 240, 118});   // blue, bottom
    pic.fill(0, 240, 320, 16, {235, 128, 128});   // white padding
    renderer_.render_frame(&pic.picture, 320, 240);
    const auto pixels = read_and_present();
    EXPECT_RGB_NEAR(pixel(pixels, 320, 40, 30), (Rgb{255, 0, 0}), 3);
    EXPECT_RGB_NEAR(pixel(pixels, 320, 280, 30), (Rgb{0, 255, 0}), 3);
    EXPECT_RGB_NEAR(pixel(pixels, 320, 160, 200), (Rgb{0, 0, 255}), 3);
    // No white row anywhere near the bottom edge.
    EXPECT_RGB_NEAR(pixel(pixels, 320, 160, 239), (Rgb{0, 0, 255}), 3);
}

TEST_F(GlRendererTest, ShowsAPictureOfANewSizeWhole) {
    // The first picture after a stream's size change arrives with the old
    // size; it is still shown in full, not cut to a corner.
    OwnedPicture pic(PixelLayout::nv12, 640, 480, ColorMatrix::bt709);
    pic.fill(0, 0, 640, 480, {63, 102, 240});
    pic.fill(480, 360, 160, 120, {173, 42, 26});  // green, bottom right
    renderer_.render_frame(&pic.picture, 320, 240);
    const auto pixels = read_and_present();
    EXPECT_RGB_NEAR(pixel(pixels, 320, 300, 220), (Rgb{0, 255, 0}), 3);
    EXPECT_RGB_NEAR(pixel(pixels, 320, 100, 100), (Rgb{255, 0, 0}), 3);
}

TEST_F(GlRendererTest, ScalesToTheWindowWithBlackBars) {
    LogCapture log;
    resize_window(640, 240);
    EXPECT_TRUE(log.contains("GlRenderer: resizing 320x240 → 640x240"));
    OwnedPicture pic(PixelLayout::nv12, 320, 240, ColorMatrix::bt709);
    pic.fill(0, 0, 320, 240, {235, 128, 128});
    renderer_.render_frame(&pic.picture, 320, 240);
    const auto pixels = read_and_present();
    ASSERT_EQ(pixels.size(), 640u * 240u * 3u);
    // A 4:3 picture in a 8:3 window: 160 black columns on either side.
    EXPECT_RGB_NEAR(pixel(pixels, 640, 80, 120), (Rgb{0, 0, 0}), 0);
    EXPECT_RGB_NEAR(pixel(pixels, 640, 560, 120), (Rgb{0, 0, 0}), 0);
    EXPECT_RGB_NEAR(pixel(pixels, 640, 170, 120), (Rgb{255, 255, 255}), 3);
    EXPECT_RGB_NEAR(pixel(pixels, 640, 470, 120), (Rgb{255, 255, 255}), 3);
}

TEST_F(GlRendererTest, SnapshotRedrawsTheLastPictureUntilAResize) {
    LogCapture log;
    EXPECT_FALSE(renderer_.restore_snapshot());
    OwnedPicture pic(PixelLayout::yuv420p, 320, 240, ColorMatrix::bt709);
    pic.fill(0, 0, 320, 240, {173, 42, 26});
    renderer_.render_frame(&pic.picture, 320, 240);
    renderer_.present();

    renderer_.clear();
    EXPECT_RGB_NEAR(pixel(read_and_present(), 320, 10, 10), (Rgb{0, 0, 0}), 0);
    ASSERT_TRUE(renderer_.restore_snapshot());
    renderer_.bind_render_target();
    EXPECT_RGB_NEAR(pixel(read_and_present(), 320, 10, 10), (Rgb{0, 255, 0}), 3);

    // Same size: nothing happens, the snapshot stays.
    renderer_.resize(320, 240);
    EXPECT_FALSE(log.contains("GlRenderer: resizing"));
    EXPECT_TRUE(renderer_.restore_snapshot());
    renderer_.present();

    resize_window(400, 300);
    EXPECT_FALSE(renderer_.restore_snapshot());
    // The next picture brings the snapshot back, at the new size.
    renderer_.render_frame(&pic.picture, 320, 240);
    renderer_.present();
    EXPECT_TRUE(renderer_.restore_snapshot());
    EXPECT_RGB_NEAR(pixel(read_and_present(), 400, 200, 150), (Rgb{0, 255, 0}), 3);
}

TEST_F(GlRendererTest, ContextFollowsTheCallingThread) {
    // Pictures arrive on whichever I/O thread completed them, the event
    // loop redraws on the main thread; each sequence ends with present.
    const Yuv colours[] = {{63, 102, 240}, {173, 42, 26}, {32, 240, 118}};
    const Rgb expected[] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    OwnedPicture pic(PixelLayout::nv12, 320, 240, ColorMatrix::bt709);
    for (int round = 0; round < 6; ++round) {
        pic.fill(0, 0, 320, 240, colours[round % 3]);
        std::vector<uint8_t> pixels;
        std::thread io([&] {
            renderer_.render_frame(&pic.picture, 320, 240);
            renderer_.bind_render_target();
            pixels = read_and_present();
        });
        io.join();
        SCOPED_TRACE("round " + std::to_string(round));
        EXPECT_RGB_NEAR(pixel(pixels, 320, 100, 100), expected[round % 3], 3);
        ASSERT_TRUE(renderer_.restore_snapshot());
        EXPECT_RGB_NEAR(pixel(read_and_present(), 320, 100, 100), expected[round % 3], 3);
    }
    EXPECT_EQ(renderer_.frames_presented(), 12u);
}

TEST_F(GlRendererTest, SequenceAbandonedOnAThreadHoldsTheContextUntilReleased) {
    LogCapture log;
    OwnedPicture pic(PixelLayout::nv12, 320, 240, ColorMatrix::bt709);
    pic.fill(0, 0, 320, 240, {63, 102, 240});
    std::promise<void> drawn;
    std::promise<void> give_back;
    std::thread io([&] {
        renderer_.render_frame(&pic.picture, 320, 240);
        drawn.set_value();
        give_back.get_future().wait();
        renderer_.release_current();
    });
    drawn.get_future().wait();
    // The I/O thread left without presenting: nobody else may draw.
    EXPECT_EQ(renderer_.render_frame(&pic.picture, 320, 240), 0.0f);
    EXPECT_TRUE(log.contains("GlRenderer: GL context still held by another thread"));
    give_back.set_value();
    io.join();
    EXPECT_GT(renderer_.render_frame(&pic.picture, 320, 240), 0.0f);
    EXPECT_RGB_NEAR(pixel(read_and_present(), 320, 100, 100), (Rgb{255, 0, 0}), 3);
}

TEST_F(GlRendererTest, RefusesWhatItCannotDraw) {
    EXPECT_EQ(renderer_.render_frame(nullptr, 320, 240), 0.0f);
    OwnedPicture odd(PixelLayout::nv12, 320, 240);
    odd.picture.strides[1] = 321;  // NV12 chroma rows hold whole pairs
    EXPECT_EQ(renderer_.render_frame(&odd.picture, 320, 240), 0.0f);
    OwnedPicture missing(PixelLayout::yuv420p, 320, 240);
    missing.picture.planes[2] = nullptr;
    EXPECT_EQ(renderer_.render_frame(&missing.picture, 320, 240), 0.0f);
    OwnedPicture narrow(PixelLayout::yuv420p, 320, 240);
    narrow.picture.strides[0] = 100;  // rows shorter than the picture
    EXPECT_EQ(renderer_.render_frame(&narrow.picture, 320, 240), 0.0f);
    EXPECT_FALSE(renderer_.restore_snapshot());
    renderer_.present();
}

TEST_F(GlRendererTest, ShutdownIsIdempotentAndLeavesAnInertRenderer) {
    LogCapture log;
    OwnedPicture pic(PixelLayout::nv12, 320, 240);
    renderer_.render_frame(&pic.picture, 320, 240);
    renderer_.present();
    renderer_.shutdown();
    renderer_.shutdown();
    EXPECT_EQ(log.count("GlRenderer: shutdown (1 frames presented)"), 1u);
    EXPECT_EQ(renderer_.render_frame(&pic.picture, 320, 240), 0.0f);
    EXPECT_FALSE(renderer_.restore_snapshot());
    renderer_.present();
    EXPECT_EQ(renderer_.frames_presented(), 1u);
}

TEST(GlRendererNoWindow, InitializeWithoutWindowFails) {
    LogCapture log;
    GlRenderer renderer;
    EXPECT_FALSE(renderer.initialize(nullptr, 320, 240));
    EXPECT_TRUE(log.contains("GlRenderer: failed to create context"));
    OwnedPicture pic(PixelLayout::nv12, 16, 16);
    EXPECT_EQ(renderer.render_frame(&pic.picture, 16, 16), 0.0f);
    renderer.shutdown();
    EXPECT_FALSE(log.contains("GlRenderer: shutdown"));
}

struct LetterboxCase {
    uint32_t pw, ph, ww, wh;
    ViewRect expected;
};

TEST(Letterbox, FitsThePictureCentred) {
    const LetterboxCase cases[] = {
        {1920, 1080, 1920, 1080, {0, 0, 1920, 1080}},
        {1920, 1080, 1280, 720, {0, 0, 1280, 720}},
        {1920, 1080, 1920, 1200, {0, 60, 1920, 1080}},
        {1280, 720, 1024, 768, {0, 96, 1024, 576}},
        {640, 480, 1920, 1080, {240, 0, 1440, 1080}},
        {0, 0, 800, 600, {0, 0, 800, 600}},
    };
    for (const auto& c : cases) {
        const ViewRect r = letterbox(c.pw, c.ph, c.ww, c.wh);
        EXPECT_EQ(r.x, c.expected.x);
        EXPECT_EQ(r.y, c.expected.y);
        EXPECT_EQ(r.width, c.expected.width);
        EXPECT_EQ(r.height, c.expected.height);
    }
}

}  // namespace
}  // namespace nb
