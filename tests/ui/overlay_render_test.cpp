// The overlay drawn by the real GL renderer into a window on an X server,
// driven by real pointer events: what it paints, where, and what a drag of
// its handle or its bitrate slider does.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/input/x_server.h"
#include "ui/overlay_imgui.h"
#include "video/gl_renderer.h"

// Xlib's macros (None, Bool, ...) must come after the test framework's headers.
#include <SDL_syswm.h>

namespace nb::ui {
namespace {

constexpr uint32_t k_width = 640;
constexpr uint32_t k_height = 360;

struct Rgb {
    int r;
    int g;
    int b;
};

class OverlayRenderTest : public ::testing::Test {
protected:
    // The pointer is the server's, shared by every client: a private server
    // keeps other suites' pointer moves out of these drags.
    static void SetUpTestSuite() {
        server_ = std::make_unique<test::XServer>();
        const std::string display = server_->start();
        ASSERT_FALSE(display.empty()) << "Xvfb did not start";
        setenv("DISPLAY", display.c_str(), 1);
        setenv("SDL_VIDEODRIVER", "x11", 1);
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    }

    void SetUp() override {
        GlRenderer::prepare_window_attributes();
        window_ = SDL_CreateWindow("nb_test_ui", 0, 0, k_width, k_height, SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN);
        ASSERT_NE(window_, nullptr) << SDL_GetError();
        ASSERT_TRUE(renderer_.initialize(window_, k_width, k_height));
        ASSERT_TRUE(overlay_.initialize(
            make_gl_overlay_backend(renderer_.window(), renderer_.gl_context(), GlRenderer::k_glsl_version)));
        overlay_.set_change_callback([this](const StreamingChange& change) { changes_.push_back(change); });
        SDL_SysWMinfo info;
        SDL_VERSION(&info.version);
        ASSERT_TRUE(SDL_GetWindowWMInfo(window_, &info));
        window_id_ = std::to_string(info.info.x11.window);
        xdotool("windowfocus " + window_id_);
        settle();
    }

    void TearDown() override {
        overlay_.shutdown();
        renderer_.shutdown();
        if (window_) SDL_DestroyWindow(window_);
    }

    static void xdotool(const std::string& arguments) {
        const std::string command = "xdotool " + arguments + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }

    // One presented frame of a black picture with the overlay on top; the
    // back buffer as RGB rows from the top.
    std::vector<uint8_t> frame() {
        renderer_.clear();
        renderer_.bind_render_target();
        overlay_.draw(stats_, LiveSessionInfo{});
        auto pixels = renderer_.read_back_buffer();
        renderer_.present();
        return pixels;
    }

    // Hands the window's pending events to the overlay, as the event loop
    // does, and draws a few frames so the GUI sees them.
    void settle() {
        for (int i = 0; i < 6; ++i) {
            SDL_Event event;
            while (SDL_PollEvent(&event)) overlay_.handle_event(event);
            frame();
            SDL_Delay(10);
        }
    }

    static Rgb at(const std::vector<uint8_t>& rows, int x, int y) {
        const size_t i = (static_cast<size_t>(y) * k_width + x) * 3;
        return {rows[i], rows[i + 1], rows[i + 2]};
    }

    static bool near(Rgb a, Rgb b, int tolerance) {
        return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
               std::abs(a.b - b.b) <= tolerance;
    }

    // The first solid violet run below the title row: the bitrate grab.
    static std::optional<std::pair<int, int>> bitrate_grab(const std::vector<uint8_t>& rows) {
        for (int y = 80; y < 300; ++y) {
            int run = 0;
            for (int x = 16; x < 280; ++x) {
                run = near(at(rows, x, y), {129, 64, 237}, 30) ? run + 1 : 0;
                if (run >= 8) return std::make_pair(x - run / 2, y + 6);
            }
        }
        return std::nullopt;
    }

    void drag(int from_x, int from_y, int to_x, int to_y) {
        xdotool("mousemove --window " + window_id_ + " " + std::to_string(from_x) + " " + std::to_string(from_y));
        settle();
        xdotool("mousedown 1");
        settle();
        xdotool("mousemove --window " + window_id_ + " " + std::to_string(to_x) + " " + std::to_string(to_y));
        settle();
    }

    void release() {
        xdotool("mouseup 1");
        settle();
    }

    static inline std::unique_ptr<test::XServer> server_;
    SDL_Window* window_ = nullptr;
    GlRenderer renderer_;
    OverlayImGui overlay_;
    OverlayStats stats_{.rtt_ms = 12.0f, .presented_fps = 60.0f, .bitrate_kbps = 30000, .codec_name = "H.264"};
    std::vector<StreamingChange> changes_;
    std::string window_id_;
};

TEST_F(OverlayRenderTest, PanelPaintsAtItsCornerOnlyWhileShown) {
    const auto hidden = frame();
    EXPECT_TRUE(near(at(hidden, 20, 120), {0, 0, 0}, 2)) << "a hidden overlay leaves the picture alone";

    overlay_.toggle(OverlayMode::information);
    settle();  // a panel that sizes itself appears from its second frame on
    const auto shown = frame();
    EXPECT_EQ(overlay_.position().x, 16.0f);
    EXPECT_EQ(overlay_.position().y, 16.0f);
    // The panel's navy at 94 % over black, inside its left padding.
    EXPECT_TRUE(near(at(shown, 19, 120), {12, 19, 34}, 4));
    EXPECT_TRUE(near(at(shown, 10, 120), {0, 0, 0}, 2)) << "nothing left of the panel";
    EXPECT_TRUE(near(at(shown, 400, 120), {0, 0, 0}, 2)) << "nothing right of the panel";
}

TEST_F(OverlayRenderTest, FrameTimeGraphDrawsTotalAndDecodeLines) {
    overlay_.toggle(OverlayMode::information);
    settle();
    const auto without = frame();

    // Two seconds at 60 fps: totals of 8 to 24 ms, decodes of 2 to 6 ms.
    std::vector<float> total(120);
    std::vector<float> decode(120);
    for (size_t i = 0; i < total.size(); ++i) {
        total[i] = 8.0f + static_cast<float>(i % 17);
        decode[i] = total[i] / 4.0f;
    }
    stats_.total_history_ms = total;
    stats_.decode_history_ms = decode;
    settle();
    const auto with = frame();
    // Pixels of the panel's column close to a colour.
    const auto count_near = [](const std::vector<uint8_t>& rows, Rgb colour, int tolerance) {
        size_t n = 0;
        for (int y = 16; y < static_cast<int>(k_height); ++y) {
            for (int x = 16; x < 280; ++x) n += near(at(rows, x, y), colour, tolerance) ? 1 : 0;
        }
        return n;
    };
    constexpr Rgb light_blue{97, 165, 250};
    constexpr Rgb violet{129, 64, 237};
    EXPECT_GT(count_near(with, light_blue, 40), count_near(without, light_blue, 40) + 100) << "total line missing";
    EXPECT_GT(count_near(with, violet, 40), count_near(without, violet, 40) + 100) << "decode line missing";
}

TEST_F(OverlayRenderTest, DraggedHandleStopsWithThePanel280PixelsFromTheRightBorder) {
    overlay_.toggle(OverlayMode::information);
    settle();
    drag(100, 28, 630, 28);
    release();
    EXPECT_EQ(overlay_.position().x, static_cast<float>(k_width) - 280.0f);
    EXPECT_EQ(overlay_.position().y, 16.0f);
    // Drawn where it now stands.
    const auto moved = frame();
    EXPECT_TRUE(near(at(moved, 364, 120), {12, 19, 34}, 4));
    EXPECT_TRUE(near(at(moved, 19, 120), {0, 0, 0}, 2));
    EXPECT_TRUE(changes_.empty());
}

TEST_F(OverlayRenderTest, BitrateSliderReportsOnceWhenReleased) {
    overlay_.set_stream_info(30000, 60, k_width, k_height);
    overlay_.toggle(OverlayMode::settings);
    settle();
    const auto grab = bitrate_grab(frame());
    ASSERT_TRUE(grab.has_value());

    drag(grab->first, grab->second, grab->first + 400, grab->second);
    EXPECT_TRUE(changes_.empty()) << "holding the slider reports nothing";
    release();
    ASSERT_EQ(changes_.size(), 1u);
    EXPECT_EQ(changes_[0], (StreamingChange{50000, 0, 0, 0})) << "pinned at the top of the range";
    settle();
    EXPECT_EQ(changes_.size(), 1u);
}

}  // namespace
}  // namespace nb::ui
