// Frame assembly: completion, validation, the frame-id window, eviction,
// limits, the statistics hook and concurrent intake.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "depacketizer_fixture.h"
#include "tests/support/thread_barrier.h"

namespace nb {
namespace {

using test::DepacketizerTest;

TEST_F(DepacketizerTest, AssemblesFramesWhateverThePacketOrder) {
    const auto single = test::access_unit(1, 300);
    feed_all(stream_.frame(1, single, true));
    ASSERT_EQ(frames_.size(), 1u);
    EXPECT_EQ(frames_[0].frame_id, 1u);
    EXPECT_EQ(frames_[0].access_unit, single);
    EXPECT_TRUE(frames_[0].key);
    EXPECT_EQ(depacketizer_.pending_frames(), 0u);

    const auto au = test::access_unit(3, 4 * 1162 + 77);
    auto datagrams = stream_.frame(3, au);
    std::shuffle(datagrams.begin(), datagrams.end(), std::mt19937(7));
    feed(datagrams[0]);
    clock_us_ += 4'000;
    feed_all(std::vector(datagrams.begin() + 1, datagrams.end() - 1));
    EXPECT_EQ(frames_.size(), 1u);
    EXPECT_EQ(depacketizer_.pending_frames(), 1u);
    clock_us_ += 5'000;
    feed(datagrams.back());
    ASSERT_EQ(frames_.size(), 2u);
    EXPECT_EQ(frames_[1].access_unit, au);
    EXPECT_FALSE(frames_[1].key);
    EXPECT_EQ(depacketizer_.pending_bytes(), 0u);
    // The frame carries when its first and its last packet arrived.
    EXPECT_EQ(frames_[1].first_packet_us, 1'000'000);
    EXPECT_EQ(frames_[1].last_packet_us, 1'009'000);
}

TEST_F(DepacketizerTest, DropsMalformedDatagramsBeforeDecryptionAndCountsEachDataPacketOnce) {
    const std::vector<uint8_t> payload(100, 1);
    auto corrupt = [](std::vector<uint8_t> d) {
        d.back() ^= 1;  // would fail the tag check if it got that far
        return d;
    };
    feed(std::vector<uint8_t>(37, 0));                                  // shorter than header + tag
    feed(corrupt(stream_.packet(5, 0, 0, payload)));                    // packet_count 0
    feed(corrupt(stream_.packet(5, 0, 4097, payload)));                 // packet_count above 4096
    feed(corrupt(stream_.packet(5, 3, 3, payload)));                    // data index == count
    feed(corrupt(stream_.packet(5, 0, 2, std::vector<uint8_t>(1163))));  // 1201 bytes
    EXPECT_EQ(depacketizer_.decrypt_failures(), 0u);
    EXPECT_EQ(depacketizer_.pending_frames(), 0u);

    // The same index with the FEC flag is a repair packet and is accepted.
    feed(stream_.packet(5, 3, 3, payload, k_media_flag_fec, 0));
    EXPECT_EQ(depacketizer_.pending_frames(), 1u);
    // 4096 packets is the largest frame.
    feed(stream_.packet(6, 4095, 4096, payload));
    EXPECT_EQ(depacketizer_.pending_frames(), 2u);

    // Each valid data packet counts once towards the loss the client reports;
    // the malformed ones and repair packets, even late ones, do not.
    feed_all(stream_.frame(90, test::access_unit(90, 2 * 1162 + 10)));
    feed(stream_.packet(90, 0, 3, payload, k_media_flag_fec, 0));
    EXPECT_EQ(stats_.calls, (std::vector<std::pair<uint32_t, uint16_t>>{
                                {6u, uint16_t{4096}}, {90u, uint16_t{3}}, {90u, uint16_t{3}}, {90u, uint16_t{3}}}));
}

TEST_F(DepacketizerTest, CountsAndThrottlesDecryptionFailures) {
    auto bad = stream_.packet(9, 0, 2, std::vector<uint8_t>(50, 2));
    bad[30] ^= 0xFF;
    // A flood within one second gives one line; the next second's first
    // failure sums up everything since.
    for (int i = 0; i < 200; ++i) feed(bad);
    clock_us_ += 999'999;
    feed(bad);
    clock_us_ += 1;
    for (int i = 0; i < 50; ++i) feed(bad);
    EXPECT_EQ(depacketizer_.decrypt_failures(), 251u);
    const auto lines = logs_.matching("Depacketizer: decryption failed");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Depacketizer: decryption failed (total=1), frame=9 pkt=0/2; 1 since the last line");
    EXPECT_EQ(lines[1], "Depacketizer: decryption failed (total=202), frame=9 pkt=0/2; 201 since the last line");
    // Anyone can send UDP to the client: what fails authentication must not
    // move the loss the client reports to the agent.
    EXPECT_TRUE(stats_.calls.empty());
    EXPECT_EQ(depacketizer_.pending_frames(), 0u);
}

TEST_F(DepacketizerTest, CompletionEvictsOlderFramesAndIgnoresTheirLatePackets) {
    const auto au7 = test::access_unit(7, 2000), au9 = test::access_unit(9, 2000), au10 = test::access_unit(10, 2000);
    const auto f7 = stream_.frame(7, au7), f9 = stream_.frame(9, au9), f10 = stream_.frame(10, au10);
    const auto f0 = stream_.frame(0, test::access_unit(0, 3000));
    const auto f12 = stream_.frame(12, test::access_unit(12, 2000));
    // Streams start at frame 0; its repeated packets must not bring it back.
    feed_all(f0);
    feed_all(f0);
    EXPECT_EQ(depacketizer_.pending_frames(), 0u);
    feed(f7[0]);
    feed(f9[0]);
    feed(f12[0]);
    feed_all(f10);
    EXPECT_EQ(delivered_ids(), (std::vector<uint32_t>{0, 10}));
    EXPECT_EQ(logs_.count_containing("Depacketizer: evicting superseded frame 7 (latest=10)"), 1u);
    EXPECT_EQ(logs_.count_containing("Depacketizer: evicting superseded frame 9 (latest=10)"), 1u);
    EXPECT_EQ(depacketizer_.pending_frames(), 1u);  // frame 12 stays
    EXPECT_EQ(depacketizer_.pending_bytes(), 1162u);

    // Late packets of finished or overtaken frames are dropped silently.
    feed_all(f7);
    feed_all(f9);
    feed_all(f10);
    feed_all(f0);
    EXPECT_EQ(delivered_ids(), (std::vector<uint32_t>{0, 10}));
    EXPECT_EQ(depacketizer_.pending_frames(), 1u);
    EXPECT_EQ(depacketizer_.latest_frame_id(), 10u);
    // Each frame counted once, however many of its packets came late.
    EXPECT_EQ(depacketizer_.frames_assembled(), 2u);
    EXPECT_EQ(depacketizer_.frames_given_up(), 2u);
}

TEST_F(DepacketizerTest, FrameIdWindowAndRebaseline) {
    const uint32_t base = 5;
    const uint32_t window = 1u << 30;
    feed_all(stream_.frame(base, test::access_unit(base, 100)));
    ASSERT_EQ(depacketizer_.latest_frame_id(), base);

    // The far edge of the window is still ahead of the baseline.
    feed(stream_.frame(base + window, test::access_unit(1, 2000))[0]);
    EXPECT_EQ(depacketizer_.pending_frames(), 1u);
    EXPECT_EQ(logs_.count_containing("Depacketizer: frame_id discontinuity"), 0u);

    // One beyond it is a discontinuity: table cleared, new baseline.
    const auto au = test::access_unit(2, 2000);
    const auto jump = stream_.frame(base + window + 1, au);
    feed(jump[0]);
    EXPECT_EQ(logs_.count_containing("Depacketizer: frame_id discontinuity 5 -> 1073741830, re-baselining"), 1u);
    EXPECT_EQ(depacketizer_.latest_frame_id(), 0u);
    EXPECT_EQ(depacketizer_.pending_frames(), 1u);
    EXPECT_EQ(depacketizer_.pending_bytes(), 1162u);
    feed(jump[1]);
    ASSERT_EQ(frames_.size(), 2u);
    EXPECT_EQ(frames_[1].access_unit, au);

    // A wrap back to small numbers re-baselines as well.
    feed_all(stream_.frame(3, test::access_unit(3, 10)));
    EXPECT_EQ(delivered_ids(), (std::vector<uint32_t>{5, base + window + 1, 3}));
    EXPECT_EQ(logs_.count_containing("Depacketizer: frame_id discontinuity"), 2u);
}

TEST_F(DepacketizerTest, The257thFrameEvictsTheOldestArrival) {
    // Arrival order differs from id and insertion order: frame 1100 is oldest.
    for (uint32_t i = 0; i < 256; ++i) {
        clock_us_ = 1'000'000 + (i == 100 ? 0 : 1000 + i);
        feed(stream_.packet(1000 + i, 0, 2, std::vector<uint8_t>(1162, 1)));
    }
    EXPECT_EQ(depacketizer_.pending_frames(), 256u);
    EXPECT_EQ(logs_.count_containing("Depacketizer: pending-state limit"), 0u);
    clock_us_ = 2'000'000;
    feed(stream_.packet(5000, 0, 2, std::vector<uint8_t>(1162, 1)));
    EXPECT_EQ(depacketizer_.pending_frames(), 256u);
    EXPECT_EQ(logs_.matching("Depacketizer: pending-state limit"),
              std::vector<std::string>{"Depacketizer: pending-state limit, evicting frame 1100"});
    // More packets of a frame already pending never evict.
    feed(stream_.packet(5000, 0, 2, std::vector<uint8_t>(1162, 1)));
    EXPECT_EQ(logs_.count_containing("Depacketizer: pending-state limit"), 1u);
    EXPECT_EQ(depacketizer_.pending_bytes(), 256u * 1162u);
    EXPECT_EQ(depacketizer_.frames_given_up(), 1u);
}

TEST_F(DepacketizerTest, PendingBytesAreCappedAt64MiB) {
    // A new frame evicts once pending bytes are over the cap: 15 incomplete
    // 4096-packet frames get there (14 do not), so the 16th evicts one.
    spdlog::default_logger()->set_level(spdlog::level::debug);
    const std::vector<uint8_t> block(1162, 3);
    for (uint32_t f = 0; f < 16; ++f) {
        clock_us_ = 1'000'000 + f;
        for (uint16_t i = 0; i < 4095; ++i) feed(stream_.packet(100 + f, i, 4096, block));
    }
    const auto evicted = logs_.matching("Depacketizer: pending-state limit");
    ASSERT_EQ(evicted.size(), 1u);
    EXPECT_EQ(evicted[0], "Depacketizer: pending-state limit, evicting frame 100");
    EXPECT_EQ(depacketizer_.pending_frames(), 15u);
    EXPECT_EQ(depacketizer_.pending_bytes(), 15u * 4095u * 1162u);
}

TEST_F(DepacketizerTest, DuplicatesStoreNothingButTheKeyFlagSticks) {
    const auto au = test::access_unit(20, 3000);
    auto plain = stream_.frame(20, au, false);
    feed(plain[0]);
    feed(plain[0]);
    EXPECT_EQ(depacketizer_.pending_bytes(), 1162u);
    // A duplicate carrying the key flag stores nothing yet marks the frame.
    feed(stream_.packet(20, 0, 3, std::span(au).first(1162), k_media_flag_key_frame));
    EXPECT_EQ(depacketizer_.pending_bytes(), 1162u);
    feed(plain[1]);
    feed(plain[2]);
    ASSERT_EQ(frames_.size(), 1u);
    EXPECT_EQ(frames_[0].access_unit, au);
    EXPECT_TRUE(frames_[0].key);

    // A repair packet with the key flag marks its frame too. A one-packet
    // frame can never be repaired, so the junk repair block stays unused.
    const auto au2 = test::access_unit(21, 700);
    feed(stream_.packet(21, 0, 1, std::vector<uint8_t>(1162, 9), k_media_flag_fec | k_media_flag_key_frame, 5));
    EXPECT_EQ(logs_.count_containing("Depacketizer: wirehair_decoder_create failed for frame 21"), 1u);
    feed_all(stream_.frame(21, au2, false));
    ASSERT_EQ(frames_.size(), 2u);
    EXPECT_EQ(frames_[1].access_unit, au2);
    EXPECT_TRUE(frames_[1].key);
}

TEST_F(DepacketizerTest, SweepDropsFramesOlderThan100ms) {
    const auto f30 = stream_.frame(30, test::access_unit(30, 5000));
    const auto f31 = stream_.frame(31, test::access_unit(31, 5000));
    feed(f30[0]);
    clock_us_ += 50'000;
    feed(f30[1]);  // still arriving, but age counts from the first packet
    feed(f31[0]);
    clock_us_ += 50'000;
    depacketizer_.sweep_stale();  // exactly 100 ms: kept
    EXPECT_EQ(depacketizer_.pending_frames(), 2u);
    clock_us_ += 1;
    depacketizer_.sweep_stale();
    EXPECT_EQ(depacketizer_.pending_frames(), 1u);
    EXPECT_EQ(logs_.matching("Depacketizer: dropping stale frame"),
              std::vector<std::string>{"Depacketizer: dropping stale frame 30 (2/5 pkts, age=100001us)"});
    EXPECT_EQ(depacketizer_.pending_bytes(), 1162u);
    EXPECT_EQ(depacketizer_.frames_given_up(), 1u);
    EXPECT_EQ(depacketizer_.frames_assembled(), 0u);
}

// Two threads feed halves of each shuffled frame at once; a barrier per frame
// keeps frames from overtaking each other, so each must arrive once, whole.
TEST_F(DepacketizerTest, ConcurrentIntakeDeliversEveryFrameOnceIntact) {
    spdlog::default_logger()->set_level(spdlog::level::info);  // no per-packet trace lines

    constexpr uint32_t k_frames = 300;
    std::vector<std::vector<std::vector<uint8_t>>> halves[2];
    std::map<uint32_t, std::vector<uint8_t>> expected;
    std::mt19937 rng(42);
    for (uint32_t f = 1; f <= k_frames; ++f) {
        auto au = test::access_unit(f, 1000 + (f * 7919) % 20000);
        auto datagrams = stream_.frame(f, au, f % 30 == 1);
        std::shuffle(datagrams.begin(), datagrams.end(), rng);
        expected[f] = std::move(au);
        for (auto& h : halves) h.emplace_back();
        for (size_t i = 0; i < datagrams.size(); ++i) halves[i % 2].back().push_back(datagrams[i]);
    }
    test::ThreadBarrier sync(2);
    auto worker = [&](int side) {
        for (uint32_t f = 0; f < k_frames; ++f) {
            sync.arrive_and_wait();
            for (const auto& d : halves[side][f]) feed(d);
        }
    };
    std::thread a(worker, 0), b(worker, 1);
    a.join();
    b.join();
    // The depacketizer's lock is taken before ours in the frame callback.
    EXPECT_EQ(depacketizer_.pending_frames(), 0u);
    EXPECT_EQ(depacketizer_.pending_bytes(), 0u);

    std::lock_guard lock(mutex_);
    ASSERT_EQ(frames_.size(), k_frames);
    std::map<uint32_t, int> seen;
    for (const auto& frame : frames_) {
        ++seen[frame.frame_id];
        EXPECT_EQ(frame.access_unit, expected[frame.frame_id]) << "frame " << frame.frame_id;
        EXPECT_EQ(frame.key, frame.frame_id % 30 == 1);
    }
    EXPECT_EQ(seen.size(), k_frames);
}

}  // namespace
}  // namespace nb
