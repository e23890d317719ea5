// Xvfb's -displayfd picks a free display and reports it once the server
// accepts connections.
#include "tests/video/x_display.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace nb::test {
namespace {

struct PrivateServer {
    pid_t pid = -1;
    ~PrivateServer() {
        if (pid > 0 && kill(pid, SIGTERM) == 0) waitpid(pid, nullptr, 0);
    }
} server;

bool start_xvfb() {
    int fds[2];
    if (pipe(fds) != 0 || (server.pid = fork()) < 0) return false;
    if (server.pid == 0) {
        close(fds[0]);
        prctl(PR_SET_PDEATHSIG, SIGTERM);  // the server goes with the test process, however that ends
        const std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1920x1080x24", "-nolisten", "tcp",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    for (char c = 0; read(fds[0], &c, 1) == 1 && c != '\n';) number += c;
    close(fds[0]);
    return !number.empty() && setenv("DISPLAY", (":" + number).c_str(), 1) == 0;
}

}  // namespace

bool ensure_x_display() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] {
        const char* display = std::getenv("DISPLAY");
        ok = (display && *display) || start_xvfb();
        if (!ok) std::fprintf(stderr, "x_display: no DISPLAY and Xvfb could not be started\n");
    });
    return ok;
}

}  // namespace nb::test
