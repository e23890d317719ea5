// The per-frame trace of a real stream: with NUBORA_FRAME_TRACE set the
// client writes one line per frame whose stage times follow the frame's road
// (packets, assembly, decode, draw, present), and frames come in order.
#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include "tests/e2e/stream_session.h"
#include "tests/support/frame_trace_csv.h"

namespace nb {
namespace {

using namespace std::chrono_literals;
using test::StreamSession;

constexpr const char* k_header =
    "frame_id,first_packet_us,last_packet_us,assembled_us,decode_start_us,decode_end_us,drawn_us,presented_us";
constexpr size_t k_columns = 8;

TEST(FrameTrace, StreamWritesOrderedStageTimesPerFrame) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X server (run under xvfb-run)";
    test::StreamOptions options;
    options.agent_args = {"--no-audio"};
    options.client_env = {{"NUBORA_FRAME_TRACE", "trace.csv"}};  // in the client's working folder
    StreamSession session("nubora-e2e-trace", options);
    ASSERT_TRUE(session.start()) << session.outputs();
    ASSERT_TRUE(session.wait_for_newer_frame(0, "first").has_value()) << session.client().output();
    std::this_thread::sleep_for(2s);
    session.client().signal(SIGINT);
    ASSERT_EQ(session.client().wait_exit(), 0) << session.client().output();
    EXPECT_NE(session.client().output().find("FrameTrace: "), std::string::npos);

    const auto csv = test::read_frame_trace(session.work_dir() / "client" / "trace.csv", k_columns);
    EXPECT_EQ(csv.header, k_header);
    EXPECT_EQ(csv.malformed, 0u);
    ASSERT_GE(csv.rows.size(), 30u) << session.client().output();
    size_t presented = 0;
    std::optional<int64_t> previous_id;
    for (const auto& row : csv.rows) {
        SCOPED_TRACE("frame " + std::to_string(row[0].value_or(-1)));
        for (size_t column = 0; column < 6; ++column) ASSERT_TRUE(row[column].has_value()) << "column " << column;
        if (previous_id) {
            EXPECT_GT(*row[0], *previous_id);
        }
        previous_id = row[0];
        // Drawn and presented come together or not at all.
        ASSERT_EQ(row[6].has_value(), row[7].has_value());
        const size_t last = row[7] ? 7 : 5;
        presented += row[7].has_value();
        EXPECT_GT(*row[1], 0);
        for (size_t column = 2; column <= last; ++column) {
            EXPECT_LE(*row[column - 1], *row[column]) << "column " << column << " runs before column " << column - 1;
        }
    }
    EXPECT_GE(presented * 2, csv.rows.size()) << "most frames of a small stream reach the screen";
}

}  // namespace
}  // namespace nb
