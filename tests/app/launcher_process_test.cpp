// The client executable end to end: start modes, a direct-connect stream
// against a scripted agent, signals and exit codes. Needs an X server.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

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

TEST_F(LauncherProcess, WithoutArgumentsTheLauncherWindowClosesAndExitsZero) {
    ChildProcess client(client_path(), {}, {}, work_dir_);
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
                       " (640x360 @60fps, codec=0, bitrate=30000kbps)"),
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

}  // namespace
}  // namespace nb
