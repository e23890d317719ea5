// The platform's way of asking the client to end.
#include "app/shutdown_signal.h"

#include <windows.h>

#include <csignal>

namespace nb {

namespace {

// Ctrl+C, Ctrl+Break and closing the console arrive on a thread the
// system starts for the purpose; the flag is all it touches.
BOOL WINAPI on_console_event(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
            note_shutdown_signal();
            return TRUE;
        default:
            return FALSE;
    }
}

void on_shutdown_signal(int) { note_shutdown_signal(); }

}  // namespace

void install_shutdown_signal_handler() {
    SetConsoleCtrlHandler(on_console_event, TRUE);
    // raise() and the C runtime's own SIGTERM.
    std::signal(SIGTERM, on_shutdown_signal);
}

}  // namespace nb
