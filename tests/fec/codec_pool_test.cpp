// What the codec cache keeps: one codec per thread, the larger of two, and
// nothing once a session's end released it or the thread is gone.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "fec/codec_pool.h"
#include "tests/support/thread_barrier.h"

namespace nb::fec {
namespace {

constexpr uint32_t k_block_bytes = 1162;

// A codec from the pool set up as a decoder of `blocks` blocks.
std::unique_ptr<Codec> decoder_for(uint32_t blocks) {
    auto codec = CodecPool::acquire(blocks);
    EXPECT_NE(codec, nullptr);
    if (codec) {
        EXPECT_EQ(codec->init_decoder(uint64_t{blocks} * k_block_bytes, k_block_bytes), CodecResult::success);
    }
    return codec;
}

class CodecPoolTest : public ::testing::Test {
protected:
    void SetUp() override { CodecPool::release_all(); }
    void TearDown() override { CodecPool::release_all(); }
};

TEST_F(CodecPoolTest, KeepsOnlyTheLargerOfTwoCodecsReleasedOnOneThread) {
    for (const bool large_first : {true, false}) {
        SCOPED_TRACE(large_first ? "large released first" : "small released first");
        auto large = decoder_for(1000);
        auto small = decoder_for(10);
        const size_t large_bytes = large->retained_bytes();
        ASSERT_GT(large_bytes, small->retained_bytes());
        if (large_first) {
            CodecPool::release(std::move(large));
            CodecPool::release(std::move(small));
        } else {
            CodecPool::release(std::move(small));
            CodecPool::release(std::move(large));
        }
        EXPECT_EQ(CodecPool::kept_bytes(), large_bytes);

        // The kept codec serves the next frame, whatever its size, and the
        // pool holds nothing while it is out.
        auto next = decoder_for(54);
        EXPECT_GE(next->retained_bytes(), large_bytes);
        EXPECT_EQ(CodecPool::kept_bytes(), 0u);
        CodecPool::release(std::move(next));
        CodecPool::release_all();
    }
}

TEST_F(CodecPoolTest, ReleaseAllFreesWhatLiveThreadsKeepAndTheyStartAfresh) {
    constexpr int k_threads = 3;
    test::ThreadBarrier kept(k_threads + 1);
    test::ThreadBarrier released(k_threads + 1);
    std::vector<size_t> fresh_bytes(k_threads, 1);
    std::vector<std::thread> threads;
    for (int t = 0; t < k_threads; ++t) {
        threads.emplace_back([&, t] {
            CodecPool::release(decoder_for(300));
            kept.arrive_and_wait();
            released.arrive_and_wait();
            auto codec = CodecPool::acquire(300);
            fresh_bytes[t] = codec ? codec->retained_bytes() : 1;
        });
    }
    kept.arrive_and_wait();
    const size_t held = CodecPool::kept_bytes();
    EXPECT_GT(held, 0u);
    EXPECT_EQ(CodecPool::release_all(), held);
    EXPECT_EQ(CodecPool::kept_bytes(), 0u);
    released.arrive_and_wait();
    for (auto& thread : threads) thread.join();
    for (size_t bytes : fresh_bytes) EXPECT_EQ(bytes, 0u) << "a thread got a codec that should have been freed";
}

TEST_F(CodecPoolTest, AThreadsCodecGoesWithTheThread) {
    std::thread([] { CodecPool::release(decoder_for(1000)); }).join();
    EXPECT_EQ(CodecPool::kept_bytes(), 0u);
}

}  // namespace
}  // namespace nb::fec
