// The Windows mechanisms under the config store: APPDATA, DPAPI sealing and
// files put in place with MoveFileExW.
#include <windows.h>

#include <dpapi.h>
#include <gtest/gtest.h>
#include <wincrypt.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/config/config_fixture.h"
#include "ui/staged_file.h"
#include "ui/user_folders.h"

namespace nb::test {
namespace {

using ui::StagedFile;

struct AppdataCase {
    const char* name;
    const char* appdata;  // nullptr: unset
    std::wstring config;
};

class WindowsUserFolders : public ::testing::TestWithParam<AppdataCase> {};

// Only APPDATA counts on Windows; the XDG variables a Unix-minded user may
// have set mean nothing here.
TEST_P(WindowsUserFolders, ConfigLivesUnderAppdataOnly) {
    const auto& c = GetParam();
    const ui::EnvLookup env = [&c](const char* name) -> const char* {
        if (std::string(name) == "APPDATA") return c.appdata;
        if (std::string(name) == "XDG_CONFIG_HOME") return "C:\\xdg";
        if (std::string(name) == "HOME") return "C:\\home";
        return nullptr;
    };
    EXPECT_EQ(ui::config_file_path(env).wstring(), c.config);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WindowsUserFolders,
    ::testing::Values(AppdataCase{"Roaming", "C:\\Users\\ann\\AppData\\Roaming",
                                  L"C:\\Users\\ann\\AppData\\Roaming\\Nubora\\config.json"},
                      AppdataCase{"Unset", nullptr, L""}, AppdataCase{"Empty", "", L""},
                      // Code page 1252: the user name José, byte 0xE9.
                      AppdataCase{"AnsiUserName", "C:\\Users\\Jos\xE9\\AppData\\Roaming",
                                  L"C:\\Users\\Jos\u00E9\\AppData\\Roaming\\Nubora\\config.json"}),
    [](const auto& info) { return std::string(info.param.name); });

using WindowsSealTest = ConfigTest;

TEST_F(WindowsSealTest, DpapiRoundTripsTokensOfAnyShape) {
    const ui::TokenSeal seal{std::filesystem::path()};  // DPAPI needs no key file
    for (const std::string& token : {std::string("t"), std::string("bearer-\xD0\xB6-7f3a"),
                                     std::string(4096, 'k'), std::string("nul\0inside", 10)}) {
        const std::string sealed = seal.seal(token);
        ASSERT_FALSE(sealed.empty());
        // One line of standard base64, and no trace of the token.
        EXPECT_EQ(sealed.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
                  std::string::npos);
        if (token.size() > 8) {
            EXPECT_EQ(sealed.find(token), std::string::npos);
        }
        EXPECT_EQ(seal.unseal(sealed), token);
    }
    EXPECT_EQ(seal.seal(""), "");
}

TEST_F(WindowsSealTest, DamagedOrForeignTextOpensNothingSilently) {
    const ui::TokenSeal seal{std::filesystem::path()};
    const std::string sealed = seal.seal("tok-1");
    // The blob's last bytes are its signature.
    std::string flipped = sealed;
    const size_t at = sealed.find_last_not_of('=') - 2;
    flipped[at] = flipped[at] == 'A' ? 'B' : 'A';
    LogCapture log(spdlog::level::info);
    const std::pair<const char*, std::string> cases[] = {
        {"not base64", "not base64!"},   {"cut in half", sealed.substr(0, sealed.size() / 2)},
        {"signature flipped", flipped},  {"too short for a blob", "AAAA"},
        {"oversized", std::string(70 * 1024, 'A')},
    };
    for (const auto& [name, text] : cases) EXPECT_EQ(seal.unseal(text), "") << name;
    EXPECT_TRUE(log.texts().empty());
}

TEST_F(WindowsSealTest, SavedFileHoldsTheDpapiSealedToken) {
    ASSERT_TRUE(store().save(signed_in_user()));
    const auto sealed = saved_json().at("token_enc").get<std::string>();
    DWORD length = 0;
    ASSERT_TRUE(CryptStringToBinaryA(sealed.c_str(), 0, CRYPT_STRING_BASE64, nullptr, &length, nullptr, nullptr));
    std::vector<BYTE> bytes(length);
    ASSERT_TRUE(CryptStringToBinaryA(sealed.c_str(), 0, CRYPT_STRING_BASE64, bytes.data(), &length, nullptr, nullptr));
    DATA_BLOB in{length, bytes.data()};
    DATA_BLOB out{};
    LPWSTR description = nullptr;
    ASSERT_TRUE(CryptUnprotectData(&in, &description, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.pbData), out.cbData), "bearer-7f3a");
    EXPECT_EQ(std::wstring(description), L"NB Token");
    LocalFree(out.pbData);
    LocalFree(description);
}

TEST_F(ConfigTest, StagedFileReplacesWholeAndLeavesNoTemporaryBehind) {
    const auto target = folder_ / "file.json";
    write_text_file(target, "old");
    std::string error;
    {
        auto staged = StagedFile::create(target, error);
        ASSERT_TRUE(staged) << error;
        ASSERT_TRUE(staged->write_all("new content", error)) << error;
        EXPECT_EQ(read_text_file(target), "old");  // nothing visible before the move
        ASSERT_TRUE(staged->replace_target(error)) << error;
    }
    EXPECT_EQ(read_text_file(target), "new content");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.path()), {}), 1);

    // A staged file dropped unplaced takes its temporary with it.
    { ASSERT_TRUE(StagedFile::create(target, error)); }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.path()), {}), 1);
}

TEST_F(ConfigTest, PlaceIfAbsentLetsExactlyOneOfSeveralWriterWin) {
    const auto target = folder_ / "key";
    std::vector<std::thread> writers;
    std::vector<StagedFile::Placed> results(6, StagedFile::Placed::failed);
    for (size_t i = 0; i < results.size(); ++i) {
        writers.emplace_back([&, i] {
            std::string error;
            auto staged = StagedFile::create(target, error);
            if (staged && staged->write_all("writer " + std::to_string(i), error)) {
                results[i] = staged->place_if_absent(error);
            }
        });
    }
    for (auto& writer : writers) writer.join();
    EXPECT_EQ(std::count(results.begin(), results.end(), StagedFile::Placed::done), 1);
    EXPECT_EQ(std::count(results.begin(), results.end(), StagedFile::Placed::already_exists), 5);
    EXPECT_EQ(read_text_file(target).rfind("writer ", 0), 0u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.path()), {}), 1);
}

TEST_F(ConfigTest, SaveInterruptedBeforeItsMoveLeavesTheOldFileAndIsSweptLater) {
    ASSERT_TRUE(store().save(signed_in_user()));
    const auto before = read_text_file(config_file());
    // What a process killed mid-save leaves: a full temporary beside the file.
    const auto leftover = config_file().parent_path() / ".config.json.Ab12Cd";
    write_text_file(leftover, "{\"host\":\"half");
    EXPECT_TRUE(load().signed_in());
    EXPECT_EQ(read_text_file(config_file()), before);
    EXPECT_TRUE(std::filesystem::exists(leftover));  // young: may be another process's save
    EXPECT_EQ(StagedFile::remove_leftovers(config_file(), std::chrono::seconds(0)), 1);
    EXPECT_FALSE(std::filesystem::exists(leftover));
}

// The child half of the next test: saves in a loop until it is killed.
TEST_F(ConfigTest, SaverChildSavesUntilKilled) {
    const char* appdata = std::getenv("NB_TEST_SAVER_APPDATA");
    if (appdata == nullptr) GTEST_SKIP() << "runs only as the child of ProcessKilledMidSave";
    env_["APPDATA"] = appdata;
    const auto store = this->store();
    auto config = signed_in_user();
    for (int64_t n = 1;; ++n) {
        // Each save differs in length, so a half-written file would not parse.
        config.balance_cents = n;
        config.display_name.assign(static_cast<size_t>(n * 37 % 4000), 'n');
        store.save(config);
    }
}

TEST_F(ConfigTest, ProcessKilledMidSaveLeavesAFileThatKeepsTheSession) {
    ASSERT_TRUE(store().save(signed_in_user()));
    std::wstring program(32768, L'\0');
    program.resize(GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size())));
    std::wstring command = L"\"" + program + L"\" --gtest_filter=ConfigTest.SaverChildSavesUntilKilled";
    SetEnvironmentVariableA("NB_TEST_SAVER_APPDATA", env_["APPDATA"].c_str());
    std::mt19937 random(14);
    std::uniform_int_distribution<int> delay_ms(0, 15);
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        const auto before = std::filesystem::last_write_time(config_file());
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION child{};
        ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &child));
        // Kill it only once it is saving, at a moment of chance.
        for (int wait = 0; wait < 1000 && std::filesystem::last_write_time(config_file()) == before; ++wait) {
            Sleep(10);
        }
        Sleep(static_cast<DWORD>(delay_ms(random)));
        TerminateProcess(child.hProcess, 9);
        WaitForSingleObject(child.hProcess, INFINITE);
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);

        LogCapture log;
        ui::LauncherConfig config;
        EXPECT_TRUE(store().load(config));
        EXPECT_NE(std::filesystem::last_write_time(config_file()), before) << "the child never saved";
        EXPECT_EQ(config.token, "bearer-7f3a");
        EXPECT_FALSE(log.contains("NativeLauncher: failed to load config"));
    }
    SetEnvironmentVariableA("NB_TEST_SAVER_APPDATA", nullptr);
}

}  // namespace
}  // namespace nb::test
