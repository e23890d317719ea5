// The control connection once the session runs: the writer queue (order,
// drop-oldest bound, silence after an error) and the reader (dispatch by
// type, bounded lines, the agent hanging up).
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <sstream>
#include <thread>

#include "session/launcher_tuning.h"
#include "tests/session/handshake_fixture.h"
#include "tests/support/log_capture.h"

namespace nb {
namespace {

using test::FakeTcpPeer;

std::vector<std::string> lines_after_auth(const std::string& received) {
    std::vector<std::string> lines;
    std::istringstream stream(received);
    std::string line;
    std::getline(stream, line);  // the auth message
    while (std::getline(stream, line)) lines.push_back(line);
    return lines;
}

// What the channel handed on, from its I/O thread.
struct Recorder {
    std::mutex lock;  // guards every field
    std::vector<std::string> pongs;
    std::vector<std::string> losses;

    void add(std::vector<std::string>& to, std::string_view text) {
        std::lock_guard guard(lock);
        to.emplace_back(text);
    }
    size_t count(const std::vector<std::string>& of) {
        std::lock_guard guard(lock);
        return of.size();
    }
    void record_losses(ControlChannel& channel) {
        channel.set_lost_handler([this](const std::string& reason) { add(losses, reason); });
    }
};

// Handshakes, then hands the channel to its I/O thread with `recorder`
// taking what it reads.
bool serve_listening(test::ChannelRig& rig, uint16_t port, Recorder& recorder) {
    if (!rig.handshake(port)) return false;
    rig.channel.on_message("pong", [&recorder](std::string_view line) { recorder.add(recorder.pongs, line); });
    recorder.record_losses(rig.channel);
    rig.channel.start_reading();
    rig.serve();
    return true;
}

TEST(ControlQueue, KeepsOrderAndDropsTheOldestWaitingMessageWhenFull) {
    test::LogCapture log;
    FakeTcpPeer agent(test::answer_with(test::ready_reply()));
    test::ChannelRig rig;
    ASSERT_TRUE(rig.handshake(agent.port()));

    // Nothing serves the context yet, so all 128 land before the first write
    // completes: one in flight, 63 waiting, then 64 drops.
    for (int i = 0; i < 128; ++i) rig.channel.send("{\"n\":" + std::to_string(i) + "}");
    rig.serve();
    ASSERT_TRUE(test::eventually([&] { return lines_after_auth(agent.received()).size() >= 64; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

    EXPECT_EQ(rig.channel.dropped_messages(), 64u);
    EXPECT_TRUE(log.contains("Launcher: control write queue full — dropped oldest (total=1)"));
    EXPECT_TRUE(log.contains("Launcher: control write queue full — dropped oldest (total=64)"));
    EXPECT_FALSE(log.contains_substring("(total=2)"));
    EXPECT_FALSE(log.contains_substring("(total=63)"));

    const auto lines = lines_after_auth(agent.received());
    ASSERT_EQ(lines.size(), 64u);
    EXPECT_EQ(lines.front(), "{\"n\":0}");  // the message in flight is never cut
    for (size_t i = 1; i < lines.size(); ++i) EXPECT_EQ(lines[i], "{\"n\":" + std::to_string(64 + i) + "}");
}

TEST(ControlQueue, AWriteErrorEndsTheChannelOnceAndLaterSendsVanish) {
    test::LogCapture log;
    // Reset the connection so the client's next write fails at once.
    FakeTcpPeer agent(test::answer_with(test::ready_reply(), [](FakeTcpPeer&, int fd) {
        linger hard{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }));
    test::ChannelRig rig;
    ASSERT_TRUE(rig.handshake(agent.port()));
    Recorder recorder;
    recorder.record_losses(rig.channel);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    rig.serve();

    // The reset may surface on the first write or only on a later one.
    for (int i = 0; i < 20 && rig.channel.open(); ++i) {
        rig.channel.send(R"({"type":"request_idr"})");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(test::eventually([&] { return recorder.count(recorder.losses) > 0; }));
    EXPECT_FALSE(rig.channel.open());
    EXPECT_TRUE(rig.channel.closed_by_error());
    EXPECT_EQ(log.count_containing("Launcher: control message send error: "), 1u);

    const size_t lines_before = log.texts().size();
    rig.channel.send(R"({"type":"request_idr"})");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(log.texts().size(), lines_before);
    EXPECT_EQ(recorder.count(recorder.losses), 1u);
}

TEST(ControlQueue, SendBeforeHandshakeIsDropped) {
    test::LogCapture log;
    test::ChannelRig rig;
    rig.channel.send(R"({"type":"request_idr"})");
    rig.serve();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(rig.channel.dropped_messages(), 0u);
    EXPECT_TRUE(log.texts().empty());
}

TEST(ControlReader, DispatchesLinesByTypeAndDropsTheRest) {
    test::LogCapture log;
    // The pong right behind the reply arrives in the same read as the reply.
    const std::string first_pong = "{\"type\":\"pong\",\"ts\":1}\n";
    std::promise<int> connected;
    FakeTcpPeer agent(test::answer_with(test::ready_reply() + first_pong, [&](FakeTcpPeer& peer, int fd) {
        connected.set_value(fd);
        peer.drain(fd);
    }));
    test::ChannelRig rig;
    Recorder recorder;
    ASSERT_TRUE(serve_listening(rig, agent.port(), recorder));
    const int fd = connected.get_future().get();
    FakeTcpPeer::send_all(fd, "not json\n\n[1,2]\n{\"type\":7}\n{\"type\":\"PONG\"}\n{\"type\":\"stats\"}\n");
    FakeTcpPeer::send_all(fd, std::string(70 * 1024, 'x') + "{\"type\":\"pong\"}\n");
    FakeTcpPeer::send_all(fd, "{\"ts\":2,\"type\":\"pong\"}\n");
    ASSERT_TRUE(test::eventually([&] { return recorder.count(recorder.pongs) >= 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

    std::lock_guard guard(recorder.lock);
    EXPECT_EQ(recorder.pongs, (std::vector<std::string>{"{\"type\":\"pong\",\"ts\":1}", "{\"ts\":2,\"type\":\"pong\"}"}));
    EXPECT_TRUE(recorder.losses.empty());
    EXPECT_EQ(log.count("ControlChannel: control line longer than 65536 bytes dropped"), 1u);
    EXPECT_TRUE(log.contains_at(spdlog::level::debug, "ControlChannel: ignored \"stats\" message from the agent"));
    EXPECT_TRUE(log.contains_at(spdlog::level::debug, "ControlChannel: ignored \"PONG\" message from the agent"));
    EXPECT_TRUE(log.contains("ControlChannel: dropped a line that is not a control message (8 bytes)"));
}

TEST(ControlReader, AFloodOfLinesIsShedWithOneWarningPerWindow) {
    test::LogCapture log;
    constexpr auto k_flood = std::chrono::milliseconds(1000);
    std::atomic<uint64_t> sent_bytes{0};
    std::string block;
    for (int i = 0; i < 1000; ++i) block += "{\"type\":\"pong\"}\n";  // 16 bytes a line
    std::promise<void> flooded;
    FakeTcpPeer agent(test::answer_with(test::ready_reply(), [&](FakeTcpPeer& peer, int fd) {
        // Never blocks: the client stops reading while it sheds, and the
        // flood must still end on time.
        const auto end = std::chrono::steady_clock::now() + k_flood;
        while (std::chrono::steady_clock::now() < end) {
            pollfd writable{fd, POLLOUT, 0};
            if (::poll(&writable, 1, 20) <= 0) continue;
            const ssize_t n = ::send(fd, block.data(), block.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n > 0) sent_bytes += static_cast<uint64_t>(n);
        }
        flooded.set_value();
        peer.hold(fd);
    }));
    ControlTuning tuning = test::quick_tuning();
    tuning.max_lines_per_window = 50;
    tuning.line_window_ms = 200;
    const auto start = std::chrono::steady_clock::now();
    test::ChannelRig rig(tuning);
    Recorder recorder;
    ASSERT_TRUE(serve_listening(rig, agent.port(), recorder));
    flooded.get_future().wait();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto windows = (std::chrono::steady_clock::now() - start) / std::chrono::milliseconds(200) + 1;

    // Still connected, and only the budget of each window was handled.
    EXPECT_TRUE(rig.channel.open());
    EXPECT_EQ(recorder.count(recorder.losses), 0u);
    EXPECT_GT(recorder.count(recorder.pongs), 0u);
    EXPECT_LE(recorder.count(recorder.pongs), static_cast<size_t>(windows) * 50);
    EXPECT_GT(sent_bytes.load() / 16, 10 * recorder.count(recorder.pongs));
    const size_t warnings = log.count_containing("ControlChannel: the agent sends more than 50 lines in 200 ms; ");
    EXPECT_GE(warnings, 2u);
    EXPECT_LE(warnings, static_cast<size_t>(windows));
}

TEST(ControlReader, TheAgentHangingUpIsReportedOnceAndEndsSending) {
    test::LogCapture log;
    FakeTcpPeer agent(test::answer_with(test::ready_reply(), [](FakeTcpPeer&, int) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }));  // returning closes the connection
    test::ChannelRig rig;
    Recorder recorder;
    ASSERT_TRUE(serve_listening(rig, agent.port(), recorder));
    ASSERT_TRUE(test::eventually([&] { return recorder.count(recorder.losses) > 0; }));
    rig.channel.send(R"({"type":"request_idr"})");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

    EXPECT_EQ(recorder.count(recorder.losses), 1u);
    EXPECT_EQ(recorder.losses.front(), "the agent closed the connection");
    EXPECT_FALSE(rig.channel.open());
    EXPECT_TRUE(log.contains_at(spdlog::level::warn,
                                "ControlChannel: connection to the agent lost (the agent closed the connection)"));
    EXPECT_FALSE(log.contains_substring("control message send error"));
}

TEST(ControlReader, ClosingFromOurSideIsNoLoss) {
    FakeTcpPeer agent(test::answer_with(test::ready_reply()));
    test::ChannelRig rig;
    Recorder recorder;
    ASSERT_TRUE(serve_listening(rig, agent.port(), recorder));
    rig.channel.send(R"({"type":"request_idr"})");
    ASSERT_TRUE(test::eventually([&] { return agent.received().find("request_idr") != std::string::npos; }));
    rig.channel.close();
    rig.channel.close();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(recorder.count(recorder.losses), 0u);
    EXPECT_FALSE(rig.channel.open());
    EXPECT_FALSE(rig.channel.closed_by_error());
}

TEST(IoThreads, CountIsClampedToTwoThroughFour) {
    EXPECT_EQ(io_thread_count(0), 2u);
    EXPECT_EQ(io_thread_count(1), 2u);
    EXPECT_EQ(io_thread_count(3), 3u);
    EXPECT_EQ(io_thread_count(16), 4u);
}

}  // namespace
}  // namespace nb
