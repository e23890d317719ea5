// Decoder and encoder behaviour through the C interface: random losses and
// feed orders against an independent rank computation, and every way a
// caller or a peer can get the input wrong.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <thread>

#include "fec/gf256.h"
#include "tests/fec/fec_fixtures.h"

namespace nb::fec::testing {
namespace {

class FecCodec : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(wirehair_init(), Wirehair_Success); }
};

std::vector<uint8_t> random_message(std::mt19937& rng, size_t bytes) {
    std::vector<uint8_t> m(bytes);
    for (auto& b : m) b = static_cast<uint8_t>(rng());
    return m;
}

std::vector<uint8_t> encode(const CodecHandle& encoder, uint32_t id, uint32_t block_bytes) {
    std::vector<uint8_t> out(block_bytes);
    uint32_t written = 0;
    EXPECT_EQ(wirehair_encode(encoder.get(), id, out.data(), block_bytes, &written), Wirehair_Success);
    out.resize(written);
    return out;
}

// Tracks the GF(256) rank of the received blocks as combinations of the N
// originals. A block's coefficients come from encoding it with the
// identity message (block j = unit vector j), so this uses neither the
// decoder nor its solver.
class RankTracker {
public:
    explicit RankTracker(uint32_t n) : n_(n), identity_(static_cast<size_t>(n) * n, 0) {
        for (uint32_t j = 0; j < n; ++j) identity_[static_cast<size_t>(j) * n + j] = 1;
        encoder_ = make_encoder(identity_, n);
    }
    // Adds one block; returns the rank so far.
    uint32_t add(uint32_t id) {
        std::vector<uint8_t> v = encode(encoder_, id, n_);
        for (const auto& [col, row] : basis_) {
            if (v[col] != 0) {
                const uint8_t c = v[col];
                for (uint32_t k = 0; k < n_; ++k) v[k] ^= Gf256::mul(c, row[k]);
            }
        }
        const auto lead = std::find_if(v.begin(), v.end(), [](uint8_t b) { return b != 0; });
        if (lead != v.end()) {
            const uint8_t inverse = Gf256::inv(*lead);
            for (auto& b : v) b = Gf256::mul(b, inverse);
            basis_.emplace_back(static_cast<uint32_t>(lead - v.begin()), std::move(v));
        }
        return static_cast<uint32_t>(basis_.size());
    }

private:
    uint32_t n_;
    std::vector<uint8_t> identity_;
    CodecHandle encoder_;
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> basis_;
};

struct Trial {
    uint32_t n;
    uint32_t block_bytes;
    bool check_rank;
};

// Random losses, random interleaving of originals and repair blocks, and
// some repeated repair ids. Success must come exactly when the blocks
// determine the message, and recovery must then give it back. Returns
// whether the feed led to success.
bool run_trial(std::mt19937& rng, const Trial& t) {
    SCOPED_TRACE("N=" + std::to_string(t.n) + " B=" + std::to_string(t.block_bytes));
    const size_t bytes = static_cast<size_t>(t.n) * t.block_bytes - rng() % t.block_bytes;
    const auto message = random_message(rng, bytes);
    const auto encoder = make_encoder(message, t.block_bytes);
    EXPECT_NE(encoder, nullptr);
    if (!encoder) return false;

    std::vector<uint32_t> feed;
    const uint32_t lost = 1 + rng() % std::max<uint32_t>(1, t.n / 3);
    for (uint32_t i = 0; i < t.n; ++i) feed.push_back(i);
    std::shuffle(feed.begin(), feed.end(), rng);
    feed.resize(t.n - std::min(lost, t.n));
    for (uint32_t k = 0; k < lost + 24; ++k) {
        const uint32_t id = t.n + (rng() % 4 == 0 ? rng() : k);
        feed.push_back(id);
        if (rng() % 8 == 0) feed.push_back(id);
    }
    std::shuffle(feed.begin(), feed.end(), rng);

    std::unique_ptr<RankTracker> rank;
    if (t.check_rank) rank = std::make_unique<RankTracker>(t.n);
    const auto decoder = make_decoder(bytes, t.block_bytes);
    EXPECT_NE(decoder, nullptr);
    if (!decoder) return false;
    bool done = false;
    for (size_t p = 0; p < feed.size() && !done; ++p) {
        const uint32_t id = feed[p];
        std::vector<uint8_t> block = encode(encoder, id, t.block_bytes);
        const WirehairResult r = wirehair_decode(decoder.get(), id, block.data(), static_cast<uint32_t>(block.size()));
        EXPECT_TRUE(r == Wirehair_Success || r == Wirehair_NeedMore) << wirehair_result_string(r);
        done = r == Wirehair_Success;
        if (rank) {
            EXPECT_EQ(done, rank->add(id) == t.n) << "at feed position " << p;
        }
    }
    if (!done) return false;
    std::vector<uint8_t> out(bytes, 0xEE);
    EXPECT_EQ(wirehair_recover(decoder.get(), out.data(), out.size()), Wirehair_Success);
    EXPECT_EQ(out, message);
    return true;
}

TEST_F(FecCodec, RandomFeedsSucceedExactlyAtFullRank) {
    std::mt19937 rng(2024);
    int successes = 0;
    for (int k = 0; k < 120; ++k) {
        const uint32_t n = 2 + rng() % (k < 60 ? 20 : 120);
        successes += run_trial(rng, {n, 1 + static_cast<uint32_t>(rng() % 40), true}) ? 1 : 0;
    }
    EXPECT_GE(successes, 100) << "the feeds carry more repair blocks than losses";
}

TEST_F(FecCodec, RandomFeedsRecoverTheMessageAcrossSizes) {
    std::mt19937 rng(77);
    for (const uint32_t n : {2u, 3u, 64u, 65u, 511u, 1000u, 2047u, 2048u, 2049u, 3001u, 4096u}) {
        const uint32_t block_bytes = n > 1000 ? 1 + rng() % 64 : 1 + rng() % 1500;
        EXPECT_TRUE(run_trial(rng, {n, block_bytes, false})) << "N=" << n;
    }
}

// Heavy loss takes a different path to the missing blocks than a few
// losses do; both must give the message back, short final block included.
TEST_F(FecCodec, HeavyLossRecoversExactly) {
    std::mt19937 rng(13);
    for (const uint32_t lost : {1u, 39u, 40u, 150u, 500u}) {
        const auto message = random_message(rng, 500 * 20 - 7);
        const auto encoder = make_encoder(message, 20);
        const auto decoder = make_decoder(message.size(), 20);
        WirehairResult r = Wirehair_NeedMore;
        for (uint32_t id = lost; id < 500 && r == Wirehair_NeedMore; ++id) {
            const auto block = encode(encoder, id, 20);
            r = wirehair_decode(decoder.get(), id, block.data(), static_cast<uint32_t>(block.size()));
        }
        for (uint32_t id = 500; r == Wirehair_NeedMore && id < 500 + lost + 20; ++id) {
            const auto block = encode(encoder, id, 20);
            r = wirehair_decode(decoder.get(), id, block.data(), 20);
        }
        ASSERT_EQ(r, Wirehair_Success) << lost << " lost";
        std::vector<uint8_t> out(message.size());
        ASSERT_EQ(wirehair_recover(decoder.get(), out.data(), out.size()), Wirehair_Success);
        EXPECT_EQ(out, message) << lost << " lost";
    }
}

// The repair step feeds whatever a frame holds and then recovers; a frame
// short of blocks must not come back as a "repaired" frame of garbage.
TEST_F(FecCodec, RecoverBeforeSuccessNeedsMoreAndWritesNothing) {
    std::mt19937 rng(3);
    const auto message = random_message(rng, 160);
    const auto decoder = make_decoder(message.size(), 16);
    std::vector<uint8_t> out(message.size(), 0xAB);
    EXPECT_EQ(wirehair_recover(decoder.get(), out.data(), out.size()), Wirehair_NeedMore);
    for (uint32_t id = 0; id < 9; ++id) {
        ASSERT_EQ(wirehair_decode(decoder.get(), id, message.data() + id * 16, 16), Wirehair_NeedMore);
    }
    EXPECT_EQ(wirehair_recover(decoder.get(), out.data(), out.size()), Wirehair_NeedMore);
    EXPECT_EQ(out, std::vector<uint8_t>(message.size(), 0xAB));
    uint32_t bytes = 0;
    EXPECT_EQ(wirehair_recover_block(decoder.get(), 9, out.data(), &bytes), Wirehair_NeedMore);
    EXPECT_EQ(wirehair_decoder_becomes_encoder(decoder.get()), Wirehair_NeedMore);
}

TEST_F(FecCodec, RefusesSizesOutsideTheCodesRange) {
    const std::vector<uint8_t> message(1162 * 2, 1);
    EXPECT_EQ(wirehair_decoder_create(nullptr, 1162, 1162), nullptr) << "one block cannot be coded";
    EXPECT_EQ(wirehair_decoder_create(nullptr, 16, 16), nullptr);
    EXPECT_EQ(wirehair_decoder_create(nullptr, 0, 16), nullptr);
    EXPECT_EQ(wirehair_decoder_create(nullptr, 16, 0), nullptr);
    EXPECT_EQ(wirehair_decoder_create(nullptr, 64001, 1), nullptr);
    EXPECT_EQ(wirehair_encoder_create(nullptr, message.data(), 1162, 1162), nullptr);
    EXPECT_EQ(wirehair_encoder_create(nullptr, nullptr, message.size(), 1162), nullptr);
    CodecHandle two(wirehair_decoder_create(nullptr, 1163, 1162));
    EXPECT_NE(two, nullptr) << "1163 bytes are two blocks";
    EXPECT_EQ(wirehair_init_(1), Wirehair_InvalidInput);
    EXPECT_EQ(wirehair_init_(3), Wirehair_InvalidInput);
    EXPECT_STREQ(wirehair_result_string(Wirehair_NeedMore), "NeedMore");
    EXPECT_STREQ(wirehair_result_string(static_cast<WirehairResult>(99)), "Unknown");
}

TEST_F(FecCodec, BadCallsGetClearCodesAndLeaveTheDecoderUsable) {
    std::mt19937 rng(5);
    const auto message = random_message(rng, 10 * 32);
    const auto encoder = make_encoder(message, 32);
    const auto decoder = make_decoder(message.size(), 32);
    const auto repair = encode(encoder, 10, 32);

    EXPECT_EQ(wirehair_decode(nullptr, 0, message.data(), 32), Wirehair_InvalidInput);
    EXPECT_EQ(wirehair_decode(decoder.get(), 0, nullptr, 32), Wirehair_InvalidInput);
    EXPECT_EQ(wirehair_decode(decoder.get(), 0, message.data(), 0), Wirehair_InvalidInput);
    EXPECT_EQ(wirehair_decode(decoder.get(), 0, message.data(), 31), Wirehair_InvalidInput);
    EXPECT_EQ(wirehair_decode(decoder.get(), 10, repair.data(), 33), Wirehair_InvalidInput);
    EXPECT_EQ(wirehair_encode(decoder.get(), 10, nullptr, 32, nullptr), Wirehair_InvalidInput);
    uint32_t written = 7;
    std::vector<uint8_t> small(31);
    EXPECT_EQ(wirehair_encode(encoder.get(), 10, small.data(), 31, &written), Wirehair_InvalidInput);
    EXPECT_EQ(written, 0u);

    // Duplicates and far-away ids are accepted without harm.
    for (uint32_t id = 1; id < 10; ++id) {
        ASSERT_EQ(wirehair_decode(decoder.get(), id, message.data() + id * 32, 32), Wirehair_NeedMore);
        ASSERT_EQ(wirehair_decode(decoder.get(), id, message.data() + id * 32, 32), Wirehair_NeedMore);
    }
    const auto far = encode(encoder, 0xFFFFFFF0u, 32);
    EXPECT_EQ(wirehair_decode(decoder.get(), 0xFFFFFFF0u, far.data(), 32), Wirehair_Success);
    EXPECT_EQ(wirehair_decode(decoder.get(), 10, repair.data(), 32), Wirehair_Success) << "after success";
    std::vector<uint8_t> out(message.size());
    EXPECT_EQ(wirehair_recover(decoder.get(), out.data(), out.size() - 1), Wirehair_InvalidInput);
    EXPECT_EQ(wirehair_recover(decoder.get(), out.data(), out.size()), Wirehair_Success);
    EXPECT_EQ(out, message);
    wirehair_free(nullptr);
}

// A repeated repair block is one equation, not two.
TEST_F(FecCodec, RepeatedRepairBlocksNeverCountTwice) {
    std::mt19937 rng(6);
    const auto message = random_message(rng, 54 * 8);
    const auto encoder = make_encoder(message, 8);
    const auto decoder = make_decoder(message.size(), 8);
    for (uint32_t id = 2; id < 54; ++id) wirehair_decode(decoder.get(), id, message.data() + id * 8, 8);
    const auto repair = encode(encoder, 54, 8);
    for (int k = 0; k < 5; ++k) EXPECT_EQ(wirehair_decode(decoder.get(), 54, repair.data(), 8), Wirehair_NeedMore);
    const auto next = encode(encoder, 55, 8);
    EXPECT_EQ(wirehair_decode(decoder.get(), 55, next.data(), 8), Wirehair_Success);
}

// A message that is not a whole number of blocks: the final block is
// shorter on the wire and comes back at its own length.
TEST_F(FecCodec, ShortFinalBlockRoundTrips) {
    std::mt19937 rng(10);
    const auto message = random_message(rng, 5 * 100 + 37);
    const auto encoder = make_encoder(message, 100);
    ASSERT_NE(encoder, nullptr);
    EXPECT_EQ(encode(encoder, 5, 100).size(), 37u);
    EXPECT_EQ(encode(encoder, 6, 100).size(), 100u);
    // Only id N-1 itself is short. A repair id that merely shares its low 16
    // bits is a whole block, the only length a decoder takes for it.
    const auto aliased = encode(encoder, 65536 + 5, 100);
    EXPECT_EQ(aliased.size(), 100u);
    const auto decoder = make_decoder(message.size(), 100);
    ASSERT_EQ(wirehair_decode(decoder.get(), 5, message.data() + 500, 36), Wirehair_InvalidInput);
    ASSERT_EQ(wirehair_decode(decoder.get(), 5, message.data() + 500, 37), Wirehair_NeedMore);
    WirehairResult r = Wirehair_NeedMore;
    for (uint32_t id = 6; id < 40 && r == Wirehair_NeedMore; ++id) {
        const auto block = encode(encoder, id, 100);
        r = wirehair_decode(decoder.get(), id, block.data(), 100);
    }
    ASSERT_EQ(r, Wirehair_Success);
    std::vector<uint8_t> out(message.size());
    ASSERT_EQ(wirehair_recover(decoder.get(), out.data(), out.size()), Wirehair_Success);
    EXPECT_EQ(out, message);
    std::vector<uint8_t> last(100);
    uint32_t bytes = 0;
    ASSERT_EQ(wirehair_recover_block(decoder.get(), 5, last.data(), &bytes), Wirehair_Success);
    EXPECT_EQ(bytes, 37u);
    EXPECT_TRUE(std::equal(last.begin(), last.begin() + 37, message.begin() + 500));
}

TEST_F(FecCodec, DecoderThatSucceededEncodesLikeTheSender) {
    std::mt19937 rng(11);
    const auto message = random_message(rng, 30 * 50);
    const auto encoder = make_encoder(message, 50);
    CodecHandle decoder = make_decoder(message.size(), 50);
    WirehairResult r = Wirehair_NeedMore;
    for (uint32_t id = 30; r == Wirehair_NeedMore && id < 100; ++id) {
        const auto block = encode(encoder, id, 50);
        r = wirehair_decode(decoder.get(), id, block.data(), 50);
    }
    ASSERT_EQ(r, Wirehair_Success);
    ASSERT_EQ(wirehair_decoder_becomes_encoder(decoder.get()), Wirehair_Success);
    for (const uint32_t id : {0u, 29u, 30u, 200u, 70000u}) EXPECT_EQ(encode(decoder, id, 50), encode(encoder, id, 50));
}

// Codecs are recycled: through reuse_opt, across roles and sizes, and via
// the per-thread cache behind create/free. Nothing of an earlier message
// may leak into a later one.
TEST_F(FecCodec, ReusedCodecsStartClean) {
    std::mt19937 rng(12);
    WirehairCodec codec = nullptr;
    for (int round = 0; round < 6; ++round) {
        const uint32_t n = round % 2 == 0 ? 40 : 7;
        const auto message = random_message(rng, n * 24);
        codec = wirehair_encoder_create(codec, message.data(), message.size(), 24);
        ASSERT_NE(codec, nullptr);
        std::vector<std::vector<uint8_t>> repairs;
        for (uint32_t k = 0; k < n + 8; ++k) {
            std::vector<uint8_t> block(24);
            uint32_t written = 0;
            ASSERT_EQ(wirehair_encode(codec, n + k, block.data(), 24, &written), Wirehair_Success);
            repairs.push_back(block);
        }
        codec = wirehair_decoder_create(codec, message.size(), 24);
        ASSERT_NE(codec, nullptr);
        WirehairResult r = Wirehair_NeedMore;
        for (uint32_t k = 0; k < repairs.size() && r == Wirehair_NeedMore; ++k) {
            r = wirehair_decode(codec, n + k, repairs[k].data(), 24);
        }
        ASSERT_EQ(r, Wirehair_Success);
        std::vector<uint8_t> out(message.size());
        ASSERT_EQ(wirehair_recover(codec, out.data(), out.size()), Wirehair_Success);
        ASSERT_EQ(out, message);
    }
    // A failed creation frees the codec handed in for reuse.
    EXPECT_EQ(wirehair_decoder_create(codec, 10, 10), nullptr);
}

TEST_F(FecCodec, DecodersOnSeveralThreads) {
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            std::mt19937 rng(100 + t);
            for (int k = 0; k < 20; ++k) {
                const uint32_t n = 2 + rng() % 300;
                const auto message = random_message(rng, n * 64);
                const auto encoder = make_encoder(message, 64);
                const auto decoder = make_decoder(message.size(), 64);
                WirehairResult r = Wirehair_NeedMore;
                for (uint32_t id = n / 2; r == Wirehair_NeedMore && id < 3 * n; ++id) {
                    const auto block = encode(encoder, id, 64);
                    r = wirehair_decode(decoder.get(), id, block.data(), 64);
                }
                std::vector<uint8_t> out(message.size());
                const bool recovered = r == Wirehair_Success &&
                                       wirehair_recover(decoder.get(), out.data(), out.size()) == Wirehair_Success;
                if (!recovered || out != message) {
                    ++failures[t];
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace nb::fec::testing
