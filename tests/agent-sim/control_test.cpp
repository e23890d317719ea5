// The control channel from a plain TCP client: handshake, rejections,
// requests, pings and hostile bytes.
#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "session/control_messages.h"
#include "tests/agent-sim/agent_fixture.h"
#include "tests/agent-sim/control_client.h"
#include "tools/agent-sim/line_framer.h"

namespace nb {
namespace {

using nlohmann::json;

json auth() { return test::auth_message(test::k_token, 0, 1920, 1080, 60, 30000); }

// Authenticates `client`; the agent's reply.
json authed(test::ControlClient& client) {
    client.send(auth());
    return client.read();
}

TEST(LineFramer, SplitsAcrossReadsAndBoundsEachLine) {
    LineFramer framer(8);
    std::vector<std::string> lines;
    auto collect = [&](std::string_view line) {
        lines.emplace_back(line);
        return true;
    };
    EXPECT_TRUE(framer.feed("ab", collect));
    EXPECT_TRUE(framer.feed("c\r\n\n\r\n12345678\nx", collect));
    EXPECT_EQ(lines, (std::vector<std::string>{"abc", "12345678"})) << "CR stripped, empty lines skipped";
    EXPECT_EQ(framer.pending_bytes(), 1u);
    EXPECT_TRUE(framer.feed("1234567", collect)) << "8 bytes pending is still within the bound";
    EXPECT_FALSE(framer.feed("8", collect)) << "the ninth byte of one line is not";
    EXPECT_EQ(framer.pending_bytes(), 0u);
    // A handler that asks to stop sees no further lines of the same read.
    LineFramer stopping(64);
    int seen = 0;
    stopping.feed("a\nb\nc\n", [&](std::string_view) { return ++seen < 2; });
    EXPECT_EQ(seen, 2);
}

class AgentControl : public test::AgentTest {
protected:
    void SetUp() override {
        AgentTest::SetUp();
        ASSERT_TRUE(start());
    }
};

// Each accepted client gets three fresh keys, and supersedes the one before.
TEST_F(AgentControl, AcceptedAuthGetsThreeFreshBase64KeysAndSupersedesTheOlderClient) {
    std::set<std::vector<uint8_t>> keys;
    auto accept = [&](test::ControlClient& client) {
        json reply = authed(client);
        EXPECT_EQ(reply["type"], "session_ready");
        for (const char* name : {"video_key", "audio_key", "input_key"}) {
            const auto key = decode_key(reply, name);
            EXPECT_EQ(key.size(), 32u) << name;
            keys.insert(key);
        }
    };
    test::ControlClient first(agent_->control_port());
    accept(first);
    test::ControlClient second(agent_->control_port());
    accept(second);
    EXPECT_EQ(keys.size(), 6u) << "every key of every session is new";
    EXPECT_TRUE(first.closed_by_agent());
    ASSERT_NE(agent_->session(), nullptr);
    EXPECT_EQ(agent_->session()->id, 2u);
    // Only the active client's requests count.
    second.send_line(R"({"type":"ping","ts":5})");
    EXPECT_EQ(second.read()["type"], "pong");

    const auto auths = events("auth");
    ASSERT_EQ(auths.size(), 2u);
    EXPECT_EQ(auths[0]["token"], test::k_token);
    EXPECT_EQ(auths[0]["udp_ip"], "127.0.0.1");
    EXPECT_EQ(auths[0]["width"], 1920);
    EXPECT_TRUE(auths[0]["accepted"].get<bool>());
    EXPECT_EQ(events("session_ready").size(), 2u);
}

using AgentControlOptions = test::AgentTest;

TEST_F(AgentControlOptions, OmittedKeysAreLeftOutOfTheReply) {
    ASSERT_TRUE(start([](AgentOptions& o) { o.omit_audio_key = true; }));
    test::ControlClient client(agent_->control_port());
    json reply = authed(client);
    EXPECT_EQ(reply["type"], "session_ready");
    EXPECT_FALSE(reply.contains("audio_key"));
    EXPECT_EQ(decode_key(reply, "video_key").size(), 32u);
    EXPECT_EQ(decode_key(reply, "input_key").size(), 32u);
    const auto ready = events("session_ready");
    ASSERT_EQ(ready.size(), 1u);
    EXPECT_EQ(ready[0]["omitted"], json::array({"audio_key"}));
}

TEST_F(AgentControl, RejectedClientsAreToldWhyAndDisconnected) {
    auto with = [](const char* key, json value) {
        json a = auth();
        a[key] = std::move(value);
        return a.dump();
    };
    json no_fps = auth();
    no_fps.erase("fps");
    const std::vector<std::tuple<const char*, std::string, const char*>> cases = {
        {"wrong token", with("token", "nope"), "invalid session token"},
        {"token of another type", with("token", 42), "missing token"},
        {"AV1", with("codec", 2), "unsupported codec 2"},
        {"odd width", with("width", 1921), "unsupported size"},
        {"fraction", with("bitrate", 1.5), "invalid bitrate"},
        {"negative fps", with("fps", -60), "invalid fps"},
        {"missing fps", no_fps.dump(), "invalid fps"},
        {"ping before auth", R"({"type":"ping","ts":1})", "expected an auth message"},
        {"not JSON", "hello agent", "expected an auth message"},
        {"JSON array", "[1,2,3]", "expected an auth message"},
    };
    for (const auto& [name, first_line, error_part] : cases) {
        SCOPED_TRACE(name);
        test::ControlClient client(agent_->control_port());
        client.send_line(first_line);
        json reply = client.read();
        EXPECT_EQ(reply["type"], "error");
        EXPECT_NE(reply.value("error", "").find(error_part), std::string::npos) << reply;
        EXPECT_TRUE(client.closed_by_agent());
    }
    EXPECT_EQ(agent_->session(), nullptr);
}

TEST_F(AgentControl, RequestsAreAnsweredAndRecordedAmidGarbage) {
    test::ControlClient client(agent_->control_port());
    EXPECT_EQ(authed(client)["type"], "session_ready");
    client.send_line(R"({"ts":123456789012,"type":"ping"})");
    EXPECT_EQ(client.read().dump(), R"({"ts":123456789012,"type":"pong"})");

    client.send_line(R"({"decoded_fps":59.5,"jitter_ms":0.25,"packet_loss_pct":1.0,"rtt_ms":3.5,"type":"stats"})");
    client.send_line("not json at all");
    client.send_line(R"({"type":"request_idr"})");
    client.send_line(std::string("\0\x01\xff\xfe{", 5));
    client.send_line(R"({"bitrate":5000,"type":"set_settings"})");
    client.send_line(std::string(30000, '[') + std::string(30000, ']'));
    client.send_line(R"({"bitrate":0,"type":"set_settings"})");
    client.send_line(R"({"type":7})");
    client.send_line(R"({"height":720,"type":"set_settings","width":1281})");
    client.send_line(R"({"type":"something_new"})");
    client.send_line(R"({"type":"ping","ts":"soon"})");  // no usable ts: pong without one
    client.send_line("{\"type\":\"ping\",\"ts\":99}\r");  // a stray CR is tolerated
    client.send_raw("\n\n\n");
    // Pongs come in order, so the last proves every line before it was read.
    EXPECT_EQ(client.read().dump(), R"({"type":"pong"})");
    EXPECT_EQ(client.read().dump(), R"({"ts":99,"type":"pong"})");

    const auto stats = events("stats");
    ASSERT_EQ(stats.size(), 1u);
    EXPECT_DOUBLE_EQ(stats[0]["decoded_fps"].get<double>(), 59.5);
    EXPECT_DOUBLE_EQ(stats[0]["rtt_ms"].get<double>(), 3.5);
    EXPECT_EQ(events("request_idr").size(), 1u);
    const auto settings = events("set_settings");
    ASSERT_EQ(settings.size(), 3u);
    EXPECT_TRUE(settings[0]["applied"].get<bool>());
    EXPECT_FALSE(settings[1]["applied"].get<bool>());
    EXPECT_FALSE(settings[2]["applied"].get<bool>());
    EXPECT_EQ(events("pong").size(), 3u);
    EXPECT_EQ(events("control_unknown").size(), 1u);
    EXPECT_EQ(events("control_bad_line").size(), 4u);
}

TEST_F(AgentControl, OverlongLineCutsTheClientOffButNotTheAgent) {
    {
        test::ControlClient client(agent_->control_port());
        EXPECT_EQ(authed(client)["type"], "session_ready");
        client.send_raw(std::string(70 * 1024, 'x'));
        EXPECT_TRUE(client.closed_by_agent());
    }
    const auto bad = events("control_bad_line");
    ASSERT_EQ(bad.size(), 1u);
    EXPECT_EQ(bad[0]["reason"], "line too long");
    // The agent logs the end just after it lets go of the session.
    EXPECT_TRUE(test::wait_until([&] { return agent_->session() == nullptr && events("session_ended").size() == 1; }))
        << "the session ends with its control connection";

    test::ControlClient next(agent_->control_port());
    EXPECT_EQ(authed(next)["type"], "session_ready");
}

}  // namespace
}  // namespace nb
