// The launcher window on a private X server: every screen in both languages
// and at the narrow widths, stepped frame by frame through the window's
// after-frame hook, with a screenshot of each for a person to look at.
#include <SDL.h>
#include <gtest/gtest.h>
#include <imgui.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/input/x_server.h"
#include "tests/ui/launcher_fixture.h"
#include "ui/localisation.h"

namespace nb::ui {
namespace {

// Frames a step waits before its screenshot: the resize arrives, then child
// windows take their sizes from the frame before.
constexpr int k_frames_per_step = 4;

struct Step {
    std::string name;
    int width;
    int height;
    std::function<void(NativeLauncher::Impl&)> arrange;
};

std::filesystem::path screenshot_folder() {
    const char* chosen = std::getenv("NB_SCREENSHOT_DIR");
    std::filesystem::path folder = chosen && *chosen ? chosen : "launcher-screenshots";
    std::filesystem::create_directories(folder);
    return folder;
}

// Every code point of UTF-8 `text`.
class LauncherWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server_ = std::make_unique<test::XServer>();
        const std::string display = server_->start("1280x800x24");
        ASSERT_FALSE(display.empty()) << "Xvfb did not start";
        setenv("DISPLAY", display.c_str(), 1);
        setenv("SDL_VIDEODRIVER", "x11", 1);
    }
    static void TearDownTestSuite() { server_.reset(); }
    void TearDown() override { set_language(false); }

    NativeLauncher::Impl& impl() { return launcher_.state(); }

    // Shows the window and walks it through `steps`, then closes it.
    NativeLauncher::Result run_steps(const std::vector<Step>& steps) {
        size_t step = 0;
        int frame = 0;
        impl().after_frame = [&](NativeLauncher::Impl& state, SDL_Window* window) {
            if (step >= steps.size()) return false;
            const Step& current = steps[step];
            if (frame == 0) {
                SDL_SetWindowPosition(window, 0, 0);
                SDL_SetWindowSize(window, current.width, current.height);
                current.arrange(state);
            }
            if (++frame < k_frames_per_step) return true;
            take_screenshot(current);
            frame = 0;
            ++step;
            return true;
        };
        NativeLauncher::Result result = launcher_.show();
        impl().after_frame = nullptr;
        EXPECT_EQ(step, steps.size()) << "the window closed before every screen was drawn";
        return result;
    }

    void take_screenshot(const Step& step) {
        const std::filesystem::path file = screenshot_folder() / (step.name + ".png");
        const std::string command = "import -window root -crop " + std::to_string(step.width) + "x" +
                                    std::to_string(step.height) + "+0+0 +repage " + file.string();
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        EXPECT_TRUE(std::filesystem::exists(file)) << file;
    }

    static inline std::unique_ptr<test::XServer> server_;
    test::TempFolder folder_{"nb-launcher"};
    test::ScriptedBackend backend_;
    NativeLauncher launcher_{backend_.api(), test::folder_store(folder_)};
};

void with_servers(NativeLauncher::Impl& impl) {
    impl.servers = {test::make_server("a1", "RTX 4090", "online", 249, 4.8f),
                    test::make_server("b2", "RTX 3080", "in_session", 149, 4.2f),
                    test::make_server("c3", "RTX 3060", "online", 89, 3.6f),
                    test::make_server("d4", "Radeon RX 7900 XTX", "offline", 199, 4.0f),
                    test::make_server("e5", "", "online", 59, 2.5f),
                    test::make_server("f6", "RTX 4070 Ti", "online", 179, 5.0f)};
    impl.servers[4].gpu_vram_mb = 1023;
    impl.total = 6;
    impl.servers_loaded = true;
}

void at_screen(NativeLauncher::Impl& impl, Screen screen) {
    test::sign_in_as(impl, "Ada Lovelace", 1050);
    with_servers(impl);
    impl.status = {};
    impl.screen = screen;
    impl.session_id.clear();
    impl.session_status.clear();
    impl.ended = false;
    // No poll starts while the pictures are taken.
    impl.last_poll_s = 1e18;
}

void rented(NativeLauncher::Impl& impl, const char* status) {
    at_screen(impl, Screen::Session);
    impl.session_id = "s-1";
    impl.session_status = status;
    impl.duration_sec = 3725;
    impl.cost_cents = 1234;
}

std::vector<Step> every_screen(const std::string& language) {
    const int w = 1120;
    const int h = 720;
    return {
        {"sign-in-" + language, w, h, [](auto& impl) {
             impl.logged_in = false;
             impl.screen = Screen::Auth;
             std::snprintf(impl.email_input.data(), impl.email_input.size(), "ada@example.com");
         }},
        {"register-" + language, w, h, [](auto& impl) {
             impl.logged_in = false;
             impl.screen = Screen::Register;
             impl.role_choice = 1;
         }},
        {"browser-" + language, w, h, [](auto& impl) { at_screen(impl, Screen::Browse); }},
        {"browser-empty-" + language, w, h, [](auto& impl) {
             at_screen(impl, Screen::Browse);
             impl.servers.clear();
         }},
        {"detail-" + language, w, h, [](auto& impl) {
             at_screen(impl, Screen::Detail);
             impl.selected = impl.servers[0];
         }},
        {"detail-unavailable-" + language, w, h, [](auto& impl) {
             at_screen(impl, Screen::Detail);
             impl.selected = impl.servers[1];
         }},
        {"session-preparing-" + language, w, h, [](auto& impl) { rented(impl, "preparing"); }},
        {"session-handshaking-" + language, w, h, [](auto& impl) { rented(impl, "handshaking"); }},
        {"session-streaming-" + language, w, h, [](auto& impl) {
             rented(impl, "streaming");
             impl.ended = true;
             impl.ended_reason.clear();
             impl.ended_time = std::chrono::steady_clock::now();
         }},
        {"session-none-" + language, w, h, [](auto& impl) { at_screen(impl, Screen::Session); }},
        {"settings-" + language, w, h, [](auto& impl) {
             at_screen(impl, Screen::Settings);
             impl.settings_saved = true;
         }},
        {"sidebar-collapsed-700-" + language, 700, h, [](auto& impl) { at_screen(impl, Screen::Browse); }},
        {"browser-narrow-480-" + language, 480, h, [](auto& impl) { at_screen(impl, Screen::Browse); }},
        {"detail-narrow-480-" + language, 480, h, [](auto& impl) {
             at_screen(impl, Screen::Detail);
             impl.selected = impl.servers[0];
         }},
    };
}

TEST_F(LauncherWindow, EveryScreenDrawsInEnglishAndRussian) {
    for (const bool russian : {false, true}) {
        set_language(russian);
        const NativeLauncher::Result result = run_steps(every_screen(russian ? "ru" : "en"));
        EXPECT_TRUE(result.quit);
        EXPECT_FALSE(result.connect);
    }
}

TEST_F(LauncherWindow, LaunchStreamReturnsTheHandOverAndTheWindowOpensAgain) {
    backend_.connect.ok = true;
    backend_.connect.host = "127.0.0.1";
    backend_.connect.token = "agent-token";
    int frames = 0;
    impl().after_frame = [&](NativeLauncher::Impl& state, SDL_Window*) {
        if (++frames == 1) {
            rented(state, "streaming");
            start_launch_stream(state);
        }
        return true;
    };
    const NativeLauncher::Result handed = launcher_.show();
    EXPECT_TRUE(handed.connect);
    EXPECT_FALSE(handed.quit);
    EXPECT_EQ(handed.params.host, "127.0.0.1");
    EXPECT_EQ(handed.params.port, 48001);

    launcher_.notify_session_ended("Session ended");
    EXPECT_EQ(impl().screen, Screen::Browse);
    std::vector<Step> after = {{"session-ended-banner-en", 1120, 720, [](auto& state) {
                                    state.screen = Screen::Session;
                                    state.last_poll_s = 1e18;
                                }}};
    const NativeLauncher::Result again = run_steps(after);
    EXPECT_TRUE(again.quit);
    EXPECT_FALSE(again.connect) << "each show() starts from a fresh result";
}

TEST_F(LauncherWindow, AShutdownRequestClosesTheWindowLikeTheUser) {
    int frames = 0;
    bool requested = false;
    impl().after_frame = [&](NativeLauncher::Impl&, SDL_Window*) {
        requested = ++frames >= 2;
        return true;
    };
    launcher_.set_shutdown_check([&requested] { return requested; });
    const NativeLauncher::Result result = launcher_.show();
    EXPECT_TRUE(result.quit);
    EXPECT_FALSE(result.connect);
    EXPECT_EQ(frames, 2);
}

}  // namespace
}  // namespace nb::ui
