// The client registering itself for nubora:// links at start-up, in private
// XDG folders: the installed copy, the desktop entry, the default handler,
// and xdg-utils opening a link with it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/app/url_scheme_tools.h"
#include "tests/support/client_process.h"
#include "tests/support/temp_folder.h"

namespace nb {
namespace {

namespace fs = std::filesystem;

constexpr const char* k_registered = "URL scheme nubora:// registered -> ";
constexpr const char* k_refreshed = "register_url_scheme: refreshed installed copy at ";
constexpr const char* k_refresh_failed = "register_url_scheme: failed to refresh installed copy at ";

fs::path built_client() { return test::build_dir() / "nubora-launcher"; }

std::string exec_line(const std::string& entry) {
    const size_t start = entry.find("\nExec=");
    if (start == std::string::npos) return {};
    return entry.substr(start + 1, entry.find('\n', start + 1) - start - 1);
}

// Ends every process that runs `program`: a client xdg-open started is not
// our child and would otherwise outlive the test.
void kill_processes_running(const fs::path& program) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code ignored;
        if (fs::read_symlink(entry.path() / "exe", ignored) == program) ::kill(std::stoi(name), SIGKILL);
    }
}

class UrlSchemeRegistration : public ::testing::Test {
protected:
    fs::path data() const { return folder_ / "xdg-data"; }
    fs::path config() const { return folder_ / "xdg-config"; }
    fs::path installed() const { return data() / "Nubora" / "launcher"; }
    fs::path entry() const { return data() / "applications" / "nubora-launcher.desktop"; }
    fs::path mimeapps() const { return config() / "mimeapps.list"; }
    test::Environment xdg() const { return {{"XDG_DATA_HOME", data()}, {"XDG_CONFIG_HOME", config()}}; }

    // Starts `program` without arguments and returns its output once the
    // registration has finished; whatever it does next is cut short.
    std::string start(const fs::path& program, const std::string& run_name) {
        const fs::path work = folder_ / run_name;
        fs::create_directories(work);
        test::ChildProcess client(program, {}, xdg(), work);
        EXPECT_TRUE(client.wait_for_output(k_registered)) << client.output();
        return client.output();
    }

    test::TempFolder folder_{"nb-scheme"};
};

TEST_F(UrlSchemeRegistration, FromABuildFolderTheEntryNamesTheInstalledCopy) {
    const std::string out = start(built_client(), "first");

    EXPECT_NE(out.find(k_refreshed + installed().string()), std::string::npos) << out;
    EXPECT_NE(out.find(k_registered + installed().string()), std::string::npos) << out;
    EXPECT_EQ(test::read_text_file(installed()), test::read_text_file(built_client()));
    EXPECT_EQ(test::permission_bits(installed()), 0755u);
    EXPECT_EQ(exec_line(test::read_text_file(entry())), "Exec=" + installed().string() + " %u");
    test::expect_valid_desktop_entry(entry(), folder_ / "validate");
    // update-desktop-database saw it too.
    EXPECT_NE(test::read_text_file(entry().parent_path() / "mimeinfo.cache").find(
                  "x-scheme-handler/nubora=nubora-launcher.desktop;"),
              std::string::npos);
    EXPECT_EQ(test::read_text_file(mimeapps()),
              "[Default Applications]\nx-scheme-handler/nubora=nubora-launcher.desktop\n");
    // No temporary file is left beside the copy or the entry.
    EXPECT_EQ(std::distance(fs::directory_iterator(installed().parent_path()), fs::directory_iterator()), 1);
}

TEST_F(UrlSchemeRegistration, FromTheInstalledCopyNothingIsCopied) {
    start(built_client(), "first");
    struct stat before {};
    ASSERT_EQ(::stat(installed().c_str(), &before), 0);

    const std::string out = start(installed(), "second");
    EXPECT_EQ(out.find(k_refreshed), std::string::npos) << out;
    EXPECT_NE(out.find(k_registered + installed().string()), std::string::npos) << out;
    struct stat after {};
    ASSERT_EQ(::stat(installed().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(exec_line(test::read_text_file(entry())), "Exec=" + installed().string() + " %u");
}

struct CopyBlocker {
    const char* name;
    void (*block)(const fs::path& install_folder);
    bool works_for_root;
};

TEST_F(UrlSchemeRegistration, AFailedCopyLeavesTheEntryOnTheRunningExecutable) {
    const CopyBlocker blockers[] = {
        {"file where the folder belongs",
         [](const fs::path& folder) { test::write_text_file(folder, "not a folder"); }, true},
        {"read-only folder",
         [](const fs::path& folder) {
             fs::create_directories(folder);
             fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
         },
         false},
    };
    const std::string running = fs::canonical(built_client()).string();
    for (const auto& blocker : blockers) {
        SCOPED_TRACE(blocker.name);
        if (!blocker.works_for_root && ::geteuid() == 0) continue;  // root writes there regardless
        const fs::path folder = installed().parent_path();
        blocker.block(folder);
        const std::string out = start(built_client(), "first");
        std::error_code ignored;
        fs::permissions(folder, fs::perms::owner_all, ignored);
        fs::remove_all(folder, ignored);

        EXPECT_NE(out.find(k_refresh_failed + installed().string() + " ("), std::string::npos) << out;
        EXPECT_NE(out.find(k_registered + running), std::string::npos) << out;
        EXPECT_EQ(exec_line(test::read_text_file(entry())), "Exec=" + running + " %u");
    }
}

TEST_F(UrlSchemeRegistration, WithoutTheDesktopDatabaseToolTheRegistrationStillCompletes) {
    const fs::path work = folder_ / "first";
    fs::create_directories(work);
    auto env = xdg();
    env.emplace_back("PATH", (folder_ / "empty").string());
    test::ChildProcess client(built_client(), {}, env, work);
    ASSERT_TRUE(client.wait_for_output(k_registered + installed().string())) << client.output();
    EXPECT_TRUE(fs::exists(entry()));
    EXPECT_FALSE(fs::exists(entry().parent_path() / "mimeinfo.cache"));
}

TEST_F(UrlSchemeRegistration, OtherHandlersInMimeappsListAreKept) {
    const std::string before =
        "[Default Applications]\ntext/html=firefox.desktop\nx-scheme-handler/nubora=old.desktop\n\n"
        "[Added Associations]\nimage/png=gimp.desktop;\n";
    test::write_text_file(mimeapps(), before);
    // xdg-mime reports a default only when its entry's program is installed.
    test::write_text_file(data() / "applications" / "firefox.desktop",
                          "[Desktop Entry]\nType=Application\nName=Firefox\nExec=true %u\n");
    ::chmod(mimeapps().c_str(), 0640);
    start(built_client(), "first");

    EXPECT_EQ(test::read_text_file(mimeapps()),
              "[Default Applications]\nx-scheme-handler/nubora=nubora-launcher.desktop\ntext/html=firefox.desktop\n\n"
              "[Added Associations]\nimage/png=gimp.desktop;\n");
    EXPECT_EQ(test::permission_bits(mimeapps()), 0640u);
    const auto query = test::run_tool("xdg-mime", {"query", "default", "text/html"}, xdg(), folder_ / "query");
    EXPECT_EQ(query.output, "firefox.desktop\n");
}

TEST_F(UrlSchemeRegistration, XdgMimeReportsOurEntryAsTheDefault) {
    start(built_client(), "first");
    const auto query =
        test::run_tool("xdg-mime", {"query", "default", "x-scheme-handler/nubora"}, xdg(), folder_ / "query");
    EXPECT_EQ(query.exit_code, 0);
    EXPECT_EQ(query.output, "nubora-launcher.desktop\n");
}

TEST_F(UrlSchemeRegistration, QuotesAnInstallPathWithSpacesAndQuotes) {
    const fs::path odd_data = folder_ / "it's a \"data\" $dir";
    test::ChildProcess client(built_client(), {}, {{"XDG_DATA_HOME", odd_data}, {"XDG_CONFIG_HOME", config()}},
                              folder_.path());
    ASSERT_TRUE(client.wait_for_output(k_registered)) << client.output();

    const fs::path odd_entry = odd_data / "applications" / "nubora-launcher.desktop";
    std::string expected = (odd_data / "Nubora" / "launcher").string();
    for (const std::string special : {"\"", "$"}) {
        for (size_t at = expected.find(special); at != std::string::npos; at = expected.find(special, at + 3)) {
            expected.insert(at, "\\\\");
        }
    }
    EXPECT_EQ(exec_line(test::read_text_file(odd_entry)), "Exec=\"" + expected + "\" %u");
    test::expect_valid_desktop_entry(odd_entry, folder_ / "validate");
}

TEST_F(UrlSchemeRegistration, XdgOpenStartsTheInstalledCopyWithTheLink) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "xdg-open hands links to applications only with a display";
    start(built_client(), "first");

    // No desktop session: xdg-open takes its generic road through xdg-mime.
    auto env = xdg();
    for (const char* name : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID",
                             "MATE_DESKTOP_SESSION_ID", "BROWSER", "WAYLAND_DISPLAY"}) {
        env.emplace_back(name, "");
    }
    const fs::path work = folder_ / "open";
    fs::create_directories(work);
    {
        test::ChildProcess open(test::find_tool("xdg-open"), {"nubora://session?host=127.0.0.1&token=t"}, env, work);
        const bool linked = open.wait_for_output("URI launch detected — pre-loading for auto-connect");
        kill_processes_running(installed());
        ASSERT_TRUE(linked) << open.output();
    }
    const std::string log = test::read_text_file(work / "launcher.log");
    EXPECT_NE(log.find(k_registered + installed().string()), std::string::npos) << log;
    EXPECT_EQ(log.find(k_refreshed), std::string::npos) << log;
    EXPECT_NE(log.find("URI launch detected — pre-loading for auto-connect"), std::string::npos) << log;
}

}  // namespace
}  // namespace nb
