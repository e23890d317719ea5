// Mouse buttons as ImGui should see them at the start of a frame. ImGui reads
// the buttons and the pointer once per frame, so a press and its release
// that both land between two frames (a touchpad tap, a quick click on a busy
// machine) would never be seen, and a click followed by a move would land
// where the pointer went. The latch queues the changes with where they
// happened and plays them out one per button per frame.
#pragma once

#include <array>
#include <cstddef>
#include <deque>
#include <optional>

namespace nb::ui {

class MouseButtonLatch {
public:
    // Left, right, middle and the two side buttons, ImGui's numbering.
    static constexpr int k_buttons = 5;
    // Changes kept while no frame takes them (a window not drawing).
    static constexpr size_t k_queue_limit = 64;

    struct Point {
        float x = 0.0f;
        float y = 0.0f;
    };

    // A button's change at client position (x, y).
    void press(int button, float x, float y);
    void release(int button, float x, float y);

    // Writes the buttons for the frame about to begin into `down` (ImGui's
    // io.MouseDown): the queued changes up to a second change of one button,
    // which waits for the next frame. Returns where the last change taken
    // happened, for the frame's pointer; nothing when none was taken.
    std::optional<Point> start_frame(bool (&down)[k_buttons]);

private:
    struct Change {
        int button;
        bool down;
        Point at;
    };
    void queue(int button, bool down, float x, float y);

    std::array<bool, k_buttons> down_{};
    std::deque<Change> changes_;
};

}  // namespace nb::ui
