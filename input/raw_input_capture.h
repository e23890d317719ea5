// Input capture through Windows Raw Input on SDL's streaming window: device
// deltas without pointer acceleration, and keys with the make codes and
// extended-key flags the keyboard itself reported.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "input/input_capture.h"
#include "input/input_record_queue.h"

namespace nb {

// The window procedure is replaced for the length of a capture; the capture
// is found from the window through a property, and every message goes on to
// the procedure it replaced. Records are built on the window's thread while
// it pumps messages; drain may run on any thread.
class RawInputCapture final : public IInputCapture {
public:
    static constexpr size_t k_max_pending = InputRecordQueue::k_max_pending;
    // RAWINPUT of a mouse or keyboard is well below this.
    static constexpr UINT k_max_raw_bytes = 256;

    RawInputCapture();
    ~RawInputCapture() override;

    RawInputCapture(const RawInputCapture&) = delete;
    RawInputCapture& operator=(const RawInputCapture&) = delete;

    // Registers mouse and keyboard for the window's HWND and subclasses it.
    // Input counts only while the window carries an InputWindowContext
    // (input_window_context.h) that does not pause it.
    bool start(SDL_Window* window) override;
    size_t drain(std::vector<InputEvent>& out) override;
    void stop() override;
    // SDL unregisters the raw mouse when it leaves relative mode, so the
    // devices are registered again after every switch.
    bool refresh() override;
    size_t release_held() override;
    bool running() const override { return running_.load(std::memory_order_acquire); }
    std::string_view name() const override { return "RawInputWin"; }

    // Builds the records of one WM_INPUT, whatever the context says, and
    // returns how many were appended. Does nothing unless running.
    size_t on_raw_input(HRAWINPUT handle);
    // The records of one already-read RAWINPUT; on_raw_input's second half.
    size_t record(const RAWINPUT& input);

    uint64_t dropped_records() const { return queue_.dropped(); }

private:
    static LRESULT CALLBACK window_hook(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
    bool register_devices(DWORD flags, HWND target);
    void on_window_input(HRAWINPUT handle);
    void unhook();

    size_t record_mouse(const RAWMOUSE& mouse);
    size_t record_key(const RAWKEYBOARD& key);

    std::atomic<bool> running_{false};
    // Written by start and stop on the window's thread, read by the hook there.
    SDL_Window* window_ = nullptr;
    HWND hwnd_ = nullptr;
    WNDPROC previous_proc_ = nullptr;

    InputRecordQueue queue_{"RawInputWin"};
    std::atomic<uint64_t> hook_failures_{0};
};

}  // namespace nb
