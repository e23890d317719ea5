// Xvfb reports its display number on a pipe (-displayfd), so parallel test
// processes never race for a display.
#include "x_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace nb::test {
namespace {

pid_t spawn(std::vector<std::string> argv, const posix_spawn_file_actions_t* actions) {
    std::vector<char*> args;
    for (std::string& s : argv) args.push_back(s.data());
    args.push_back(nullptr);
    pid_t pid = -1;
    return posix_spawnp(&pid, args[0], actions, nullptr, args.data(), environ) == 0 ? pid : -1;
}

}  // namespace

XServer::~XServer() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
}

std::string XServer::start(const std::string& screen) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return {};
    // Only the write end, duplicated without close-on-exec, reaches Xvfb.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // -noreset: the server would drop setxkbmap's layout once it disconnects.
    pid_ = spawn({"Xvfb", "-displayfd", "3", "-screen", "0", screen, "-nolisten", "tcp", "-noreset"}, &actions);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    while (pid_ > 0 && number.find('\n') == std::string::npos && poll(&p, 1, 10000) > 0) {
        char buf[16];
        const ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        number.append(buf, static_cast<size_t>(n));
    }
    close(fds[0]);
    const auto end = number.find('\n');
    return end == std::string::npos || end == 0 ? std::string{} : ":" + number.substr(0, end);
}

int run_program(const std::vector<std::string>& argv) {
    const pid_t pid = spawn(argv, nullptr);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace nb::test
