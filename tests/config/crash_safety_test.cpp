// Saving replaces the file in one step: readers during saves and processes
// killed mid-save only ever leave a whole file behind.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "tests/config/child_process.h"
#include "tests/config/config_fixture.h"
#include "ui/staged_file.h"

namespace nb::test {
namespace {

// Each save differs in length, so a half-written file would not parse.
ui::LauncherConfig variant(int64_t round) {
    auto config = signed_in_user();
    config.balance_cents = round;
    config.display_name = std::string(static_cast<size_t>(round * 37 % 4000), 'n');
    return config;
}

bool whole_file(const std::string& text) {
    const auto document = nlohmann::json::parse(text, nullptr, false);
    return document.is_object() && document.contains("token_enc") && document.contains("user_role");
}

using CrashSafety = ConfigTest;

TEST_F(CrashSafety, ReaderDuringSavesSeesOnlyWholeFiles) {
    const auto store = this->store();
    ASSERT_TRUE(store.save(variant(0)));
    std::atomic<bool> saving{true};
    int reads = 0;
    int partial = 0;
    std::thread reader([&] {
        while (saving.load()) {
            ++reads;
            if (!whole_file(read_text_file(config_file()))) ++partial;
        }
    });
    int failed_saves = 0;
    for (int round = 1; round <= 200; ++round) failed_saves += store.save(variant(round)) ? 0 : 1;
    saving = false;
    reader.join();

    EXPECT_EQ(failed_saves, 0);
    EXPECT_GT(reads, 0);
    EXPECT_EQ(partial, 0);
    EXPECT_EQ(load().balance_cents, 200);
}

TEST_F(CrashSafety, ProcessKilledMidSaveLeavesAFileThatKeepsTheSession) {
    ASSERT_TRUE(store().save(variant(0)));
    std::mt19937 random(14);
    std::uniform_int_distribution<int> delay_us(0, 15000);
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        const pid_t saver = fork_child([this] {
            const auto store = this->store();
            for (int64_t n = 1;; ++n) store.save(variant(n));
            return 0;
        });
        ::usleep(static_cast<useconds_t>(delay_us(random)));
        ::kill(saver, SIGKILL);
        EXPECT_EQ(wait_exit_code(saver), 128 + SIGKILL);

        LogCapture log;
        ui::LauncherConfig config;
        EXPECT_TRUE(store().load(config));
        EXPECT_EQ(config.token, "bearer-7f3a");
        EXPECT_EQ(config.email, "ann@example.net");
        EXPECT_FALSE(log.contains("NativeLauncher: failed to load config"));
    }
}

// The installed copy of the client is replaced the same way: a start killed
// while copying leaves the old program or the new one, whole and runnable.
TEST_F(CrashSafety, ProcessKilledMidCopyLeavesAWholeExecutable) {
    const auto target = folder_ / "data" / "Nubora" / "launcher";
    std::filesystem::create_directories(target.parent_path());
    // Two "programs" of different sizes, so any mix or cut shows.
    const std::string old_program(3 << 20, 'o');
    const std::string new_program((3 << 20) + 4097, 'n');
    const auto put = [&target](const std::string& bytes) {
        std::string error;
        auto staged = ui::StagedFile::create(target, error);
        return staged && staged->set_permissions(0755, error) && staged->write_all(bytes, error) &&
               staged->replace_target(error);
    };
    ASSERT_TRUE(put(old_program));
    std::mt19937 random(7);
    std::uniform_int_distribution<int> delay_us(0, 40000);
    for (int round = 0; round < 25; ++round) {
        SCOPED_TRACE(round);
        const pid_t copier = fork_child([&] {
            for (int n = 0;; ++n) put(n % 2 == 0 ? new_program : old_program);
            return 0;
        });
        ::usleep(static_cast<useconds_t>(delay_us(random)));
        ::kill(copier, SIGKILL);
        EXPECT_EQ(wait_exit_code(copier), 128 + SIGKILL);

        const std::string content = read_text_file(target);
        EXPECT_TRUE(content == old_program || content == new_program) << content.size() << " bytes";
        EXPECT_EQ(std::filesystem::status(target).permissions() & std::filesystem::perms::all,
                  std::filesystem::perms(0755));
    }
}

TEST_F(CrashSafety, NextStartClearsOnlyStaleUnfinishedSaves) {
    const auto folder = config_file().parent_path();
    const auto an_hour_ago = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
    for (const char* name : {".config.json.Ab12Cd", ".config.json.Fresh1", "notes.txt", ".config.json.toolong7"}) {
        write_text_file(folder / name, "{\"token_enc\":\"x\"}");
        if (std::string(name) != ".config.json.Fresh1") std::filesystem::last_write_time(folder / name, an_hour_ago);
    }
    LogCapture log;
    load();
    EXPECT_FALSE(std::filesystem::exists(folder / ".config.json.Ab12Cd"));
    // A save of another launcher may be under way right now.
    EXPECT_TRUE(std::filesystem::exists(folder / ".config.json.Fresh1"));
    EXPECT_TRUE(std::filesystem::exists(folder / "notes.txt"));
    EXPECT_TRUE(std::filesystem::exists(folder / ".config.json.toolong7"));
    EXPECT_TRUE(log.contains("ConfigStore: removed 1 unfinished save(s) of " + config_file().string()));
}

}  // namespace
}  // namespace nb::test
