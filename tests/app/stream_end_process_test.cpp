// How a real stream ends, with the client and the test agent as separate
// processes: the agent hanging up, and a clean exit whatever audio output
// the machine has. Needs an X server.
#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include "tests/e2e/stream_session.h"

namespace nb {
namespace {

using namespace std::chrono_literals;
using test::StreamSession;

bool in_order(const std::string& text, const std::vector<std::string>& parts) {
    size_t from = 0;
    for (const auto& part : parts) {
        from = text.find(part, from);
        if (from == std::string::npos) return false;
    }
    return true;
}

class StreamEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X server (run under xvfb-run)";
    }
};

TEST_F(StreamEnd, AgentHangingUpEndsTheDirectStreamWithExitOne) {
    StreamSession session("nubora-stream-lost");
    ASSERT_TRUE(session.start()) << session.outputs();
    std::this_thread::sleep_for(2s);

    // A stopping agent closes the control connection, as one that quits does.
    const auto hung_up = std::chrono::steady_clock::now();
    session.agent().signal(SIGTERM);
    ASSERT_EQ(session.client().wait_exit(std::chrono::seconds(15)), 1) << session.outputs();
    // Generous: the stream itself ends within a second, then the window says
    // why for a moment before it closes.
    EXPECT_LT(std::chrono::steady_clock::now() - hung_up, 6s);

    const std::string out = session.client().output();
    EXPECT_TRUE(in_order(out, {"ControlChannel: connection to the agent lost (the agent closed the connection)",
                               "Launcher: connection to the agent lost — ending the stream",
                               "Streaming session ended — cleaning up...", "Launcher: shutdown complete",
                               "Session ended — returning to launcher"}))
        << out;
    EXPECT_EQ(out.find("NativeLauncher"), std::string::npos) << "a direct stream has no launcher window to return to";
    EXPECT_EQ(out.find("control message send error"), std::string::npos) << out;

    // The agent's pongs reached the statistics: the round trip it was told
    // about is a measured one.
    bool measured = false;
    for (const auto& stats : session.agent_events("stats")) measured |= stats.value("rtt_ms", 0.0) > 0.0;
    EXPECT_TRUE(measured);
}

struct AudioOutput {
    const char* name;
    const char* driver;
    const char* expected;  // a log line that shows the output was (not) used
};

class StreamEndAudio : public StreamEnd, public ::testing::WithParamInterface<AudioOutput> {};

TEST_P(StreamEndAudio, ExitsZeroAfterAStream) {
    StreamSession session(std::string("nubora-audio-exit-") + GetParam().name,
                          {.agent_args = {}, .client_env = {{"SDL_AUDIODRIVER", GetParam().driver}}});
    ASSERT_TRUE(session.start()) << session.outputs();
    std::this_thread::sleep_for(2s);
    session.client().signal(SIGINT);
    EXPECT_EQ(session.client().wait_exit(), 0) << session.client().output();
    const std::string out = session.client().output();
    EXPECT_NE(out.find(GetParam().expected), std::string::npos) << out;
    EXPECT_NE(out.find("Shutdown signal received — exiting launcher"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, StreamEndAudio,
    ::testing::Values(AudioOutput{"Dummy", "dummy", "Launcher: audio pipeline started"},
                      AudioOutput{"Disk", "disk", "Launcher: audio pipeline started"},
                      AudioOutput{"NoDevice", "no-such-driver",
                                  "Launcher: audio pipeline failed (continuing without audio)"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace nb
