#include "app/event_loop.h"

#include <spdlog/spdlog.h>

#include "app/shutdown_signal.h"
#include "common/log_text.h"
#include "session/launcher.h"
#include "ui/overlay_imgui.h"
#include "video/video_thread.h"

namespace nb {

namespace {

// How long one wait for window events may last: a shutdown signal or a
// session that ended elsewhere is noticed within it, since neither wakes SDL.
constexpr int k_event_wait_ms = 100;

class EventLoop {
public:
    EventLoop(SDL_Window* window, Launcher& launcher, ui::OverlayImGui* overlay)
        : window_(window), launcher_(launcher), overlay_(overlay) {}

    void run() {
        bool quit = false;
        while (!quit && launcher_.running()) {
            if (shutdown_requested()) {
                spdlog::info("Shutdown signal received — ending session");
                break;
            }
            SDL_Event event;
            if (!SDL_WaitEventTimeout(&event, k_event_wait_ms)) continue;
            do {
                if (handle(event)) quit = true;
            } while (SDL_PollEvent(&event));
        }
    }

private:
    // Returns true when the event asks the loop to end.
    bool handle(const SDL_Event& event) {
        // While the panel is shown the GUI sees the window's events; the
        // overlay itself checks visibility under its lock.
        if (overlay_ && launcher_.overlay_visible()) overlay_->handle_event(event);
        switch (event.type) {
        case SDL_QUIT:
            return true;
        case SDL_WINDOWEVENT:
            // Size changes the program makes itself (leaving full screen)
            // come only as SIZE_CHANGED; a drag brings both kinds.
            if (event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
                spdlog::info("Window resized to {}x{}", event.window.data1, event.window.data2);
                resize_renderer();
            }
            return false;
        case SDL_MOUSEBUTTONDOWN:
            if (!launcher_.overlay_visible()) set_relative_mouse(true);
            return false;
        case SDL_KEYDOWN:
            // A held key's auto-repeats would flip each toggle back and
            // forth at the keyboard's repeat rate: only the press counts.
            if (event.key.repeat == 0) handle_key(event.key.keysym);
            return false;
        default:
            return false;
        }
    }

    void handle_key(const SDL_Keysym& key) {
        const bool shift = (key.mod & KMOD_SHIFT) != 0;
        const bool alt = (key.mod & KMOD_ALT) != 0;
        switch (key.sym) {
        case SDLK_ESCAPE:
            if (!shift && !alt) set_relative_mouse(false);
            break;
        case SDLK_RETURN:
            if (shift && !alt) toggle_fullscreen();
            break;
        case SDLK_F11:
            toggle_fullscreen();
            break;
        case SDLK_m:
            if (shift && alt) set_relative_mouse(!SDL_GetRelativeMouseMode());
            break;
        case SDLK_q:
            if (shift && alt) toggle_overlay(ui::OverlayMode::settings);
            break;
        case SDLK_i:
            if (shift && alt) toggle_overlay(ui::OverlayMode::information);
            break;
        default:
            break;
        }
    }

    void set_relative_mouse(bool on) {
        if (SDL_SetRelativeMouseMode(on ? SDL_TRUE : SDL_FALSE) != 0) {
            spdlog::warn("SDL_SetRelativeMouseMode failed: {}", SDL_GetError());
        }
        launcher_.refresh_raw_input();
    }

    // A shown panel frees and shows the pointer and stops input going to the
    // agent; hiding it captures the mouse again.
    void toggle_overlay(ui::OverlayMode mode) {
        if (!overlay_) return;
        const bool visible = overlay_->toggle(mode);
        if (visible) {
            spdlog::info("Overlay: {} panel shown", mode == ui::OverlayMode::settings ? "settings" : "information");
        } else {
            spdlog::info("Overlay: hidden");
        }
        SDL_ShowCursor(visible ? SDL_ENABLE : SDL_DISABLE);
        set_relative_mouse(!visible);
        launcher_.set_overlay_visible(visible);
        // The hot key's own keys went down on the remote before the panel
        // took the input; their releases would never follow.
        if (visible) launcher_.release_remote_input();
    }

    // Leaving full screen puts back the size the window had before. A
    // window manager does that by itself; without one, SDL keeps believing
    // the full-screen size while the window shrinks, and the picture would
    // be drawn for a window that is no longer there.
    void toggle_fullscreen() {
        const Uint32 flags = SDL_GetWindowFlags(window_);
        const bool fullscreen = (flags & (SDL_WINDOW_FULLSCREEN | SDL_WINDOW_FULLSCREEN_DESKTOP)) != 0;
        if (!fullscreen) {
            SDL_GetWindowSize(window_, &windowed_width_, &windowed_height_);
            SDL_SetWindowFullscreen(window_, SDL_WINDOW_FULLSCREEN_DESKTOP);
        } else {
            SDL_SetWindowFullscreen(window_, 0);
            if (windowed_width_ > 0 && windowed_height_ > 0) {
                SDL_SetWindowSize(window_, windowed_width_, windowed_height_);
            }
        }
        resize_renderer();
    }

    // The renderer draws in pixels, which on high-DPI screens exceed the
    // window's size in screen units. The video thread owns it: the new size
    // is posted there, in order with the pictures.
    void resize_renderer() {
        int width = 0;
        int height = 0;
        SDL_GetWindowSizeInPixels(window_, &width, &height);
        if (width <= 0 || height <= 0) return;
        if (VideoThread* video = launcher_.video()) {
            video->resize(static_cast<uint32_t>(width), static_cast<uint32_t>(height));
        }
    }

    SDL_Window* window_;
    int windowed_width_ = 0;
    int windowed_height_ = 0;
    Launcher& launcher_;
    ui::OverlayImGui* overlay_;
};

}  // namespace

void run_event_loop(SDL_Window* window, Launcher& launcher, ui::OverlayImGui* overlay) {
    try {
        EventLoop(window, launcher, overlay).run();
    } catch (const std::exception& e) {
        spdlog::critical("Event loop exception: {}", log_safe(e.what()));
    } catch (...) {
        spdlog::critical("Event loop: unknown exception");
    }
}

}  // namespace nb
