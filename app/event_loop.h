// The streaming window's event loop on the main thread.
#pragma once

#include <SDL.h>

namespace nb {

class Launcher;

// Pumps the window until it is closed, the session stops or a shutdown
// signal arrives.
void run_event_loop(SDL_Window* window, Launcher& launcher);

}  // namespace nb
