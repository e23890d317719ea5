// Real WM_INPUT on SDL's window under wine: xdotool (a Linux program, which
// wine starts natively) types and moves through XTest on the Xvfb display,
// and the records must be what Windows Raw Input reports for those keys.
#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "input/input_window_context.h"
#include "input/raw_input_capture.h"

namespace nb {
namespace {

using KeyRecord = std::tuple<InputEventType, uint16_t, uint8_t, uint8_t>;  // type, vk, scan, flags
constexpr auto pressed = InputEventType::key_down;
constexpr auto released = InputEventType::key_up;

// Starts xdotool with `args`; -1 when it cannot start. Wine runs a Linux
// program natively but gives no handle to wait on, so the tests wait for
// what the program does instead.
int xdotool(const std::string& args) {
    std::wstring command = L"Z:\\usr\\bin\\xdotool ";
    command.append(args.begin(), args.end());
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return -1;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}

class RawInputOnXvfb : public ::testing::Test {
protected:
    void SetUp() override {
        if (xdotool("version") != 0) GTEST_SKIP() << "xdotool cannot be started from wine";
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        window_ = SDL_CreateWindow("raw input xdotool", 0, 0, 320, 240, SDL_WINDOW_SHOWN);
        ASSERT_NE(window_, nullptr) << SDL_GetError();
        context_.input_paused = [this] { return paused_; };
        context_.on_input = [this](IInputCapture& capture) {
            capture.drain(batch_);
            sent_.insert(sent_.end(), batch_.begin(), batch_.end());
        };
        attach_input_context(window_, &context_);
        ASSERT_TRUE(capture_.start(window_));
        ASSERT_EQ(xdotool("mousemove 160 120"), 0);
        ASSERT_TRUE(pump_until([&] {
            SDL_RaiseWindow(window_);
            SDL_SetWindowInputFocus(window_);
            return SDL_GetKeyboardFocus() == window_;
        })) << "the window never got the focus";
        // A key through the same X queue behind the pointer move: once SDL
        // has it, everything before it has been recorded and can go.
        // X may hand the window its focus a little after SDL reports it, so
        // the key is sent again until it lands.
        bool flushed = false;
        for (int attempt = 0; attempt < 10 && !flushed; ++attempt) {
            ASSERT_EQ(xdotool("key Escape"), 0);
            flushed = pump_until([&] { return sdl_saw_key_up(SDL_SCANCODE_ESCAPE); }, std::chrono::seconds(1));
        }
        ASSERT_TRUE(flushed) << "keys never reached the window";
        sent_.clear();
    }

    void TearDown() override {
        capture_.stop();
        if (window_ == nullptr) return;
        detach_input_context(window_);
        SDL_DestroyWindow(window_);
        SDL_Quit();
    }

    // Pumps the window's messages until `done` holds or the wait is over.
    template <typename Done>
    bool pump_until(Done done, std::chrono::milliseconds wait = std::chrono::seconds(10)) {
        for (auto give_up = std::chrono::steady_clock::now() + wait; std::chrono::steady_clock::now() < give_up;
             std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
            SDL_Event e;
            while (SDL_PollEvent(&e)) {
                if (e.type == SDL_KEYUP) sdl_key_ups_.push_back(e.key.keysym.scancode);
            }
            if (done()) return true;
        }
        return false;
    }

    // The key records, without the Escape presses that served as barriers.
    std::vector<KeyRecord> keys() const {
        constexpr uint16_t k_vk_escape = 0x1B;
        std::vector<KeyRecord> out;
        for (const InputEvent& e : sent_) {
            if ((e.type == pressed || e.type == released) && e.virtual_key() != k_vk_escape) {
                out.emplace_back(e.type, e.virtual_key(), e.scan_code(), e.key_flags());
            }
        }
        return out;
    }

    // SDL sees the ordinary key messages, which follow each key's WM_INPUT.
    bool sdl_saw_key_up(SDL_Scancode code) const {
        return std::find(sdl_key_ups_.begin(), sdl_key_ups_.end(), code) != sdl_key_ups_.end();
    }

    SDL_Window* window_ = nullptr;
    std::vector<SDL_Scancode> sdl_key_ups_;
    bool paused_ = false;
    InputWindowContext context_;
    RawInputCapture capture_;
    std::vector<InputEvent> batch_;
    std::vector<InputEvent> sent_;
};

TEST_F(RawInputOnXvfb, KeysArriveWithTheirVirtualKeyAndScanCodes) {
    const std::vector<KeyRecord> expected = {
        {pressed, 0x41, 0x1E, 0}, {released, 0x41, 0x1E, 1},  // A
        {pressed, 0x0D, 0x1C, 0}, {released, 0x0D, 0x1C, 1},  // Return
        {pressed, 0x25, 0x4B, 2}, {released, 0x25, 0x4B, 3},  // left arrow
        {pressed, 0x31, 0x02, 0}, {released, 0x31, 0x02, 1},  // 1
    };
    ASSERT_EQ(xdotool("key a Return Left 1"), 0);
    EXPECT_TRUE(pump_until([&] { return keys().size() >= expected.size(); })) << keys().size() << " key records";
    EXPECT_EQ(keys(), expected);
    for (size_t i = 1; i < sent_.size(); ++i) EXPECT_EQ(sent_[i].seq, static_cast<uint16_t>(sent_[i - 1].seq + 1));
}

TEST_F(RawInputOnXvfb, MotionButtonsAndWheelArrive) {
    ASSERT_EQ(xdotool("mousemove_relative -- 30 -20 mousedown 1 mouseup 1 click 4 click 5"), 0);
    const auto has = [&](auto predicate) {
        for (const InputEvent& e : sent_) {
            if (predicate(e)) return true;
        }
        return false;
    };
    const auto complete = [&] {
        return has([](const InputEvent& e) { return e.type == InputEventType::mouse_wheel && e.wheel_delta() < 0; });
    };
    EXPECT_TRUE(pump_until(complete)) << sent_.size() << " records";
    int dx = 0;
    int dy = 0;
    for (const InputEvent& e : sent_) {
        if (e.type == InputEventType::mouse_move) dx += e.dx(), dy += e.dy();
    }
    EXPECT_GT(dx, 0);
    EXPECT_LT(dy, 0);
    EXPECT_TRUE(has([](const InputEvent& e) { return e.type == InputEventType::mouse_buttons && e.buttons == 1; }));
    EXPECT_TRUE(has([](const InputEvent& e) { return e.type == InputEventType::mouse_buttons && e.buttons == 0; }));
    EXPECT_TRUE(has([](const InputEvent& e) { return e.type == InputEventType::mouse_wheel && e.wheel_delta() == 120; }));
}

TEST_F(RawInputOnXvfb, PausedContextRecordsNothing) {
    paused_ = true;
    ASSERT_EQ(xdotool("mousemove_relative 10 10 key b"), 0);
    ASSERT_TRUE(pump_until([&] { return sdl_saw_key_up(SDL_SCANCODE_B); }));
    std::vector<InputEvent> left;
    EXPECT_EQ(capture_.drain(left), 0u);
    EXPECT_TRUE(sent_.empty());
    // Input counts again once the overlay is gone.
    paused_ = false;
    ASSERT_EQ(xdotool("key b"), 0);
    EXPECT_TRUE(pump_until([&] { return keys().size() >= 2; }));
}

}  // namespace
}  // namespace nb
