// Forked children for the suites that race or kill processes.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace nb::test {

// Runs `body` in a forked child that exits with its result (0 for success).
inline pid_t fork_child(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    return pid;
}

inline int wait_exit_code(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace nb::test
