// Damaged, hostile and oddly typed config files: one warning, then whatever
// was read before the damage, and defaults for the rest.
#include <gtest/gtest.h>

#include <string>

#include "common/log_text.h"
#include "tests/config/config_fixture.h"

namespace nb::test {
namespace {

using ui::Language;

constexpr const char* k_load_warning = "NativeLauncher: failed to load config";

// Replaces "$SEALED" in a file text by a token sealed under the test user's key.
std::string with_sealed_token(std::string text, const ui::TokenSeal& seal) {
    const auto at = text.find("$SEALED");
    if (at != std::string::npos) text.replace(at, 7, seal.seal("tok-1"));
    return text;
}

struct DamageCase {
    const char* name;
    std::string file;
    std::string host;  // what was read before the damage, or the default
    bool use_https;
    Language language;
};

class ConfigDamage : public ConfigTest, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(ConfigDamage, WarnsOnceAndKeepsWhatCameBefore) {
    const auto& c = GetParam();
    plant_config(with_sealed_token(c.file, seal()));
    LogCapture log;
    ui::LauncherConfig config;
    EXPECT_FALSE(store().load(config));
    EXPECT_EQ(log.count(k_load_warning), 1u);
    EXPECT_TRUE(log.contains_at(spdlog::level::warn, k_load_warning));
    EXPECT_TRUE(log.contains_substring("ConfigStore: " + log_safe(config_file().string()) + ": "));
    EXPECT_EQ(config.host, c.host);
    EXPECT_EQ(config.use_https, c.use_https);
    EXPECT_EQ(config.language, c.language);
    EXPECT_FALSE(config.signed_in());
    EXPECT_EQ(config.email, "");
    EXPECT_EQ(config.balance_cents, 0);
}

const std::string k_default_host = "localhost:3000";

INSTANTIATE_TEST_SUITE_P(
    Cases, ConfigDamage,
    ::testing::Values(
        DamageCase{"NotJson", "host=a:1", k_default_host, false, Language::english},
        DamageCase{"EmptyFile", "", k_default_host, false, Language::english},
        DamageCase{"CutShort", R"({"host":"a:1","use_https":tr)", k_default_host, false, Language::english},
        DamageCase{"Array", R"([{"host":"a:1"}])", k_default_host, false, Language::english},
        DamageCase{"Null", "null", k_default_host, false, Language::english},
        DamageCase{"NotUtf8", "{\"host\":\"\xFF\"}", k_default_host, false, Language::english},
        DamageCase{"NumericHost", R"({"host":5,"use_https":true})", k_default_host, false, Language::english},
        DamageCase{"HttpsAsText", R"({"host":"a:1","use_https":"yes","locale":"ru"})", "a:1", false,
                   Language::english},
        DamageCase{"HttpsAsNumber", R"({"host":"a:1","use_https":1})", "a:1", false, Language::english},
        DamageCase{"LocaleAsList", R"({"host":"a:1","use_https":true,"locale":["ru"]})", "a:1", true,
                   Language::english},
        DamageCase{"TokenAsNumber", R"({"locale":"ru","token_enc":42})", k_default_host, false,
                   Language::russian},
        DamageCase{"BalanceAsText", R"({"token_enc":"$SEALED","user_email":"a@b","balance_cents":"lots"})",
                   k_default_host, false, Language::english},
        DamageCase{"BalanceBeyondInt64", R"({"token_enc":"$SEALED","balance_cents":9223372036854775808})",
                   k_default_host, false, Language::english},
        DamageCase{"BalanceHugeFloat", R"({"token_enc":"$SEALED","balance_cents":1e300})", k_default_host, false,
                   Language::english},
        DamageCase{"BalanceFraction", R"({"token_enc":"$SEALED","balance_cents":12.5})", k_default_host, false,
                   Language::english},
        DamageCase{"EmailNull", R"({"host":"a:1","token_enc":"$SEALED","user_email":null})", "a:1", false,
                   Language::english},
        DamageCase{"RoleAsObject", R"({"token_enc":"$SEALED","user_role":{"x":1}})", k_default_host, false,
                   Language::english},
        DamageCase{"DeeplyNested", std::string(200000, '[') + std::string(200000, ']'), k_default_host, false,
                   Language::english}),
    [](const auto& info) { return std::string(info.param.name); });

struct BalanceCase {
    const char* text;
    int64_t expected;
};

class ConfigBalance : public ConfigTest, public ::testing::WithParamInterface<BalanceCase> {};

TEST_P(ConfigBalance, WholeNumbersInRangeAreTaken) {
    plant_config(with_sealed_token(std::string(R"({"token_enc":"$SEALED","balance_cents":)") + GetParam().text + "}",
                                   seal()));
    const auto config = load();
    EXPECT_TRUE(config.signed_in());
    EXPECT_EQ(config.balance_cents, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ConfigBalance,
                         ::testing::Values(BalanceCase{"0", 0}, BalanceCase{"-250", -250},
                                           BalanceCase{"12.0", 12},
                                           BalanceCase{"9223372036854775807", INT64_MAX},
                                           BalanceCase{"-9223372036854775808", INT64_MIN}));

TEST_F(ConfigTest, OversizedFileIsRefusedUnread) {
    plant_config(R"({"host":"a:1","pad":")" + std::string(2 * 1024 * 1024, 'x') + "\"}");
    LogCapture log;
    const auto config = load();
    EXPECT_TRUE(log.contains_at(spdlog::level::warn, k_load_warning));
    EXPECT_TRUE(log.contains_substring("is larger than 1048576 bytes"));
    EXPECT_EQ(config.host, "localhost:3000");
}

TEST_F(ConfigTest, FolderInPlaceOfTheFileIsRefused) {
    std::filesystem::create_directories(config_file());
    LogCapture log;
    ui::LauncherConfig config;
    EXPECT_FALSE(store().load(config));
    EXPECT_TRUE(log.contains_at(spdlog::level::warn, k_load_warning));
    EXPECT_TRUE(log.contains_substring("is not a regular file"));
    // Saving cannot replace a folder; it fails and says so.
    EXPECT_FALSE(store().save(config));
}

TEST_F(ConfigTest, DamagedSealedTokenStartsSignedOutSilently) {
    const auto sealed = seal().seal("tok-1");
    std::string flipped = sealed;
    flipped[10] = flipped[10] == 'A' ? 'B' : 'A';
    for (const std::string& token_enc :
         {std::string("not base64!"), sealed.substr(0, sealed.size() / 2), flipped, std::string("")}) {
        SCOPED_TRACE(token_enc);
        plant_config(R"({"host":"a:1","token_enc":")" + token_enc + R"(","user_email":"a@b"})");
        LogCapture log(spdlog::level::info);
        const auto config = load();
        EXPECT_FALSE(config.signed_in());
        EXPECT_EQ(config.email, "");
        EXPECT_EQ(config.host, "a:1");
        EXPECT_TRUE(log.texts().empty());
    }
}

TEST_F(ConfigTest, SignOutLeavesAnUnreadableFileAlone) {
    plant_config("{\"token_enc\": garbage");
    auto config = signed_in_user();
    LogCapture log;
    store().forget_session(config);
    EXPECT_FALSE(config.signed_in());
    EXPECT_EQ(read_text_file(config_file()), "{\"token_enc\": garbage");
    EXPECT_TRUE(log.texts().empty());
}

}  // namespace
}  // namespace nb::test
