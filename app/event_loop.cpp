#include "app/event_loop.h"

#include <spdlog/spdlog.h>

#include "app/shutdown_signal.h"
#include "session/launcher.h"

namespace nb {

namespace {

void toggle_fullscreen(SDL_Window* window) {
    const Uint32 flags = SDL_GetWindowFlags(window);
    const bool fullscreen = (flags & (SDL_WINDOW_FULLSCREEN | SDL_WINDOW_FULLSCREEN_DESKTOP)) != 0;
    SDL_SetWindowFullscreen(window, fullscreen ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP);
}

void set_relative_mouse(bool on) {
    if (SDL_SetRelativeMouseMode(on ? SDL_TRUE : SDL_FALSE) != 0) {
        spdlog::warn("SDL_SetRelativeMouseMode failed: {}", SDL_GetError());
    }
}

// Returns true when the event asks the loop to end.
bool handle_event(const SDL_Event& event, SDL_Window* window, Launcher& launcher) {
    switch (event.type) {
    case SDL_QUIT:
        return true;
    case SDL_WINDOWEVENT:
        if (event.window.event == SDL_WINDOWEVENT_RESIZED) {
            spdlog::info("Window resized to {}x{}", event.window.data1, event.window.data2);
        }
        return false;
    case SDL_MOUSEBUTTONDOWN:
        if (!launcher.overlay_visible()) set_relative_mouse(true);
        return false;
    case SDL_KEYDOWN: {
        const SDL_Keymod mods = static_cast<SDL_Keymod>(event.key.keysym.mod);
        const bool shift = (mods & KMOD_SHIFT) != 0;
        const bool alt = (mods & KMOD_ALT) != 0;
        switch (event.key.keysym.sym) {
        case SDLK_ESCAPE:
            if (!shift && !alt) set_relative_mouse(false);
            break;
        case SDLK_RETURN:
            if (shift && !alt) toggle_fullscreen(window);
            break;
        case SDLK_F11:
            toggle_fullscreen(window);
            break;
        case SDLK_m:
            if (shift && alt) set_relative_mouse(!SDL_GetRelativeMouseMode());
            break;
        default:
            break;
        }
        return false;
    }
    default:
        return false;
    }
}

}  // namespace

void run_event_loop(SDL_Window* window, Launcher& launcher) {
    try {
        bool quit = false;
        while (!quit && launcher.running()) {
            if (shutdown_requested()) {
                spdlog::info("Shutdown signal received — ending session");
                break;
            }
            SDL_Event event;
            while (SDL_PollEvent(&event)) {
                if (handle_event(event, window, launcher)) quit = true;
            }
            SDL_Delay(1);
        }
    } catch (const std::exception& e) {
        spdlog::critical("Event loop exception: {}", e.what());
    } catch (...) {
        spdlog::critical("Event loop: unknown exception");
    }
}

}  // namespace nb
