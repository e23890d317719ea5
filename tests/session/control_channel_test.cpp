// The authenticating handshake against a scripted agent on loopback, and
// giving it up at any step.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

#include "tests/session/handshake_fixture.h"
#include "tests/support/log_capture.h"

namespace nb {
namespace {

using test::FakeTcpPeer;

TEST(Handshake, SendsSortedCompactAuthAndStoresKeys) {
    const ConnectionParams custom{.host = "127.0.0.1", .token = "a\"b\\c", .codec = VideoCodec::HEVC, .fps = 120,
                                  .bitrate = 8000, .width = 1280, .height = 720};
    const std::pair<ConnectionParams, std::string> cases[] = {
        {test::params_for(0),
         R"({"bitrate":30000,"codec":0,"fps":60,"height":1080,"token":"t","type":"auth","udp_ip":"127.0.0.1","width":1920})"},
        {custom,
         R"({"bitrate":8000,"codec":1,"fps":120,"height":720,"token":"a\"b\\c","type":"auth","udp_ip":"127.0.0.1","width":1280})"}};
    for (auto [params, auth] : cases) {
        SCOPED_TRACE(auth);
        test::LogCapture log;
        FakeTcpPeer agent(test::answer_with(test::ready_reply()));
        auto rig = std::make_unique<test::ChannelRig>();
        params.port = agent.port();
        ASSERT_TRUE(rig->handshake(params));
        EXPECT_EQ(rig->keys.video, std::vector<uint8_t>(32, 1));
        EXPECT_EQ(rig->keys.audio, std::vector<uint8_t>(32, 2));
        EXPECT_EQ(rig->keys.input, std::vector<uint8_t>(32, 3));
        EXPECT_TRUE(log.contains("Launcher: local UDP IP = 127.0.0.1 (will be sent to agent)"));
        rig.reset();
        EXPECT_EQ(agent.received(), auth + "\n");
    }
}

// How the handshake ends for each way the agent may answer, and the line
// (and advice) that says why. Whatever the agent sent, no log line or
// advice carries its raw control bytes or all of a huge reply.
struct ReplyCase {
    const char* name;
    FakeTcpPeer::Script agent;
    bool accepted;
    const char* expected_line;
    const char* advice = "";
};

class HandshakeReply : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(HandshakeReply, EndsWithTheLoggedCause) {
    test::LogCapture log;
    FakeTcpPeer agent(GetParam().agent);
    test::ChannelRig rig;
    EXPECT_EQ(rig.handshake(agent.port()), GetParam().accepted);
    EXPECT_TRUE(log.contains_substring(GetParam().expected_line));
    const std::string advice = rig.channel.failure_advice();
    EXPECT_NE(advice.find(GetParam().advice), std::string::npos) << advice;
    auto texts = log.texts();
    texts.push_back(advice);
    for (const auto& text : texts) {
        EXPECT_EQ(text.find_first_of("\x1b\x07\r\n"), std::string::npos) << text;
        EXPECT_LT(text.size(), 1024u) << text;
    }
}

ReplyCase refusal(const char* name, const std::string& reply, const char* expected_line, const char* advice = "") {
    return {name, test::answer_with(reply), false, expected_line, advice};
}

INSTANTIATE_TEST_SUITE_P(
    Replies, HandshakeReply,
    ::testing::Values(
        refusal("Refused", "{\"type\":\"error\",\"error\":\"bad token\"}\n", "Launcher: handshake rejected: bad token"),
        refusal("RefusedWithoutCause", "{\"type\":\"error\"}\n", "Launcher: handshake rejected: unknown"),
        // A forged log line and a screen-clearing escape arrive escaped.
        refusal("RefusalWithEscapes", "{\"type\":\"error\",\"error\":\"\\u001b[2J\\n[info] Launcher: ok\"}\n",
                "Launcher: handshake rejected: \\x1b[2J\\n[info] Launcher: ok"),
        refusal("RefusalWithControlBytes",
                "{\"type\":\"error\",\"error\":\"\\u001b]0;owned\\u0007\\r\\n" + std::string(5000, 'x') + "\"}\n",
                "Launcher: handshake rejected: \\x1b]0;owned\\x07\\r\\nxxx", "The PC refused the session (\\x1b]0;owned"),
        refusal("NoType", "{\"error\":\"no type\"}\n", "Launcher: handshake rejected: no type"),
        refusal("NotJson", "not json at all\n", "Launcher: TCP handshake exception: "),
        refusal("NotAnObject", "[1,2,3]\n",
                "Launcher: TCP handshake exception: handshake reply is not a JSON object"),
        refusal("ShortVideoKey", "{\"type\":\"session_ready\",\"video_key\":\"AAAAAAAAAAAAAAAAAAAAAA==\"}\n",
                "Launcher: invalid video key size 16"),
        refusal("NoKeys", "{\"type\":\"session_ready\"}\n", "Launcher: invalid video key size 0"),
        ReplyCase{"Silent", [](FakeTcpPeer& peer, int fd) { peer.drain(fd); }, false,
                  "Launcher: handshake read timed out ("},
        // Refused without buffering the whole line.
        ReplyCase{"OverlongLine",
                  [](FakeTcpPeer& peer, int fd) {
                      peer.read_line(fd);
                      FakeTcpPeer::send_all(fd, std::string(200 * 1024, 'x'));
                      peer.hold(fd);
                  },
                  false, "Launcher: handshake read failed (line too long)"},
        ReplyCase{"ClosedBeforeReply", [](FakeTcpPeer& peer, int fd) { peer.read_line(fd); }, false,
                  "Launcher: handshake read failed ("},
        ReplyCase{"OnlyTheFirstLineCounts", test::answer_with(test::ready_reply() + "{\"type\":\"pong\"}\n"), true,
                  "Launcher: TCP handshake complete, session ready (keys: video=32, audio=32, input=32)"},
        // Without audio and input keys the session still runs.
        ReplyCase{"VideoKeyOnly",
                  test::answer_with(R"({"type":"session_ready","video_key":")" + test::key_text(32, 9) + "\"}\n"),
                  true, "Launcher: TCP handshake complete, session ready (keys: video=32, audio=0, input=0)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Handshake, KeysOutsideStandardBase64DecodeToNothing) {
    test::LogCapture log;
    const std::string broken = test::key_text(32, 0xfb);  // 0xfb bytes give '+' and '/' in standard base64
    std::string url_safe = broken;
    std::ranges::replace(url_safe, '+', '-');
    std::ranges::replace(url_safe, '/', '_');
    std::string with_break = test::key_text(32, 4);
    with_break.insert(10, "\\n");
    const std::string reply = R"({"type":"session_ready","video_key":")" + broken + R"(","audio_key":")" + url_safe +
                              R"(","input_key":")" + with_break + "\"}\n";
    FakeTcpPeer agent(test::answer_with(reply));
    test::ChannelRig rig;
    EXPECT_TRUE(rig.handshake(agent.port()));
    EXPECT_EQ(rig.keys.video, std::vector<uint8_t>(32, 0xfb));
    EXPECT_TRUE(rig.keys.audio.empty());
    EXPECT_TRUE(rig.keys.input.empty());
    EXPECT_TRUE(log.contains_at(spdlog::level::warn, "Launcher: invalid audio key size 0 (expected 32)"));
}

TEST(Handshake, UnreachableAgentGivesUpAfterTheAttemptCountWithAdvice) {
    test::LogCapture log;
    const uint16_t port = test::unused_loopback_port();
    test::ChannelRig rig;
    std::vector<std::string> progress;
    rig.channel.set_progress_handler([&](const std::string& status) { progress.push_back(status); });
    EXPECT_FALSE(rig.handshake(port));
    const std::string address = "127.0.0.1:" + std::to_string(port);
    EXPECT_EQ(progress, (std::vector<std::string>{"Looking up 127.0.0.1", "Connecting to " + address + ", attempt 1 of 3",
                                                  "Connecting to " + address + ", attempt 2 of 3",
                                                  "Connecting to " + address + ", attempt 3 of 3"}));
    const std::string advice =
        "No connection to " + address + ". Check the host and port, and that the agent is running on that PC.";
    EXPECT_EQ(rig.channel.failure_advice(), advice);
    EXPECT_TRUE(log.contains_at(spdlog::level::err, "ControlChannel: " + advice));
    EXPECT_EQ(log.count("Launcher: TCP connect attempt 1/3 failed: Connection refused — retrying in 20ms"), 1u);
    EXPECT_TRUE(log.contains("Launcher: TCP connect attempt 3/3 failed: Connection refused — retrying in 20ms"));
    EXPECT_TRUE(log.contains("Launcher: TCP handshake exception: Connection refused"));
}

TEST(Handshake, UnknownHostIsAdvisedAsSuch) {
    test::LogCapture log;
    test::ChannelRig rig(test::quick_tuning(), [](const std::string&, const std::string&, asio::error_code& error) {
        error = asio::error::host_not_found;
        return asio::ip::tcp::resolver::results_type();
    });
    EXPECT_FALSE(rig.handshake({.host = "no-such-pc", .port = 48001, .token = "t"}));
    EXPECT_TRUE(log.contains_substring("Launcher: DNS resolve no-such-pc:48001 failed ("));
    EXPECT_EQ(rig.channel.failure_advice(), "Cannot find the PC 'no-such-pc'. Check the host name.");
}

TEST(Handshake, RefusedThenAcceptedConnectRetries) {
    test::LogCapture log;
    const uint16_t port = test::unused_loopback_port();
    ControlTuning tuning = test::quick_tuning();
    tuning.connect_retry_pause_ms = 600;
    std::unique_ptr<FakeTcpPeer> agent;
    std::thread late_start([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        agent = std::make_unique<FakeTcpPeer>(test::answer_with(test::ready_reply()), port);
    });
    test::ChannelRig rig(tuning);
    const bool ok = rig.handshake(port);
    late_start.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(log.count("Launcher: TCP connect attempt 1/3 failed: Connection refused — retrying in 600ms"), 1u);
    EXPECT_FALSE(log.contains_substring("attempt 2/3"));
}

// Each step of the handshake waits far longer than the test does; a cancel
// must end it at once whichever step is waiting.
struct CancelCase {
    const char* name;
    const char* waiting_for;  // the progress text that says the step has begun
};

class HandshakeCancel : public ::testing::TestWithParam<CancelCase> {};

TEST_P(HandshakeCancel, EndsTheWaitingStepAtOnce) {
    const std::string phase = GetParam().name;
    test::LogCapture log;
    std::promise<void> release_lookup;
    std::shared_future<void> lookup_released = release_lookup.get_future().share();
    ControlTuning tuning = test::quick_tuning();
    tuning.step_timeout_ms = 60'000;
    tuning.connect_retry_pause_ms = 60'000;
    HostResolver resolver;
    if (phase == "Resolve") {
        resolver = [lookup_released](const std::string&, const std::string&, asio::error_code& error) {
            lookup_released.wait();  // a name server that does not answer
            error = asio::error::host_not_found;
            return asio::ip::tcp::resolver::results_type();
        };
    }
    test::StalledListener stalled;
    FakeTcpPeer silent([](FakeTcpPeer& peer, int fd) { peer.drain(fd); });
    uint16_t port = silent.port();
    if (phase == "Connect") port = stalled.port();
    if (phase == "RetryPause") port = test::unused_loopback_port();

    test::ChannelRig rig(tuning, resolver);
    std::mutex progress_lock;  // guards progress
    std::string progress;
    rig.channel.set_progress_handler([&](const std::string& status) {
        std::lock_guard lock(progress_lock);
        progress = status;
    });
    auto result = std::async(std::launch::async, [&] { return rig.handshake(port); });
    ASSERT_TRUE(test::eventually([&] {
        std::lock_guard lock(progress_lock);
        return progress.starts_with(GetParam().waiting_for);
    }));
    if (phase == "RetryPause") {
        ASSERT_TRUE(test::eventually([&] { return log.contains_substring("attempt 1/3 failed"); }));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // well inside the step
    rig.channel.cancel_handshake();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "the cancel was not heard";
    EXPECT_FALSE(result.get());
    EXPECT_TRUE(rig.channel.handshake_cancelled());
    EXPECT_TRUE(rig.channel.failure_advice().empty());
    EXPECT_FALSE(log.contains_substring("Launcher: TCP handshake exception"));
    EXPECT_FALSE(log.contains_substring("timed out"));
    release_lookup.set_value();
}

INSTANTIATE_TEST_SUITE_P(Steps, HandshakeCancel,
                         ::testing::Values(CancelCase{"Resolve", "Looking up"}, CancelCase{"Connect", "Connecting to"},
                                           CancelCase{"RetryPause", "Connecting to"},
                                           CancelCase{"ReplyRead", "Connected to"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HandshakeCancel, BeforeTheStartEndsItWithoutConnecting) {
    FakeTcpPeer agent(test::answer_with(test::ready_reply()));
    test::ChannelRig rig;
    rig.channel.cancel_handshake();
    EXPECT_FALSE(rig.handshake(agent.port()));
    EXPECT_EQ(agent.connections(), 0);
}

}  // namespace
}  // namespace nb
