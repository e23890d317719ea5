// SdlInputCapture on a real X server: xdotool presses keys and buttons and
// turns the wheel through XTest, SDL's X11 back end pumps them, and the
// records must be what Windows Raw Input reports for the same keys,
// including under a French AZERTY layout.
#include <SDL.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "input/input_window_context.h"
#include "input/sdl_input_capture.h"
#include "x_server.h"

namespace nb {
namespace {

// Saves and restores one environment variable around the suite, so the
// dummy-driver suite in the same process is not pointed at a dead server.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

using KeyRecord = std::tuple<InputEventType, uint16_t, uint8_t, uint8_t>;  // type, vk, scan, flags

class X11InputCapture : public ::testing::Test {
protected:
    static void start_server(const char* layout) {
        server_ = std::make_unique<test::XServer>();
        if (!server_->start()) {
            skip_reason_ = server_->error();
            return;
        }
        if (server_->run({"setxkbmap", "-layout", layout}) != 0) {
            skip_reason_ = std::string("setxkbmap ") + layout + " failed";
            return;
        }
        if (server_->run({"xdotool", "version"}) != 0) {
            skip_reason_ = "xdotool is missing";
            return;
        }
        display_env_ = std::make_unique<ScopedEnv>("DISPLAY", server_->display());
        driver_env_ = std::make_unique<ScopedEnv>("SDL_VIDEODRIVER", "x11");
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    }

    static void TearDownTestSuite() {
        if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_Quit();
        driver_env_.reset();
        display_env_.reset();
        server_.reset();
        skip_reason_.clear();
    }

    void SetUp() override {
        if (!skip_reason_.empty()) GTEST_SKIP() << skip_reason_;
        window_ = SDL_CreateWindow("x11 input", 0, 0, 320, 240, SDL_WINDOW_SHOWN);
        ASSERT_NE(window_, nullptr) << SDL_GetError();
        context_.on_input = [this](IInputCapture& capture) {
            capture.drain(batch_);
            sent_.insert(sent_.end(), batch_.begin(), batch_.end());
        };
        attach_input_context(window_, &context_);
        ASSERT_TRUE(capture_.start(window_));
        // Pointer into the window for mouse focus, then the keyboard focus.
        ASSERT_EQ(xdotool({"mousemove", "160", "120"}), 0);
        ASSERT_TRUE(pump_until([&] {
            SDL_SetWindowInputFocus(window_);
            return SDL_GetKeyboardFocus() == window_ && SDL_GetMouseFocus() == window_;
        })) << "the window never got the focus";
        sent_.clear();
    }

    void TearDown() override {
        capture_.stop();
        if (window_ != nullptr) {
            SDL_SetRelativeMouseMode(SDL_FALSE);
            detach_input_context(window_);
            SDL_DestroyWindow(window_);
        }
    }

    int xdotool(std::vector<std::string> args) {
        args.insert(args.begin(), "xdotool");
        return server_->run(args);
    }

    // Pumps SDL until `done` holds; gives up after a generous wait so a
    // broken path fails instead of hanging.
    template <typename Done>
    bool pump_until(Done done) {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < give_up) {
            SDL_Event e;
            while (SDL_PollEvent(&e)) {}
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    bool pump_until_records(size_t n) {
        return pump_until([&] { return sent_.size() >= n; });
    }

    std::vector<KeyRecord> keys() const {
        std::vector<KeyRecord> out;
        for (const InputEvent& e : sent_) out.emplace_back(e.type, e.virtual_key(), e.scan_code(), e.key_flags());
        return out;
    }

    static inline std::unique_ptr<test::XServer> server_;
    static inline std::unique_ptr<ScopedEnv> display_env_;
    static inline std::unique_ptr<ScopedEnv> driver_env_;
    static inline std::string skip_reason_;

    SDL_Window* window_ = nullptr;
    InputWindowContext context_;
    SdlInputCapture capture_;
    std::vector<InputEvent> batch_;
    std::vector<InputEvent> sent_;
};

constexpr auto down = InputEventType::key_down;
constexpr auto up = InputEventType::key_up;

class X11InputCaptureUs : public X11InputCapture {
protected:
    static void SetUpTestSuite() { start_server("us"); }
};

class X11InputCaptureFr : public X11InputCapture {
protected:
    static void SetUpTestSuite() { start_server("fr"); }
};

TEST_F(X11InputCaptureUs, KeysArriveAsWindowsReportsThem) {
    ASSERT_EQ(xdotool({"key", "Control_R", "a", "KP_Enter", "Left", "Shift_R"}), 0);
    ASSERT_TRUE(pump_until_records(14)) << sent_.size() << " records";
    // xdotool holds the left modifier of the same kind around a right-hand
    // modifier key, which shows the two sides apart on the wire.
    const std::vector<KeyRecord> expected = {
        {down, 0x11, 0x1D, 0}, {down, 0x11, 0x1D, 2},  // left Ctrl, right Ctrl (E0)
        {up, 0x11, 0x1D, 1},   {up, 0x11, 0x1D, 3},
        {down, 0x41, 0x1E, 0}, {up, 0x41, 0x1E, 1},
        {down, 0x0D, 0x1C, 2}, {up, 0x0D, 0x1C, 3},    // keypad Enter: E0
        {down, 0x25, 0x4B, 2}, {up, 0x25, 0x4B, 3},    // arrow: E0
        {down, 0x10, 0x2A, 0}, {down, 0x10, 0x36, 0},  // left Shift, right Shift: no E0
        {up, 0x10, 0x2A, 1},   {up, 0x10, 0x36, 1},
    };
    EXPECT_EQ(keys(), expected);
}

TEST_F(X11InputCaptureUs, ButtonsWheelAndRelativeMotion) {
    ASSERT_EQ(SDL_SetRelativeMouseMode(SDL_TRUE), 0) << SDL_GetError();
    ASSERT_TRUE(capture_.refresh());
    ASSERT_EQ(xdotool({"click", "1"}), 0);
    ASSERT_EQ(xdotool({"click", "5"}), 0);  // wheel towards the user
    ASSERT_TRUE(pump_until_records(3)) << sent_.size() << " records";
    ASSERT_GE(sent_.size(), 3u);
    EXPECT_EQ(sent_[0].type, InputEventType::mouse_buttons);
    EXPECT_EQ(sent_[0].buttons, k_button_left);
    EXPECT_EQ(sent_[1].type, InputEventType::mouse_buttons);
    EXPECT_EQ(sent_[1].buttons, 0);
    EXPECT_EQ(sent_[2].type, InputEventType::mouse_wheel);
    EXPECT_EQ(sent_[2].wheel_delta(), -120);

    sent_.clear();
    ASSERT_EQ(xdotool({"mousemove_relative", "--", "15", "-10"}), 0);
    int dx = 0;
    int dy = 0;
    ASSERT_TRUE(pump_until([&] {
        dx = dy = 0;
        for (const InputEvent& e : sent_) {
            EXPECT_EQ(e.type, InputEventType::mouse_move);
            dx += e.dx();
            dy += e.dy();
        }
        return dx == 15 && dy == -10;
    })) << "moved " << dx << "," << dy;
}

TEST_F(X11InputCaptureFr, AzertyKeysFollowTheLayout) {
    // 'a' sits where a US keyboard has Q, 'm' where it has ';'; the digit
    // row types '&' unshifted but stays VK_1.
    ASSERT_EQ(xdotool({"key", "a", "m", "ampersand"}), 0);
    ASSERT_TRUE(pump_until_records(6)) << sent_.size() << " records";
    const std::vector<KeyRecord> expected = {
        {down, 0x41, 0x10, 0}, {up, 0x41, 0x10, 1},
        {down, 0x4D, 0x27, 0}, {up, 0x4D, 0x27, 1},
        {down, 0x31, 0x02, 0}, {up, 0x31, 0x02, 1},
    };
    EXPECT_EQ(keys(), expected);
}

}  // namespace
}  // namespace nb
