// Hand-over of background results to the UI thread.
#include "ui/async_op.h"

#include <gtest/gtest.h>

#include <future>
#include <stdexcept>
#include <string>
#include <thread>

namespace nb::ui {
namespace {

struct Record { bool ok = false; std::string error; };

TEST(AsyncOp, AppliesTheResultOnTheCallingThreadOnce) {
    AsyncOp op;
    std::thread::id worker_thread;
    std::thread::id apply_thread;
    int applied = 0;
    ASSERT_TRUE(op.launch(
        [&] {
            worker_thread = std::this_thread::get_id();
            return Record{true, ""};
        },
        [&](Record record) {
            apply_thread = std::this_thread::get_id();
            applied += record.ok ? 1 : 100;
        }));
    op.join();
    EXPECT_TRUE(op.is_busy()) << "busy until the result is applied";
    EXPECT_TRUE(op.apply_ready());
    EXPECT_FALSE(op.apply_ready());
    EXPECT_EQ(applied, 1);
    EXPECT_FALSE(op.is_busy());
    EXPECT_NE(worker_thread, std::this_thread::get_id());
    EXPECT_EQ(apply_thread, std::this_thread::get_id());
}

TEST(AsyncOp, DropsALaunchWhileBusyAndNeverLosesAWaitingResult) {
    AsyncOp op;
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    std::string applied;
    ASSERT_TRUE(op.launch([gate] { gate.wait(); return Record{true, "first"}; },
                          [&](Record r) { applied += r.error; }));
    EXPECT_FALSE(op.launch([] { return Record{true, "second"}; }, [&](Record r) { applied += r.error; }));
    release.set_value();
    op.join();
    // Finished but not applied yet: a new launch would replace the result.
    EXPECT_FALSE(op.launch([] { return Record{true, "third"}; }, [&](Record r) { applied += r.error; }));
    EXPECT_TRUE(op.apply_ready());
    EXPECT_EQ(applied, "first");
}

TEST(AsyncOp, AnApplyStepMayStartTheNextRequestInItsOwnSlot) {
    AsyncOp op;
    int rounds = 0;
    std::function<void(Record)> again = [&](Record) {
        if (++rounds < 3) op.launch([] { return Record{true, ""}; }, again);
    };
    ASSERT_TRUE(op.launch([] { return Record{true, ""}; }, again));
    while (op.is_busy()) {
        op.join();
        op.apply_ready();
    }
    EXPECT_EQ(rounds, 3);
}

TEST(AsyncOp, AnExceptionInTheWorkBecomesAnErrorResult) {
    AsyncOp op;
    Record received{true, ""};
    ASSERT_TRUE(op.launch([]() -> Record { throw std::runtime_error("Invalid JSON"); },
                          [&](Record r) { received = r; }));
    op.join();
    ASSERT_TRUE(op.apply_ready());
    EXPECT_FALSE(received.ok);
    EXPECT_EQ(received.error, "Invalid JSON");

    bool flag = true;
    ASSERT_TRUE(op.launch([]() -> bool { throw 7; }, [&](bool b) { flag = b; }));
    op.join();
    ASSERT_TRUE(op.apply_ready());
    EXPECT_FALSE(flag);
}

TEST(AsyncOp, DestructionWaitsForTheRequestInFlight) {
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    std::atomic<bool> finished{false};
    std::thread releaser;
    {
        AsyncOp op;
        ASSERT_TRUE(op.launch(
            [gate, &finished] {
                gate.wait();
                finished = true;
                return Record{true, ""};
            },
            [](Record) {}));
        releaser = std::thread([&release] { release.set_value(); });
    }
    EXPECT_TRUE(finished.load());
    releaser.join();
}

}  // namespace
}  // namespace nb::ui
