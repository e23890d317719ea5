// What reaches the log from outside stays one readable line of bounded size.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "common/log_text.h"

namespace nb::test {
namespace {

struct Case {
    const char* name;
    std::string input;
    std::string expected;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class LogSafe : public testing::TestWithParam<Case> {};

TEST_P(LogSafe, EscapesWhatCouldForgeOrColourALine) { EXPECT_EQ(log_safe(GetParam().input), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Texts, LogSafe,
    testing::Values(
        Case{"plain_ascii", "Invalid token for session 42", "Invalid token for session 42"},
        Case{"empty", "", ""},
        Case{"terminal_colour", "\x1b[31mred\x1b[0m", "\\x1b[31mred\\x1b[0m"},
        Case{"forged_log_line", "bad\n[2026-01-01 00:00:00.000] [info] [1] Launcher: ok",
             "bad\\n[2026-01-01 00:00:00.000] [info] [1] Launcher: ok"},
        Case{"carriage_return_and_tab", "a\rb\tc", "a\\rb\\tc"},
        Case{"nul_bell_and_del", std::string("a\0b\x07" "c\x7f", 6), "a\\x00b\\x07c\\x7f"},
        Case{"backslash_doubled", "C:\\n", "C:\\\\n"},
        Case{"utf8_kept", "Привет, 東京 🎮", "Привет, 東京 🎮"},
        Case{"c1_csi", "x\xc2\x9b" "2J", "x\\u009b2J"},
        Case{"right_to_left_override", "file\xe2\x80\xaetxt.exe", "file\\u202etxt.exe"},
        Case{"line_separator", "a\xe2\x80\xa8" "b", "a\\u2028b"},
        Case{"lone_continuation_byte", "a\x80" "b", "a\\x80b"},
        Case{"raw_8bit_csi", "\x9b" "31m", "\\x9b31m"},
        Case{"overlong_slash", "\xc0\xaf", "\\xc0\\xaf"},
        Case{"surrogate", "\xed\xa0\x80", "\\xed\\xa0\\x80"},
        Case{"truncated_sequence_at_end", "ok\xe6\x9d", "ok\\xe6\\x9d"}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(LogSafeLength, LongTextIsCutAndSaysHowMuchWasLeftOut) {
    const std::string text(2000, 'a');
    EXPECT_EQ(log_safe(text, 10), "aaaaaaaaaa...(1990 more bytes)");
    EXPECT_EQ(log_safe(text).size(), k_log_text_max_bytes + std::string("...(1488 more bytes)").size());
}

TEST(LogSafeLength, CutNeverSplitsACharacterOrAnEscape) {
    // Each "é" is two bytes and each ESC four once escaped: a cut at 5
    // bytes keeps two of either and leaves the rest counted.
    EXPECT_EQ(log_safe("ééé", 5), "éé...(2 more bytes)");
    EXPECT_EQ(log_safe("\x1b\x1b\x1b", 5), "\\x1b...(2 more bytes)");
}

TEST(LogSafeLength, TextThatFitsExactlyIsKeptWhole) {
    EXPECT_EQ(log_safe("abcde", 5), "abcde");
    EXPECT_EQ(log_safe("a\nb", 4), "a\\nb");
}

}  // namespace
}  // namespace nb::test
