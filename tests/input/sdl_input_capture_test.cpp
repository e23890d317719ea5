// SdlInputCapture fed with real SDL events through its event watch, on a
// hidden window under SDL's dummy video driver (or the X server the
// environment names).
#include "input/sdl_input_capture.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
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
        context_.on_input = [this](IInputCapture& capture) {
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

    void push(SDL_Event event) {
        ASSERT_EQ(SDL_PushEvent(&event), 1) << SDL_GetError();
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);  // the watch already saw it
    }

    uint32_t id() const { return SDL_GetWindowID(window_); }

    void button(uint8_t which, bool down) {
        SDL_Event e{};
        e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
        e.button.windowID = id();
        e.button.button = which;
        e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
        push(e);
    }

    void motion(int32_t dx, int32_t dy, uint32_t which = 0) {
        SDL_Event e{};
        e.type = SDL_MOUSEMOTION;
        e.motion.windowID = id();
        e.motion.which = which;
        e.motion.xrel = dx;
        e.motion.yrel = dy;
        push(e);
    }

    void wheel(float precise_y, uint32_t direction = SDL_MOUSEWHEEL_NORMAL, float precise_x = 0.0f) {
        SDL_Event e{};
        e.type = SDL_MOUSEWHEEL;
        e.wheel.windowID = id();
        e.wheel.preciseY = precise_y;
        e.wheel.y = static_cast<int32_t>(precise_y);
        e.wheel.preciseX = precise_x;
        e.wheel.x = static_cast<int32_t>(precise_x);
        e.wheel.direction = direction;
        push(e);
    }

    void key(SDL_Scancode scancode, bool down, SDL_Keycode sym = SDLK_UNKNOWN, bool repeat = false) {
        SDL_Event e{};
        e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
        e.key.windowID = id();
        e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
        e.key.repeat = repeat ? 1 : 0;
        e.key.keysym.scancode = scancode;
        e.key.keysym.sym = sym;
        e.key.keysym.mod = KMOD_NUM;
        push(e);
    }

    SDL_Window* window_ = nullptr;
    InputWindowContext context_;
    SdlInputCapture capture_;
    std::vector<InputEvent> batch_;
    std::vector<InputEvent> sent_;  // what the hook handed on, in order
    int hook_calls_ = 0;
};

TEST_F(SdlInputCaptureTest, ButtonMaskTracksEveryButtonChange) {
    button(SDL_BUTTON_LEFT, true);
    button(SDL_BUTTON_RIGHT, true);
    button(SDL_BUTTON_LEFT, false);
    button(SDL_BUTTON_RIGHT, true);  // already down: no change, no record
    button(SDL_BUTTON_X1, true);     // side buttons are not carried
    button(SDL_BUTTON_MIDDLE, true);
    ASSERT_EQ(sent_.size(), 4u);
    for (const InputEvent& e : sent_) EXPECT_EQ(e.type, InputEventType::mouse_buttons);
    EXPECT_EQ(sent_[0].buttons, k_button_left);
    EXPECT_EQ(sent_[1].buttons, k_button_left | k_button_right);
    EXPECT_EQ(sent_[2].buttons, k_button_right);
    EXPECT_EQ(sent_[3].buttons, k_button_right | k_button_middle);
    EXPECT_EQ(sent_[3].x, 0);
    EXPECT_EQ(sent_[3].y, 0);
}

TEST_F(SdlInputCaptureTest, LosingFocusReleasesHeldButtons) {
    button(SDL_BUTTON_LEFT, true);
    button(SDL_BUTTON_MIDDLE, true);
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = id();
    e.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
    push(e);
    push(e);  // nothing held any more: no record
    ASSERT_EQ(sent_.size(), 3u);
    EXPECT_EQ(sent_[2].type, InputEventType::mouse_buttons);
    EXPECT_EQ(sent_[2].buttons, 0);
    button(SDL_BUTTON_LEFT, false);  // the late release changes nothing
    EXPECT_EQ(sent_.size(), 3u);
}

TEST_F(SdlInputCaptureTest, MotionIsRelativeClampedAndCarriesTheMask) {
    button(SDL_BUTTON_LEFT, true);
    motion(5, -7);
    motion(40000, -40000);
    motion(0, 0);                   // no movement, no record
    motion(3, 3, SDL_TOUCH_MOUSEID);  // touch is absolute
    ASSERT_EQ(sent_.size(), 3u);
    EXPECT_EQ(sent_[1].type, InputEventType::mouse_move);
    EXPECT_EQ(sent_[1].dx(), 5);
    EXPECT_EQ(sent_[1].dy(), -7);
    EXPECT_EQ(sent_[1].buttons, k_button_left);
    EXPECT_EQ(sent_[2].dx(), 32767);
    EXPECT_EQ(sent_[2].dy(), -32768);

    // With the pointer free, its motion is not the remote mouse's.
    SDL_SetRelativeMouseMode(SDL_FALSE);
    motion(10, 10);
    EXPECT_EQ(sent_.size(), 3u);
}

TEST_F(SdlInputCaptureTest, WheelInSixScoreUnitsPositiveAwayFromTheUser) {
    wheel(-1.0f);                           // one notch towards the user
    wheel(2.0f);                            // two notches away
    wheel(1.0f, SDL_MOUSEWHEEL_FLIPPED);    // natural scrolling: physically towards
    wheel(0.0f, SDL_MOUSEWHEEL_NORMAL, 1);  // horizontal only: ignored
    wheel(0.25f);
    ASSERT_EQ(sent_.size(), 4u);
    for (const InputEvent& e : sent_) {
        EXPECT_EQ(e.type, InputEventType::mouse_wheel);
        EXPECT_EQ(e.x, 0);
        EXPECT_EQ(e.buttons, 0);
    }
    EXPECT_EQ(sent_[0].wheel_delta(), -120);
    EXPECT_EQ(sent_[1].wheel_delta(), 240);
    EXPECT_EQ(sent_[2].wheel_delta(), -120);
    EXPECT_EQ(sent_[3].wheel_delta(), 30);
}

TEST_F(SdlInputCaptureTest, SmoothScrollingLosesNothingToRounding) {
    for (int i = 0; i < 100; ++i) wheel(0.004f);  // 0.48 units each
    int total = 0;
    for (const InputEvent& e : sent_) total += e.wheel_delta();
    EXPECT_GE(total, 47);
    EXPECT_LE(total, 48);
}

TEST_F(SdlInputCaptureTest, KeysCarryVirtualKeyScanCodeAndFlags) {
    key(SDL_SCANCODE_RCTRL, true);
    key(SDL_SCANCODE_RCTRL, false);
    key(SDL_SCANCODE_Q, true, 'a');  // AZERTY A key
    key(SDL_SCANCODE_Q, true, 'a', true);
    key(SDL_SCANCODE_Q, false, 'a');
    key(SDL_SCANCODE_BRIGHTNESSUP, true);  // no Windows key: nothing
    ASSERT_EQ(sent_.size(), 5u);

    const auto down = sent_[0].to_bytes();
    EXPECT_EQ(down[1], 3);
    EXPECT_EQ(sent_[0].virtual_key(), 0x11);
    EXPECT_EQ(down[14], 0x1D);
    EXPECT_EQ(down[15], 2);
    EXPECT_EQ(down[16], 0);
    const auto up = sent_[1].to_bytes();
    EXPECT_EQ(up[1], 4);
    EXPECT_EQ(up[15], 3);

    EXPECT_EQ(sent_[2].type, InputEventType::key_down);
    EXPECT_EQ(sent_[2].virtual_key(), 0x41);
    EXPECT_EQ(sent_[2].scan_code(), 0x10);
    EXPECT_EQ(sent_[3], (InputEvent{sent_[2].version, sent_[2].type, sent_[3].seq, sent_[3].timestamp_us,
                                    sent_[2].x, sent_[2].y, 0}));  // repeat: another key-down
    EXPECT_EQ(sent_[4].type, InputEventType::key_up);
    EXPECT_EQ(sent_[4].key_flags(), k_key_flag_break);
}

TEST_F(SdlInputCaptureTest, SeqAndTimestampsIncreaseAlongTheStream) {
    button(SDL_BUTTON_LEFT, true);
    motion(1, 1);
    key(SDL_SCANCODE_A, true);
    wheel(1.0f);
    ASSERT_EQ(sent_.size(), 4u);
    EXPECT_EQ(hook_calls_, 4);  // each event handed on at once
    for (size_t i = 0; i < sent_.size(); ++i) {
        EXPECT_EQ(sent_[i].seq, i);
        EXPECT_EQ(sent_[i].version, 1);
        if (i > 0) {
            EXPECT_GE(sent_[i].timestamp_us, sent_[i - 1].timestamp_us);
        }
    }
}

TEST_F(SdlInputCaptureTest, SeqWrapsAndRestartsWithStart) {
    context_.on_input = nullptr;
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.keysym.scancode = SDL_SCANCODE_A;
    std::vector<InputEvent> out;
    out.reserve(SdlInputCapture::k_max_pending);
    InputEvent last;
    for (int i = 0; i < 65537; ++i) {
        ASSERT_EQ(capture_.record(e), 1u);
        if (capture_.drain(out) > 0) last = out.back();
    }
    EXPECT_EQ(last.seq, 0);  // the 65537th record

    button(SDL_BUTTON_LEFT, true);
    capture_.drain(out);
    capture_.stop();
    ASSERT_TRUE(capture_.start(window_));
    button(SDL_BUTTON_RIGHT, true);
    ASSERT_EQ(capture_.drain(out), 1u);
    EXPECT_EQ(out[0].seq, 0);
    EXPECT_EQ(out[0].buttons, k_button_right);  // the mask restarted too
}

TEST_F(SdlInputCaptureTest, DrainHandsEachRecordOutOnce) {
    context_.on_input = nullptr;  // leave everything to the polling drain
    std::vector<InputEvent> out{InputEvent{}};
    EXPECT_EQ(capture_.drain(out), 0u);
    EXPECT_TRUE(out.empty());
    key(SDL_SCANCODE_A, true);
    key(SDL_SCANCODE_A, false);
    EXPECT_EQ(capture_.drain(out), 2u);
    EXPECT_EQ(capture_.drain(out), 0u);
    EXPECT_TRUE(out.empty());
}

TEST_F(SdlInputCaptureTest, NothingIsRecordedWhileInputIsPaused) {
    bool overlay_visible = true;
    context_.input_paused = [&] { return overlay_visible; };
    button(SDL_BUTTON_LEFT, true);
    motion(4, 4);
    wheel(1.0f);
    key(SDL_SCANCODE_A, true);
    EXPECT_TRUE(sent_.empty());
    std::vector<InputEvent> out;
    EXPECT_EQ(capture_.drain(out), 0u);

    overlay_visible = false;
    button(SDL_BUTTON_LEFT, true);
    ASSERT_EQ(sent_.size(), 1u);
    EXPECT_EQ(sent_[0].seq, 0);  // the paused events took no numbers
}

TEST_F(SdlInputCaptureTest, OnlyItsOwnWindowWithAContextCounts) {
    SDL_Window* other = SDL_CreateWindow("other", 0, 0, 64, 64, SDL_WINDOW_HIDDEN);
    ASSERT_NE(other, nullptr);
    attach_input_context(other, &context_);
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.windowID = SDL_GetWindowID(other);
    e.key.keysym.scancode = SDL_SCANCODE_A;
    push(e);
    e.key.windowID = 0;  // no keyboard focus
    push(e);
    EXPECT_TRUE(sent_.empty());
    SDL_DestroyWindow(other);

    detach_input_context(window_);
    key(SDL_SCANCODE_A, true);
    EXPECT_TRUE(sent_.empty());
    attach_input_context(window_, &context_);
    key(SDL_SCANCODE_A, true);
    EXPECT_EQ(sent_.size(), 1u);
}

TEST_F(SdlInputCaptureTest, StopEndsRecordingButKeepsPendingRecords) {
    context_.on_input = nullptr;
    key(SDL_SCANCODE_A, true);
    capture_.stop();
    capture_.stop();
    EXPECT_FALSE(capture_.running());
    EXPECT_FALSE(capture_.refresh());
    key(SDL_SCANCODE_A, false);
    std::vector<InputEvent> out;
    ASSERT_EQ(capture_.drain(out), 1u);
    EXPECT_EQ(out[0].type, InputEventType::key_down);
}

TEST_F(SdlInputCaptureTest, StartRejectsAMissingWindow) {
    SdlInputCapture other;
    EXPECT_FALSE(other.start(nullptr));
    EXPECT_FALSE(other.running());
    EXPECT_TRUE(capture_.refresh());
    EXPECT_EQ(capture_.name(), "SdlInputCapture");
}

TEST_F(SdlInputCaptureTest, UndrainedRecordsAreBoundedAndCounted) {
    context_.on_input = nullptr;
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.keysym.scancode = SDL_SCANCODE_A;
    for (size_t i = 0; i < SdlInputCapture::k_max_pending + 10; ++i) capture_.record(e);
    EXPECT_EQ(capture_.dropped_records(), 10u);
    std::vector<InputEvent> out;
    ASSERT_EQ(capture_.drain(out), SdlInputCapture::k_max_pending);
    EXPECT_EQ(out.back().seq, SdlInputCapture::k_max_pending - 1);  // no gaps in what is kept
    EXPECT_EQ(capture_.record(e), 1u);                              // room again after a drain
}

// The pipeline thread drains while the window thread records: every record
// must come out exactly once and in seq order.
TEST_F(SdlInputCaptureTest, ConcurrentDrainLosesAndDuplicatesNothing) {
    context_.on_input = nullptr;
    constexpr int k_events = 20000;
    std::atomic<bool> done{false};
    std::atomic<size_t> drained{0};
    std::vector<InputEvent> received;
    std::thread drainer([&] {
        std::vector<InputEvent> out;
        out.reserve(SdlInputCapture::k_max_pending);
        for (;;) {
            const bool last_pass = done.load();
            capture_.drain(out);
            received.insert(received.end(), out.begin(), out.end());
            drained += out.size();
            if (last_pass) break;
            std::this_thread::yield();
        }
    });
    for (int i = 0; i < k_events; ++i) {
        // A person cannot outrun a 1 ms drain; keep the producer within
        // the queue's bound so the test checks ordering, not the bound.
        while (static_cast<size_t>(i) - drained.load() >= SdlInputCapture::k_max_pending / 2) {
            std::this_thread::yield();
        }
        motion(1, -1);
    }
    done = true;
    drainer.join();
    ASSERT_EQ(received.size(), static_cast<size_t>(k_events));
    for (int i = 0; i < k_events; ++i) EXPECT_EQ(received[i].seq, static_cast<uint16_t>(i));
    EXPECT_EQ(capture_.dropped_records(), 0u);
}

}  // namespace
}  // namespace nb
