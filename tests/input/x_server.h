// A private Xvfb for tests that change server state (the keyboard layout),
// so they never disturb a shared display.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace nb::test {

class XServer {
public:
    XServer() = default;
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    // Starts Xvfb (one screen of `screen`, "WxHxDepth") on a display it picks
    // itself and returns that display
    // (":N"), or an empty string when Xvfb is missing or does not come up.
    std::string start(const std::string& screen = "800x600x24");

private:
    pid_t pid_ = -1;
};

// Runs a program (searched in PATH, with this process's environment) and
// waits for it. Returns its exit status, or -1 when it could not be run.
int run_program(const std::vector<std::string>& argv);

}  // namespace nb::test
