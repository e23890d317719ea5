// nubora:// registration in the current user's registry under wine: the
// scheme's keys as Windows reads them, and the installed copy they name.
#include <windows.h>

#include <gtest/gtest.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <filesystem>
#include <optional>
#include <string>

#include "app/url_scheme_registration.h"
#include "tests/support/log_capture.h"

namespace nb {
namespace {

namespace fs = std::filesystem;

std::optional<std::wstring> registry_text(const wchar_t* subkey, const wchar_t* name) {
    const std::wstring path = std::wstring(L"Software\\Classes\\nubora") + subkey;
    DWORD bytes = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::wstring value(bytes / sizeof(wchar_t), L'\0');
    if (RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name, RRF_RT_REG_SZ, nullptr, value.data(), &bytes) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    value.resize(bytes / sizeof(wchar_t) - 1);  // the terminator
    return value;
}

fs::path known_folder(REFKNOWNFOLDERID id) {
    PWSTR folder = nullptr;
    fs::path path;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &folder))) path = folder;
    CoTaskMemFree(folder);
    return path;
}

fs::path running_executable() {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

// The test prefix's own registration and copy are put back as they were.
class UrlSchemeRegistry : public ::testing::Test {
protected:
    void SetUp() override {
        installed_ = known_folder(FOLDERID_LocalAppData) / L"Nubora" / L"launcher.exe";
        ASSERT_FALSE(installed_.parent_path().parent_path().empty());
    }
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Classes\\nubora");
        std::error_code ignored;
        fs::remove(installed_, ignored);
    }
    fs::path installed_;
};

TEST_F(UrlSchemeRegistry, StartFromABuildFolderInstallsACopyAndPointsTheSchemeAtIt) {
    const fs::path running = running_executable();
    test::LogCapture log;
    register_url_scheme();

    ASSERT_TRUE(fs::exists(installed_));
    EXPECT_EQ(fs::file_size(installed_), fs::file_size(running));
    EXPECT_EQ(registry_text(L"", nullptr), L"URL:Nubora Protocol");
    EXPECT_EQ(registry_text(L"", L"URL Protocol"), L"");
    EXPECT_EQ(registry_text(L"\\DefaultIcon", nullptr), installed_.wstring() + L",0");
    EXPECT_EQ(registry_text(L"\\shell\\open\\command", nullptr), L"\"" + installed_.wstring() + L"\" \"%1\"");
    EXPECT_TRUE(log.contains_substring("register_url_scheme: refreshed installed copy at "));
    EXPECT_TRUE(log.contains_substring("URL scheme nubora:// registered -> "));
    EXPECT_EQ(fs::directory_iterator(installed_.parent_path()) != fs::directory_iterator(), true);
    for (const auto& entry : fs::directory_iterator(installed_.parent_path())) {
        EXPECT_EQ(entry.path().filename(), L"launcher.exe") << "nothing staged is left behind";
    }

    // Every start rewrites the same values.
    register_url_scheme();
    EXPECT_EQ(registry_text(L"\\shell\\open\\command", nullptr), L"\"" + installed_.wstring() + L"\" \"%1\"");
}

TEST_F(UrlSchemeRegistry, ACopyThatCannotBeReplacedLeavesTheSchemeOnTheRunningProgram) {
    // An installed copy held open without delete sharing, as a running one is.
    fs::create_directories(installed_.parent_path());
    HANDLE busy = CreateFileW(installed_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(busy, INVALID_HANDLE_VALUE);
    test::LogCapture log;
    register_url_scheme();
    CloseHandle(busy);

    const fs::path running = running_executable();
    EXPECT_TRUE(log.contains_substring("register_url_scheme: failed to refresh installed copy at "));
    EXPECT_EQ(registry_text(L"\\shell\\open\\command", nullptr), L"\"" + running.wstring() + L"\" \"%1\"");
    EXPECT_EQ(registry_text(L"\\DefaultIcon", nullptr), running.wstring() + L",0");
    EXPECT_EQ(fs::file_size(installed_), 0u);  // the busy copy is untouched
}

}  // namespace
}  // namespace nb
