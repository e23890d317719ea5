// What the streaming window tells the user outside a running stream: the
// connection attempt, and why a stream ended or never started.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <string>

namespace nb {

// The streaming window's plain title; tools find the window by it.
inline constexpr const char* k_window_title = "Nubora";

// Shows `status` in the window title; an empty text restores the plain title.
// ASCII only: X drops the UTF-8 title of a process in the C locale.
void show_window_status(SDL_Window* window, const std::string& status);

// Shows `status` for `hold_ms` while keeping the window responsive; closing
// the window or a shutdown signal ends the wait early.
void hold_window_status(SDL_Window* window, const std::string& status, int64_t hold_ms);

}  // namespace nb
