// The streaming window's event loop on the main thread.
#pragma once

#include <SDL.h>

namespace nb {

class Launcher;
namespace ui {
class OverlayImGui;
}

// Pumps the window until it is closed, the session stops or a shutdown
// signal arrives. `overlay` may be null (no hot keys for it then).
void run_event_loop(SDL_Window* window, Launcher& launcher, ui::OverlayImGui* overlay = nullptr);

}  // namespace nb
