// The client executable end to end: the command line, start modes, a
// direct-connect stream against a scripted agent, signals at every step of
// connecting, and exit codes. Needs an X server.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/e2e/stream_session.h"
#include "tests/support/client_process.h"
#include "tests/support/fake_tcp_peer.h"

namespace nb {
namespace {

using test::ChildProcess;

std::filesystem::path client_path() { return test::build_dir() / "nubora-launcher"; }

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class LauncherProcess : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X server (run under xvfb-run)";
        work_dir_ = test::fresh_temp_dir("nubora-launcher-test");
    }
    void TearDown() override { std::filesystem::remove_all(work_dir_); }

    std::filesystem::path work_dir_;
};

TEST_F(LauncherProcess, WithoutArgumentsTheLauncherWindowOpensAndCtrlCClosesIt) {
    ChildProcess client(client_path(), {}, {}, work_dir_);
    ASSERT_TRUE(client.wait_for_output("NativeLauncher: window shown", std::chrono::seconds(60)));
    client.signal(SIGINT);
    EXPECT_EQ(client.wait_exit(), 0);
    EXPECT_NE(client.output().find("Nubora Launcher v0.1.0"), std::string::npos);
    EXPECT_NE(client.output().find("Launcher closed — exiting"), std::string::npos);
    EXPECT_NE(read_file(work_dir_ / "launcher.log").find("Launcher closed — exiting"), std::string::npos);
}

TEST_F(LauncherProcess, UnreachableAgentEndsWithExitOne) {
    const uint16_t port = test::unused_loopback_port();
    ChildProcess client(client_path(), {"--host", "127.0.0.1", "--token", "t", "--port", std::to_string(port)},
                        {{"NB_CONNECT_ATTEMPTS", "2"}, {"NB_CONNECT_RETRY_MS", "10"}}, work_dir_);
    EXPECT_EQ(client.wait_exit(), 1);
    const std::string out = client.output();
    EXPECT_NE(out.find("CLI args parsed — direct connect (no welcome window)"), std::string::npos);
    EXPECT_NE(out.find("Launcher: TCP connect attempt 2/2 failed"), std::string::npos);
    EXPECT_NE(out.find("Launcher: TCP handshake failed"), std::string::npos);
    EXPECT_NE(out.find("Failed to connect to agent"), std::string::npos);
}

TEST_F(LauncherProcess, DirectConnectStreamsUntilSigintThenExitsZero) {
    test::FakeTcpPeer agent([](test::FakeTcpPeer& peer, int fd) {
        peer.read_line(fd);
        const std::string key = "AQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQE=";
        test::FakeTcpPeer::send_all(fd, R"({"type":"session_ready","video_key":")" + key + R"(","audio_key":")" +
                                            key + R"(","input_key":")" + key + "\"}\n");
        peer.drain(fd);
    });
    ChildProcess client(client_path(),
                        {"--host", "127.0.0.1", "--token", "secret", "--port", std::to_string(agent.port()),
                         "--width", "640", "--height", "360"},
                        {}, work_dir_);
    ASSERT_TRUE(client.wait_for_output("Entering SDL event loop")) << client.output();
    client.signal(SIGINT);
    EXPECT_EQ(client.wait_exit(), 0) << client.output();

    const std::string out = client.output();
    EXPECT_NE(out.find("Connecting to 127.0.0.1:" + std::to_string(agent.port()) +
                       " (640x360 @60fps, codec=H.264, bitrate=30000kbps)"),
              std::string::npos);
    EXPECT_NE(out.find("Launcher: TCP handshake complete, session ready (keys: video=32, audio=32, input=32)"),
              std::string::npos);
    // Teardown runs in order and the launcher window is not shown again.
    const size_t ending = out.find("Shutdown signal received — ending session");
    const size_t cleaning = out.find("Streaming session ended — cleaning up...");
    const size_t complete = out.find("Launcher: shutdown complete");
    const size_t returning = out.find("Session ended — returning to launcher");
    const size_t exiting = out.find("Shutdown signal received — exiting launcher");
    ASSERT_NE(ending, std::string::npos);
    EXPECT_LT(ending, cleaning);
    EXPECT_LT(cleaning, complete);
    EXPECT_LT(complete, returning);
    EXPECT_LT(returning, exiting);
    EXPECT_EQ(out.find("NativeLauncher"), std::string::npos);
    EXPECT_NE(agent.received().find(R"("token":"secret","type":"auth")"), std::string::npos);
}

struct CliCase {
    const char* name;
    std::vector<std::string> args;
    int exit_code;
    std::vector<std::string> expected;  // all appear in the output
};

class LauncherCommandLine : public LauncherProcess, public ::testing::WithParamInterface<CliCase> {};

TEST_P(LauncherCommandLine, AnswersAndExitsWithoutStarting) {
    ChildProcess client(client_path(), GetParam().args, {}, work_dir_);
    EXPECT_EQ(client.wait_exit(), GetParam().exit_code);
    const std::string out = client.output();
    for (const auto& text : GetParam().expected) EXPECT_NE(out.find(text), std::string::npos) << text << "\n" << out;
    // Nothing was started, so nothing was logged.
    EXPECT_FALSE(std::filesystem::exists(work_dir_ / "launcher.log"));
}

INSTANTIATE_TEST_SUITE_P(
    Answers, LauncherCommandLine,
    ::testing::Values(
        CliCase{"Help", {"--help"}, 0, {"Usage: nubora-launcher", "--token TOKEN", "Exit status:"}},
        CliCase{"ShortHelp", {"-h"}, 0, {"Usage: nubora-launcher"}},
        CliCase{"Version", {"--version"}, 0, {"Nubora Launcher v0.1.0\n"}},
        CliCase{"UnknownOption", {"--host", "h", "--bogus"}, 2,
                {"nubora-launcher: Unknown option '--bogus'\n", "Usage: nubora-launcher"}},
        CliCase{"BadValue", {"--host=h", "--token=t", "--fps=0"}, 2,
                {"nubora-launcher: Invalid --fps value '0'\n", "Usage: nubora-launcher"}},
        CliCase{"MissingValue", {"--host", "h", "--token"}, 2, {"Option --token needs a value"}}),
    [](const auto& info) { return std::string(info.param.name); });

// SIGINT while the client is still connecting, at each step it can wait in,
// ends it promptly and cleanly; the window title says what it was doing.
struct ConnectPhase {
    const char* name;
    const char* reached;  // the log text that says the client waits in this step
};

class LauncherConnectSignal : public LauncherProcess, public ::testing::WithParamInterface<ConnectPhase> {};

TEST_P(LauncherConnectSignal, SigintEndsTheAttemptWithExitZero) {
    const std::string phase = GetParam().name;
    test::StalledListener stalled;
    test::FakeTcpPeer silent([](test::FakeTcpPeer& peer, int fd) { peer.drain(fd); });
    uint16_t port = silent.port();
    if (phase == "Connect") port = stalled.port();
    if (phase == "RetryPause") port = test::unused_loopback_port();
    ChildProcess client(client_path(), {"--host", "127.0.0.1", "--token", "t", "--port", std::to_string(port)},
                        {{"NB_CONNECT_RETRY_MS", "60000"}}, work_dir_);
    ASSERT_TRUE(client.wait_for_output(GetParam().reached)) << client.output();

    const std::string address = "127.0.0.1:" + std::to_string(port);
    const std::string title =
        test::shell_output("timeout 10 xdotool search --sync --name '^Nubora - ' getwindowname 2>/dev/null");
    if (phase == "ReplyRead") {
        EXPECT_NE(title.find("Nubora - Connected to " + address + ", waiting for the PC to answer"), std::string::npos)
            << title;
    } else {
        EXPECT_NE(title.find("Nubora - Connecting to " + address + ", attempt 1 of 15"), std::string::npos) << title;
    }

    const auto signalled = std::chrono::steady_clock::now();
    client.signal(SIGINT);
    EXPECT_EQ(client.wait_exit(std::chrono::seconds(10)), 0) << client.output();
    // Generous: the step itself would have waited a minute.
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(5));
    const std::string out = client.output();
    EXPECT_NE(out.find("Shutdown signal received while connecting — giving up"), std::string::npos) << out;
    EXPECT_NE(out.find("Launcher: connecting to " + address + " cancelled"), std::string::npos) << out;
    EXPECT_NE(out.find("Shutdown signal received — exiting launcher"), std::string::npos) << out;
    EXPECT_EQ(out.find("Failed to connect to agent"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(
    Phases, LauncherConnectSignal,
    ::testing::Values(ConnectPhase{"Connect", "Starting connect pipeline..."},
                      ConnectPhase{"RetryPause", "Launcher: TCP connect attempt 1/15 failed"},
                      ConnectPhase{"ReplyRead", "Launcher: local UDP IP = 127.0.0.1"}),
    [](const auto& info) { return std::string(info.param.name); });

// While connecting, the window shows a card with the attempt and a Cancel
// button that gives up; the launcher window then takes over.
TEST_F(LauncherProcess, ConnectingCardShowsTheAttemptAndCancelGivesUp) {
    const uint16_t port = test::unused_loopback_port();
    ChildProcess client(client_path(),
                        {"--host", "127.0.0.1", "--token", "t", "--port", std::to_string(port), "--width", "960",
                         "--height", "540"},
                        {{"NB_CONNECT_RETRY_MS", "60000"}}, work_dir_);
    ASSERT_TRUE(client.wait_for_output("Launcher: TCP connect attempt 1/15 failed")) << client.output();
    const std::string window =
        test::shell_output("timeout 10 xdotool search --sync --name '^Nubora - Connecting' 2>/dev/null");
    const std::string id = window.substr(0, window.find('\n'));
    ASSERT_FALSE(id.empty());
    const std::string shot = (work_dir_ / "card.ppm").string();
    test::shell_output("import -window " + id + " -depth 8 ppm:" + shot + " 2>/dev/null");
    const auto image = test::read_ppm(shot);
    ASSERT_TRUE(image.has_value());
    // Navy, not the black of a window nobody draws; light text in the middle.
    const uint8_t* corner = image->at(10, 10);
    EXPECT_GT(corner[2], corner[0]);
    EXPECT_GT(corner[2], 12);
    int light = 0;
    for (int y = image->height / 3; y < image->height * 2 / 3; ++y) {
        for (int x = image->width / 4; x < image->width * 3 / 4; ++x) light += image->at(x, y)[1] > 150 ? 1 : 0;
    }
    EXPECT_GT(light, 200);

    test::shell_output("xdotool mousemove --window " + id + " 480 353 click 1 2>/dev/null");
    ASSERT_TRUE(client.wait_for_output("Cancel pressed while connecting — giving up", std::chrono::seconds(5)))
        << client.output();
    EXPECT_TRUE(client.wait_for_output("Launcher: connecting to 127.0.0.1:" + std::to_string(port) + " cancelled"));
    client.signal(SIGINT);
    EXPECT_EQ(client.wait_exit(), 0) << client.output();
    EXPECT_EQ(client.output().find("Failed to connect to agent"), std::string::npos);
}

TEST_F(LauncherProcess, UnreachableAgentSaysWhatToCheck) {
    const uint16_t port = test::unused_loopback_port();
    ChildProcess client(client_path(), {"--host", "127.0.0.1", "--token", "t", "--port", std::to_string(port)},
                        {{"NB_CONNECT_ATTEMPTS", "1"}}, work_dir_);
    EXPECT_EQ(client.wait_exit(), 1);
    EXPECT_NE(client.output().find("ControlChannel: No connection to 127.0.0.1:" + std::to_string(port) +
                                   ". Check the host and port, and that the agent is running on that PC."),
              std::string::npos)
        << client.output();
}

}  // namespace
}  // namespace nb
