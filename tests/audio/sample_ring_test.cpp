#include "audio/sample_ring.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

namespace nb {
namespace {

std::vector<float> ramp(size_t count, float first) {
    std::vector<float> v(count);
    std::iota(v.begin(), v.end(), first);
    return v;
}

std::vector<float> drain(SampleRing& ring) {
    std::vector<float> out(ring.stored());
    ring.pull(out.data(), out.size());
    return out;
}

// A push past the free room drops the oldest samples; one larger than the
// whole ring keeps only its own newest ones.
TEST(SampleRing, OverrunDropsExactlyTheOldestSamples) {
    struct Case {
        size_t stored, pushed, dropped, read_pos;
    };
    for (const Case c : {Case{9000, 1920, 1320, 1320}, Case{100, 12000, 100 + 2400, 100}}) {
        SCOPED_TRACE(c.pushed);
        SampleRing ring(9600);
        const auto old = ramp(c.stored, 0.0f);
        ASSERT_EQ(ring.push(old.data(), old.size()).dropped, 0u);
        const auto packet = ramp(c.pushed, static_cast<float>(c.stored));
        const auto result = ring.push(packet.data(), packet.size());
        EXPECT_EQ(result.dropped, c.dropped);
        EXPECT_EQ(result.written, std::min<size_t>(c.pushed, 9600));
        EXPECT_EQ(result.overruns, 1u);
        EXPECT_TRUE(result.log_overrun);
        EXPECT_EQ(ring.stored(), 9600u);
        EXPECT_EQ(ring.read_pos(), c.read_pos);
        EXPECT_EQ(ring.write_pos(), c.read_pos + 9600);
        EXPECT_EQ(drain(ring), ramp(9600, static_cast<float>(c.stored + c.pushed - 9600)));
    }
}

TEST(SampleRing, ShortRingPadsWithSilenceAndCountsOneUnderrun) {
    SampleRing ring(9600);
    const auto stored = ramp(500, 1.0f);
    ring.push(stored.data(), stored.size());

    std::vector<float> device(960, -7.0f);  // 480 stereo frames
    const auto result = ring.pull(device.data(), device.size());
    EXPECT_TRUE(result.underrun);
    EXPECT_EQ(result.copied, 500u);
    EXPECT_EQ(result.silence, 460u);
    EXPECT_EQ(ring.underruns(), 1u);
    EXPECT_EQ(ring.stored(), 0u);
    EXPECT_EQ(std::vector<float>(device.begin(), device.begin() + 500), stored);
    for (size_t i = 500; i < device.size(); ++i) ASSERT_EQ(device[i], 0.0f) << i;

    // An exact fit is not an underrun.
    ring.push(stored.data(), stored.size());
    EXPECT_FALSE(ring.pull(device.data(), 500).underrun);
    EXPECT_EQ(ring.underruns(), 1u);
}

TEST(SampleRing, EmptyArgumentsChangeNothing) {
    SampleRing ring(16);
    EXPECT_EQ(ring.push(nullptr, 4).written, 0u);
    const float x = 1.0f;
    EXPECT_EQ(ring.push(&x, 0).written, 0u);
    EXPECT_FALSE(ring.pull(nullptr, 4).underrun);
    EXPECT_EQ(ring.write_pos(), 0u);
    EXPECT_EQ(ring.underruns(), 0u);
}

// Random push and pull sizes across many wraps of the storage, against a
// plain queue with the same drop-oldest rule.
TEST(SampleRing, MatchesAQueueModelAcrossWraps) {
    constexpr size_t capacity = 9600;
    SampleRing ring(capacity);
    std::deque<float> model;
    std::mt19937 rng(1234);
    std::uniform_int_distribution<size_t> size_dist(1, 3000);
    float next = 0.0f;
    uint32_t model_overruns = 0;
    uint32_t model_underruns = 0;

    for (int step = 0; step < 4000; ++step) {
        const size_t n = size_dist(rng);
        if (rng() % 2 == 0) {
            const auto input = ramp(n, next);
            next += static_cast<float>(n);
            for (float v : input) model.push_back(v);
            if (model.size() > capacity) {
                ++model_overruns;
                while (model.size() > capacity) model.pop_front();
            }
            ring.push(input.data(), input.size());
        } else {
            std::vector<float> out(n);
            if (n > model.size()) ++model_underruns;
            ring.pull(out.data(), n);
            for (size_t i = 0; i < n; ++i) {
                float expected = 0.0f;
                if (!model.empty()) {
                    expected = model.front();
                    model.pop_front();
                }
                ASSERT_EQ(out[i], expected) << "step " << step << " index " << i;
            }
        }
        ASSERT_EQ(ring.stored(), model.size());
        ASSERT_EQ(ring.write_pos() - ring.read_pos(), model.size());
    }
    EXPECT_EQ(ring.overruns(), model_overruns);
    EXPECT_EQ(ring.underruns(), model_underruns);
    EXPECT_GT(ring.read_pos(), 10 * capacity);  // the storage really wrapped
}

// Two network threads push while the device thread pulls: every sample is
// either played or counted as dropped, and each sender's audio stays in order.
TEST(SampleRing, ConcurrentPushersAndPullerLoseNothingUncounted) {
    SampleRing ring(9600);
    constexpr int packets_per_thread = 2000;
    constexpr size_t packet = 960;
    std::atomic<size_t> dropped{0};
    std::atomic<bool> pushing{true};

    auto sender = [&](float sign) {
        std::vector<float> data(packet);
        float next = 1.0f;
        for (int p = 0; p < packets_per_thread; ++p) {
            for (auto& v : data) v = sign * next++;
            dropped += ring.push(data.data(), data.size()).dropped;
        }
    };
    std::vector<float> played;
    std::thread device([&] {
        std::vector<float> buffer(960);
        while (pushing.load() || ring.stored() > 0) {
            const auto r = ring.pull(buffer.data(), buffer.size());
            played.insert(played.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(r.copied));
        }
    });
    std::thread a(sender, 1.0f);
    std::thread b(sender, -1.0f);
    a.join();
    b.join();
    pushing.store(false);
    device.join();

    EXPECT_EQ(played.size() + dropped.load(), 2u * packets_per_thread * packet);
    float last_positive = 0.0f;
    float last_negative = 0.0f;
    for (float v : played) {
        if (v > 0) {
            ASSERT_GT(v, last_positive);
            last_positive = v;
        } else {
            ASSERT_LT(v, last_negative);
            last_negative = v;
        }
    }
}

}  // namespace
}  // namespace nb
