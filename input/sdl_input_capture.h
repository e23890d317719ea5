// Input capture through SDL: an event watch on the streaming window turns
// each mouse and keyboard event into records the moment SDL pumps it.
#pragma once

#include <SDL_events.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "input/input_capture.h"
#include "input/input_record_queue.h"

namespace nb {

class SdlInputCapture final : public IInputCapture {
public:
    static constexpr size_t k_max_pending = InputRecordQueue::k_max_pending;

    SdlInputCapture();
    ~SdlInputCapture() override;

    SdlInputCapture(const SdlInputCapture&) = delete;
    SdlInputCapture& operator=(const SdlInputCapture&) = delete;

    // Installs the event watch for `window`. Events count only while the
    // window carries an InputWindowContext (input_window_context.h) that does
    // not pause input; mouse motion counts only in relative mouse mode.
    bool start(SDL_Window* window) override;
    size_t drain(std::vector<InputEvent>& out) override;
    void stop() override;
    bool refresh() override;
    size_t release_held() override;
    bool running() const override { return running_.load(std::memory_order_acquire); }
    std::string_view name() const override { return "SdlInputCapture"; }

    // Builds the records for one SDL event, whatever its window, and returns
    // how many were appended. Does nothing unless running. The event watch
    // calls it after its filters. Losing the keyboard focus releases the
    // buttons still held; SDL itself sends key-ups for held keys then.
    size_t record(const SDL_Event& event);

    // Records lost because the pending queue was full.
    uint64_t dropped_records() const { return queue_.dropped(); }

private:
    static int SDLCALL event_watch(void* self, SDL_Event* event);
    void on_watched_event(const SDL_Event& event);

    size_t record_motion(const SDL_MouseMotionEvent& motion);
    size_t record_button(const SDL_MouseButtonEvent& button);
    size_t record_wheel(const SDL_MouseWheelEvent& wheel);
    size_t record_key(const SDL_KeyboardEvent& key);

    std::atomic<bool> running_{false};
    // Written by start only, while the watch is not installed.
    SDL_Window* window_ = nullptr;
    uint32_t window_id_ = 0;

    InputRecordQueue queue_{"SdlInputCapture"};
    // Guards wheel_residue_: record may run on any thread a test picks.
    std::mutex lock_;
    // Wheel travel below one unit of 1/120 notch, carried to the next event
    // so smooth-scrolling devices lose nothing to rounding.
    float wheel_residue_ = 0.0f;

    std::atomic<uint64_t> hook_failures_{0};
};

}  // namespace nb
