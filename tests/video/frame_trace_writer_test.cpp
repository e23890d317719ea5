// The frame trace as a reader of the file sees it: the header, one line per
// frame in the order they came, empty times for frames never drawn, and a
// clear cause when the file cannot be created or written.
#include "video/frame_trace_writer.h"

#include <gtest/gtest.h>

#include "tests/support/frame_trace_csv.h"
#include "tests/support/temp_folder.h"
#include "tests/video/log_capture.h"

namespace nb {
namespace {

constexpr size_t k_columns = 8;

// Frame `i` of a stream at 60 fps; every fifth decoded behind a newer one.
FrameTiming timing_of(uint32_t i) {
    const int64_t base = 1'000'000 + int64_t{i} * 16'667;
    FrameTiming t{.frame_id = i + 1,
                  .first_packet_us = base,
                  .last_packet_us = base + 900,
                  .queued_us = base + 950,
                  .dequeued_us = base + 960,
                  .decode_start_us = base + 970,
                  .decoded_us = base + 4'000};
    if (i % 5 != 4) {
        t.drawn_us = base + 5'000;
        t.presented_us = base + 6'000;
    }
    return t;
}

TEST(FrameTraceWriter, WritesEveryFrameInOrderWithItsStageTimes) {
    test::TempFolder folder("nb-frame-trace");
    test::LogCapture log;
    const auto path = folder / "trace.csv";
    // More than a batch, so lines leave both on a full batch and on stop().
    constexpr uint32_t k_frames = FrameTraceWriter::k_batch * 2 + 7;
    {
        auto writer = FrameTraceWriter::open(path.string());
        ASSERT_NE(writer, nullptr);
        for (uint32_t i = 0; i < k_frames; ++i) writer->on_frame_timing(timing_of(i));
        writer->stop();
        writer->on_frame_timing(timing_of(k_frames));  // after stop: ignored
        EXPECT_EQ(writer->frames_written(), k_frames);
    }
    EXPECT_TRUE(log.contains("FrameTrace: " + std::to_string(k_frames) + " frames written to " + path.string()));

    const auto csv = test::read_frame_trace(path, k_columns);
    EXPECT_EQ(csv.header, FrameTraceWriter::k_header);
    EXPECT_EQ(csv.malformed, 0u);
    ASSERT_EQ(csv.rows.size(), k_frames);
    for (uint32_t i = 0; i < k_frames; ++i) {
        const FrameTiming t = timing_of(i);
        const auto& row = csv.rows[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(row[0], t.frame_id);
        EXPECT_EQ(row[1], t.first_packet_us);
        EXPECT_EQ(row[2], t.last_packet_us);
        EXPECT_EQ(row[3], t.queued_us);
        EXPECT_EQ(row[4], t.decode_start_us);
        EXPECT_EQ(row[5], t.decoded_us);
        if (t.presented_us == 0) {
            EXPECT_FALSE(row[6].has_value());
            EXPECT_FALSE(row[7].has_value());
        } else {
            EXPECT_EQ(row[6], t.drawn_us);
            EXPECT_EQ(row[7], t.presented_us);
        }
    }
}

TEST(FrameTraceWriter, FileTroubleIsLoggedAndNeverStopsTheCaller) {
    struct Case {
        const char* path;
        bool opens;
        const char* logged;
    };
    for (const Case& c : {Case{"/nonexistent-nubora-dir/trace.csv", false, "FrameTrace: cannot create"},
                          Case{"/dev/full", true, "FrameTrace: writing /dev/full failed"}}) {
        SCOPED_TRACE(c.path);
        test::LogCapture log;
        auto writer = FrameTraceWriter::open(c.path);
        ASSERT_EQ(writer != nullptr, c.opens);
        if (writer) {
            for (uint32_t i = 0; i < FrameTraceWriter::k_batch * 3; ++i) writer->on_frame_timing(timing_of(i));
            writer->stop();
            EXPECT_EQ(writer->frames_written(), 0u);
        }
        EXPECT_TRUE(log.contains(c.logged));
    }
}

}  // namespace
}  // namespace nb
