// Video intake throughput on one core: the depacketizer's datagram handler
// beside the bare AEAD open of the same ciphertext, the allocations it makes
// per datagram, and the cost of repairing frames under random loss.
#include <benchmark/benchmark.h>
#include <sodium.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <random>
#include <vector>

#include "bench/support/allocation_counter.h"
#include "fec/wirehair.h"
#include "net/depacketizer.h"
#include "net/frame_repair.h"
#include "net/media_encryption.h"

namespace nb {
namespace {

constexpr uint16_t k_packets_per_frame = 54;  // about 62 KB: a 1080p60 frame at 30 Mbit/s
constexpr uint32_t k_frames = 400;
constexpr uint8_t k_repair_per_frame = 8;

std::vector<uint8_t> bench_key() { return std::vector<uint8_t>(32, 0x5A); }

std::vector<uint8_t> frame_bytes(uint32_t frame_id, uint16_t packets = k_packets_per_frame) {
    std::vector<uint8_t> au(size_t{packets} * k_video_block_bytes);
    std::mt19937 rng(frame_id);
    for (auto& b : au) b = static_cast<uint8_t>(rng());
    return au;
}

struct Stream {
    std::vector<std::vector<uint8_t>> datagrams;
    uint32_t frames = 0;
    uint32_t frames_with_loss = 0;  // frames that lost at least one data packet
};

// Full-size datagrams (1178 bytes of ciphertext) of k_frames frames, each
// frame's data packets optionally followed by repair packets, with losses.
Stream make_stream(double loss, uint8_t repair_per_frame, uint16_t packets = k_packets_per_frame,
                   uint32_t frames = k_frames) {
    MediaEncryption sealer;
    sealer.set_key(bench_key());
    std::mt19937 rng(1234);
    std::uniform_real_distribution<double> coin(0.0, 1.0);
    Stream stream;
    stream.frames = frames;
    auto& out = stream.datagrams;
    for (uint32_t f = 1; f <= frames; ++f) {
        const auto au = frame_bytes(f, packets);
        MediaHeader h;
        h.frame_id = f;
        h.packet_count = packets;
        h.flags = f % 60 == 1 ? k_media_flag_key_frame : 0;
        bool lost_any = false;
        for (uint16_t i = 0; i < packets; ++i) {
            h.packet_index = i;
            if (coin(rng) >= loss) {
                out.push_back(sealer.seal(h, std::span(au).subspan(i * k_video_block_bytes, k_video_block_bytes)));
            } else {
                lost_any = true;
            }
        }
        stream.frames_with_loss += lost_any ? 1 : 0;
        if (repair_per_frame == 0) continue;
        WirehairCodec encoder = wirehair_encoder_create(nullptr, au.data(), au.size(), k_video_block_bytes);
        std::vector<uint8_t> block(k_video_block_bytes);
        h.flags |= k_media_flag_fec;
        h.packet_index = 0;
        for (uint8_t r = 0; r < repair_per_frame; ++r) {
            uint32_t written = 0;
            wirehair_encode(encoder, packets + r, block.data(), k_video_block_bytes, &written);
            h.fec_index = r;
            if (coin(rng) >= loss) out.push_back(sealer.seal(h, block));
        }
        wirehair_free(encoder);
    }
    return stream;
}

struct Quiet {
    Quiet() {
        spdlog::set_level(spdlog::level::warn);
        wirehair_init();
    }
};

void BM_RawDecrypt(benchmark::State& state) {
    static Quiet quiet;
    const auto stream = make_stream(0.0, 0).datagrams;
    const auto key = bench_key();
    std::vector<uint8_t> out(2048);
    size_t i = 0;
    for (auto _ : state) {
        const auto& d = stream[i];
        const auto nonce = media_nonce(d.data());
        unsigned long long n = 0;
        const int rc = crypto_aead_chacha20poly1305_ietf_decrypt(out.data(), &n, nullptr, d.data() + 22, d.size() - 22,
                                                                 d.data(), 22, nonce.data(), key.data());
        benchmark::DoNotOptimize(rc);
        if (++i == stream.size()) i = 0;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * 1200);
}
BENCHMARK(BM_RawDecrypt);

// Feeds a pre-built stream through a depacketizer, starting a fresh one
// (untimed) whenever the stream runs out so frame numbers keep advancing.
void run_handler(benchmark::State& state, const Stream& source) {
    const auto& stream = source.datagrams;
    Decryption decryption;
    decryption.set_key(bench_key());
    uint64_t frames = 0;
    auto make = [&] {
        auto d = std::make_unique<Depacketizer>(decryption);
        d->set_frame_callback([&frames](CompletedFrame&& done) {
            benchmark::DoNotOptimize(done.access_unit.data());
            ++frames;
        });
        return d;
    };
    auto depacketizer = make();
    const asio::ip::udp::endpoint from;
    size_t i = 0;
    const uint64_t allocations_before = nb::bench::allocations();
    uint64_t untimed_allocations = 0;
    for (auto _ : state) {
        const auto& d = stream[i];
        depacketizer->handle_datagram(d.data(), d.size(), from);
        if (++i == stream.size()) {
            state.PauseTiming();
            const uint64_t before = nb::bench::allocations();
            depacketizer = make();
            untimed_allocations += nb::bench::allocations() - before;
            i = 0;
            state.ResumeTiming();
        }
    }
    const double datagrams = static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations());
    state.counters["allocs_per_datagram"] =
        static_cast<double>(nb::bench::allocations() - allocations_before - untimed_allocations) / datagrams;
    state.counters["frames_per_datagram"] = static_cast<double>(frames) / datagrams;
    // Share of delivered frames that could only be completed by a repair.
    state.counters["repaired_share"] = static_cast<double>(source.frames_with_loss) / source.frames;
}

void BM_VideoHandler(benchmark::State& state) {
    static Quiet quiet;
    static const auto stream = make_stream(0.0, 0);
    run_handler(state, stream);
}
BENCHMARK(BM_VideoHandler);

// 5% of all datagrams lost, 8 repair packets per 54-packet frame.
void BM_VideoHandlerLossy(benchmark::State& state) {
    static Quiet quiet;
    static const auto stream = make_stream(0.05, k_repair_per_frame);
    run_handler(state, stream);
}
BENCHMARK(BM_VideoHandlerLossy);

// The same stream without losses: the baseline for the lossy run.
void BM_VideoHandlerWithRepairPackets(benchmark::State& state) {
    static Quiet quiet;
    static const auto stream = make_stream(0.0, k_repair_per_frame);
    run_handler(state, stream);
}
BENCHMARK(BM_VideoHandlerWithRepairPackets);

// Scaling with the frame's size: N data packets per frame, about 20,000
// datagrams in all. The lossy variant loses 5 % of every datagram and sends
// 10 % repair packets (at most 255, as the header's index allows).
Stream scaling_stream(uint16_t packets, double loss) {
    const auto frames = std::max<uint32_t>(4, 20'000u / packets);
    const auto repair = static_cast<uint8_t>(loss > 0.0 ? std::min(255, packets / 10 + 4) : 0);
    return make_stream(loss, repair, packets, frames);
}

void run_scaling(benchmark::State& state, double loss) {
    static Quiet quiet;
    const auto stream = scaling_stream(static_cast<uint16_t>(state.range(0)), loss);
    run_handler(state, stream);
    const double frames_per_datagram = static_cast<double>(stream.frames) / static_cast<double>(stream.datagrams.size());
    state.counters["us_per_frame"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * frames_per_datagram * 1e-6,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_FrameAssembly(benchmark::State& state) { run_scaling(state, 0.0); }
BENCHMARK(BM_FrameAssembly)->Arg(10)->Arg(54)->Arg(300)->Arg(1000)->Arg(4096);

void BM_FrameAssemblyLossy(benchmark::State& state) { run_scaling(state, 0.05); }
BENCHMARK(BM_FrameAssemblyLossy)->Arg(10)->Arg(54)->Arg(300)->Arg(1000)->Arg(4096);

// One repair on its own: a 54-packet frame with `missing` data packets lost
// and as many repair packets held.
void BM_RepairFrame(benchmark::State& state) {
    static Quiet quiet;
    const auto missing = static_cast<uint8_t>(state.range(0));
    const auto au = frame_bytes(7);
    PendingFrame base;
    base.frame_id = 7;
    base.packet_count = k_packets_per_frame;
    base.packets.resize(k_packets_per_frame);
    base.received.assign(k_packets_per_frame, false);
    // Losses spread over the frame.
    std::vector<bool> lost(k_packets_per_frame, false);
    for (uint8_t m = 0; m < missing; ++m) lost[(m * 17 + 3) % k_packets_per_frame] = true;
    for (uint16_t i = 0; i < k_packets_per_frame; ++i) {
        if (lost[i]) continue;
        base.packets[i].assign(au.begin() + i * k_video_block_bytes, au.begin() + (i + 1) * k_video_block_bytes);
        base.received[i] = true;
        ++base.received_count;
    }
    WirehairCodec encoder = wirehair_encoder_create(nullptr, au.data(), au.size(), k_video_block_bytes);
    for (uint8_t r = 0; r < missing + 2; ++r) {
        std::vector<uint8_t> block(k_video_block_bytes);
        uint32_t written = 0;
        wirehair_encode(encoder, k_packets_per_frame + r, block.data(), k_video_block_bytes, &written);
        base.fec_packets.emplace_back(r, std::move(block));
    }
    wirehair_free(encoder);
    uint64_t repaired = 0;
    for (auto _ : state) {
        state.PauseTiming();
        PendingFrame frame = base;
        state.ResumeTiming();
        uint64_t added = 0;
        repaired += repair_frame(frame, added) ? 1 : 0;
    }
    state.counters["repaired"] = benchmark::Counter(static_cast<double>(repaired) / state.iterations());
}
BENCHMARK(BM_RepairFrame)->Arg(1)->Arg(3)->Arg(6);

}  // namespace
}  // namespace nb

BENCHMARK_MAIN();
