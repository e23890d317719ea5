// Start-up and the loop that alternates the launcher window and streams.
#pragma once

namespace nb {

// Runs the whole client; returns the process exit code (0 after the launcher
// window was closed or a shutdown signal, 1 after a fatal failure).
int run_client(int argc, char** argv);

}  // namespace nb
