#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "common/thread_exit.h"

namespace nb {
namespace {

struct Journal {
    std::vector<int> ended;
};

struct Tracked {
    Journal* journal;
    int id;
};

void end_tracked(void* object) {
    auto* tracked = static_cast<Tracked*>(object);
    tracked->journal->ended.push_back(tracked->id);
    delete tracked;
}

TEST(ThreadExit, CleanupsRunWhenTheThreadEndsLastRegisteredFirst) {
    Journal journal;
    std::thread worker([&journal] {
        for (int id = 1; id <= 3; ++id) at_thread_exit(end_tracked, new Tracked{&journal, id});
        EXPECT_TRUE(journal.ended.empty()) << "nothing runs while the thread lives";
    });
    worker.join();
    EXPECT_EQ(journal.ended, (std::vector<int>{3, 2, 1}));
}

TEST(ThreadExit, ManyShortThreadsEachCleanUpTheirOwn) {
    // Threads that come and go, as a session's I/O threads do; under the
    // Windows runtime this used to corrupt the heap at thread exit.
    std::vector<Journal> journals(16);
    for (int round = 0; round < 4; ++round) {
        std::vector<std::thread> threads;
        for (Journal& journal : journals) {
            threads.emplace_back([&journal, round] { at_thread_exit(end_tracked, new Tracked{&journal, round}); });
        }
        for (std::thread& t : threads) t.join();
    }
    for (const Journal& journal : journals) EXPECT_EQ(journal.ended, (std::vector<int>{0, 1, 2, 3}));
}

}  // namespace
}  // namespace nb
