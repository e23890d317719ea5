// The statistics reporter against a scripted agent on loopback. The test
// thread drives the I/O context itself and moves the reporter's clock by
// hand, so every figure is exact.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "session/stats_reporter.h"
#include "tests/support/fake_tcp_peer.h"
#include "tests/support/log_capture.h"

namespace nb {
namespace {

using test::FakeTcpPeer;

constexpr int64_t k_ms = 1'000'000;  // nanoseconds
constexpr int64_t k_start_ns = 5'000 * k_ms;

class StatsReporterTest : public ::testing::Test {
protected:
    void SetUp() override {
        socket_ = std::make_shared<asio::ip::tcp::socket>(io_);
        socket_->connect({asio::ip::make_address("127.0.0.1"), agent_.port()});
        wait_until([&] { return agent_.connections() > 0; });
    }

    // Ping once at start only, unless a test asks for more.
    std::unique_ptr<StatsReporter> make_reporter(int64_t stats_interval_ms = 1) {
        StatsTiming timing;
        timing.stats_interval_ms = stats_interval_ms;
        timing.ping_interval_ms = 3'600'000;
        timing.now_ns = [this] { return clock_ns_.load(); };
        return std::make_unique<StatsReporter>(
            io_,
            [this](const std::string& text) {
                sent_.push_back(text);
                asio::write(*socket_, asio::buffer(text + "\n"));
            },
            timing);
    }

    void wait_until(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            io_.restart();
            io_.run_one_for(std::chrono::milliseconds(5));
        }
        ASSERT_TRUE(done()) << "condition not met within the test's patience";
    }

    std::vector<std::string> stats_lines() const {
        std::vector<std::string> out;
        for (const auto& text : sent_) {
            if (text.find(R"("type":"stats")") != std::string::npos) out.push_back(text);
        }
        return out;
    }

    // Runs the context until the reporter has sent one more stats message.
    std::string next_stats() {
        const size_t before = stats_lines().size();
        wait_until([&] { return stats_lines().size() > before; });
        return stats_lines().back();
    }

    asio::io_context io_;
    FakeTcpPeer agent_{[](FakeTcpPeer& peer, int fd) { peer.drain(fd); }};
    std::shared_ptr<asio::ip::tcp::socket> socket_;
    std::atomic<int64_t> clock_ns_{k_start_ns};
    std::vector<std::string> sent_;
};

// Start and stop are idempotent: one ping, one line each, and nothing sent
// once stopped until a restart.
TEST_F(StatsReporterTest, PingAndStatsLinesCarryThePicturesOfEachIntervalUntilStopped) {
    test::LogCapture log;
    auto reporter = make_reporter();
    reporter->start();
    reporter->start();
    for (int i = 0; i < 7; ++i) reporter->count_decoded_frame();
    clock_ns_ += 300 * k_ms;
    next_stats();
    EXPECT_FLOAT_EQ(reporter->decoded_fps(), 23.333334f);
    // The counter restarts with every tick; no pictures, no rate. A tick that
    // finds no time elapsed reports 0 rather than dividing by it.
    clock_ns_ += 100 * k_ms;
    next_stats();
    EXPECT_EQ(reporter->decoded_fps(), 0.0f);
    reporter->count_decoded_frame();
    next_stats();
    EXPECT_EQ(reporter->decoded_fps(), 0.0f);
    reporter->stop();
    reporter->stop();
    EXPECT_EQ(log.count("StatsReporter: started (interval=1ms)"), 1u);
    EXPECT_EQ(log.count("StatsReporter: stopped"), 1u);
    io_.restart();
    io_.run_for(std::chrono::milliseconds(30));

    // Sorted compact JSON; 7 pictures in 300 ms is 23.333334f, and the agent
    // sees that float's digits.
    const std::string idle =
        R"({"decoded_fps":0.0,"jitter_ms":0.0,"packet_loss_pct":0.0,"rtt_ms":0.0,"type":"stats"})"
        "\n";
    wait_until([&] { return agent_.received().ends_with(idle + idle); });
    EXPECT_EQ(agent_.received(),
              R"({"ts":5000000,"type":"ping"})"
              "\n"
              R"({"decoded_fps":23.33333396911621,"jitter_ms":0.0,"packet_loss_pct":0.0,"rtt_ms":0.0,"type":"stats"})"
              "\n" +
                  idle + idle);

    reporter->start();
    next_stats();
    next_stats();
    reporter->stop();
    EXPECT_EQ(log.count("StatsReporter: started (interval=1ms)"), 2u);
}

struct LossCase {
    const char* name;
    int first_frame_packets;  // of 10 announced
    int second_frame_packets;
    float first_report_pct;   // a frame still short of packets waits one report for stragglers
    float second_report_pct;
};

class StatsReporterLoss : public StatsReporterTest, public ::testing::WithParamInterface<LossCase> {};

TEST_P(StatsReporterLoss, ComparesPacketsAnnouncedWithPacketsReceivedPerFrame) {
    auto reporter = make_reporter();
    reporter->start();
    for (int i = 0; i < GetParam().first_frame_packets; ++i) reporter->on_video_packet(1, 10);
    for (int i = 0; i < GetParam().second_frame_packets; ++i) reporter->on_video_packet(2, 10);
    next_stats();
    EXPECT_FLOAT_EQ(reporter->packet_loss_pct(), GetParam().first_report_pct);
    next_stats();
    EXPECT_FLOAT_EQ(reporter->packet_loss_pct(), GetParam().second_report_pct);
    // Everything is settled: a quiet interval reports no loss.
    next_stats();
    EXPECT_EQ(reporter->packet_loss_pct(), 0.0f);
}

INSTANTIATE_TEST_SUITE_P(Cases, StatsReporterLoss,
                         ::testing::Values(LossCase{"TwoOfTwentyMissing", 9, 9, 0.0f, 10.0f},
                                           LossCase{"DuplicatesNeverGoNegative", 11, 11, 0.0f, 0.0f},
                                           LossCase{"DuplicatesOfOneFrameHideNoLossOfAnother", 12, 8, 0.0f, 20.0f},
                                           LossCase{"UnseenFrameIsNotCounted", 10, 0, 0.0f, 0.0f},
                                           LossCase{"OnePacketOfTwo", 1, 0, 0.0f, 90.0f}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(StatsReporterTest, JitterIsTheSpreadOfArrivalGaps) {
    auto reporter = make_reporter();
    reporter->start();
    reporter->on_video_packet(1, 1);
    next_stats();
    EXPECT_EQ(reporter->jitter_ms(), 0.0f) << "one packet has no gap";

    // Four arrivals 10 ms apart: the first after a tick adds no gap, and
    // the sums are averaged over the arrivals, as the agent expects them.
    for (int i = 0; i < 4; ++i) {
        clock_ns_ += 10 * k_ms;
        reporter->on_video_packet(2, 4);
    }
    next_stats();
    EXPECT_NEAR(reporter->jitter_ms(), 4.330f, 1e-3f);

    // Gaps of 10 and 30 ms over three arrivals: sums 40 and 1000, averaged
    // over the arrivals of the interval.
    reporter->on_video_packet(3, 3);
    clock_ns_ += 10 * k_ms;
    reporter->on_video_packet(3, 3);
    clock_ns_ += 30 * k_ms;
    reporter->on_video_packet(3, 3);
    next_stats();
    EXPECT_NEAR(reporter->jitter_ms(), 12.472f, 1e-3f);
}

TEST_F(StatsReporterTest, PongsSmoothTheRoundTripTime) {
    test::LogCapture log;
    auto reporter = make_reporter(60'000);
    reporter->start();
    wait_until([&] { return agent_.received().find("ping") != std::string::npos; });

    clock_ns_ += 10 * k_ms;
    reporter->on_pong();
    EXPECT_EQ(reporter->rtt_ms(), 10.0f) << "the first sample is taken as it is";

    // Measured from the newest ping, which is still the one sent at start.
    clock_ns_ += 10 * k_ms;
    reporter->on_pong();
    EXPECT_TRUE(log.contains("StatsReporter: pong rtt=20.0ms"));
    EXPECT_NEAR(reporter->rtt_ms(), 13.0f, 1e-4f);
    EXPECT_TRUE(log.contains_at(spdlog::level::trace, "StatsReporter: pong rtt=10.0ms"));
}

TEST_F(StatsReporterTest, PongWithoutAPingOnRecordIsIgnored) {
    clock_ns_ = 0;  // the ping of start is stamped 0: nothing to measure from
    auto reporter = make_reporter(60'000);
    reporter->start();
    clock_ns_ = 15 * k_ms;
    reporter->on_pong();
    EXPECT_EQ(reporter->rtt_ms(), 0.0f);
}

}  // namespace
}  // namespace nb
