// SDL event watch to InputEvent records: relative motion, button mask,
// wheel in 1/120 notches and keys as Windows Raw Input reports them.
#include "input/sdl_input_capture.h"

#include <SDL_mouse.h>
#include <SDL_video.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <cmath>
#include <exception>

#include "common/clock.h"
#include "common/logging.h"
#include "input/input_window_context.h"
#include "input/key_translation.h"

namespace nb {
namespace {

int16_t clamp_i16(int64_t v) {
    return static_cast<int16_t>(std::clamp<int64_t>(v, INT16_MIN, INT16_MAX));
}

uint8_t button_bit(uint8_t sdl_button) {
    switch (sdl_button) {
        case SDL_BUTTON_LEFT: return k_button_left;
        case SDL_BUTTON_RIGHT: return k_button_right;
        case SDL_BUTTON_MIDDLE: return k_button_middle;
        default: return 0;  // side buttons are not carried
    }
}

// The window an input event belongs to, or 0 for other events.
uint32_t input_window_id(const SDL_Event& event) {
    switch (event.type) {
        case SDL_MOUSEMOTION: return event.motion.windowID;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: return event.button.windowID;
        case SDL_MOUSEWHEEL: return event.wheel.windowID;
        case SDL_KEYDOWN:
        case SDL_KEYUP: return event.key.windowID;
        case SDL_WINDOWEVENT: return event.window.windowID;
        default: return 0;
    }
}

}  // namespace

SdlInputCapture::SdlInputCapture() = default;

SdlInputCapture::~SdlInputCapture() {
    stop();
}

bool SdlInputCapture::start(SDL_Window* window) {
    if (running()) stop();
    if (window == nullptr) {
        spdlog::error("SdlInputCapture: null window");
        return false;
    }
    const uint32_t id = SDL_GetWindowID(window);
    if (id == 0) {
        spdlog::error("SdlInputCapture: SDL_GetWindowID failed: {}", SDL_GetError());
        return false;
    }
    window_ = window;
    window_id_ = id;
    queue_.reset();
    {
        std::lock_guard guard(lock_);
        wheel_residue_ = 0.0f;
    }
    running_.store(true, std::memory_order_release);
    SDL_AddEventWatch(&SdlInputCapture::event_watch, this);
    spdlog::debug("SdlInputCapture: registered mouse + keyboard input");
    spdlog::info("SdlInputCapture: started input capture");
    return true;
}

void SdlInputCapture::stop() {
    if (!running_.exchange(false, std::memory_order_acq_rel)) return;
    // SDL holds its watcher lock while dispatching, so once this returns no
    // watch call is in flight and the object may go away.
    SDL_DelEventWatch(&SdlInputCapture::event_watch, this);
    spdlog::info("SdlInputCapture: stopped");
}

bool SdlInputCapture::refresh() {
    if (!running() || window_ == nullptr) return false;
    // The watch reads the relative mode per event, so there is nothing to
    // re-register; a button held across the switch stays in the mask.
    spdlog::debug("SdlInputCapture: registered mouse + keyboard input (relative mouse {})",
                  SDL_GetRelativeMouseMode() == SDL_TRUE ? "on" : "off");
    return true;
}

size_t SdlInputCapture::release_held() { return queue_.release_held(); }

size_t SdlInputCapture::drain(std::vector<InputEvent>& out) { return queue_.drain(out); }

int SDLCALL SdlInputCapture::event_watch(void* self, SDL_Event* event) {
    auto* capture = static_cast<SdlInputCapture*>(self);
    // Nothing may unwind into SDL's C code.
    try {
        capture->on_watched_event(*event);
    } catch (const std::exception& e) {
        if (const uint64_t n = should_log_throttled(capture->hook_failures_, 5, 1000)) {
            spdlog::error("SdlInputCapture: input hook exception ({} so far): {}", n, e.what());
        }
    } catch (...) {
        if (const uint64_t n = should_log_throttled(capture->hook_failures_, 5, 1000)) {
            spdlog::error("SdlInputCapture: input hook unknown exception ({} so far)", n);
        }
    }
    return 1;  // the return value of a watch is ignored; keep the event
}

void SdlInputCapture::on_watched_event(const SDL_Event& event) {
    if (!running()) return;
    const uint32_t id = input_window_id(event);
    if (id == 0 || id != window_id_) return;
    InputWindowContext* context = find_input_context(window_);
    if (context == nullptr) return;
    if (context->input_paused && context->input_paused()) return;
    // Without relative mode the pointer is free and its motion is absolute,
    // accelerated desktop movement: it is not the remote mouse's.
    if (event.type == SDL_MOUSEMOTION && SDL_GetRelativeMouseMode() != SDL_TRUE) return;
    if (record(event) > 0 && context->on_input) context->on_input(*this);
}

size_t SdlInputCapture::record(const SDL_Event& event) {
    if (!running()) return 0;
    switch (event.type) {
        case SDL_MOUSEMOTION: return record_motion(event.motion);
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: return record_button(event.button);
        case SDL_MOUSEWHEEL: return record_wheel(event.wheel);
        case SDL_KEYDOWN:
        case SDL_KEYUP: return record_key(event.key);
        case SDL_WINDOWEVENT:
            return event.window.event == SDL_WINDOWEVENT_FOCUS_LOST ? queue_.release_buttons() : 0;
        default: return 0;
    }
}

size_t SdlInputCapture::record_motion(const SDL_MouseMotionEvent& motion) {
    // Touch-synthesised motion is absolute by nature.
    if (motion.which == SDL_TOUCH_MOUSEID) return 0;
    if (motion.xrel == 0 && motion.yrel == 0) return 0;
    return queue_.move(clamp_i16(motion.xrel), clamp_i16(motion.yrel));
}

size_t SdlInputCapture::record_button(const SDL_MouseButtonEvent& button) {
    if (button.which == SDL_TOUCH_MOUSEID) return 0;
    const uint8_t bit = button_bit(button.button);
    return button.type == SDL_MOUSEBUTTONDOWN ? queue_.change_buttons(bit, 0) : queue_.change_buttons(0, bit);
}

size_t SdlInputCapture::record_wheel(const SDL_MouseWheelEvent& wheel) {
    if (wheel.which == SDL_TOUCH_MOUSEID) return 0;
    float notches = wheel.preciseY;
    // Events pushed without the precise field still carry whole notches.
    if (notches == 0.0f) notches = static_cast<float>(wheel.y);
    std::lock_guard guard(lock_);
    // Natural scrolling flips SDL's values; the remote expects the physical
    // direction, positive away from the user.
    if (wheel.direction == SDL_MOUSEWHEEL_FLIPPED) notches = -notches;
    if (!std::isfinite(notches)) return 0;
    const float units = wheel_residue_ + notches * static_cast<float>(k_wheel_delta);
    const float whole = std::trunc(std::clamp(units, float{INT16_MIN}, float{INT16_MAX}));
    // What a clamped flick exceeds is gone; only a fraction below one unit carries.
    wheel_residue_ = std::abs(units - whole) < 1.0f ? units - whole : 0.0f;
    if (whole == 0.0f) return 0;
    return queue_.wheel(static_cast<int16_t>(whole));
}

size_t SdlInputCapture::record_key(const SDL_KeyboardEvent& key) {
    const SDL_Scancode scancode = key.keysym.scancode;
    const SDL_Keycode layout_key = key.keysym.sym != SDLK_UNKNOWN ? key.keysym.sym : SDL_GetKeyFromScancode(scancode);
    const bool num_lock = (key.keysym.mod & KMOD_NUM) != 0;
    const auto windows_key = translate_key(scancode, layout_key, num_lock);
    if (!windows_key) {
        spdlog::trace("SdlInputCapture: no Windows key for scancode {}", static_cast<int>(scancode));
        return 0;
    }
    const bool down = key.type == SDL_KEYDOWN;
    const uint8_t flags = static_cast<uint8_t>(windows_key->flags | (down ? 0 : k_key_flag_break));
    return queue_.key(down, windows_key->virtual_key, windows_key->scan_code, flags);
}

}  // namespace nb
