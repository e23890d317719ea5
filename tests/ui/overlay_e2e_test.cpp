// The in-stream overlay in the real client over a real stream from the test
// agent: both panels on screen, a bitrate change reaching the agent, input
// held back while the panel is up, and redraws over a frozen picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <set>
#include <thread>

#include "tests/e2e/stream_session.h"

namespace nb {
namespace {

using namespace std::chrono_literals;
using test::RgbImage;
using test::StreamSession;

constexpr int k_width = 960;
constexpr int k_height = 540;

struct Rgb {
    int r;
    int g;
    int b;
};

// The overlay's colours as the screen shows them (panel at 94 % over the
// picture, accents opaque).
constexpr Rgb k_panel{13, 20, 36};
constexpr Rgb k_blue{77, 158, 255};
constexpr Rgb k_violet{129, 64, 237};

struct Rect {
    int x0;
    int y0;
    int x1;
    int y1;
};

// Where the panel may be: its default corner, 264 wide.
constexpr Rect k_panel_area{16, 16, 16 + 264, 16 + 300};

bool near(const uint8_t* pixel, Rgb colour, int tolerance) {
    return std::abs(pixel[0] - colour.r) <= tolerance && std::abs(pixel[1] - colour.g) <= tolerance &&
           std::abs(pixel[2] - colour.b) <= tolerance;
}

int count_near(const RgbImage& image, Rect area, Rgb colour, int tolerance = 14) {
    int n = 0;
    for (int y = area.y0; y < std::min(area.y1, image.height); ++y) {
        for (int x = area.x0; x < std::min(area.x1, image.width); ++x) {
            if (near(image.at(x, y), colour, tolerance)) ++n;
        }
    }
    return n;
}

int pixels_differing(const RgbImage& a, const RgbImage& b, Rect area) {
    int n = 0;
    for (int y = area.y0; y < area.y1; ++y) {
        for (int x = area.x0; x < area.x1; ++x) {
            if (!near(a.at(x, y), {b.at(x, y)[0], b.at(x, y)[1], b.at(x, y)[2]}, 24)) ++n;
        }
    }
    return n;
}

// A point inside the bitrate slider's grab: the topmost solid violet block
// below the title row (whose accent dot is violet too).
std::optional<std::pair<int, int>> slider_grab(const RgbImage& image) {
    for (int y = k_panel_area.y0 + 60; y < std::min(k_panel_area.y1, image.height); ++y) {
        int run = 0;
        for (int x = k_panel_area.x0; x < k_panel_area.x1; ++x) {
            run = near(image.at(x, y), k_violet, 30) ? run + 1 : 0;
            if (run >= 8) return std::make_pair(x - run / 2, y + 6);
        }
    }
    return std::nullopt;
}

// The window's top-left corner on the screen.
std::pair<int, int> window_origin(StreamSession& session) {
    const std::string geometry = test::shell_output("xdotool getwindowgeometry --shell " + session.window_id());
    auto value = [&](const std::string& key) {
        const size_t at = geometry.find(key + "=");
        return at == std::string::npos ? 0 : std::atoi(geometry.c_str() + at + key.size() + 1);
    };
    return {value("X"), value("Y")};
}

class OverlayEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X server (run under xvfb-run)";
    }

    static StreamSession make_session(const std::string& name, std::vector<std::string> agent_args = {}) {
        test::StreamOptions options;
        options.width = k_width;
        options.height = k_height;
        options.agent_args = std::move(agent_args);
        return StreamSession(name, options);
    }

    // Screenshots until `accept` holds or the patience runs out.
    static std::optional<RgbImage> wait_for_shot(StreamSession& session, const std::string& name,
                                                 const std::function<bool(const RgbImage&)>& accept) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        std::optional<RgbImage> shot;
        while (std::chrono::steady_clock::now() < deadline) {
            shot = session.screenshot(name);
            if (shot && accept(*shot)) return shot;
            std::this_thread::sleep_for(150ms);
        }
        return shot;
    }

    // Virtual keys whose last record at the agent was a press.
    static std::set<int> keys_down_at_agent(StreamSession& session) {
        std::set<int> down;
        for (const auto& event : session.agent_events("input")) {
            if (event.value("duplicate", false)) continue;
            const int type = event.value("type", -1);
            if (type == 3) down.insert(event.value("x", 0));
            if (type == 4) down.erase(event.value("x", 0));
        }
        return down;
    }

    static bool shows_panel(const RgbImage& image) { return count_near(image, k_panel_area, k_panel, 20) > 8000; }

    // With NB_SCREENSHOT_DIR set, keeps a PNG of the window for the docs.
    static void keep_png(StreamSession& session, const std::string& name) {
        const char* dir = std::getenv("NB_SCREENSHOT_DIR");
        if (!dir) return;
        test::shell_output("import -window " + session.window_id() + " png:" + std::string(dir) + "/" + name +
                           ".png 2>/dev/null");
    }

    static size_t settings_events(StreamSession& session) { return session.agent_events("set_settings").size(); }
};

TEST_F(OverlayEndToEnd, PanelsShowOverThePictureAndABitrateReleaseReachesTheAgentOnce) {
    StreamSession session = make_session("nubora-e2e-overlay");
    ASSERT_TRUE(session.start()) << session.outputs();
    ASSERT_FALSE(session.window_id().empty());
    const auto playing = wait_for_shot(session, "playing", [](const RgbImage& shot) {
        return shot.width == k_width && count_near(shot, {0, 0, k_width, k_height}, {0, 0, 0}, 10) <
                                            k_width * k_height / 2;
    });
    ASSERT_TRUE(playing.has_value());
    EXPECT_FALSE(shows_panel(*playing)) << "the overlay starts hidden";
    session.focus();

    // Information panel: dark panel with blue accents at the top-left. The
    // hot key's presses reached the agent before the panel took the input;
    // it must not be left holding them while the keys are released here.
    // They are held past the keyboard's auto-repeat delay, whose repeats
    // must not hide the panel again.
    ASSERT_TRUE(session.press_until_logged("shift+alt+i", "Overlay: information panel shown", true));
    std::this_thread::sleep_for(1200ms);
    EXPECT_EQ(keys_down_at_agent(session), std::set<int>{}) << "a hot key stayed held on the remote";
    session.xdotool("keyup shift+alt+i");
    EXPECT_EQ(StreamSession::occurrences(session.client().output(), "Overlay: hidden"), 0u);
    const auto info = wait_for_shot(session, "info", shows_panel);
    ASSERT_TRUE(info && shows_panel(*info)) << session.client().output();
    EXPECT_GT(count_near(*info, k_panel_area, k_blue, 30), 40) << "accent dot, session time, balance";
    keep_png(session, "overlay-info");
    const int info_violet = count_near(*info, k_panel_area, k_violet, 30);

    // Settings panel: same place, violet slider grabs.
    ASSERT_TRUE(session.press_until_logged("shift+alt+q", "Overlay: settings panel shown"));
    const auto settings = wait_for_shot(session, "settings", [&](const RgbImage& shot) {
        return shows_panel(shot) && slider_grab(shot).has_value();
    });
    ASSERT_TRUE(settings && shows_panel(*settings)) << session.client().output();
    EXPECT_GT(count_near(*settings, k_panel_area, k_violet, 30), info_violet + 100);
    keep_png(session, "overlay-settings");

    // While the panel is up nothing the user does reaches the agent.
    std::this_thread::sleep_for(500ms);
    const size_t inputs_before = session.agent_events("input").size();

    const auto grab = slider_grab(*settings);
    ASSERT_TRUE(grab.has_value());
    // Moves go through XTEST in screen coordinates, as a real mouse's do.
    const std::pair<int, int> origin = window_origin(session);
    const std::string y = std::to_string(origin.second + grab->second);
    auto move_to = [&](int x) { session.xdotool("mousemove " + std::to_string(origin.first + x) + " " + y); };
    move_to(grab->first);
    std::this_thread::sleep_for(200ms);
    session.xdotool("mousedown 1");
    std::this_thread::sleep_for(200ms);
    move_to(grab->first + 60);
    std::this_thread::sleep_for(200ms);
    // Far past the slider's end: the value pins at the top of the range.
    move_to(700);
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(settings_events(session), 0u) << "nothing is sent while the slider is held";
    session.xdotool("mouseup 1");
    ASSERT_TRUE(session.client().wait_for_output("Overlay: sent settings change to agent", std::chrono::seconds(10)))
        << session.client().output();
    session.xdotool("key a b c");
    session.xdotool("click 3");
    std::this_thread::sleep_for(800ms);

    const auto changes = session.agent_events("set_settings");
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].value("bitrate", 0), 50000);
    EXPECT_EQ(changes[0].contains("width"), false);
    EXPECT_EQ(session.agent_events("input").size(), inputs_before) << "input leaked past the overlay";

    // Hidden again, input flows once more.
    ASSERT_TRUE(session.press_until_logged("shift+alt+q", "Overlay: hidden"));
    std::this_thread::sleep_for(300ms);
    session.xdotool("click 1");
    session.xdotool("mousemove_relative -- 20 10");
    std::this_thread::sleep_for(800ms);
    EXPECT_GT(session.agent_events("input").size(), inputs_before);

    session.client().signal(SIGINT);
    ASSERT_EQ(session.client().wait_exit(), 0) << session.client().output();
    const std::string out = session.client().output();
    EXPECT_NE(out.find("Overlay: initialized"), std::string::npos);
    EXPECT_NE(out.find("StatsReporter: started (interval=100ms)"), std::string::npos);
    EXPECT_NE(out.find("StatsReporter: stopped"), std::string::npos);
    EXPECT_NE(out.find("Overlay: shutdown"), std::string::npos);
    EXPECT_EQ(out.find("Overlay: active-session FPS change"), std::string::npos);

    // The agent saw the reporter's pings and statistics.
    EXPECT_GT(session.agent_events("pong").size(), 2u);
    const auto stats = session.agent_events("stats");
    ASSERT_GT(stats.size(), 10u);
    bool saw_fps = false;
    for (const auto& line : stats) {
        for (const char* key : {"decoded_fps", "jitter_ms", "packet_loss_pct", "rtt_ms"}) {
            EXPECT_TRUE(line.contains(key)) << line.dump();
        }
        if (line.value("decoded_fps", 0.0) > 0.0) saw_fps = true;
    }
    EXPECT_TRUE(saw_fps) << "a playing stream reports its decoded frame rate";
}

TEST_F(OverlayEndToEnd, FrozenStreamStillRedrawsThePanel) {
    // Every frame after the first second is withheld: the picture freezes
    // while the session stays up.
    std::string withheld;
    for (int id = 60; id < 6000; ++id) withheld += (withheld.empty() ? "" : ",") + std::to_string(id);
    StreamSession session = make_session("nubora-e2e-overlay-frozen", {"--withhold-frames", withheld});
    ASSERT_TRUE(session.start()) << session.outputs();
    ASSERT_FALSE(session.window_id().empty());
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (session.agent_events("frame_sent").size() < 90 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(100ms);
    }
    ASSERT_TRUE(session.press_until_logged("shift+alt+i", "Overlay: information panel shown"));
    const auto first = wait_for_shot(session, "frozen-1", shows_panel);
    ASSERT_TRUE(first && shows_panel(*first)) << session.client().output();
    // The session clock in the panel ticks on although no picture arrives.
    std::this_thread::sleep_for(1500ms);
    const auto second = session.screenshot("frozen-2");
    ASSERT_TRUE(second && shows_panel(*second));
    EXPECT_GT(pixels_differing(*first, *second, k_panel_area), 10);
    EXPECT_EQ(pixels_differing(*first, *second, {400, 100, k_width, k_height}), 0) << "the picture is frozen";

    session.client().signal(SIGINT);
    ASSERT_EQ(session.client().wait_exit(), 0) << session.client().output();
    const auto frames = session.frame_counts();
    ASSERT_TRUE(frames) << session.client().output();
    EXPECT_GT(frames->presented, frames->decoded + 10) << "overlay refreshes present without new pictures";
}

}  // namespace
}  // namespace nb
