// The real nubora-backend-sim as a child process whose console output the
// test reads as it comes, blocking on the pipe rather than polling a file.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/client_process.h"

namespace nb::test {

class SimProcess {
public:
    SimProcess(std::vector<std::string> args, const std::filesystem::path& work_dir) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return;
        std::vector<std::string> text = {(build_dir() / "nubora-backend-sim").string()};
        text.insert(text.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : text) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            if (::chdir(work_dir.c_str()) != 0) ::_exit(127);
            ::dup2(fds[1], STDOUT_FILENO);
            ::dup2(fds[1], STDERR_FILENO);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        out_ = fds[0];
    }
    ~SimProcess() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Reads output until it holds `text`; false when the program ends first or
    // 30 s pass. Returns the rest of the line after `text` in `after`.
    bool read_until(const std::string& text, std::string* after = nullptr) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        for (;;) {
            if (const size_t at = output_.find(text, searched_); at != std::string::npos) {
                const size_t end = output_.find('\n', at);
                if (end != std::string::npos) {
                    if (after) *after = output_.substr(at + text.size(), end - at - text.size());
                    searched_ = end;
                    return true;
                }
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !read_some(static_cast<int>(left.count()))) return false;
        }
    }
    // Reads what it prints until it closes its output, then its exit code;
    // -1, after killing it, when it stays silent and alive for 30 s.
    int wait_exit() {
        while (read_some(30'000)) {
        }
        int status = 0;
        if (!eof_) ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        exited_ = true;
        if (!eof_) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    void signal(int sig) const { ::kill(pid_, sig); }
    const std::string& output() const { return output_; }

private:
    bool read_some(int timeout_ms) {
        pollfd p{out_, POLLIN, 0};
        if (::poll(&p, 1, timeout_ms) <= 0) return false;
        char buffer[4096];
        const ssize_t n = ::read(out_, buffer, sizeof buffer);
        eof_ = n <= 0;
        if (n <= 0) return false;
        output_.append(buffer, static_cast<size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    bool exited_ = false;
    bool eof_ = false;
    std::string output_;
    size_t searched_ = 0;
};

}  // namespace nb::test
