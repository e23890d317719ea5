#include "ui/mouse_button_latch.h"

namespace nb::ui {

void MouseButtonLatch::press(int button, float x, float y) { queue(button, true, x, y); }

void MouseButtonLatch::release(int button, float x, float y) { queue(button, false, x, y); }

void MouseButtonLatch::queue(int button, bool down, float x, float y) {
    if (button < 0 || button >= k_buttons) return;
    // A window that draws no frames must not grow the queue; the oldest
    // changes matter least once it draws again.
    if (changes_.size() >= k_queue_limit) changes_.pop_front();
    changes_.push_back({button, down, {x, y}});
}

std::optional<MouseButtonLatch::Point> MouseButtonLatch::start_frame(bool (&down)[k_buttons]) {
    std::array<bool, k_buttons> changed{};
    std::optional<Point> at;
    while (!changes_.empty()) {
        const Change& next = changes_.front();
        if (next.down != down_[next.button]) {
            if (changed[next.button]) break;
            changed[next.button] = true;
            down_[next.button] = next.down;
        }
        at = next.at;
        changes_.pop_front();
    }
    for (int button = 0; button < k_buttons; ++button) down[button] = down_[button];
    return at;
}

}  // namespace nb::ui
