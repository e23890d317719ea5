// Conformance with the golden vectors recorded from the agents' codec:
// identical repair bytes, success at exactly the recorded feed position,
// and the exact message back.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>

#include "tests/fec/fec_fixtures.h"

namespace nb::fec::testing {
namespace {

class VectorReader {
public:
    explicit VectorReader(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

    uint32_t u32() {
        if (at_ + 4 > bytes_.size()) throw std::runtime_error("vector file truncated");
        uint32_t v = 0;
        for (int k = 3; k >= 0; --k) v = (v << 8) | bytes_[at_ + k];
        at_ += 4;
        return v;
    }
    int32_t i32() { return static_cast<int32_t>(u32()); }
    const uint8_t* take(size_t n) {
        if (at_ + n > bytes_.size()) throw std::runtime_error("vector file truncated");
        const uint8_t* p = bytes_.data() + at_;
        at_ += n;
        return p;
    }
    bool at_end() const { return at_ == bytes_.size(); }

private:
    std::vector<uint8_t> bytes_;
    size_t at_ = 0;
};

struct Scenario {
    uint32_t kind = 0;
    std::vector<uint32_t> feed;
    int32_t expected = -1;
    int32_t earliest = -1;
};

struct VectorCase {
    uint32_t seed = 0;
    uint32_t n = 0;
    uint32_t block_bytes = 0;
    std::map<uint32_t, const uint8_t*> repairs;
    std::vector<Scenario> scenarios;
};

std::vector<uint32_t> expand_feed(const std::vector<uint32_t>& lost, const std::vector<uint32_t>& tokens, uint32_t n) {
    std::vector<uint32_t> kept;
    size_t lost_at = 0;
    for (uint32_t i = 0; i < n; ++i) {
        if (lost_at < lost.size() && lost[lost_at] == i) {
            ++lost_at;
        } else {
            kept.push_back(i);
        }
    }
    std::vector<uint32_t> feed;
    size_t next_kept = 0;
    for (const uint32_t token : tokens) {
        if (token & 0x80000000u) {
            const uint32_t run = token & 0x7FFFFFFFu;
            if (next_kept + run > kept.size()) throw std::runtime_error("feed run past the kept originals");
            for (uint32_t k = 0; k < run; ++k) feed.push_back(kept[next_kept++]);
        } else {
            feed.push_back(token);
        }
    }
    return feed;
}

VectorCase read_case(VectorReader& in) {
    VectorCase c;
    in.u32();  // case id
    c.seed = in.u32();
    c.n = in.u32();
    c.block_bytes = in.u32();
    const uint32_t repair_count = in.u32();
    for (uint32_t i = 0; i < repair_count; ++i) {
        const uint32_t id = in.u32();
        c.repairs[id] = in.take(c.block_bytes);
    }
    const uint32_t scenario_count = in.u32();
    for (uint32_t s = 0; s < scenario_count; ++s) {
        Scenario sc;
        sc.kind = in.u32();
        std::vector<uint32_t> lost(in.u32());
        for (auto& v : lost) v = in.u32();
        std::vector<uint32_t> tokens(in.u32());
        for (auto& v : tokens) v = in.u32();
        sc.expected = in.i32();
        sc.earliest = in.i32();
        sc.feed = expand_feed(lost, tokens, c.n);
        c.scenarios.push_back(std::move(sc));
    }
    return c;
}

std::vector<uint8_t> load(const std::string& name) {
    const std::string path = vector_dir() + "/" + name;
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("missing FEC vector file " + path);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

bool sanitized_build() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#else
    return false;
#endif
}

// Replays every case of one file; `keep(n)` selects the cases to run.
template <class Keep>
void check_file(const std::string& name, Keep&& keep) {
    ASSERT_EQ(wirehair_init(), Wirehair_Success);
    std::vector<uint8_t> raw;
    ASSERT_NO_THROW(raw = load(name)) << "the FEC vectors in tests/fec/vectors must be present";
    ASSERT_GE(raw.size(), 12u);
    ASSERT_EQ(std::memcmp(raw.data(), "WHFECV01", 8), 0);
    VectorReader in(std::move(raw));
    in.take(8);
    const uint32_t count = in.u32();
    size_t repairs_checked = 0;
    size_t scenarios_checked = 0;
    for (uint32_t k = 0; k < count; ++k) {
        const VectorCase c = read_case(in);
        if (!keep(c.n)) continue;
        SCOPED_TRACE("N=" + std::to_string(c.n) + " B=" + std::to_string(c.block_bytes));
        const uint32_t b = c.block_bytes;
        const auto message = make_message(c.seed, static_cast<size_t>(c.n) * b);

        const CodecHandle encoder = make_encoder(message, b);
        ASSERT_NE(encoder, nullptr);
        std::vector<uint8_t> block(b);
        for (const uint32_t id : {0u, c.n - 1}) {
            uint32_t written = 0;
            ASSERT_EQ(wirehair_encode(encoder.get(), id, block.data(), b, &written), Wirehair_Success);
            ASSERT_EQ(written, b);
            ASSERT_EQ(std::memcmp(block.data(), message.data() + static_cast<size_t>(id) * b, b), 0) << "id " << id;
        }
        for (const auto& [id, bytes] : c.repairs) {
            uint32_t written = 0;
            ASSERT_EQ(wirehair_encode(encoder.get(), id, block.data(), b, &written), Wirehair_Success);
            ASSERT_EQ(written, b);
            ASSERT_EQ(std::memcmp(block.data(), bytes, b), 0) << "repair id " << id;
            ++repairs_checked;
        }

        std::vector<uint8_t> recovered(message.size());
        for (size_t s = 0; s < c.scenarios.size(); ++s) {
            const Scenario& sc = c.scenarios[s];
            SCOPED_TRACE("scenario " + std::to_string(s) + " kind " + std::to_string(sc.kind));
            const CodecHandle decoder = make_decoder(message.size(), b);
            ASSERT_NE(decoder, nullptr);
            int32_t stopped = -1;
            for (size_t p = 0; p < sc.feed.size(); ++p) {
                const uint32_t id = sc.feed[p];
                const uint8_t* data = id < c.n ? message.data() + static_cast<size_t>(id) * b : c.repairs.at(id);
                const WirehairResult r = wirehair_decode(decoder.get(), id, data, b);
                ASSERT_TRUE(r == Wirehair_Success || r == Wirehair_NeedMore) << wirehair_result_string(r);
                if (r == Wirehair_Success) {
                    stopped = static_cast<int32_t>(p);
                    break;
                }
            }
            ASSERT_EQ(stopped, sc.expected);
            if (stopped >= 0) {
                std::fill(recovered.begin(), recovered.end(), 0);
                ASSERT_EQ(wirehair_recover(decoder.get(), recovered.data(), recovered.size()), Wirehair_Success);
                ASSERT_EQ(recovered, message);
            } else {
                EXPECT_EQ(wirehair_recover(decoder.get(), recovered.data(), recovered.size()), Wirehair_NeedMore);
            }
            ++scenarios_checked;
        }
    }
    EXPECT_TRUE(in.at_end());
    EXPECT_GT(repairs_checked, 0u);
    EXPECT_GT(scenarios_checked, 0u);
}

TEST(FecVectors, ClientBlockSizeCasesMatchExactly) {
    check_file("wirehair-b1162.bin", [](uint32_t) { return true; });
}

// Every N from 2 to 4096. Sanitizer builds are slow, so they keep all
// small N and a spread of larger ones.
TEST(FecVectors, EveryBlockCountMatchesExactly) {
    const bool sample = sanitized_build();
    check_file("wirehair-b16-n2-4096.bin", [sample](uint32_t n) { return !sample || n <= 300 || n % 37 == 0; });
}

}  // namespace
}  // namespace nb::fec::testing
