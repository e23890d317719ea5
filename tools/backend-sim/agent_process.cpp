#include "tools/backend-sim/agent_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <spdlog/spdlog.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>

namespace nb {
namespace {

constexpr const char* k_ready_marker = "Agent: ready (control ";
constexpr size_t k_kept_lines = 8;
constexpr auto k_stop_grace = std::chrono::seconds(5);

}  // namespace

bool AgentProcess::start(const std::string& program, const std::vector<std::string>& args, int64_t timeout_ms,
                         ExitCallback on_unexpected_exit) {
    on_exit_ = std::move(on_unexpected_exit);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        spdlog::error("AgentProcess: {}: no pipe: {}", label_, std::strerror(errno));
        return false;
    }
    // Everything the child needs is built before fork: after it, only
    // async-signal-safe calls are allowed.
    std::vector<std::string> argv_text = {program};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();

    pid_ = ::fork();
    if (pid_ == 0) {
        // An agent must not outlive a simulator that was killed outright.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(127);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::dup2(fds[1], STDOUT_FILENO);
        ::dup2(fds[1], STDERR_FILENO);
        // The simulator's sockets (httplib does not mark them close-on-exec)
        // must not live on in the agent and keep client connections open.
        if (::close_range(3, ~0U, 0) != 0) {
            for (int fd = 3; fd < 1024; ++fd) ::close(fd);
        }
        ::execv(argv[0], argv.data());
        const char message[] = "exec failed\n";
        [[maybe_unused]] auto n = ::write(STDERR_FILENO, message, sizeof message - 1);
        ::_exit(127);
    }
    ::close(fds[1]);
    if (pid_ < 0) {
        spdlog::error("AgentProcess: {}: fork failed: {}", label_, std::strerror(errno));
        ::close(fds[0]);
        return false;
    }
    spdlog::info("AgentProcess: {}: started {} (pid {})", label_, program, pid_);
    reader_ = std::thread([this, fd = fds[0]] { read_output(fd); });

    std::unique_lock lock(mutex_);
    const bool settled = changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return ready_ || exited_; });
    if (ready_) {
        spdlog::info("AgentProcess: {}: ready, control port {}", label_, control_port_);
        return true;
    }
    std::string tail;
    for (const auto& line : last_lines_) tail += "\n    " + line;
    lock.unlock();
    spdlog::error("AgentProcess: {}: {}; its last output:{}", label_,
                  settled ? "exited before it was ready" : "not ready in time", tail.empty() ? " (none)" : tail);
    stop();
    return false;
}

void AgentProcess::stop() {
    {
        std::unique_lock lock(mutex_);
        stopping_ = true;
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGTERM);
            if (!changed_.wait_for(lock, k_stop_grace, [&] { return exited_; })) {
                spdlog::warn("AgentProcess: {}: still running after SIGTERM, killing it", label_);
                ::kill(pid_, SIGKILL);
            }
        }
    }
    if (reader_.joinable()) reader_.join();
}

void AgentProcess::read_output(int fd) {
    std::string pending;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        pending.append(buffer, static_cast<size_t>(n));
        size_t newline;
        while ((newline = pending.find('\n')) != std::string::npos) {
            handle_line(pending.substr(0, newline));
            pending.erase(0, newline + 1);
        }
    }
    if (!pending.empty()) handle_line(pending);
    ::close(fd);

    // The output closes when the agent exits; reap it under the lock so stop()
    // never signals a pid that has been handed to another process.
    int status = 0;
    bool expected = false;
    {
        std::lock_guard lock(mutex_);
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        exited_ = true;
        // An agent that never got ready is start()'s failure to report.
        expected = stopping_ || !ready_;
    }
    changed_.notify_all();
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    spdlog::info("AgentProcess: {}: exited with status {}", label_, code);
    if (!expected && on_exit_) {
        try {
            on_exit_(code);
        } catch (const std::exception& e) {
            spdlog::error("AgentProcess: {}: exit handler failed: {}", label_, e.what());
        }
    }
}

void AgentProcess::handle_line(const std::string& line) {
    spdlog::debug("AgentProcess: {}: {}", label_, line);
    std::lock_guard lock(mutex_);
    last_lines_.push_back(line);
    if (last_lines_.size() > k_kept_lines) last_lines_.pop_front();
    const size_t at = line.find(k_ready_marker);
    if (ready_ || at == std::string::npos) return;
    const char* first = line.data() + at + std::strlen(k_ready_marker);
    unsigned port = 0;
    auto [end, ec] = std::from_chars(first, line.data() + line.size(), port);
    if (ec != std::errc() || port == 0 || port > 65535) return;
    control_port_ = static_cast<uint16_t>(port);
    ready_ = true;
    changed_.notify_all();
}

}  // namespace nb
