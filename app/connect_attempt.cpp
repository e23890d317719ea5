#include "app/connect_attempt.h"

#include <spdlog/spdlog.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "app/shutdown_signal.h"
#include "app/window_status.h"
#include "common/log_text.h"
#include "session/launcher.h"
#include "ui/status_card.h"

namespace nb {

namespace {

// Wakes the main thread's event wait; the event itself carries nothing and
// every later event loop ignores it.
void wake_main_thread() {
    SDL_Event wake{};
    wake.type = SDL_USEREVENT;
    SDL_PushEvent(&wake);
}

bool asks_to_close(const SDL_Event& event) {
    return event.type == SDL_QUIT || (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE);
}

}  // namespace

ConnectAttempt::Result ConnectAttempt::run(const ConnectionParams& params) {
    std::mutex status_lock;  // guards status and status_changed
    std::string status;
    bool status_changed = false;
    std::atomic<bool> done{false};
    bool connected = false;  // written by the worker before `done`

    launcher_.set_connect_progress([&](const std::string& text) {
        {
            std::lock_guard lock(status_lock);
            status = text;
            status_changed = true;
        }
        wake_main_thread();
    });
    std::thread worker([&] {
        try {
            connected = launcher_.tcp_handshake(params);
        } catch (const std::exception& e) {
            spdlog::critical("Connect thread exception: {}", log_safe(e.what()));
        } catch (...) {
            spdlog::critical("Connect thread: unknown exception");
        }
        done.store(true);
        wake_main_thread();
    });

    ui::StatusCard card(window_);
    card.show("Connecting to " + params.host + ":" + std::to_string(params.port), ui::StatusCard::Kind::progress);
    Result cancelled = Result::failed;
    bool cancel_pressed = false;
    bool cancel_sent = false;
    while (!done.load()) {
        SDL_Event event;
        if (SDL_WaitEventTimeout(&event, k_signal_check_ms)) {
            do {
                const bool pressed = card.handle(event);
                if ((asks_to_close(event) || pressed) && !cancel_sent) {
                    cancelled = Result::closed_by_user;
                    cancel_pressed = pressed;
                }
            } while (SDL_PollEvent(&event));
        }
        if (shutdown_requested() && cancelled == Result::failed) cancelled = Result::stopped_by_signal;
        if (cancelled != Result::failed && !cancel_sent) {
            if (cancel_pressed) {
                spdlog::info("Cancel pressed while connecting — giving up");
            } else if (cancelled == Result::closed_by_user) {
                spdlog::info("Window closed while connecting — giving up");
            } else {
                spdlog::info("Shutdown signal received while connecting — giving up");
            }
            launcher_.cancel_connect();
            cancel_sent = true;
        }
        std::lock_guard lock(status_lock);
        if (status_changed) {
            show_window_status(window_, status);
            card.show(status, ui::StatusCard::Kind::progress);
            status_changed = false;
        } else {
            card.draw();
        }
    }
    worker.join();
    launcher_.set_connect_progress({});
    show_window_status(window_, {});
    // A cancel that came too late to stop the handshake still wins: the
    // user asked to leave and the event that said so is gone.
    if (cancel_sent) return cancelled;
    return connected ? Result::connected : Result::failed;
}

}  // namespace nb
