// SdlInputCapture fed with SDL events through its event watch, on a hidden
// window under SDL's dummy video driver.
#include "input/sdl_input_capture.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>
#include <vector>

#include "input/input_window_context.h"

namespace nb {
namespace {

class SdlInputCaptureTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("SDL_VIDEODRIVER", "dummy", 0);
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    }
    static void TearDownTestSuite() { SDL_Quit(); }

    void SetUp() override {
        window_ = SDL_CreateWindow("input test", 0, 0, 320, 240, SDL_WINDOW_HIDDEN);
        ASSERT_NE(window_, nullptr) << SDL_GetError();
        context_.on_input = [this](IInputCapture& capture) {  // the shell's low-latency path
            ++hook_calls_;
            capture.drain(batch_);
            sent_.insert(sent_.end(), batch_.begin(), batch_.end());
        };
        attach_input_context(window_, &context_);
        ASSERT_TRUE(capture_.start(window_));
        SDL_SetRelativeMouseMode(SDL_TRUE);
    }

    void TearDown() override {
        capture_.stop();
        SDL_SetRelativeMouseMode(SDL_FALSE);
        detach_input_context(window_);
        SDL_DestroyWindow(window_);
    }

    void push(SDL_Event e, uint32_t window_id = 0) {
        e.window.windowID = window_id != 0 ? window_id : SDL_GetWindowID(window_);  // same offset in every kind
        ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError();
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);  // the watch has already seen it
    }
    void button(uint8_t which, bool down) {
        const Uint32 type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
        push(SDL_Event{.button = {type, 0, 0, 0, which, 0, 0, 0, 0, 0}});
    }
    void motion(int32_t dx, int32_t dy, uint32_t which = 0) {
        push(SDL_Event{.motion = {SDL_MOUSEMOTION, 0, 0, which, 0, 0, 0, dx, dy}});
    }
    void wheel(float y, uint32_t direction = SDL_MOUSEWHEEL_NORMAL, float x = 0.0f) {
        push(SDL_Event{.wheel = {SDL_MOUSEWHEEL, 0, 0, 0, int32_t(x), int32_t(y), direction, x, y, 0, 0}});
    }
    static SDL_Event key_event(SDL_Scancode scancode, bool down, SDL_Keycode sym = SDLK_UNKNOWN, bool repeat = false) {
        const Uint32 type = down ? SDL_KEYDOWN : SDL_KEYUP;
        return SDL_Event{.key = {type, 0, 0, 0, repeat, 0, 0, {scancode, sym, KMOD_NUM, 0}}};
    }
    void key(SDL_Scancode scancode, bool down, SDL_Keycode sym = SDLK_UNKNOWN, bool repeat = false) {
        push(key_event(scancode, down, sym, repeat));
    }
    void focus_lost() { push(SDL_Event{.window = {SDL_WINDOWEVENT, 0, 0, SDL_WINDOWEVENT_FOCUS_LOST, 0, 0, 0, 0, 0}}); }
    std::vector<uint8_t> masks() const {
        std::vector<uint8_t> out;
        for (const InputEvent& e : sent_) out.push_back(e.type == InputEventType::mouse_buttons ? e.buttons : 0xFF);
        return out;
    }

    SDL_Window* window_ = nullptr;
    InputWindowContext context_;
    SdlInputCapture capture_;
    std::vector<InputEvent> batch_;
    std::vector<InputEvent> sent_;  // what the hook handed on, in order
    int hook_calls_ = 0;
};

TEST_F(SdlInputCaptureTest, ButtonMaskFollowsEveryChangeAndFocusLossReleasesIt) {
    button(SDL_BUTTON_LEFT, true);
    button(SDL_BUTTON_RIGHT, true);
    button(SDL_BUTTON_LEFT, false);
    button(SDL_BUTTON_RIGHT, true);  // already down: no change, no record
    button(SDL_BUTTON_X1, true);     // side buttons are not carried
    button(SDL_BUTTON_MIDDLE, true);
    focus_lost();  // the release would reach another window
    focus_lost();
    button(SDL_BUTTON_RIGHT, false);  // late release: nothing left to change
    EXPECT_EQ(masks(), (std::vector<uint8_t>{1, 3, 2, 6, 0}));
    EXPECT_EQ(sent_[3].x, 0);
    EXPECT_EQ(sent_[3].y, 0);
}

TEST_F(SdlInputCaptureTest, MotionIsRelativeClampedAndCarriesTheMask) {
    button(SDL_BUTTON_LEFT, true);
    motion(5, -7);
    motion(40000, -40000);
    motion(0, 0);                     // no movement, no record
    motion(3, 3, SDL_TOUCH_MOUSEID);  // touch is absolute
    SDL_SetRelativeMouseMode(SDL_FALSE);
    motion(10, 10);  // the pointer is free: desktop motion, not the remote's
    ASSERT_EQ(sent_.size(), 3u);
    EXPECT_EQ(sent_[1].type, InputEventType::mouse_move);
    EXPECT_EQ(sent_[1].dx(), 5);
    EXPECT_EQ(sent_[1].dy(), -7);
    EXPECT_EQ(sent_[1].buttons, k_button_left);
    EXPECT_EQ(sent_[2].dx(), 32767);
    EXPECT_EQ(sent_[2].dy(), -32768);
}

TEST_F(SdlInputCaptureTest, WheelInSixScoreUnitsPositiveAwayFromTheUser) {
    wheel(-1.0f);                              // one notch towards the user
    wheel(2.0f);                               // two notches away
    wheel(1.0f, SDL_MOUSEWHEEL_FLIPPED);       // natural scrolling: physically towards
    wheel(0.0f, SDL_MOUSEWHEEL_NORMAL, 1.0f);  // horizontal only: ignored
    wheel(0.25f);
    wheel(-1000.0f);  // a flick beyond what 16 bits carry
    std::vector<int16_t> deltas;
    for (const InputEvent& e : sent_) {
        EXPECT_EQ(e.type, InputEventType::mouse_wheel);
        EXPECT_EQ(e.x | e.buttons, 0);
        deltas.push_back(e.wheel_delta());
    }
    EXPECT_EQ(deltas, (std::vector<int16_t>{-120, 240, -120, 30, -32768}));

    // Smooth scrolling below one unit per event adds up instead of rounding away.
    sent_.clear();
    for (int i = 0; i < 100; ++i) wheel(0.004f);  // 0.48 units each
    int total = 0;
    for (const InputEvent& e : sent_) total += e.wheel_delta();
    EXPECT_NEAR(total, 48, 1);
}

TEST_F(SdlInputCaptureTest, KeysCarryVirtualKeyScanCodeAndFlags) {
    key(SDL_SCANCODE_RCTRL, true);
    key(SDL_SCANCODE_RCTRL, false);
    key(SDL_SCANCODE_Q, true, 'a');  // AZERTY A key
    key(SDL_SCANCODE_Q, true, 'a', true);
    key(SDL_SCANCODE_Q, false, 'a');
    key(SDL_SCANCODE_BRIGHTNESSUP, true);  // no Windows key: nothing
    using R = std::tuple<InputEventType, uint16_t, uint8_t, uint8_t>;  // type, vk, scan, flags
    std::vector<R> got;
    for (const InputEvent& e : sent_) got.emplace_back(e.type, e.virtual_key(), e.scan_code(), e.key_flags());
    // The system's key repeat gives more key-downs.
    EXPECT_EQ(got, (std::vector<R>{{InputEventType::key_down, 0x11, 0x1D, k_key_flag_e0},
                                   {InputEventType::key_up, 0x11, 0x1D, k_key_flag_e0 | k_key_flag_break},
                                   {InputEventType::key_down, 0x41, 0x10, 0},
                                   {InputEventType::key_down, 0x41, 0x10, 0},
                                   {InputEventType::key_up, 0x41, 0x10, k_key_flag_break}}));
}

// What release_held lets go of: exactly the keys and buttons the records
// left down, each once, however often the key repeated.
TEST_F(SdlInputCaptureTest, ReleaseHeldLetsGoOfWhatTheRemoteStillHolds) {
    key(SDL_SCANCODE_LSHIFT, true);
    key(SDL_SCANCODE_RCTRL, true);
    key(SDL_SCANCODE_Q, true, 'a');
    key(SDL_SCANCODE_Q, true, 'a', true);
    key(SDL_SCANCODE_LSHIFT, false);
    button(SDL_BUTTON_LEFT, true);
    sent_.clear();

    EXPECT_EQ(capture_.release_held(), 3u);
    EXPECT_EQ(hook_calls_, 6) << "the caller sends them; the hook is for events";
    std::vector<InputEvent> released;
    capture_.drain(released);
    using R = std::tuple<InputEventType, uint16_t, uint8_t, uint8_t, uint8_t>;  // type, vk, scan, flags, mask
    std::vector<R> got;
    for (const InputEvent& e : released) {
        got.emplace_back(e.type, e.virtual_key(), e.scan_code(), e.key_flags(), e.buttons);
    }
    EXPECT_EQ(got, (std::vector<R>{{InputEventType::key_up, 0x11, 0x1D, k_key_flag_e0 | k_key_flag_break, 0},
                                   {InputEventType::key_up, 0x41, 0x10, k_key_flag_break, 0},
                                   {InputEventType::mouse_buttons, 0, 0, 0, 0}}));
    EXPECT_EQ(capture_.release_held(), 0u) << "nothing is left to release";

    // A key pressed again afterwards is held again; its physical release,
    // should it still come, is an ordinary record.
    key(SDL_SCANCODE_Q, true, 'a');
    key(SDL_SCANCODE_RCTRL, false);
    EXPECT_EQ(capture_.release_held(), 1u);
}

TEST_F(SdlInputCaptureTest, SeqCountsEveryRecordWrapsAndRestartsWithStart) {
    button(SDL_BUTTON_LEFT, true);
    motion(1, 1);
    key(SDL_SCANCODE_A, true);
    wheel(1.0f);
    ASSERT_EQ(sent_.size(), 4u);
    EXPECT_EQ(hook_calls_, 4);  // each event handed on at once
    for (size_t i = 0; i < sent_.size(); ++i) {
        EXPECT_EQ(sent_[i].seq, i);
        EXPECT_EQ(sent_[i].version, 1);
        EXPECT_GE(sent_[i].timestamp_us, i > 0 ? sent_[i - 1].timestamp_us : 1);
    }

    std::vector<InputEvent> out;
    const SDL_Event a = key_event(SDL_SCANCODE_A, true);
    for (int i = 4; i < 65536; ++i) {
        capture_.record(a);
        if (i % 1024 == 0) capture_.drain(out);
    }
    capture_.drain(out);
    capture_.record(a);  // the 65537th record
    ASSERT_EQ(capture_.drain(out), 1u);
    EXPECT_EQ(out[0].seq, 0);

    capture_.stop();
    ASSERT_TRUE(capture_.start(window_));
    button(SDL_BUTTON_RIGHT, true);
    EXPECT_EQ(sent_.back().seq, 0);
    EXPECT_EQ(sent_.back().buttons, k_button_right);  // the left button was forgotten with the old run
}

TEST_F(SdlInputCaptureTest, DrainHandsEachRecordOutOnceAndStopKeepsThem) {
    context_.on_input = nullptr;  // leave everything to the polling drain
    std::vector<InputEvent> out{InputEvent{}};
    EXPECT_EQ(capture_.drain(out), 0u);
    EXPECT_TRUE(out.empty());
    key(SDL_SCANCODE_A, true);
    key(SDL_SCANCODE_A, false);
    capture_.stop();
    capture_.stop();
    EXPECT_FALSE(capture_.refresh());
    key(SDL_SCANCODE_B, true);  // not running: ignored
    EXPECT_EQ(capture_.drain(out), 2u);
    EXPECT_EQ(capture_.drain(out), 0u);

    SdlInputCapture other;
    EXPECT_FALSE(other.start(nullptr));
    EXPECT_FALSE(other.running());
}

TEST_F(SdlInputCaptureTest, OnlyUnpausedInputOfItsOwnWindowCounts) {
    bool overlay_visible = true;
    context_.input_paused = [&] { return overlay_visible; };
    button(SDL_BUTTON_LEFT, true);
    motion(4, 4);
    wheel(1.0f);
    key(SDL_SCANCODE_A, true);
    overlay_visible = false;

    SDL_Window* other = SDL_CreateWindow("other", 0, 0, 64, 64, SDL_WINDOW_HIDDEN);
    ASSERT_NE(other, nullptr);
    attach_input_context(other, &context_);
    push(key_event(SDL_SCANCODE_A, true), SDL_GetWindowID(other));
    SDL_DestroyWindow(other);
    SDL_Event unfocused = key_event(SDL_SCANCODE_A, true);
    unfocused.key.windowID = 0;
    SDL_PushEvent(&unfocused);
    detach_input_context(window_);
    key(SDL_SCANCODE_A, true);

    std::vector<InputEvent> out;
    EXPECT_EQ(capture_.drain(out), 0u);
    EXPECT_TRUE(sent_.empty());
    attach_input_context(window_, &context_);
    button(SDL_BUTTON_LEFT, true);
    ASSERT_EQ(sent_.size(), 1u);
    EXPECT_EQ(sent_[0].seq, 0);  // ignored events took no numbers
}

TEST_F(SdlInputCaptureTest, UndrainedRecordsAreBoundedAndCounted) {
    const SDL_Event a = key_event(SDL_SCANCODE_A, true);
    for (size_t i = 0; i < SdlInputCapture::k_max_pending + 10; ++i) capture_.record(a);
    EXPECT_EQ(capture_.dropped_records(), 10u);
    std::vector<InputEvent> out;
    ASSERT_EQ(capture_.drain(out), SdlInputCapture::k_max_pending);
    EXPECT_EQ(out.back().seq, SdlInputCapture::k_max_pending - 1);  // no gaps in what is kept
    EXPECT_EQ(capture_.record(a), 1u);                              // room again after a drain
}

}  // namespace
}  // namespace nb
