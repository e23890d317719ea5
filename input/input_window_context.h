// The context the streaming window carries for its input hook: how the
// capture learns, from the window alone, whether input is wanted right now
// and whom to hand fresh records to.
#pragma once

#include <functional>

struct SDL_Window;

namespace nb {

class IInputCapture;

// The window-data name the context is attached under.
inline constexpr char k_input_window_context_name[] = "Nubora_LauncherCtx";

// Owned by the shell for the life of the stream; it must stay alive until it
// is detached. Both callbacks run on the thread that pumps SDL events.
struct InputWindowContext {
    // True while something else owns the input (the in-stream overlay is
    // shown): events are then neither recorded nor handed on. Empty: never.
    std::function<bool()> input_paused;
    // Called right after an event produced records, so the owner can drain
    // the capture and send them without waiting for its polling loop.
    std::function<void(IInputCapture&)> on_input;
};

// Attaches `context` to `window` (SDL_SetWindowData under the name above),
// replacing any earlier one. Returns false for a null window.
bool attach_input_context(SDL_Window* window, InputWindowContext* context);

// Removes the context; input on the window is ignored from then on.
void detach_input_context(SDL_Window* window);

// The context attached to `window`, or null.
InputWindowContext* find_input_context(SDL_Window* window);

}  // namespace nb
