// WM_INPUT to InputEvent records through a subclassed window procedure.
#include "input/raw_input_capture.h"

#include <SDL_syswm.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <array>
#include <exception>

#include "common/clock.h"
#include "common/logging.h"
#include "input/input_window_context.h"

namespace nb {
namespace {

// Where the window keeps the capture that hooked it.
constexpr wchar_t k_capture_property[] = L"Nubora.RawInputCapture";
constexpr USHORT k_usage_page_generic = 1;
constexpr USHORT k_usage_mouse = 2;
constexpr USHORT k_usage_keyboard = 6;

int16_t clamp_i16(LONG v) { return static_cast<int16_t>(std::clamp<LONG>(v, INT16_MIN, INT16_MAX)); }

// Down and up flags of the three carried buttons, in the order they apply.
struct ButtonFlag {
    USHORT flag;
    uint8_t bit;
    bool down;
};
constexpr std::array<ButtonFlag, 6> k_button_flags{{
    {RI_MOUSE_LEFT_BUTTON_DOWN, k_button_left, true},
    {RI_MOUSE_LEFT_BUTTON_UP, k_button_left, false},
    {RI_MOUSE_RIGHT_BUTTON_DOWN, k_button_right, true},
    {RI_MOUSE_RIGHT_BUTTON_UP, k_button_right, false},
    {RI_MOUSE_MIDDLE_BUTTON_DOWN, k_button_middle, true},
    {RI_MOUSE_MIDDLE_BUTTON_UP, k_button_middle, false},
}};

HWND native_window(SDL_Window* window) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(window, &info) != SDL_TRUE || info.subsystem != SDL_SYSWM_WINDOWS) return nullptr;
    return info.info.win.window;
}

}  // namespace

RawInputCapture::RawInputCapture() = default;

RawInputCapture::~RawInputCapture() { stop(); }

bool RawInputCapture::register_devices(DWORD flags, HWND target) {
    // No RIDEV_NOLEGACY: SDL still sees ordinary mouse and key messages for
    // its own use (hot keys, the overlay).
    const RAWINPUTDEVICE devices[2] = {
        {k_usage_page_generic, k_usage_mouse, flags == RIDEV_REMOVE ? flags : DWORD{RIDEV_INPUTSINK}, target},
        {k_usage_page_generic, k_usage_keyboard, flags == RIDEV_REMOVE ? flags : 0, target},
    };
    return RegisterRawInputDevices(devices, 2, sizeof(RAWINPUTDEVICE)) != FALSE;
}

bool RawInputCapture::start(SDL_Window* window) {
    if (running()) stop();
    HWND hwnd = window != nullptr ? native_window(window) : nullptr;
    if (hwnd == nullptr) {
        spdlog::error("RawInputWin: null HWND");
        return false;
    }
    if (!register_devices(0, hwnd)) {
        spdlog::error("RawInputWin: RegisterRawInputDevices failed (err={})", GetLastError());
        return false;
    }
    spdlog::debug("RawInputWin: registered mouse + keyboard raw input");
    if (!SetPropW(hwnd, k_capture_property, this)) {
        spdlog::error("RawInputWin: SetPropW failed (err={})", GetLastError());
        register_devices(RIDEV_REMOVE, nullptr);
        return false;
    }
    window_ = window;
    hwnd_ = hwnd;
    previous_proc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RawInputCapture::window_hook)));
    queue_.reset();
    running_.store(true, std::memory_order_release);
    spdlog::info("RawInputWin: started input capture");
    return true;
}

void RawInputCapture::stop() {
    if (!running_.exchange(false, std::memory_order_acq_rel)) return;
    register_devices(RIDEV_REMOVE, nullptr);
    unhook();
    spdlog::info("RawInputWin: stopped");
}

void RawInputCapture::unhook() {
    // Someone who subclassed the window after us keeps our hook in their
    // chain; it then forwards everything, as the property is gone.
    if (GetWindowLongPtrW(hwnd_, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&RawInputCapture::window_hook)) {
        SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_proc_));
    }
    RemovePropW(hwnd_, k_capture_property);
}

bool RawInputCapture::refresh() {
    if (!running()) return false;
    if (!register_devices(0, hwnd_)) {
        spdlog::error("RawInputWin: RegisterRawInputDevices failed (err={})", GetLastError());
        return false;
    }
    spdlog::debug("RawInputWin: registered mouse + keyboard raw input");
    return true;
}

LRESULT CALLBACK RawInputCapture::window_hook(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* capture = static_cast<RawInputCapture*>(GetPropW(hwnd, k_capture_property));
    if (capture == nullptr) {
        // Unhooked while someone else's procedure still forwards to us.
        return DefWindowProcW(hwnd, message, wparam, lparam);
    }
    if (message == WM_INPUT) {
        // Nothing may unwind through the system's message dispatch.
        try {
            capture->on_window_input(reinterpret_cast<HRAWINPUT>(lparam));
        } catch (const std::exception& e) {
            if (const uint64_t n = should_log_throttled(capture->hook_failures_, 5, 1000)) {
                spdlog::error("RawInputWin: input hook exception ({} so far): {}", n, e.what());
            }
        }
    }
    // WM_INPUT too goes on, so the system's clean-up of the input runs.
    return CallWindowProcW(capture->previous_proc_, hwnd, message, wparam, lparam);
}

void RawInputCapture::on_window_input(HRAWINPUT handle) {
    InputWindowContext* context = find_input_context(window_);
    if (context == nullptr) return;
    if (context->input_paused && context->input_paused()) return;
    if (on_raw_input(handle) > 0 && context->on_input) context->on_input(*this);
}

size_t RawInputCapture::on_raw_input(HRAWINPUT handle) {
    if (!running()) return 0;
    UINT size = 0;
    if (GetRawInputData(handle, RID_INPUT, nullptr, &size, sizeof(RAWINPUTHEADER)) != 0) return 0;
    if (size == 0 || size > k_max_raw_bytes) return 0;
    alignas(RAWINPUT) std::array<uint8_t, k_max_raw_bytes> buffer{};
    UINT expected = size;
    if (GetRawInputData(handle, RID_INPUT, buffer.data(), &size, sizeof(RAWINPUTHEADER)) != expected) return 0;
    const auto& input = *reinterpret_cast<const RAWINPUT*>(buffer.data());
    // A short read cannot carry the device part it names.
    const UINT needed = sizeof(RAWINPUTHEADER) +
                        (input.header.dwType == RIM_TYPEMOUSE ? sizeof(RAWMOUSE) : sizeof(RAWKEYBOARD));
    if (expected < needed && input.header.dwType != RIM_TYPEHID) return 0;
    return record(input);
}

size_t RawInputCapture::record(const RAWINPUT& input) {
    if (!running()) return 0;
    switch (input.header.dwType) {
        case RIM_TYPEMOUSE: return record_mouse(input.data.mouse);
        case RIM_TYPEKEYBOARD: return record_key(input.data.keyboard);
        default: return 0;
    }
}

size_t RawInputCapture::record_mouse(const RAWMOUSE& mouse) {
    const USHORT flags = mouse.usButtonFlags;
    uint8_t set = 0;
    uint8_t cleared = 0;
    for (const ButtonFlag& button : k_button_flags) {
        if ((flags & button.flag) != 0) (button.down ? set : cleared) |= button.bit;
    }
    size_t appended = queue_.change_buttons(set, cleared);
    // Absolute positions (tablets, remote desktops) are no device motion.
    if ((mouse.usFlags & MOUSE_MOVE_ABSOLUTE) == 0 && (mouse.lLastX != 0 || mouse.lLastY != 0)) {
        appended += queue_.move(clamp_i16(mouse.lLastX), clamp_i16(mouse.lLastY));
    }
    if ((flags & RI_MOUSE_WHEEL) != 0) appended += queue_.wheel(static_cast<int16_t>(mouse.usButtonData));
    return appended;
}

size_t RawInputCapture::record_key(const RAWKEYBOARD& key) {
    const bool down = (key.Flags & RI_KEY_BREAK) == 0;
    return queue_.key(down, key.VKey, static_cast<uint8_t>(key.MakeCode & 0xFF), static_cast<uint8_t>(key.Flags & 0xFF));
}

size_t RawInputCapture::release_held() { return queue_.release_held(); }

size_t RawInputCapture::drain(std::vector<InputEvent>& out) { return queue_.drain(out); }

}  // namespace nb
