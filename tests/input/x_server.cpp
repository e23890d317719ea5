// Xvfb reports its display number on a pipe (-displayfd), so parallel test
// processes never race for a display.
#include "x_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

extern char** environ;

namespace nb::test {
namespace {

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env,
            posix_spawn_file_actions_t* actions) {
    std::vector<std::string> env_strings;
    for (char** e = environ; *e != nullptr; ++e) {
        bool replaced = false;
        for (const std::string& x : extra_env) {
            const auto eq = x.find('=');
            if (std::strncmp(*e, x.c_str(), eq + 1) == 0) replaced = true;
        }
        if (!replaced) env_strings.emplace_back(*e);
    }
    env_strings.insert(env_strings.end(), extra_env.begin(), extra_env.end());
    std::vector<char*> envp;
    for (std::string& s : env_strings) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (std::string& s : args) argp.push_back(s.data());
    argp.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argp[0], actions, nullptr, argp.data(), envp.data()) != 0) return -1;
    return pid;
}

}  // namespace

XServer::~XServer() {
    stop();
}

bool XServer::start() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error_ = "pipe failed";
        return false;
    }
    // Only the write end, duplicated without close-on-exec, reaches Xvfb.
    constexpr int k_child_fd = 3;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], k_child_fd);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_ = spawn({"Xvfb", "-displayfd", std::to_string(k_child_fd), "-screen", "0", "800x600x24", "-nolisten",
                  "tcp", "-noreset"},
                 {}, &actions);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (pid_ < 0) {
        close(fds[0]);
        error_ = "Xvfb could not be started";
        return false;
    }
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    while (number.find('\n') == std::string::npos && poll(&p, 1, 10000) > 0) {
        char buf[16];
        const ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        number.append(buf, static_cast<size_t>(n));
    }
    close(fds[0]);
    if (number.empty() || number.find('\n') == std::string::npos) {
        error_ = "Xvfb did not report a display";
        stop();
        return false;
    }
    display_ = ":" + number.substr(0, number.find('\n'));
    return true;
}

void XServer::stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

int XServer::run(const std::vector<std::string>& argv) const {
    const pid_t pid = spawn(argv, {"DISPLAY=" + display_}, nullptr);
    if (pid < 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace nb::test
