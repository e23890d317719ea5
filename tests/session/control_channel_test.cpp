// The authenticating handshake against a scripted agent on loopback.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "tests/session/handshake_fixture.h"
#include "tests/support/log_capture.h"

namespace nb {
namespace {

using test::FakeTcpPeer;

TEST(Handshake, SendsSortedCompactAuthAndStoresKeys) {
    test::LogCapture log;
    FakeTcpPeer agent(test::answer_with(test::ready_reply()));
    Launcher launcher(test::quick_tuning());
    ASSERT_TRUE(launcher.tcp_handshake(test::params_for(agent.port())));

    EXPECT_EQ(launcher.video_key(), std::vector<uint8_t>(32, 1));
    EXPECT_EQ(launcher.audio_key(), std::vector<uint8_t>(32, 2));
    EXPECT_EQ(launcher.input_key(), std::vector<uint8_t>(32, 3));
    EXPECT_TRUE(log.contains("Launcher: local UDP IP = 127.0.0.1 (will be sent to agent)"));
    EXPECT_TRUE(log.contains("Launcher: TCP handshake complete, session ready (keys: video=32, audio=32, input=32)"));
    launcher.shutdown();
    EXPECT_EQ(agent.received(),
              R"({"bitrate":30000,"codec":0,"fps":60,"height":1080,"token":"t","type":"auth","udp_ip":"127.0.0.1","width":1920})"
              "\n");
}

TEST(Handshake, AuthCarriesRequestedSettingsAndEscapedToken) {
    FakeTcpPeer agent(test::answer_with(test::ready_reply()));
    Launcher launcher(test::quick_tuning());
    ConnectionParams params = test::params_for(agent.port(), "a\"b\\c");
    params.codec = VideoCodec::HEVC;
    params.fps = 120;
    params.bitrate = 8000;
    params.width = 1280;
    params.height = 720;
    ASSERT_TRUE(launcher.tcp_handshake(params));
    launcher.shutdown();
    EXPECT_EQ(agent.received(),
              R"({"bitrate":8000,"codec":1,"fps":120,"height":720,"token":"a\"b\\c","type":"auth","udp_ip":"127.0.0.1","width":1280})"
              "\n");
}

struct RejectionCase {
    const char* reply;
    const char* expected_line;
};

class HandshakeRejection : public ::testing::TestWithParam<RejectionCase> {};

TEST_P(HandshakeRejection, FailsWithTheLoggedCause) {
    test::LogCapture log;
    FakeTcpPeer agent(test::answer_with(GetParam().reply));
    Launcher launcher(test::quick_tuning());
    EXPECT_FALSE(launcher.tcp_handshake(test::params_for(agent.port())));
    EXPECT_TRUE(log.contains_substring(GetParam().expected_line)) << GetParam().reply;
}

INSTANTIATE_TEST_SUITE_P(
    Replies, HandshakeRejection,
    ::testing::Values(
        RejectionCase{"{\"type\":\"error\",\"error\":\"bad token\"}\n", "Launcher: handshake rejected: bad token"},
        RejectionCase{"{\"type\":\"error\"}\n", "Launcher: handshake rejected: unknown"},
        RejectionCase{"{\"error\":\"no type\"}\n", "Launcher: handshake rejected: no type"},
        RejectionCase{"not json at all\n", "Launcher: TCP handshake exception: "},
        RejectionCase{"[1,2,3]\n", "Launcher: TCP handshake exception: handshake reply is not a JSON object"},
        RejectionCase{"{\"type\":\"session_ready\",\"video_key\":\"AAAAAAAAAAAAAAAAAAAAAA==\"}\n",
                      "Launcher: invalid video key size 16"},
        RejectionCase{"{\"type\":\"session_ready\"}\n", "Launcher: invalid video key size 0"}));

TEST(Handshake, MissingAudioAndInputKeysOnlyWarn) {
    test::LogCapture log;
    const std::string reply = R"({"type":"session_ready","video_key":")" + test::key_text(32, 9) + "\"}\n";
    FakeTcpPeer agent(test::answer_with(reply));
    Launcher launcher(test::quick_tuning());
    EXPECT_TRUE(launcher.tcp_handshake(test::params_for(agent.port())));
    EXPECT_TRUE(log.contains_at(spdlog::level::warn, "Launcher: invalid audio key size 0 (expected 32)"));
    EXPECT_TRUE(log.contains("Launcher: TCP handshake complete, session ready (keys: video=32, audio=0, input=0)"));
}

TEST(Handshake, KeysOutsideStandardBase64DecodeToNothing) {
    test::LogCapture log;
    std::string broken = test::key_text(32, 0xfb);  // 0xfb bytes give '+' and '/' in standard base64
    std::string url_safe = broken;
    for (char& c : url_safe) {
        if (c == '+') c = '-';
        if (c == '/') c = '_';
    }
    std::string with_break = test::key_text(32, 4);
    with_break.insert(10, "\\n");
    const std::string reply = R"({"type":"session_ready","video_key":")" + broken + R"(","audio_key":")" + url_safe +
                              R"(","input_key":")" + with_break + "\"}\n";
    FakeTcpPeer agent(test::answer_with(reply));
    Launcher launcher(test::quick_tuning());
    EXPECT_TRUE(launcher.tcp_handshake(test::params_for(agent.port())));
    EXPECT_EQ(launcher.video_key(), std::vector<uint8_t>(32, 0xfb));
    EXPECT_TRUE(launcher.audio_key().empty());
    EXPECT_TRUE(launcher.input_key().empty());
}

TEST(Handshake, OnlyTheFirstReplyLineCounts) {
    FakeTcpPeer agent(test::answer_with(test::ready_reply() + "{\"type\":\"pong\"}\n"));
    Launcher launcher(test::quick_tuning());
    EXPECT_TRUE(launcher.tcp_handshake(test::params_for(agent.port())));
}

TEST(Handshake, SilentAgentTimesOut) {
    test::LogCapture log;
    FakeTcpPeer agent([](FakeTcpPeer& peer, int fd) { peer.drain(fd); });
    Launcher launcher(test::quick_tuning());
    EXPECT_FALSE(launcher.tcp_handshake(test::params_for(agent.port())));
    EXPECT_TRUE(log.contains_substring("Launcher: handshake read timed out ("));
}

TEST(Handshake, OverlongReplyLineIsRefusedWithoutUnboundedBuffering) {
    test::LogCapture log;
    FakeTcpPeer agent([](FakeTcpPeer& peer, int fd) {
        peer.read_line(fd);
        FakeTcpPeer::send_all(fd, std::string(200 * 1024, 'x'));
        peer.hold(fd);
    });
    Launcher launcher(test::quick_tuning());
    EXPECT_FALSE(launcher.tcp_handshake(test::params_for(agent.port())));
    EXPECT_TRUE(log.contains("Launcher: handshake read failed (line too long)"));
}

TEST(Handshake, AgentClosingBeforeReplyFailsTheRead) {
    test::LogCapture log;
    FakeTcpPeer agent([](FakeTcpPeer& peer, int fd) { peer.read_line(fd); });
    Launcher launcher(test::quick_tuning());
    EXPECT_FALSE(launcher.tcp_handshake(test::params_for(agent.port())));
    EXPECT_TRUE(log.contains_substring("Launcher: handshake read failed ("));
}

TEST(Handshake, UnreachableAgentGivesUpAfterTheAttemptCount) {
    test::LogCapture log;
    Launcher launcher(test::quick_tuning());
    EXPECT_FALSE(launcher.tcp_handshake(test::params_for(test::unused_loopback_port())));
    EXPECT_EQ(log.count("Launcher: TCP connect attempt 1/3 failed: Connection refused — retrying in 20ms"), 1u);
    EXPECT_TRUE(log.contains("Launcher: TCP connect attempt 3/3 failed: Connection refused — retrying in 20ms"));
    EXPECT_TRUE(log.contains("Launcher: TCP handshake exception: Connection refused"));
}

TEST(Handshake, RefusedThenAcceptedConnectRetries) {
    test::LogCapture log;
    const uint16_t port = test::unused_loopback_port();
    LauncherTuning tuning = test::quick_tuning();
    tuning.connect_retry_pause_ms = 600;
    std::unique_ptr<FakeTcpPeer> agent;
    std::thread late_start([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        agent = std::make_unique<FakeTcpPeer>(test::answer_with(test::ready_reply()), port);
    });
    Launcher launcher(tuning);
    const bool ok = launcher.tcp_handshake(test::params_for(port));
    late_start.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(log.count("Launcher: TCP connect attempt 1/3 failed: Connection refused — retrying in 600ms"), 1u);
    EXPECT_FALSE(log.contains_substring("attempt 2/3"));
    launcher.shutdown();
}

}  // namespace
}  // namespace nb
