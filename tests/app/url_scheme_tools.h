// The freedesktop tools the scheme tests check against (desktop-file-validate,
// xdg-mime, xdg-open), run as child processes to their end.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/client_process.h"

namespace nb::test {

using Environment = std::vector<std::pair<std::string, std::string>>;

// Full path of `name` on PATH; empty when it is not installed.
inline std::filesystem::path find_tool(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const auto candidate = std::filesystem::path(folder) / name;
        if (!folder.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

struct ToolRun {
    int exit_code = -1;
    std::string output;
};

// Runs a tool in `work_dir` (created when missing) until it ends.
inline ToolRun run_tool(const std::string& name, std::vector<std::string> args, Environment env,
                        const std::filesystem::path& work_dir) {
    const auto program = find_tool(name);
    EXPECT_FALSE(program.empty()) << name << " is missing; scripts/install-deps.sh installs it";
    if (program.empty()) return {};
    std::filesystem::create_directories(work_dir);
    ChildProcess tool(program, std::move(args), std::move(env), work_dir);
    ToolRun run;
    run.exit_code = tool.wait_exit();
    run.output = tool.output();
    return run;
}

// desktop-file-validate's verdict on one entry file: passes with no error
// and no warning. The tool's output lands in `work_dir`.
inline void expect_valid_desktop_entry(const std::filesystem::path& entry, const std::filesystem::path& work_dir) {
    const auto run = run_tool("desktop-file-validate", {entry.string()}, {}, work_dir);
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(run.output.find("error"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("warning"), std::string::npos) << run.output;
}

}  // namespace nb::test
