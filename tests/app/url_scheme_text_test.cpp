// The desktop entry's Exec quoting and the mimeapps.list edit, checked
// against the rules' own examples and against desktop-file-validate.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "app/url_scheme_registration_text.h"
#include "tests/app/url_scheme_tools.h"
#include "tests/support/temp_folder.h"

namespace nb {
namespace {

struct ExecCase {
    const char* name;
    std::string path;
    std::string program;  // as the Exec line must spell it
};

void PrintTo(const ExecCase& c, std::ostream* os) { *os << c.name; }

class DesktopExecProgram : public ::testing::TestWithParam<ExecCase> {};

TEST_P(DesktopExecProgram, QuotesOnlyWhatTheRulesReserveAndPassesTheValidator) {
    const auto& c = GetParam();
    EXPECT_EQ(desktop_exec_program(c.path), c.program);

    const auto entry = scheme_desktop_entry(c.path);
    ASSERT_TRUE(entry);
    EXPECT_NE(entry->find("\nExec=" + c.program + " %u\n"), std::string::npos) << *entry;
    test::TempFolder folder("nb-scheme-text");
    const auto file = folder / std::string(k_scheme_desktop_id);
    test::write_text_file(file, *entry);
    test::expect_valid_desktop_entry(file, folder / "validate");
}

INSTANTIATE_TEST_SUITE_P(
    Paths, DesktopExecProgram,
    ::testing::Values(
        // xdg-open 1.1.3 runs a quoted program literally, so plain paths stay bare.
        ExecCase{"Plain", "/home/ann/.local/share/Nubora/launcher", "/home/ann/.local/share/Nubora/launcher"},
        ExecCase{"NonAscii", "/home/jürgen/Nubora/launcher", "/home/jürgen/Nubora/launcher"},
        ExecCase{"Percent", "/srv/100%/launcher", "/srv/100%%/launcher"},
        ExecCase{"Space", "/home/ann/My Games/launcher", "\"/home/ann/My Games/launcher\""},
        ExecCase{"SingleQuote", "/home/o'brien/launcher", "\"/home/o'brien/launcher\""},
        // Quoting escapes ", `, $ and \ with a backslash; the string escapes
        // then double that backslash.
        ExecCase{"DoubleQuote", "/home/a \"b\"/launcher", R"("/home/a \\"b\\"/launcher")"},
        ExecCase{"Dollar", "/opt/$HOME/launcher", R"("/opt/\\$HOME/launcher")"},
        ExecCase{"Backslash", "/opt/a\\b/launcher", R"("/opt/a\\\\b/launcher")"},
        ExecCase{"Backtick", "/opt/`x`/launcher", R"("/opt/\\`x\\`/launcher")"},
        ExecCase{"Tab", "/opt/a\tb/launcher", R"("/opt/a\tb/launcher")"},
        ExecCase{"ShellCharacters", "/opt/a&b;c|d~(e)*?#<>/launcher", "\"/opt/a&b;c|d~(e)*?#<>/launcher\""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DesktopExecProgram, RefusesPathsNoEntryCanExpress) {
    EXPECT_FALSE(desktop_exec_program(""));
    EXPECT_FALSE(desktop_exec_program("/opt/a=b/launcher"));        // "=" is barred from the program
    EXPECT_FALSE(desktop_exec_program("/opt/a\x01z/launcher"));     // control character
    EXPECT_FALSE(desktop_exec_program("/opt/\xff\xfe/launcher"));   // not UTF-8
    EXPECT_FALSE(desktop_exec_program("/opt/\xc3/launcher"));       // truncated sequence
    EXPECT_FALSE(desktop_exec_program("/opt/\xc0\xaf/launcher"));   // overlong "/"
    EXPECT_FALSE(scheme_desktop_entry("/opt/a=b/launcher"));
}

TEST(SchemeDesktopEntry, NamesTheSchemeAndStaysOutOfMenus) {
    EXPECT_EQ(scheme_desktop_entry("/opt/nubora/launcher"),
              "[Desktop Entry]\nType=Application\nName=Nubora\nExec=/opt/nubora/launcher %u\n"
              "MimeType=x-scheme-handler/nubora;\nNoDisplay=true\nTerminal=false\n");
}

struct MimeappsCase {
    const char* name;
    std::string before;
    std::string after;
};

void PrintTo(const MimeappsCase& c, std::ostream* os) { *os << c.name; }

class WithDefaultHandler : public ::testing::TestWithParam<MimeappsCase> {};

TEST_P(WithDefaultHandler, SetsOursAndKeepsEveryOtherLine) {
    const auto& c = GetParam();
    const std::string once = with_default_handler(c.before, k_scheme_mime_type, k_scheme_desktop_id);
    EXPECT_EQ(once, c.after);
    // A second start finds nothing to change, so the file is not rewritten.
    EXPECT_EQ(with_default_handler(once, k_scheme_mime_type, k_scheme_desktop_id), once);
}

const std::string k_ours = "x-scheme-handler/nubora=nubora-launcher.desktop\n";

INSTANTIATE_TEST_SUITE_P(
    Lists, WithDefaultHandler,
    ::testing::Values(
        MimeappsCase{"Empty", "", "[Default Applications]\n" + k_ours},
        MimeappsCase{"OtherGroupsOnly",
                     "[Added Associations]\ntext/plain=gedit.desktop;\n",
                     "[Added Associations]\ntext/plain=gedit.desktop;\n\n[Default Applications]\n" + k_ours},
        MimeappsCase{"OtherDefaultsKeptInOrder",
                     "# mine\n[Default Applications]\ntext/html=firefox.desktop\n\nx-scheme-handler/mailto=thunderbird."
                     "desktop\n[Removed Associations]\nimage/png=gimp.desktop;\n",
                     "# mine\n[Default Applications]\n" + k_ours +
                         "text/html=firefox.desktop\n\nx-scheme-handler/mailto=thunderbird.desktop\n"
                         "[Removed Associations]\nimage/png=gimp.desktop;\n"},
        MimeappsCase{"EarlierHandlerReplaced",
                     "[Default Applications]\ntext/html=firefox.desktop\nx-scheme-handler/nubora = old.desktop\n",
                     "[Default Applications]\n" + k_ours + "text/html=firefox.desktop\n"},
        MimeappsCase{"SameKeyInAnotherGroupKept",
                     "[Added Associations]\nx-scheme-handler/nubora=old.desktop;\n[Default Applications]\n",
                     "[Added Associations]\nx-scheme-handler/nubora=old.desktop;\n[Default Applications]\n" + k_ours},
        MimeappsCase{"NoFinalNewline", "[Default Applications]\ntext/html=firefox.desktop",
                     "[Default Applications]\n" + k_ours + "text/html=firefox.desktop\n"},
        MimeappsCase{"WindowsLineEnds", "[Default Applications]\r\ntext/html=firefox.desktop\r\n",
                     "[Default Applications]\r\n" + k_ours + "text/html=firefox.desktop\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace nb
