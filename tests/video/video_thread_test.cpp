// The video thread with a decoder and a renderer that record their calls:
// frames completed on many threads reach the decoder in order, only the
// newest decoded picture is drawn, a full queue and a gap end in a key-frame
// request, and every decoder and renderer call happens on the one thread.
#include "video/video_thread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <future>
#include <map>
#include <random>
#include <thread>

#include "net/depacketizer.h"
#include "tests/net/video_stream.h"
#include "tests/support/thread_barrier.h"
#include "tests/video/fake_video_parts.h"
#include "tests/video/log_capture.h"

namespace nb {
namespace {

using namespace std::chrono_literals;
using test::VideoCalls;

CompletedFrame completed_frame(uint32_t id, bool key = false) { return {.frame_id = id, .access_unit = {1, 2, 3}, .key = key}; }

class VideoThreadTest : public ::testing::Test {
protected:
    void SetUp() override { start_video(k_never_overdue_us); }

    // A picture never counts as overdue here unless a case asks for it.
    static constexpr int64_t k_never_overdue_us = int64_t{1} << 50;

    void start_video(int64_t max_present_gap_us) {
        if (video_) video_->stop();
        VideoThread::Hooks hooks;
        hooks.request_key_frame = [this] { requests_.fetch_add(1); };
        hooks.max_present_gap_us = max_present_gap_us;
        video_ = std::make_unique<VideoThread>(std::make_unique<test::FakeRenderer>(calls_),
                                               std::make_unique<test::FakeDecoder>(calls_), std::move(hooks));
        ASSERT_TRUE(video_->start(nullptr, VideoCodec::H264, 64, 36));
    }

    // Keeps the thread busy with a posted task until the returned promise is set.
    std::promise<void> hold_thread() {
        std::promise<void> release;
        auto released = std::make_shared<std::shared_future<void>>(release.get_future().share());
        std::promise<void> holding;
        auto held = holding.get_future();
        video_->post([released, &holding](IRenderer&) {
            holding.set_value();
            released->wait();
        });
        held.wait();
        return release;
    }

    // Waits until `done` holds of what the fakes recorded.
    bool wait_for(const std::function<bool(VideoCalls&)>& done) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < deadline) {
            {
                std::lock_guard lock(calls_.mutex);
                if (done(calls_)) return true;
            }
            std::this_thread::sleep_for(2ms);
        }
        return false;
    }

    std::vector<uint32_t> decoded() {
        std::lock_guard lock(calls_.mutex);
        return calls_.decoded_ids;
    }

    VideoCalls calls_;
    std::atomic<int> requests_{0};
    std::unique_ptr<VideoThread> video_;
};

// Packets of consecutive frames go out on four threads, each pausing at
// random, so frames complete in any interleaving; the decoder must still see
// them in ascending order, each completed frame once.
TEST_F(VideoThreadTest, FramesCompletedOnManyThreadsReachTheDecoderInOrder) {
    spdlog::default_logger()->set_level(spdlog::level::info);
    calls_.on_decode = [rng = std::mt19937(3)]() mutable {
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 300));
    };
    Decryption decryption;
    decryption.set_key(test::video_key());
    Depacketizer depacketizer(decryption);
    std::vector<uint32_t> handed_over;  // in hand-over order, under the depacketizer's lock
    depacketizer.set_frame_callback([&](CompletedFrame&& done) {
        handed_over.push_back(done.frame_id);
        video_->submit(std::move(done));
    });

    constexpr uint32_t k_frames = 400;
    constexpr int k_threads = 4;
    // Threads meet after every round of frames: within a round they
    // interleave at random, but none runs so far ahead that the pending
    // table overflows (starting a thread takes longer than a whole feed
    // under wine).
    constexpr uint32_t k_round_frames = 40;
    test::VideoStream stream;
    using Datagrams = std::vector<std::vector<uint8_t>>;
    std::vector<std::vector<Datagrams>> per_thread(k_threads, std::vector<Datagrams>(k_frames / k_round_frames));
    for (uint32_t f = 1; f <= k_frames; ++f) {
        // Key frames only, so that no frame is held back for one.
        const auto datagrams = stream.frame(f, test::access_unit(f, 3 * 1162), true);
        for (size_t i = 0; i < datagrams.size(); ++i) {
            per_thread[(f + i) % k_threads][(f - 1) / k_round_frames].push_back(datagrams[i]);
        }
    }
    const asio::ip::udp::endpoint from(asio::ip::make_address_v4("127.0.0.1"), 47998);
    std::vector<std::thread> threads;
    test::ThreadBarrier round_done(k_threads);
    for (int t = 0; t < k_threads; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 rng(100 + t);
            for (const Datagrams& round : per_thread[t]) {
                round_done.arrive_and_wait();
                for (const auto& d : round) {
                    if (rng() % 4 == 0) std::this_thread::sleep_for(std::chrono::microseconds(rng() % 200));
                    depacketizer.handle_datagram(d.data(), d.size(), from);
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();

    // Hand-overs ascend; the decoder saw exactly those, in that order, unless
    // the queue had to drop some while it lagged.
    ASSERT_FALSE(handed_over.empty());
    EXPECT_TRUE(std::is_sorted(handed_over.begin(), handed_over.end()));
    const size_t expected = handed_over.size() - video_->frames_dropped();
    ASSERT_TRUE(wait_for([&](VideoCalls& c) { return c.decoded_ids.size() >= expected; }));
    const auto ids = decoded();
    EXPECT_TRUE(std::adjacent_find(ids.begin(), ids.end(), std::greater_equal<uint32_t>()) == ids.end())
        << "a frame reached the decoder after a newer one";
    EXPECT_TRUE(std::includes(handed_over.begin(), handed_over.end(), ids.begin(), ids.end()));
}

// Frames 1 to 5 wait behind a busy thread: all are decoded; the first is
// drawn (there is no picture yet), then only the newest.
TEST_F(VideoThreadTest, EveryQueuedFrameIsDecodedButOnlyTheFirstAndTheNewestAreDrawn) {
    auto release = hold_thread();
    for (uint32_t id = 1; id <= 5; ++id) video_->submit(completed_frame(id, id == 1));
    release.set_value();
    ASSERT_TRUE(wait_for([](VideoCalls& c) { return c.presents >= 2 && c.decoded_ids.size() == 5; }));
    EXPECT_EQ(decoded(), (std::vector<uint32_t>{1, 2, 3, 4, 5}));
    video_->stop();
    EXPECT_EQ(calls_.pictures_drawn, 2u);
    EXPECT_EQ(video_->frames_presented(), 2u);
    EXPECT_EQ(video_->frames_skipped(), 3u);
    EXPECT_EQ(video_->frames_decoded(), 5u);
}

// A decoder slower than the stream always has a newer frame waiting; once
// the picture has stood still for the allowed gap (here shorter than one
// decode), a decoded picture is drawn anyway.
TEST_F(VideoThreadTest, ADecoderThatNeverCatchesUpStillMovesThePicture) {
    start_video(1'000);
    calls_.on_decode = [] { std::this_thread::sleep_for(2ms); };
    auto release = hold_thread();
    for (uint32_t id = 1; id <= 8; ++id) video_->submit(completed_frame(id, id == 1));
    release.set_value();
    ASSERT_TRUE(wait_for([](VideoCalls& c) { return c.decoded_ids.size() == 8; }));
    video_->stop();
    EXPECT_EQ(video_->frames_presented(), 8u);
    EXPECT_EQ(video_->frames_skipped(), 0u);
}

TEST_F(VideoThreadTest, AGapHoldsFramesBackUntilAKeyFrameAndAsksForOne) {
    const int initial = requests_.load();
    EXPECT_EQ(initial, 1) << "the stream's first key frame is asked for at start";
    for (uint32_t id : {1u, 2u, 4u, 5u}) video_->submit(completed_frame(id, id == 1));
    video_->submit(completed_frame(6, true));
    video_->submit(completed_frame(7));
    ASSERT_TRUE(wait_for([](VideoCalls& c) { return !c.decoded_ids.empty() && c.decoded_ids.back() == 7; }));
    EXPECT_EQ(decoded(), (std::vector<uint32_t>{1, 2, 6, 7}));
    // The gap's request waits out the spacing after the first one; it is
    // owed until a key frame comes, and one came.
    EXPECT_LE(requests_.load(), initial + 1);
}

TEST_F(VideoThreadTest, AFullQueueDropsNewFramesAndTheGapAsksForAKeyFrame) {
    test::LogCapture log;
    auto release = hold_thread();
    for (uint32_t id = 1; id <= VideoThread::k_queue_frames + 4; ++id) video_->submit(completed_frame(id, id == 1));
    EXPECT_EQ(video_->frames_dropped(), 4u);
    EXPECT_TRUE(log.contains("VideoThread: decoder " + std::to_string(VideoThread::k_queue_frames) +
                             " frames behind, 1 frame(s) dropped at frame " +
                             std::to_string(VideoThread::k_queue_frames + 1)));
    release.set_value();
    ASSERT_TRUE(wait_for([](VideoCalls& c) { return c.decoded_ids.size() == VideoThread::k_queue_frames; }));
    video_->submit(completed_frame(VideoThread::k_queue_frames + 5));
    video_->submit(completed_frame(VideoThread::k_queue_frames + 6, true));
    ASSERT_TRUE(wait_for([](VideoCalls& c) { return c.decoded_ids.size() == VideoThread::k_queue_frames + 1; }));
    EXPECT_EQ(decoded().back(), VideoThread::k_queue_frames + 6) << "the frame after the gap waits for a key frame";
    EXPECT_TRUE(log.contains("KeyFrameRequester: 4 frame(s) before frame " +
                             std::to_string(VideoThread::k_queue_frames + 5) + " never arrived"));

    // A key frame arriving at a full queue replaces what waits there.
    constexpr uint32_t k_key = 500;
    auto again = hold_thread();
    for (uint32_t id = 200; id < 200 + VideoThread::k_queue_frames; ++id) video_->submit(completed_frame(id));
    video_->submit(completed_frame(k_key, true));
    again.set_value();
    ASSERT_TRUE(wait_for([](VideoCalls& c) { return c.decoded_ids.back() == k_key; }));
    EXPECT_EQ(video_->frames_dropped(), 4u + VideoThread::k_queue_frames);
}

TEST_F(VideoThreadTest, DecoderRendererAndPostedWorkShareOneThread) {
    std::thread::id task_thread;
    ASSERT_TRUE(video_->run_and_wait([&](IRenderer&) { task_thread = std::this_thread::get_id(); }));
    video_->resize(800, 450);
    video_->submit(completed_frame(1, true));
    ASSERT_TRUE(wait_for([](VideoCalls& c) { return c.presents >= 1 && !c.resizes.empty(); }));
    video_->stop();
    EXPECT_NE(task_thread, std::this_thread::get_id());
    EXPECT_EQ(calls_.resizes, (std::vector<std::pair<uint32_t, uint32_t>>{{800, 450}}));
    for (const auto& id : calls_.threads) EXPECT_EQ(id, task_thread);
    EXPECT_FALSE(video_->post([](IRenderer&) {})) << "a stopped thread takes no more work";
    video_->submit(completed_frame(2));  // dropped quietly
}

TEST_F(VideoThreadTest, AShownPanelIsRedrawnOverAFrozenPictureAndTakenOffWhenHidden) {
    std::atomic<int> draws{0};
    video_->set_overlay_draw([&](const VideoFigures&) { draws.fetch_add(1); });
    video_->submit(completed_frame(1, true));
    ASSERT_TRUE(wait_for([](VideoCalls& c) { return c.presents == 1; }));
    video_->set_overlay_visible(true);
    ASSERT_TRUE(wait_for([](VideoCalls& c) { return c.redraws >= 3; }));
    video_->set_overlay_visible(false);
    ASSERT_TRUE(video_->run_and_wait([](IRenderer&) {}));
    size_t redraws = 0;
    {
        std::lock_guard lock(calls_.mutex);
        redraws = calls_.redraws;
    }
    EXPECT_GE(draws.load(), 4);  // the picture's draw and every redraw carry the panel
    std::this_thread::sleep_for(150ms);
    std::lock_guard lock(calls_.mutex);
    EXPECT_EQ(calls_.redraws, redraws) << "a hidden panel is not redrawn";
}

TEST(VideoThreadStart, FailsWhenTheDecoderCannotStart) {
    test::LogCapture log;
    VideoCalls calls;
    VideoThread video(std::make_unique<test::FakeRenderer>(calls), std::make_unique<test::FakeDecoder>(calls, true),
                      {});
    EXPECT_FALSE(video.start(nullptr, VideoCodec::H264, 64, 36));
    EXPECT_TRUE(log.contains("Launcher: FakeDecoder::initialize failed"));
    EXPECT_FALSE(video.post([](IRenderer&) {}));
}

}  // namespace
}  // namespace nb
