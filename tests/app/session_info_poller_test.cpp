// The session-info poller against the marketplace simulator: what each poll
// leaves in the live record, when no poller runs, and that stopping never
// waits out the interval or a request in flight.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "app/session_info_poller.h"
#include "tests/support/log_capture.h"
#include "tests/support/recording_http_server.h"
#include "tests/support/rest_fixture.h"

namespace nb {
namespace {

using namespace std::chrono_literals;

// Generous bound on waits for polls that the test expects to happen; it
// only keeps a broken build from hanging.
constexpr auto k_poll_wait = std::chrono::milliseconds(30'000);

class SessionInfoPollerTest : public test::RestSimFixture {
protected:
    BackendAccess access(const std::string& token) const { return {backend(), token, false}; }

    // What an earlier poll left behind, to see which fields a poll replaces.
    void seed_record() {
        record_.update({99, 7, 5, "earlier-host", true});
    }

    ui::LiveSessionRecord record_;
};

TEST_F(SessionInfoPollerTest, NoPollerWithoutBackendOrToken) {
    const BackendAccess missing[] = {{"", "tok", false}, {backend(), "", false}, {"", "", true}};
    for (const BackendAccess& a : missing) {
        SessionInfoPoller poller(record_);
        EXPECT_FALSE(poller.start(a, [] { return true; }));
        EXPECT_FALSE(poller.started());
        EXPECT_FALSE(record_.snapshot().valid);
    }
}

TEST_F(SessionInfoPollerTest, APollCopiesSessionTimeCostMachineAndBalance) {
    const ui::AuthResult user = sign_up("poll@nubora.test");
    ASSERT_TRUE(ui::create_session(backend(), user.token, "srv-nimbus-4080", "h264", false).ok);
    clock_.advance_ms(90'000);

    SessionInfoPoller poller(record_);
    ASSERT_TRUE(poller.start(access(user.token), [] { return true; }));
    ASSERT_TRUE(poller.wait_for_polls(1, k_poll_wait));
    const ui::LiveSessionInfo info = record_.snapshot();
    const ui::ActiveSession active = ui::get_active_session(backend(), user.token, false);
    EXPECT_TRUE(info.valid);
    EXPECT_EQ(info.duration_sec, 90);
    EXPECT_EQ(info.cost_cents, active.cost_cents);
    EXPECT_GT(info.cost_cents, 0);
    EXPECT_EQ(info.server_hostname, "nimbus.ams2.nubora.test");
    EXPECT_EQ(info.balance_cents, test::k_starting_balance_cents - active.cost_cents);
}

TEST_F(SessionInfoPollerTest, OnlyTheSucceedingQueryUpdatesItsFields) {
    const ui::AuthResult user = sign_up("half@nubora.test");
    ASSERT_TRUE(ui::create_session(backend(), user.token, "srv-nimbus-4080", "h264", false).ok);
    clock_.advance_ms(10'000);
    struct Case {
        const char* name;
        const char* fault;  // empty: the user has no session at all
        bool session_fields_new;
        bool balance_new;
        bool valid;
    };
    const Case cases[] = {
        {"profile only (no session)", "GET:/api/sessions/active=null", false, true, true},
        {"session only", "GET:/api/auth/me=status:503", true, false, true},
        {"neither", "GET:/api/*=text:503", false, false, false},
    };
    for (const Case& c : cases) {
        seed_record();
        add_fault(c.fault);
        SessionInfoPoller poller(record_);
        ASSERT_TRUE(poller.start(access(user.token), [] { return true; }));
        ASSERT_TRUE(poller.wait_for_polls(1, k_poll_wait)) << c.name;
        poller.stop();
        clear_faults();
        const ui::LiveSessionInfo info = record_.snapshot();
        EXPECT_EQ(info.valid, c.valid) << c.name;
        EXPECT_EQ(info.duration_sec, c.session_fields_new ? 10 : 99) << c.name;
        EXPECT_EQ(info.server_hostname, c.session_fields_new ? "nimbus.ams2.nubora.test" : "earlier-host") << c.name;
        EXPECT_EQ(info.cost_cents == 5, !c.session_fields_new) << c.name;
        EXPECT_EQ(info.balance_cents == 7, !c.balance_new) << c.name;
    }
}

TEST_F(SessionInfoPollerTest, AnInvalidTokenLeavesTheRecordInvalid) {
    SessionInfoPoller poller(record_);
    ASSERT_TRUE(poller.start(access("expired-token"), [] { return true; }));
    ASSERT_TRUE(poller.wait_for_polls(1, k_poll_wait));
    EXPECT_FALSE(record_.snapshot().valid);
}

TEST_F(SessionInfoPollerTest, PollsUntilTheStreamStopsRunning) {
    const ui::AuthResult user = sign_up("run@nubora.test");
    std::atomic<bool> running{true};
    SessionInfoPoller poller(record_, 10ms);
    ASSERT_TRUE(poller.start(access(user.token), [&] { return running.load(); }));
    ASSERT_TRUE(poller.wait_for_polls(3, k_poll_wait));
    running = false;
    const uint64_t before = poller.polls();
    // Returns once the thread has ended by itself; at most the poll under
    // way when the flag fell still counts.
    EXPECT_FALSE(poller.wait_for_polls(before + 2, k_poll_wait));
    EXPECT_LE(poller.polls(), before + 1);
}

TEST_F(SessionInfoPollerTest, StopEndsTheWaitAndLogsTheCount) {
    const ui::AuthResult user = sign_up("stop@nubora.test");
    test::LogCapture log;
    SessionInfoPoller poller(record_, std::chrono::hours(1));
    ASSERT_TRUE(poller.start(access(user.token), [] { return true; }));
    ASSERT_TRUE(poller.wait_for_polls(1, k_poll_wait));
    poller.stop();
    poller.stop();
    EXPECT_EQ(log.count("SessionInfoPoller: stopped (1 polls)"), 1u);
}

TEST(SessionInfoPollerStop, CallsOffARequestInFlight) {
    test::ScopedEnv env;
    env.clear_proxies();
    test::RecordingHttpServer stalled([](test::RecordingHttpServer& self, const httplib::Request&,
                                         httplib::Response& res) {
        self.hold();
        res.set_content("{}", "application/json");
    });
    ui::LiveSessionRecord record;
    SessionInfoPoller poller(record);
    ASSERT_TRUE(poller.start({stalled.backend(), "tok", false}, [] { return true; }));
    ASSERT_TRUE(stalled.wait_for_requests(1));
    poller.stop();  // would otherwise sit out the 30 s response timeout
    EXPECT_FALSE(record.snapshot().valid);
    EXPECT_EQ(stalled.requests().size(), 1u);
}

}  // namespace
}  // namespace nb
