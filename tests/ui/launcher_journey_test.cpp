// A new user's whole journey through the real client, driven with xdotool on
// a private X server against nubora-backend-sim and the agents it starts:
// register, sign out, sign in, browse, open a PC, rent it, stream it, close
// the stream, see "Session ended", terminate, sign out, and find the session
// remembered across a restart.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "tests/input/x_server.h"
#include "tests/support/client_process.h"
#include "tests/ui/x_window_close.h"

namespace nb {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;

// Where the launcher window's items sit in its 1120 x 720 layout.
struct Point {
    int x;
    int y;
};
constexpr Point k_create_one{813, 471};
constexpr Point k_register_name{795, 247};
constexpr Point k_register_email{795, 321};
constexpr Point k_register_password{795, 395};
constexpr Point k_create_account{795, 524};
constexpr Point k_sign_in_password{795, 325};
constexpr Point k_sign_in_button{795, 428};
// The catalogue sorted by rating opens with an offline PC; the second is online.
constexpr Point k_second_card_details{749, 331};
constexpr Point k_rent{921, 292};
constexpr Point k_nav_session{110, 163};
constexpr Point k_launch_stream{510, 185};
constexpr Point k_terminate{510, 230};
constexpr Point k_sign_out{110, 636};

std::string run_output(const std::string& command) {
    std::string text;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return text;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe.get())) text += buffer;
    return text;
}

class LauncherJourney : public ::testing::Test {
protected:
    void SetUp() override {
        display_ = server_.start("1280x800x24");
        ASSERT_FALSE(display_.empty()) << "Xvfb did not start";
        setenv("DISPLAY", display_.c_str(), 1);
        dir_ = test::fresh_temp_dir("nb-journey");
        std::filesystem::create_directories(dir_ / "backend");
        backend_ = std::make_unique<ChildProcess>(
            test::build_dir() / "nubora-backend-sim",
            std::vector<std::string>{"--port", "0", "--port-file", (dir_ / "port").string(), "--seed-demo",
                                     "--fast-password-hash", "--prepare-delay", "500", "--db",
                                     (dir_ / "backend.sqlite").string(), "--agent",
                                     (test::build_dir() / "nubora-agent-sim").string()},
            std::vector<std::pair<std::string, std::string>>{}, dir_ / "backend");
        ASSERT_TRUE(backend_->wait_for_output("listening", 20s)) << backend_->output();
        std::ifstream port_file(dir_ / "port");
        port_file >> port_;
        ASSERT_FALSE(port_.empty());
    }

    void start_launcher() {
        const std::filesystem::path work = dir_ / ("client-" + std::to_string(++launches_));
        std::filesystem::create_directories(work);
        launcher_ = std::make_unique<ChildProcess>(
            test::build_dir() / "nubora-launcher", std::vector<std::string>{},
            std::vector<std::pair<std::string, std::string>>{
                {"NB_SAAS_URL", "127.0.0.1:" + port_},
                {"APPDATA", (dir_ / "appdata").string()},
                {"XDG_DATA_HOME", (dir_ / "data").string()},
                {"SDL_VIDEODRIVER", "x11"},
                {"SDL_AUDIODRIVER", "disk"},
                {"SDL_DISKAUDIOFILE", (work / "audio.raw").string()}},
            work);
        find_window();
        expect_log("NativeLauncher: window shown");
    }

    void find_window() {
        window_ = run_output("xdotool search --sync --onlyvisible --name '^Nubora$' | tail -1");
        while (!window_.empty() && (window_.back() == '\n')) window_.pop_back();
        ASSERT_FALSE(window_.empty());
        // No window manager: give the window the keyboard as a click would.
        ASSERT_EQ(std::system(("xdotool windowfocus --sync " + window_).c_str()), 0);
    }

    void click(Point at) {
        const std::string command = "xdotool mousemove --window " + window_ + " " + std::to_string(at.x) + " " +
                                    std::to_string(at.y) + " click 1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }

    void type_into(Point at, const std::string& text) {
        click(at);
        const std::string command = "xdotool type --delay 20 '" + text + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }

    void expect_log(const std::string& text, std::chrono::seconds limit = 30s) {
        EXPECT_TRUE(launcher_->wait_for_output(text, limit)) << "missing: " << text << "\n" << launcher_->output();
    }

    // Waits until `text` has been logged `count` times.
    void expect_log_count(const std::string& text, size_t count, std::chrono::seconds limit = 30s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        size_t seen = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            const std::string out = launcher_->output();
            seen = 0;
            for (size_t at = out.find(text); at != std::string::npos; at = out.find(text, at + 1)) ++seen;
            if (seen >= count) return;
            std::this_thread::sleep_for(50ms);
        }
        ADD_FAILURE() << text << " logged " << seen << " times, not " << count << "\n" << launcher_->output();
    }

    // Waits until the screen shows more than black: the stream's first
    // picture has been presented.
    void expect_picture(std::chrono::seconds limit = 30s) {
        const std::string shot = (dir_ / "picture.png").string();
        const auto deadline = std::chrono::steady_clock::now() + limit;
        double mean = 0.0;
        while (std::chrono::steady_clock::now() < deadline) {
            const std::string text =
                run_output("import -window root " + shot + " && convert " + shot + " -format '%[fx:mean]' info:");
            mean = text.empty() ? 0.0 : std::stod(text);
            if (mean > 0.02) return;
            std::this_thread::sleep_for(100ms);
        }
        ADD_FAILURE() << "the stream window stayed black (mean " << mean << ")";
    }

    void screenshot(const std::string& name) {
        const char* chosen = std::getenv("NB_SCREENSHOT_DIR");
        const std::filesystem::path folder = chosen && *chosen ? chosen : dir_;
        std::system(("import -window root " + (folder / (name + ".png")).string()).c_str());
    }

    // What a window manager's close button sends; the stream's event loop
    // turns it into SDL_QUIT.
    void close_window() { ASSERT_TRUE(test::request_window_close(display_, window_)); }

    test::XServer server_;
    std::string display_;
    std::filesystem::path dir_;
    std::unique_ptr<ChildProcess> backend_;
    std::unique_ptr<ChildProcess> launcher_;
    std::string port_;
    std::string window_;
    int launches_ = 0;
};

TEST_F(LauncherJourney, RegisterSignInRentStreamEndAndSignOut) {
    start_launcher();
    screenshot("journey-1-sign-in");
    click(k_create_one);
    type_into(k_register_name, "Grace");
    type_into(k_register_email, "grace@example.com");
    type_into(k_register_password, "hopper-1906");
    click(k_create_account);
    expect_log("NativeLauncher: signed in as grace@example.com");
    expect_log("servers listed");
    click(k_sign_out);
    expect_log("NativeLauncher: signed out grace@example.com");
    if (HasFailure()) return;

    // The form keeps the e-mail of the signed-out user; only the password
    // is asked for again.
    type_into(k_sign_in_password, "hopper-1906");
    click(k_sign_in_button);
    expect_log_count("NativeLauncher: signed in as grace@example.com", 2);
    expect_log_count("servers listed", 2);
    if (HasFailure()) return;
    screenshot("journey-2-browser");
    click(k_second_card_details);
    // The page logs this while it is first drawn, so its Rent button is in
    // place for the click.
    expect_log("NativeLauncher: showing ");
    click(k_rent);
    expect_log("as session");
    if (HasFailure()) return;
    expect_log("is streaming", 60s);
    if (HasFailure()) return;
    click(k_nav_session);  // one more frame drawn with the streaming card
    screenshot("journey-3-streaming");
    click(k_launch_stream);
    expect_log("Entering SDL event loop", 60s);
    if (HasFailure()) return;
    find_window();
    expect_picture();
    screenshot("journey-4-stream");
    close_window();
    expect_log("Session ended — returning to launcher", 60s);
    find_window();
    expect_log_count("NativeLauncher: window shown", 2);
    click(k_nav_session);
    screenshot("journey-5-session-ended");
    // The ended notice forgot the session; the next poll finds it again.
    expect_log_count("is streaming", 2, 30s);
    // The notice stands above the card for 6 s and moves the buttons down;
    // press "Terminate session" once it has gone.
    std::this_thread::sleep_for(6500ms);
    click(k_terminate);
    expect_log("terminated");
    close_window();
    EXPECT_EQ(launcher_->wait_exit(30s), 0);

    // "Remember me" was checked: the next start is signed in.
    start_launcher();
    expect_log("NativeLauncher: restored session for grace@example.com");
    click(k_sign_out);
    expect_log_count("NativeLauncher: signed out grace@example.com", 1);
    close_window();
    EXPECT_EQ(launcher_->wait_exit(30s), 0);
}

}  // namespace
}  // namespace nb
