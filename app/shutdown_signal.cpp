#include "app/shutdown_signal.h"

#include <csignal>

namespace nb {

namespace {
// Written only by the signal handler; lock-free so the handler stays async-signal-safe.
std::atomic<bool> g_shutdown{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void on_shutdown_signal(int) { g_shutdown.store(true); }
}  // namespace

void install_shutdown_signal_handler() {
    struct sigaction action {};
    action.sa_handler = on_shutdown_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool shutdown_requested() { return g_shutdown.load(); }

}  // namespace nb
