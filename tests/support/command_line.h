// A tool's command line, through its parser and through the built program.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/client_process.h"

namespace nb::test {

// What `parse` makes of `args` typed after the program's name.
template <typename Parser>
auto parse_command_line(Parser parse, std::vector<std::string> args) {
    args.insert(args.begin(), "program");
    std::vector<const char*> argv;
    for (auto& a : args) argv.push_back(a.c_str());
    return parse(static_cast<int>(argv.size()), argv.data());
}

// Each command line is refused with an error that contains its text.
template <typename Parser>
void expect_refused(Parser parse, const std::vector<std::pair<std::vector<std::string>, std::string>>& cases) {
    for (const auto& [args, part] : cases) {
        const auto p = parse_command_line(parse, args);
        EXPECT_FALSE(p.ok) << part;
        EXPECT_NE(p.error.find(part), std::string::npos) << "got: " << p.error;
    }
}

// --help names every option and exits 0; `bad` exits 2 with `complaint`.
inline void expect_usage(const std::filesystem::path& program, const std::vector<std::string>& options,
                         const std::vector<std::string>& bad, const std::string& complaint) {
    const auto dir = fresh_temp_dir("usage");
    ChildProcess help(program, {"--help"}, {}, dir);
    ASSERT_EQ(help.wait_exit(), 0);
    for (const auto& option : options) EXPECT_NE(help.output().find(option), std::string::npos) << option;
    ChildProcess refused(program, bad, {}, dir);
    EXPECT_EQ(refused.wait_exit(), 2);
    EXPECT_NE(refused.output().find(complaint), std::string::npos) << refused.output();
}

}  // namespace nb::test
