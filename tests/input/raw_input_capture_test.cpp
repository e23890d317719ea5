// RawInputCapture: the records of synthetic RAWINPUT messages, then real
// WM_INPUT from xdotool on an SDL window under wine and Xvfb.
#include "input/raw_input_capture.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "input/input_window_context.h"

namespace nb {
namespace {

using KeyRecord = std::tuple<InputEventType, uint16_t, uint8_t, uint8_t>;  // type, vk, scan, flags
constexpr auto down = InputEventType::key_down;
constexpr auto up = InputEventType::key_up;

RAWINPUT mouse(USHORT buttons, LONG dx = 0, LONG dy = 0, USHORT data = 0, USHORT flags = MOUSE_MOVE_RELATIVE) {
    RAWINPUT input{};
    input.header.dwType = RIM_TYPEMOUSE;
    input.data.mouse.usFlags = flags;
    input.data.mouse.usButtonFlags = buttons;
    input.data.mouse.usButtonData = data;
    input.data.mouse.lLastX = dx;
    input.data.mouse.lLastY = dy;
    return input;
}

RAWINPUT key(USHORT vk, USHORT make, USHORT flags) {
    RAWINPUT input{};
    input.header.dwType = RIM_TYPEKEYBOARD;
    input.data.keyboard.VKey = vk;
    input.data.keyboard.MakeCode = make;
    input.data.keyboard.Flags = flags;
    return input;
}

// A running capture on a plain window of our own, fed by hand.
class RawInputRecords : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        window_ = SDL_CreateWindow("raw input", 0, 0, 320, 240, SDL_WINDOW_SHOWN);
        ASSERT_NE(window_, nullptr) << SDL_GetError();
        ASSERT_TRUE(capture_.start(window_));
    }
    void TearDown() override {
        capture_.stop();
        if (window_ != nullptr) SDL_DestroyWindow(window_);
        SDL_Quit();
    }

    std::vector<InputEvent> records(const RAWINPUT& input) {
        capture_.record(input);
        capture_.drain(batch_);
        return batch_;
    }

    SDL_Window* window_ = nullptr;
    RawInputCapture capture_;
    std::vector<InputEvent> batch_;
};

TEST_F(RawInputRecords, MouseMessagesGiveButtonsThenMoveThenWheel) {
    struct Case {
        const char* name;
        RAWINPUT input;
        std::vector<InputEvent> expected;
    };
    const Case cases[] = {
        {"left and right down", mouse(RI_MOUSE_LEFT_BUTTON_DOWN | RI_MOUSE_RIGHT_BUTTON_DOWN),
         {InputEvent::mouse_buttons(3)}},
        {"left up", mouse(RI_MOUSE_LEFT_BUTTON_UP), {InputEvent::mouse_buttons(2)}},
        {"motion with middle down", mouse(RI_MOUSE_MIDDLE_BUTTON_DOWN, 5, -7),
         {InputEvent::mouse_buttons(6), InputEvent::mouse_move(5, -7, 6)}},
        {"down and up in one message", mouse(RI_MOUSE_MIDDLE_BUTTON_DOWN | RI_MOUSE_MIDDLE_BUTTON_UP),
         {InputEvent::mouse_buttons(2)}},
        {"clamped motion", mouse(0, 40000, -40000), {InputEvent::mouse_move(32767, -32768, 2)}},
        {"absolute motion", mouse(0, 100, 100, 0, MOUSE_MOVE_ABSOLUTE), {}},
        {"wheel towards the user", mouse(RI_MOUSE_WHEEL, 0, 0, static_cast<USHORT>(-120)),
         {InputEvent::mouse_wheel(-120)}},
        {"horizontal wheel and side buttons", mouse(RI_MOUSE_HWHEEL | RI_MOUSE_BUTTON_4_DOWN, 0, 0, 120), {}},
        {"right up", mouse(RI_MOUSE_RIGHT_BUTTON_UP), {InputEvent::mouse_buttons(0)}},
    };
    for (const Case& c : cases) {
        std::vector<InputEvent> got = records(c.input);
        for (InputEvent& e : got) e.seq = 0, e.timestamp_us = 0;
        EXPECT_EQ(got, c.expected) << c.name;
    }
}

TEST_F(RawInputRecords, KeysCarryTheMakeCodeAndFlags) {
    const std::vector<std::pair<RAWINPUT, KeyRecord>> cases = {
        {key(0x11, 0x1D, RI_KEY_E0), {down, 0x11, 0x1D, 2}},                 // right Ctrl
        {key(0x11, 0x1D, RI_KEY_E0 | RI_KEY_BREAK), {up, 0x11, 0x1D, 3}},
        {key(0x41, 0x1E, RI_KEY_MAKE), {down, 0x41, 0x1E, 0}},
        {key(0x13, 0x1D, RI_KEY_E1), {down, 0x13, 0x1D, 4}},                 // Pause
    };
    for (const auto& [input, expected] : cases) {
        const auto got = records(input);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(KeyRecord(got[0].type, got[0].virtual_key(), got[0].scan_code(), got[0].key_flags()), expected);
        EXPECT_EQ(got[0].buttons, 0);
    }
    // A and Pause are still down: releasing what is held lets go of both.
    EXPECT_EQ(capture_.release_held(), 2u);
    capture_.drain(batch_);
    EXPECT_EQ(batch_[0].type, up);
    EXPECT_EQ(batch_[0].key_flags(), 1);
    EXPECT_EQ(batch_[1].key_flags(), 5);
}

TEST_F(RawInputRecords, SequenceWrapsAndDrainHandsOutOnce) {
    std::vector<InputEvent> all;
    for (int i = 0; i < 65537; ++i) {
        capture_.record(mouse(0, 1, 0));
        if (i % 1000 == 999 || i == 65536) {
            capture_.drain(batch_);
            all.insert(all.end(), batch_.begin(), batch_.end());
        }
    }
    ASSERT_EQ(all.size(), 65537u);
    EXPECT_EQ(all[65535].seq, 65535);
    EXPECT_EQ(all[65536].seq, 0);
    EXPECT_EQ(capture_.drain(batch_), 0u);
    // Restarting begins the count again.
    capture_.stop();
    ASSERT_TRUE(capture_.start(window_));
    EXPECT_EQ(records(mouse(0, 1, 0)).at(0).seq, 0);
}

TEST_F(RawInputRecords, NobodyDrainingDropsInsteadOfGrowing) {
    for (size_t i = 0; i < RawInputCapture::k_max_pending + 10; ++i) capture_.record(mouse(0, 1, 1));
    EXPECT_EQ(capture_.drain(batch_), RawInputCapture::k_max_pending);
    EXPECT_EQ(capture_.dropped_records(), 10u);
}

TEST(RawInputStart, NullWindowAndStoppedCaptureRecordNothing) {
    RawInputCapture capture;
    EXPECT_FALSE(capture.start(nullptr));
    EXPECT_FALSE(capture.refresh());
    EXPECT_EQ(capture.record(mouse(RI_MOUSE_LEFT_BUTTON_DOWN)), 0u);
    EXPECT_EQ(capture.name(), "RawInputWin");
}

}  // namespace
}  // namespace nb
