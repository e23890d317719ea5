// Starts a built program of the project as a child process in its own
// working folder, with its output captured to a file there. Programs are
// found in NB_BUILD_DIR when set, else in the working folder, which CTest
// makes the build folder.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace nb::test {

inline std::filesystem::path build_dir() {
    const char* dir = std::getenv("NB_BUILD_DIR");
    return dir ? std::filesystem::path(dir) : std::filesystem::current_path();
}

inline std::filesystem::path fresh_temp_dir(const std::string& name) {
    auto dir = std::filesystem::temp_directory_path() /
               (name + "-" + std::to_string(::getpid()) + "-" + std::to_string(std::rand()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

class ChildProcess {
public:
    ChildProcess(const std::filesystem::path& program, std::vector<std::string> args,
                 std::vector<std::pair<std::string, std::string>> env, std::filesystem::path work_dir)
        : work_dir_(std::move(work_dir)), output_path_(work_dir_ / "output.txt") {
        pid_ = ::fork();
        if (pid_ == 0) {
            if (::chdir(work_dir_.c_str()) != 0) ::_exit(127);
            FILE* out = std::freopen(output_path_.c_str(), "w", stdout);
            if (!out || ::dup2(::fileno(stdout), 2) < 0) ::_exit(127);
            // The client registers itself for nubora:// links at every start;
            // folders of its own keep that out of the user's home.
            ::setenv("XDG_DATA_HOME", (work_dir_ / "xdg-data").c_str(), 1);
            ::setenv("XDG_CONFIG_HOME", (work_dir_ / "xdg-config").c_str(), 1);
            for (auto& [key, value] : env) ::setenv(key.c_str(), value.c_str(), 1);
            std::vector<char*> argv;
            std::string program_text = program.string();
            argv.push_back(program_text.data());
            for (auto& arg : args) argv.push_back(arg.data());
            argv.push_back(nullptr);
            ::execv(program_text.c_str(), argv.data());
            ::_exit(127);
        }
    }

    ~ChildProcess() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    std::string output() const {
        std::ifstream in(output_path_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    bool wait_for_output(const std::string& text, std::chrono::seconds limit = std::chrono::seconds(20)) const {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            if (output().find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    void signal(int sig) const { ::kill(pid_, sig); }

    // The exit code, or -1 when the process did not end in time (it is then killed).
    int wait_exit(std::chrono::seconds limit = std::chrono::seconds(30)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }

    const std::filesystem::path& work_dir() const { return work_dir_; }

private:
    std::filesystem::path work_dir_;
    std::filesystem::path output_path_;
    pid_t pid_ = -1;
    bool exited_ = false;
};

}  // namespace nb::test
