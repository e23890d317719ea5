// Cost of the fountain code at the client's block size: encoder creation,
// one repair block, and a decoder's whole life (create, feed, recover) for
// a frame that lost some of its data blocks.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#include "fec/wirehair.h"

namespace {

constexpr uint32_t k_block_bytes = 1162;

std::vector<uint8_t> random_message(uint32_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> m(static_cast<size_t>(n) * k_block_bytes);
    for (auto& b : m) b = static_cast<uint8_t>(rng());
    return m;
}

void init_once() {
    if (wirehair_init() != Wirehair_Success) throw std::runtime_error("wirehair_init failed");
}

void BM_EncoderCreate(benchmark::State& state) {
    init_once();
    const auto n = static_cast<uint32_t>(state.range(0));
    const auto message = random_message(n, 1);
    for (auto _ : state) {
        WirehairCodec e = wirehair_encoder_create(nullptr, message.data(), message.size(), k_block_bytes);
        benchmark::DoNotOptimize(e);
        wirehair_free(e);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(message.size()));
}

void BM_EncodeRepairBlock(benchmark::State& state) {
    init_once();
    const auto n = static_cast<uint32_t>(state.range(0));
    const auto message = random_message(n, 2);
    WirehairCodec e = wirehair_encoder_create(nullptr, message.data(), message.size(), k_block_bytes);
    std::vector<uint8_t> out(k_block_bytes);
    uint32_t index = 0;
    for (auto _ : state) {
        uint32_t written = 0;
        wirehair_encode(e, n + (index++ & 255), out.data(), k_block_bytes, &written);
        benchmark::DoNotOptimize(out.data());
    }
    wirehair_free(e);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * k_block_bytes);
}

// A frame of N blocks with `lost` data blocks missing: the kept originals,
// then repair ids N, N+1, ... until the decoder succeeds.
struct Frame {
    uint32_t n = 0;
    std::vector<uint8_t> message;
    std::vector<uint32_t> feed;
    std::vector<std::vector<uint8_t>> repairs;

    Frame(uint32_t blocks, uint32_t lost) : n(blocks), message(random_message(blocks, blocks)) {
        std::mt19937 rng(blocks * 7919u + lost);
        std::vector<uint32_t> ids(n);
        for (uint32_t i = 0; i < n; ++i) ids[i] = i;
        std::shuffle(ids.begin(), ids.end(), rng);
        std::vector<bool> missing(n, false);
        for (uint32_t i = 0; i < lost; ++i) missing[ids[i]] = true;
        for (uint32_t i = 0; i < n; ++i) {
            if (!missing[i]) feed.push_back(i);
        }
        WirehairCodec e = wirehair_encoder_create(nullptr, message.data(), message.size(), k_block_bytes);
        WirehairCodec d = wirehair_decoder_create(nullptr, message.size(), k_block_bytes);
        for (uint32_t id : feed) wirehair_decode(d, id, data(id), k_block_bytes);
        for (uint32_t id = n;; ++id) {
            std::vector<uint8_t> block(k_block_bytes);
            uint32_t written = 0;
            wirehair_encode(e, id, block.data(), k_block_bytes, &written);
            repairs.push_back(block);
            feed.push_back(id);
            if (wirehair_decode(d, id, block.data(), k_block_bytes) == Wirehair_Success) break;
            if (id > 2 * n + 64) throw std::runtime_error("frame never decoded");
        }
        wirehair_free(d);
        wirehair_free(e);
    }

    const uint8_t* data(uint32_t id) const {
        return id < n ? message.data() + static_cast<size_t>(id) * k_block_bytes : repairs[id - n].data();
    }
};

void run_decoder(benchmark::State& state, const Frame& frame) {
    std::vector<uint8_t> out(frame.message.size());
    for (auto _ : state) {
        WirehairCodec d = wirehair_decoder_create(nullptr, out.size(), k_block_bytes);
        WirehairResult r = Wirehair_NeedMore;
        for (uint32_t id : frame.feed) r = wirehair_decode(d, id, frame.data(id), k_block_bytes);
        if (r != Wirehair_Success || wirehair_recover(d, out.data(), out.size()) != Wirehair_Success) {
            state.SkipWithError("decode failed");
        }
        wirehair_free(d);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["repairs"] = static_cast<double>(frame.repairs.size());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(out.size()));
}

// Ten percent of the data blocks lost, at least one.
void BM_DecodeTenPercentLoss(benchmark::State& state) {
    init_once();
    const auto n = static_cast<uint32_t>(state.range(0));
    const Frame frame(n, std::max<uint32_t>(1, n / 10));
    run_decoder(state, frame);
}

double thread_cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The first repair on a thread that never repaired before, as on a new
// session's I/O threads: its codec's buffers are allocated and faulted in.
void BM_DecodeFreshThread(benchmark::State& state) {
    init_once();
    const auto n = static_cast<uint32_t>(state.range(0));
    const Frame frame(n, std::max<uint32_t>(1, n / 10));
    std::vector<uint8_t> out(frame.message.size());
    double cpu_seconds = 0.0;
    for (auto _ : state) {
        double seconds = 0.0;
        bool ok = false;
        std::thread([&] {
            const auto start = std::chrono::steady_clock::now();
            const double cpu_start = thread_cpu_seconds();
            WirehairCodec d = wirehair_decoder_create(nullptr, out.size(), k_block_bytes);
            WirehairResult r = Wirehair_NeedMore;
            for (uint32_t id : frame.feed) r = wirehair_decode(d, id, frame.data(id), k_block_bytes);
            ok = r == Wirehair_Success && wirehair_recover(d, out.data(), out.size()) == Wirehair_Success;
            wirehair_free(d);
            seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            cpu_seconds += thread_cpu_seconds() - cpu_start;
        }).join();
        if (!ok) state.SkipWithError("decode failed");
        state.SetIterationTime(seconds);
    }
    // Wall time beyond this is waiting: for the kernel's page-table and TLB
    // work on the other core, or for the core itself on a loaded machine.
    state.counters["thread_cpu_us"] =
        benchmark::Counter(cpu_seconds * 1e6 / static_cast<double>(state.iterations()));
}

// The common 1080p60 frame of 54 blocks with a given number of losses.
void BM_DecodeN54(benchmark::State& state) {
    init_once();
    const Frame frame(54, static_cast<uint32_t>(state.range(0)));
    run_decoder(state, frame);
}

// Frames of the stream differ in size, so consecutive decoders rarely share
// N: a round of nine frames of 50..58 blocks, each missing 10% (at least one).
void BM_DecodeMixedSizes(benchmark::State& state) {
    init_once();
    std::vector<Frame> frames;
    size_t bytes = 0;
    for (uint32_t n = 50; n <= 58; ++n) {
        frames.emplace_back(n, std::max<uint32_t>(1, n / 10));
        bytes += frames.back().message.size();
    }
    std::vector<uint8_t> out(frames.back().message.size());
    for (auto _ : state) {
        for (const Frame& frame : frames) {
            const size_t size = frame.message.size();
            WirehairCodec d = wirehair_decoder_create(nullptr, size, k_block_bytes);
            for (uint32_t id : frame.feed) wirehair_decode(d, id, frame.data(id), k_block_bytes);
            if (wirehair_recover(d, out.data(), size) != Wirehair_Success) state.SkipWithError("decode failed");
            wirehair_free(d);
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
    state.counters["frames"] = benchmark::Counter(static_cast<double>(frames.size()),
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

// Repeated runs on a shared machine: the minimum shows the code, the
// median what a busy machine gives.
double minimum(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }
double maximum(const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); }

#define NB_FEC_SIZES Arg(2)->Arg(10)->Arg(54)->Arg(100)->Arg(300)->Arg(1000)->Arg(4096)
#define NB_FEC_STATS ComputeStatistics("min", minimum)->ComputeStatistics("max", maximum)
BENCHMARK(BM_EncoderCreate)->NB_FEC_SIZES->NB_FEC_STATS->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EncodeRepairBlock)->NB_FEC_SIZES->NB_FEC_STATS->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeTenPercentLoss)->NB_FEC_SIZES->NB_FEC_STATS->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeFreshThread)->Arg(54)->Arg(1000)->Arg(4096)->UseManualTime()->NB_FEC_STATS->Unit(
    benchmark::kMicrosecond);
BENCHMARK(BM_DecodeN54)->Arg(1)->Arg(5)->NB_FEC_STATS->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeMixedSizes)->NB_FEC_STATS->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
