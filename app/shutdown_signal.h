// SIGINT and SIGTERM end the client: the handler only raises a flag that
// the session loop and the event loop poll.
#pragma once

#include <atomic>

namespace nb {

void install_shutdown_signal_handler();
bool shutdown_requested();

}  // namespace nb
