// The launcher's two languages and the texts derived from backend values.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ui/launcher_format.h"
#include "ui/localisation.h"
#include "ui/theme.h"

namespace nb::ui {
namespace {

class Localisation : public ::testing::Test {
protected:
    void TearDown() override { set_language(false); }
};

TEST_F(Localisation, BothTablesAreCompleteAndTranslateTheSameEntries) {
    const TextTable& english = texts_for(false);
    const TextTable& russian = texts_for(true);
    for (size_t i = 0; i < t_text_count; ++i) {
        ASSERT_NE(english[i], nullptr) << i;
        ASSERT_NE(russian[i], nullptr) << i;
        EXPECT_GT(std::strlen(russian[i]), 0u) << i;
    }
    const struct { Txt entry; const char* english; const char* russian; } samples[] = {
        {t_product_name, "Nubora", "Nubora"},
        {t_servers, "Servers", "Серверы"},
        {t_max_price, "Max price (¢/hr)", "Макс. цена (коп./ч)"},
        {t_sort_rating, "Rating", "По рейтингу"},
        {t_no_active_session, "No active session", "Активных сессий нет"},
        {t_fps_unit, "fps", "фпс"},
        {t_dash, "—", "—"},
        {t_sign_in_link, "Sign in", "Войти"},
        {t_settings_title, "Settings", "Настройки"},
    };
    for (const auto& sample : samples) {
        EXPECT_STREQ(english[sample.entry], sample.english);
        EXPECT_STREQ(russian[sample.entry], sample.russian);
    }
}

TEST_F(Localisation, SwitchingTakesEffectOnTheNextLookUp) {
    EXPECT_FALSE(is_russian());
    EXPECT_STREQ(texts()[t_sign_in], "Sign in");
    set_language(true);
    EXPECT_TRUE(is_russian());
    EXPECT_STREQ(texts()[t_sign_in], "Войти");
    EXPECT_EQ(format_amount(1050), "10.50 руб.");
    set_language(false);
    EXPECT_EQ(format_amount(1050), "$10.50");
}

TEST(LauncherMoney, FormatsFollowTheLanguageWithoutConversion) {
    const struct { int64_t cents; std::string en; std::string ru; } cases[] = {
        {1050, "$10.50", "10.50 руб."},
        {1234, "$12.34", "12.34 руб."},
        {0, "$0.00", "0.00 руб."},
        {5, "$0.05", "0.05 руб."},
        {-5, "$-0.05", "-0.05 руб."},
        {9007199254740993, "$90071992547409.93", "90071992547409.93 руб."},  // past 2^53 a double loses the cents
    };
    for (const auto& c : cases) {
        EXPECT_EQ(format_amount(c.cents, false), c.en);
        EXPECT_EQ(format_amount(c.cents, true), c.ru);
        EXPECT_EQ(format_price_per_hour(c.cents, false), c.en + "/hr");
        EXPECT_EQ(format_price_per_hour(c.cents, true), c.ru + "/ч");
    }
}

TEST(LauncherFormat, DurationsSizesAndBanner) {
    EXPECT_EQ(format_duration(3725), "01:02:05");
    EXPECT_EQ(format_duration(0), "00:00:00");
    EXPECT_EQ(format_duration(360000), "100:00:00");
    EXPECT_EQ(format_duration(-7), "00:00:00");

    const TextTable& en = texts_for(false);
    const TextTable& ru = texts_for(true);
    EXPECT_EQ(format_size(1023, false, en), "1023MB");
    EXPECT_EQ(format_size(1024, false, en), "1GB");
    EXPECT_EQ(format_size(24576, false, en), "24GB");
    EXPECT_EQ(format_size(24576, true, en), "24 GB");
    EXPECT_EQ(format_size(8192, true, ru), "8 ГБ");
    EXPECT_EQ(format_size(512, false, ru), "512МБ");

    EXPECT_EQ(ended_banner_text(en, ""), "✓  Session ended");
    EXPECT_EQ(ended_banner_text(en, "Agent closed"), "✓  Session ended — Agent closed");
    EXPECT_EQ(ended_banner_text(ru, ""), "✓  Сессия завершена");
    EXPECT_EQ(ended_banner_text(en, "Session ended"), "✓  Session ended");
    EXPECT_EQ(ended_banner_text(ru, "Session ended"), "✓  Сессия завершена");
}

TEST(LauncherFormat, GpuAccentPrefersModelNumbersOverBrands) {
    namespace lp = launcher_palette;
    const struct { const char* model; Rgba colour; } cases[] = {
        {"", lp::dim},
        {"RTX 4090", lp::violet},
        {"GeForce RTX 4080 Super", lp::violet},
        {"RTX 3090", lp::accent},
        {"RTX 4070 Ti", lp::accent},
        {"RTX 3060", lp::teal},
        {"RTX 2080", lp::light_blue},
        {"Radeon RX 7900 XTX", lp::light_blue},
        {"GTX 1080", lp::dim},
    };
    for (const auto& c : cases) EXPECT_EQ(gpu_accent(c.model), c.colour) << c.model;
}

TEST(LauncherFormat, StatusWordsPickBadgesAndWaitingTexts) {
    EXPECT_EQ(badge_for_status("online").label, t_online);
    EXPECT_EQ(badge_for_status("in_session").label, t_in_session);
    EXPECT_EQ(badge_for_status("Online").label, t_offline);
    EXPECT_EQ(badge_for_status("").label, t_offline);
    EXPECT_EQ(session_wait_text("preparing"), t_preparing_session);
    EXPECT_EQ(session_wait_text("handshaking"), t_establishing_connection);
    EXPECT_EQ(session_wait_text("queued"), t_loading);
}

TEST(LauncherFormat, GridFitsCardsOfAboutTwoHundredSixtyPixels) {
    EXPECT_EQ(browse_columns(100.0f), 1);
    EXPECT_EQ(browse_columns(259.0f), 1);
    EXPECT_EQ(browse_columns(532.0f), 2);
    EXPECT_EQ(browse_columns(860.0f), 3);
    EXPECT_FLOAT_EQ(browse_card_width(860.0f, 3), (860.0f - 24.0f) / 3.0f);
    EXPECT_FLOAT_EQ(browse_card_width(200.0f, 1), 200.0f);
}

}  // namespace
}  // namespace nb::ui
