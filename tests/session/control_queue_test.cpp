// The outgoing control queue: drop-oldest when full and silence after a
// write error.
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <chrono>
#include <sstream>
#include <thread>

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

void serve_until(Launcher& launcher, const std::function<bool()>& done,
                 std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    auto& io = launcher.io_context();
    io.restart();
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        io.run_for(std::chrono::milliseconds(10));
        io.restart();
    }
}

TEST(ControlQueue, DropsOldestWaitingMessageWhenFull) {
    test::LogCapture log;
    FakeTcpPeer agent(test::answer_with(test::ready_reply()));
    Launcher launcher(test::quick_tuning());
    ASSERT_TRUE(launcher.tcp_handshake(test::params_for(agent.port())));

    // Nothing serves the context yet, so all 128 land before the first write
    // completes: one in flight, 63 waiting, then 64 drops.
    for (int i = 0; i < 128; ++i) launcher.send_control("{\"n\":" + std::to_string(i) + "}");
    serve_until(launcher, [&] { return lines_after_auth(agent.received()).size() >= 64; });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

    EXPECT_EQ(launcher.dropped_control_messages(), 64u);
    EXPECT_TRUE(log.contains("Launcher: control write queue full — dropped oldest (total=1)"));
    EXPECT_TRUE(log.contains("Launcher: control write queue full — dropped oldest (total=64)"));
    EXPECT_FALSE(log.contains_substring("(total=2)"));
    EXPECT_FALSE(log.contains_substring("(total=63)"));

    const auto lines = lines_after_auth(agent.received());
    ASSERT_EQ(lines.size(), 64u);
    EXPECT_EQ(lines.front(), "{\"n\":0}");  // the message in flight is never cut
    EXPECT_EQ(lines[1], "{\"n\":65}");
    EXPECT_EQ(lines.back(), "{\"n\":127}");
    launcher.shutdown();
}

TEST(ControlQueue, NothingIsSentAfterAWriteError) {
    test::LogCapture log;
    FakeTcpPeer agent([](FakeTcpPeer& peer, int fd) {
        peer.read_line(fd);
        FakeTcpPeer::send_all(fd, test::ready_reply());
        // Reset the connection so the client's next write fails at once.
        linger hard{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    });
    Launcher launcher(test::quick_tuning());
    ASSERT_TRUE(launcher.tcp_handshake(test::params_for(agent.port())));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    for (int i = 0; i < 5 && !launcher.control_closed(); ++i) {
        launcher.send_control(R"({"type":"request_idr"})");
        serve_until(launcher, [&] { return launcher.control_closed(); });
    }
    ASSERT_TRUE(launcher.control_closed());
    size_t errors = 0;
    for (const auto& text : log.texts()) {
        if (text.starts_with("Launcher: control message send error: ")) ++errors;
    }
    EXPECT_EQ(errors, 1u);

    const size_t lines_before = log.texts().size();
    launcher.send_control(R"({"type":"request_idr"})");
    serve_until(launcher, [] { return false; }, std::chrono::milliseconds(200));
    EXPECT_EQ(log.texts().size(), lines_before);
    launcher.shutdown();
}

TEST(ControlQueue, SendBeforeHandshakeIsDropped) {
    test::LogCapture log;
    Launcher launcher(test::quick_tuning());
    launcher.send_control(R"({"type":"request_idr"})");
    serve_until(launcher, [] { return true; });
    EXPECT_EQ(launcher.dropped_control_messages(), 0u);
    EXPECT_TRUE(log.texts().empty());
}

TEST(IoThreads, CountIsClampedToTwoThroughFour) {
    EXPECT_EQ(io_thread_count(0), 2u);
    EXPECT_EQ(io_thread_count(1), 2u);
    EXPECT_EQ(io_thread_count(3), 3u);
    EXPECT_EQ(io_thread_count(16), 4u);
}

}  // namespace
}  // namespace nb
