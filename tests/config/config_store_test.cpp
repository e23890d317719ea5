// Loading, saving and signing out with the config file of Nubora/config.json.
#include <gtest/gtest.h>

#include <string>

#include "tests/config/config_fixture.h"

namespace nb::test {
namespace {

using ui::Language;
using ui::LauncherConfig;

TEST_F(ConfigTest, WithoutAnyFolderRunsOnDefaultsAndSavesNothing) {
    env_.clear();
    const auto store = this->store();
    EXPECT_TRUE(store.path().empty());
    LauncherConfig config;
    EXPECT_TRUE(store.load(config));
    EXPECT_EQ(config, LauncherConfig{});
    EXPECT_TRUE(store.save(signed_in_user()));
    EXPECT_TRUE(std::filesystem::is_empty(folder_.path()));
}

TEST_F(ConfigTest, FirstStartCreatesTheFolderButNoFile) {
    LogCapture log;
    EXPECT_EQ(load(), LauncherConfig{});
    EXPECT_TRUE(std::filesystem::is_directory(config_file().parent_path()));
    EXPECT_FALSE(std::filesystem::exists(config_file()));
    EXPECT_TRUE(log.texts().empty());
}

TEST_F(ConfigTest, EmptyObjectGivesDefaults) {
    plant_config("{}");
    LogCapture log;
    EXPECT_EQ(load(), LauncherConfig{});
    EXPECT_TRUE(log.texts().empty());
}

struct LocaleCase {
    const char* file;
    Language expected;
};

class ConfigLocale : public ConfigTest, public ::testing::WithParamInterface<LocaleCase> {};

TEST_P(ConfigLocale, OnlyLowerCaseRuSelectsRussian) {
    plant_config(GetParam().file);
    EXPECT_EQ(load().language, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ConfigLocale,
                         ::testing::Values(LocaleCase{R"({"locale":"ru"})", Language::russian},
                                           LocaleCase{R"({"locale":"RU"})", Language::english},
                                           LocaleCase{R"({"locale":"en"})", Language::english},
                                           LocaleCase{R"({"locale":"de"})", Language::english},
                                           LocaleCase{R"({"locale":"ru "})", Language::english},
                                           LocaleCase{R"({"locale":""})", Language::english}));

TEST_F(ConfigTest, LongHostKeepsItsFirst255Bytes) {
    const std::string host(300, 'h');
    plant_config(R"({"host":")" + host + R"("})");
    EXPECT_EQ(load().host, host.substr(0, 255));
}

TEST_F(ConfigTest, HostCutNeverSplitsACharacterSoItStillSaves) {
    // 254 ASCII bytes and then a two-byte letter that straddles the limit.
    const std::string host = std::string(254, 'h') + "\xD0\xB6" + "tail";
    EXPECT_EQ(ui::clamp_backend_host(host), std::string(254, 'h'));
    EXPECT_EQ(ui::clamp_backend_host(std::string(255, 'h') + "\xD0\xB6"), std::string(255, 'h'));
    EXPECT_EQ(ui::clamp_backend_host("api.local:80"), "api.local:80");

    LauncherConfig config;
    config.host = ui::clamp_backend_host(host);
    ASSERT_TRUE(store().save(config));
    EXPECT_EQ(load().host, std::string(254, 'h'));
}

TEST_F(ConfigTest, HostThatIsNotUtf8StillSaves) {
    LauncherConfig config;
    config.host = "bad\xFF" "host:1";
    ASSERT_TRUE(store().save(config));
    EXPECT_EQ(load().host, "bad\xEF\xBF\xBD" "host:1");
}

TEST_F(ConfigTest, SignedInSessionSurvivesARestart) {
    const auto saved = signed_in_user();
    ASSERT_TRUE(store().save(saved));
    LogCapture log;
    EXPECT_EQ(load(), saved);
    EXPECT_TRUE(log.contains_at(spdlog::level::info, "NativeLauncher: restored session for ann@example.net"));
}

TEST_F(ConfigTest, FileIsSortedTwoSpaceJsonWithTheTokenSealed) {
    ASSERT_TRUE(store().save(signed_in_user()));
    const auto sealed = saved_json().at("token_enc").get<std::string>();
    EXPECT_EQ(read_text_file(config_file()),
              "{\n"
              "  \"balance_cents\": 123456789012,\n"
              "  \"host\": \"api.example.net:8443\",\n"
              "  \"locale\": \"ru\",\n"
              "  \"token_enc\": \"" + sealed + "\",\n"
              "  \"use_https\": true,\n"
              "  \"user_display_name\": \"Ann\",\n"
              "  \"user_email\": \"ann@example.net\",\n"
              "  \"user_role\": \"merchant\"\n"
              "}");
    EXPECT_EQ(read_text_file(config_file()).find("bearer-7f3a"), std::string::npos);
    EXPECT_EQ(seal().unseal(sealed), "bearer-7f3a");
}

TEST_F(ConfigTest, SignedOutSaveWritesProfileKeysButNoTokenKey) {
    LauncherConfig config;
    config.language = Language::english;
    ASSERT_TRUE(store().save(config));
    EXPECT_EQ(saved_json(), nlohmann::json::parse(R"({"balance_cents":0,"host":"localhost:3000","locale":"en",
        "use_https":false,"user_display_name":"","user_email":"","user_role":"client"})"));
}

TEST_F(ConfigTest, SignOutRemovesOnlyTheTokenFromTheFile) {
    ASSERT_TRUE(store().save(signed_in_user()));
    auto file = saved_json();
    file["window_hint"] = "kept";  // a key of some other version
    plant_config(file.dump(2));

    auto config = load();
    ASSERT_TRUE(config.signed_in());
    store().forget_session(config);

    auto signed_out = signed_in_user();
    signed_out.token = signed_out.email = signed_out.display_name = signed_out.role = "";
    signed_out.balance_cents = 0;
    EXPECT_EQ(config, signed_out);

    file.erase("token_enc");
    EXPECT_EQ(saved_json(), file);
    EXPECT_EQ(read_text_file(config_file()), file.dump(2));
    signed_out.role = "client";
    EXPECT_EQ(load(), signed_out);
}

TEST_F(ConfigTest, FailedSaveKeepsTheOldFileAndSaysSo) {
    ASSERT_TRUE(store().save(signed_in_user()));
    const auto before = read_text_file(config_file());
    // A file where the folder should be: nothing can be created in it, even
    // for root.
    env_["APPDATA"] = config_file().string();

    LogCapture log;
    EXPECT_FALSE(store().save(LauncherConfig{}));
    EXPECT_TRUE(log.contains_at(spdlog::level::warn, "NativeLauncher: failed to save config"));
    EXPECT_TRUE(log.contains_substring("ConfigStore: cannot create a temporary file"));
    EXPECT_EQ(read_text_file(config_file()), before);
}

}  // namespace
}  // namespace nb::test
