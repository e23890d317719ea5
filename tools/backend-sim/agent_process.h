// One nubora-agent-sim child process for a rented session: started with its
// token and ports, watched through its console output (which also tells us
// when it is ready and on which control port), and stopped with SIGTERM.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace nb {

class AgentProcess {
public:
    // Called on the output thread when the agent ends without being asked to.
    using ExitCallback = std::function<void(int exit_status)>;

    explicit AgentProcess(std::string label) : label_(std::move(label)) {}
    ~AgentProcess() { stop(); }
    AgentProcess(const AgentProcess&) = delete;
    AgentProcess& operator=(const AgentProcess&) = delete;

    // Runs `program` with `args` and waits up to `timeout_ms` for its ready
    // line. False, logged with the agent's last output lines, when it cannot
    // be started, exits early or does not get ready in time.
    bool start(const std::string& program, const std::vector<std::string>& args, int64_t timeout_ms,
               ExitCallback on_unexpected_exit);
    // Idempotent: SIGTERM, up to 5 s for it to exit, then SIGKILL.
    void stop();

    uint16_t control_port() const { return control_port_; }
    pid_t pid() const { return pid_; }

private:
    void read_output(int fd);
    void handle_line(const std::string& line);

    const std::string label_;
    pid_t pid_ = -1;
    uint16_t control_port_ = 0;
    ExitCallback on_exit_;
    std::thread reader_;

    std::mutex mutex_;  // guards the fields below; held while reaping, so a pid is never signalled after reuse
    std::condition_variable changed_;
    bool ready_ = false;
    bool exited_ = false;
    bool stopping_ = false;
    std::deque<std::string> last_lines_;
};

}  // namespace nb
