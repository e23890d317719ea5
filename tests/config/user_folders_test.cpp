#include "ui/user_folders.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace nb::ui {
namespace {

using Env = std::map<std::string, std::string>;

EnvLookup lookup(const Env& env) {
    return [&env](const char* name) -> const char* {
        auto found = env.find(name);
        return found == env.end() ? nullptr : found->second.c_str();
    };
}

struct FolderCase {
    const char* name;
    Env env;
    std::string config;
    std::string key;
};

class UserFolders : public ::testing::TestWithParam<FolderCase> {};

TEST_P(UserFolders, FollowTheEnvironment) {
    const auto& c = GetParam();
    EXPECT_EQ(config_file_path(lookup(c.env)).string(), c.config);
    EXPECT_EQ(token_key_path(lookup(c.env)).string(), c.key);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UserFolders,
    ::testing::Values(
        FolderCase{"AppdataFirst",
                   {{"APPDATA", "/r/app"}, {"XDG_CONFIG_HOME", "/r/cfg"}, {"HOME", "/h"}},
                   "/r/app/Nubora/config.json",
                   "/h/.local/share/Nubora/token.key"},
        FolderCase{"XdgFolders",
                   {{"XDG_CONFIG_HOME", "/r/cfg"}, {"XDG_DATA_HOME", "/r/data"}, {"HOME", "/h"}},
                   "/r/cfg/Nubora/config.json",
                   "/r/data/Nubora/token.key"},
        FolderCase{"HomeOnly", {{"HOME", "/h"}}, "/h/.config/Nubora/config.json", "/h/.local/share/Nubora/token.key"},
        // Empty and relative XDG values are to be ignored, as if unset.
        FolderCase{"EmptyValuesIgnored",
                   {{"APPDATA", ""}, {"XDG_CONFIG_HOME", ""}, {"XDG_DATA_HOME", ""}, {"HOME", "/h"}},
                   "/h/.config/Nubora/config.json",
                   "/h/.local/share/Nubora/token.key"},
        FolderCase{"RelativeXdgIgnored",
                   {{"XDG_CONFIG_HOME", "cfg"}, {"XDG_DATA_HOME", "data"}, {"HOME", "/h"}},
                   "/h/.config/Nubora/config.json",
                   "/h/.local/share/Nubora/token.key"},
        FolderCase{"NothingKnown", {}, "", ""},
        FolderCase{"EmptyHome", {{"HOME", ""}}, "", ""},
        FolderCase{"AppdataWithoutHome", {{"APPDATA", "/r/app"}}, "/r/app/Nubora/config.json", ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace nb::ui
