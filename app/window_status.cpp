#include "app/window_status.h"

#include <algorithm>
#include <chrono>

#include "app/shutdown_signal.h"
#include "ui/status_card.h"

namespace nb {

void show_window_status(SDL_Window* window, const std::string& status) {
    const std::string title = status.empty() ? std::string(k_window_title) : std::string(k_window_title) + " - " + status;
    SDL_SetWindowTitle(window, title.c_str());
}

void hold_window_status(SDL_Window* window, const std::string& status, int64_t hold_ms) {
    show_window_status(window, status);
    ui::StatusCard card(window);
    card.show(status, ui::StatusCard::Kind::notice);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(hold_ms);
    while (!shutdown_requested()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return;
        SDL_Event event;
        if (!SDL_WaitEventTimeout(&event, static_cast<int>(std::min<int64_t>(left.count(), k_signal_check_ms)))) continue;
        do {
            if (event.type == SDL_QUIT ||
                (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE)) {
                return;
            }
            card.handle(event);
        } while (SDL_PollEvent(&event));
        card.draw();
    }
}

}  // namespace nb
