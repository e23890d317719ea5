// Window-data glue for the input context.
#include "input/input_window_context.h"

#include <SDL_video.h>

namespace nb {

bool attach_input_context(SDL_Window* window, InputWindowContext* context) {
    if (window == nullptr) return false;
    SDL_SetWindowData(window, k_input_window_context_name, context);
    return true;
}

void detach_input_context(SDL_Window* window) {
    if (window == nullptr) return;
    SDL_SetWindowData(window, k_input_window_context_name, nullptr);
}

InputWindowContext* find_input_context(SDL_Window* window) {
    if (window == nullptr) return nullptr;
    return static_cast<InputWindowContext*>(SDL_GetWindowData(window, k_input_window_context_name));
}

}  // namespace nb
