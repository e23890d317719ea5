// The platform's way of asking the client to end.
#include "app/shutdown_signal.h"

#include <csignal>

namespace nb {

namespace {
void on_shutdown_signal(int) { note_shutdown_signal(); }
}  // namespace

void install_shutdown_signal_handler() {
    struct sigaction action {};
    action.sa_handler = on_shutdown_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace nb
