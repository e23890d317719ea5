// SIGINT and SIGTERM end the client: the handler only raises a flag that
// the session loop and the event loop poll.
#pragma once

#include <atomic>

namespace nb {

// The handler cannot wake SDL's event wait, so waits on window events
// check the flag at least this often.
inline constexpr int k_signal_check_ms = 50;

void install_shutdown_signal_handler();
bool shutdown_requested();

// For the platform's handler: records the request. Async-signal-safe.
void note_shutdown_signal() noexcept;

}  // namespace nb
