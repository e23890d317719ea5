// A private Xvfb for tests that need a real X server, and a runner for the
// X tools (xdotool, setxkbmap) pointed at it.
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

    // Starts Xvfb on a display it picks itself. False, with `error()` set,
    // when Xvfb is missing or does not come up within 10 s.
    bool start();
    void stop();

    const std::string& display() const { return display_; }
    const std::string& error() const { return error_; }

    // Runs a program with DISPLAY set to this server and waits for it.
    // Returns its exit status, or -1 when it could not be run.
    int run(const std::vector<std::string>& argv) const;

private:
    pid_t pid_ = -1;
    std::string display_;
    std::string error_;
};

}  // namespace nb::test
