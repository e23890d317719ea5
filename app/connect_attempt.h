// The handshake of one stream on a worker thread, while the main thread
// keeps the window alive, shows what is happening and lets the user give up.
#pragma once

#include <SDL.h>

#include "common/connection_params.h"

namespace nb {

class Launcher;

class ConnectAttempt {
public:
    enum class Result { connected, failed, closed_by_user, stopped_by_signal };

    ConnectAttempt(SDL_Window* window, Launcher& launcher) : window_(window), launcher_(launcher) {}

    // Runs Launcher::tcp_handshake. Closing the window or a shutdown signal
    // cancels it; either way it returns within a fraction of a second.
    Result run(const ConnectionParams& params);

private:
    SDL_Window* window_;
    Launcher& launcher_;
};

}  // namespace nb
