// SdlInputCapture on a real X server: xdotool presses keys and buttons
// through XTest, SDL's X11 back end pumps them, and the records must be what
// Windows Raw Input reports for the same keys, also under a French AZERTY
// layout.
#include <SDL.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
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

using KeyRecord = std::tuple<InputEventType, uint16_t, uint8_t, uint8_t>;  // type, vk, scan, flags
constexpr auto down = InputEventType::key_down;
constexpr auto up = InputEventType::key_up;

class X11InputCapture : public ::testing::Test {
protected:
    static void start_server(const char* layout) {
        server_ = std::make_unique<test::XServer>();
        const std::string display = server_->start();
        if (display.empty()) {
            skip_reason_ = "no Xvfb";
            return;
        }
        // Restored after the suite, so the dummy-driver suite in the same
        // process is not pointed at a dead server.
        for (const char* name : {"DISPLAY", "SDL_VIDEODRIVER"}) {
            const char* value = std::getenv(name);
            saved_env_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        }
        setenv("DISPLAY", display.c_str(), 1);
        setenv("SDL_VIDEODRIVER", "x11", 1);
        if (test::run_program({"setxkbmap", "-layout", layout}) != 0 || test::run_program({"xdotool", "version"}) != 0) {
            skip_reason_ = "setxkbmap or xdotool missing";
            return;
        }
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    }

    static void TearDownTestSuite() {
        if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_Quit();
        for (const auto& [name, value] : saved_env_) value ? setenv(name, value->c_str(), 1) : unsetenv(name);
        saved_env_.clear();
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
        // Pointer into the window for the mouse focus, then the keyboard's.
        ASSERT_EQ(xdotool({"mousemove", "160", "120"}), 0);
        ASSERT_TRUE(pump_until([&] {
            SDL_SetWindowInputFocus(window_);
            return SDL_GetKeyboardFocus() == window_ && SDL_GetMouseFocus() == window_;
        })) << "the window never got the focus";
        sent_.clear();
    }

    void TearDown() override {
        capture_.stop();
        if (window_ == nullptr) return;
        SDL_SetRelativeMouseMode(SDL_FALSE);
        detach_input_context(window_);
        SDL_DestroyWindow(window_);
    }

    static int xdotool(std::vector<std::string> args) {
        args.insert(args.begin(), "xdotool");
        return test::run_program(args);
    }

    // Pumps SDL until `done` holds; a broken path fails after a generous
    // wait instead of hanging.
    template <typename Done>
    bool pump_until(Done done) {
        for (auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
             std::chrono::steady_clock::now() < give_up; std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
            SDL_Event e;
            while (SDL_PollEvent(&e)) {}
            if (done()) return true;
        }
        return false;
    }

    std::vector<KeyRecord> keys_after(const std::vector<std::string>& xdotool_args, size_t count) {
        EXPECT_EQ(xdotool(xdotool_args), 0);
        EXPECT_TRUE(pump_until([&] { return sent_.size() >= count; })) << sent_.size() << " records";
        std::vector<KeyRecord> out;
        for (const InputEvent& e : sent_) out.emplace_back(e.type, e.virtual_key(), e.scan_code(), e.key_flags());
        return out;
    }

    static inline std::unique_ptr<test::XServer> server_;
    static inline std::vector<std::pair<const char*, std::optional<std::string>>> saved_env_;
    static inline std::string skip_reason_;

    SDL_Window* window_ = nullptr;
    InputWindowContext context_;
    SdlInputCapture capture_;
    std::vector<InputEvent> batch_;
    std::vector<InputEvent> sent_;
};

class X11InputCaptureUs : public X11InputCapture {
protected:
    static void SetUpTestSuite() { start_server("us"); }
};

class X11InputCaptureFr : public X11InputCapture {
protected:
    static void SetUpTestSuite() { start_server("fr"); }
};

TEST_F(X11InputCaptureUs, KeysArriveAsWindowsReportsThem) {
    // xdotool holds the left modifier of the same kind around a right-hand
    // modifier key, which shows the two sides apart on the wire.
    const std::vector<KeyRecord> expected = {
        {down, 0x11, 0x1D, 0}, {down, 0x11, 0x1D, 2}, {up, 0x11, 0x1D, 1}, {up, 0x11, 0x1D, 3},  // Ctrl L, R
        {down, 0x41, 0x1E, 0}, {up, 0x41, 0x1E, 1},                                              // A
        {down, 0x0D, 0x1C, 2}, {up, 0x0D, 0x1C, 3},                                              // keypad Enter
        {down, 0x25, 0x4B, 2}, {up, 0x25, 0x4B, 3},                                              // left arrow
        {down, 0x10, 0x2A, 0}, {down, 0x10, 0x36, 0}, {up, 0x10, 0x2A, 1}, {up, 0x10, 0x36, 1},  // Shift L, R
    };
    EXPECT_EQ(keys_after({"key", "Control_R", "a", "KP_Enter", "Left", "Shift_R"}, expected.size()), expected);
}

// Alt-Tab away with a key and a button held: the remote must not keep them.
TEST_F(X11InputCaptureUs, LosingFocusReleasesHeldKeysAndButtons) {
    ASSERT_EQ(xdotool({"keydown", "a"}), 0);
    ASSERT_EQ(xdotool({"mousedown", "1"}), 0);
    ASSERT_TRUE(pump_until([&] { return sent_.size() >= 2; }));
    SDL_Window* other = SDL_CreateWindow("other", 400, 0, 100, 100, SDL_WINDOW_SHOWN);
    ASSERT_NE(other, nullptr);
    EXPECT_TRUE(pump_until([&] {
        SDL_SetWindowInputFocus(other);
        return sent_.size() >= 4;
    })) << sent_.size() << " records";
    xdotool({"keyup", "a"});
    xdotool({"mouseup", "1"});
    SDL_DestroyWindow(other);
    ASSERT_GE(sent_.size(), 4u);
    int key_ups = 0;
    int releases = 0;
    for (size_t i = 2; i < sent_.size(); ++i) {
        key_ups += sent_[i].type == InputEventType::key_up && sent_[i].virtual_key() == 0x41;
        releases += sent_[i].type == InputEventType::mouse_buttons && sent_[i].buttons == 0;
    }
    EXPECT_EQ(key_ups, 1);
    EXPECT_EQ(releases, 1);
}

TEST_F(X11InputCaptureFr, AzertyKeysFollowTheLayout) {
    // 'a' sits where a US keyboard has Q, 'm' where it has ';'; the digit
    // row types '&' unshifted but stays VK_1.
    const std::vector<KeyRecord> expected = {
        {down, 0x41, 0x10, 0}, {up, 0x41, 0x10, 1}, {down, 0x4D, 0x27, 0},
        {up, 0x4D, 0x27, 1},   {down, 0x31, 0x02, 0}, {up, 0x31, 0x02, 1},
    };
    EXPECT_EQ(keys_after({"key", "a", "m", "ampersand"}, expected.size()), expected);
}

}  // namespace
}  // namespace nb
