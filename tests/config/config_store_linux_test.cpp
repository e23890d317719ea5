// What the config store does with the key file, permission bits and links
// of a Linux user.
#include <gtest/gtest.h>

#include <string>

#include "tests/config/config_fixture.h"

namespace nb::test {
namespace {

using ui::Language;
using ui::LauncherConfig;

TEST_F(ConfigTest, SessionSealedUnderAnotherKeyStartsSignedOutSilently) {
    ASSERT_TRUE(store().save(signed_in_user()));
    std::filesystem::remove(key_file());
    ASSERT_FALSE(seal().seal("someone-else").empty());  // a new key now

    LogCapture log;
    // The profile keys belong to the session and are ignored with it;
    // settings outside the session still apply.
    LauncherConfig expected;
    expected.host = "api.example.net:8443";
    expected.use_https = true;
    expected.language = Language::russian;
    EXPECT_EQ(load(), expected);
    for (const auto& line : log.texts()) EXPECT_EQ(line.find("failed"), std::string::npos) << line;
}

TEST_F(ConfigTest, ConfigAndKeyAreForTheUserOnly) {
    plant_config("{}");
    std::filesystem::permissions(config_file(), std::filesystem::perms(0644));
    ASSERT_TRUE(store().save(signed_in_user()));
    EXPECT_EQ(permission_bits(config_file()), 0600u);
    EXPECT_EQ(permission_bits(key_file()), 0600u);

    auto config = load();
    store().forget_session(config);
    EXPECT_EQ(permission_bits(config_file()), 0600u);
}

TEST_F(ConfigTest, SavingThroughALinkKeepsTheLink) {
    const auto real = folder_ / "dotfiles" / "nubora.json";
    write_text_file(real, "{}");
    std::filesystem::create_directories(config_file().parent_path());
    std::filesystem::create_symlink(real, config_file());

    ASSERT_TRUE(store().save(signed_in_user()));
    EXPECT_TRUE(std::filesystem::is_symlink(config_file()));
    EXPECT_EQ(nlohmann::json::parse(read_text_file(real)).at("host"), "api.example.net:8443");
    EXPECT_TRUE(load().signed_in());
}

TEST_F(ConfigTest, SessionIsNotKeptWhenTheKeyCannotBeStored) {
    env_.erase("XDG_DATA_HOME");  // and no HOME either
    LogCapture log;
    ASSERT_TRUE(store().save(signed_in_user()));
    EXPECT_TRUE(log.contains_substring("TokenSeal: no folder for the key"));
    EXPECT_EQ(saved_json().at("token_enc"), "");
    EXPECT_FALSE(load().signed_in());
}

}  // namespace
}  // namespace nb::test
