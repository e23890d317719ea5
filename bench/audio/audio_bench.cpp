// Cost of the audio path per 20 ms packet: Opus decode and the ring's push
// and pull. `--fill-seconds=N` instead measures ring latency over a stream.
#include <benchmark/benchmark.h>
#include <opus.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/allocation_counter.h"
#include "audio/opus_audio_decoder.h"
#include "audio/sample_ring.h"
#include "bench/audio/fill_level.h"
#include "tests/audio/tone_analysis.h"

namespace {

void report_allocations(benchmark::State& state, uint64_t before) {
    const uint64_t during = nb::bench::allocations() - before;
    state.counters["allocs/iter"] =
        static_cast<double>(during) / static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
}

constexpr int k_frames = 960;
constexpr int k_channels = 2;

std::vector<std::vector<uint8_t>> tone_packets(int bitrate) {
    std::vector<std::vector<uint8_t>> packets;
    int error = OPUS_OK;
    OpusEncoder* encoder = opus_encoder_create(48000, k_channels, OPUS_APPLICATION_AUDIO, &error);
    if (error != OPUS_OK) return packets;
    opus_encoder_ctl(encoder, OPUS_SET_BITRATE(bitrate));
    double phase = 0.0;
    std::vector<float> pcm(k_frames * k_channels);
    for (int i = 0; i < 50; ++i) {
        nb::test::generate_tone(pcm, k_channels, 440.0 + i, 48000.0, 0.5, phase);
        std::vector<uint8_t> packet(1500);
        const int len = opus_encode_float(encoder, pcm.data(), k_frames, packet.data(), 1500);
        if (len <= 0) break;
        packet.resize(static_cast<size_t>(len));
        packets.push_back(std::move(packet));
    }
    opus_encoder_destroy(encoder);
    return packets;
}

void BM_OpusDecode20ms(benchmark::State& state) {
    spdlog::set_level(spdlog::level::warn);
    const auto packets = tone_packets(static_cast<int>(state.range(0)));
    nb::OpusAudioDecoder decoder;
    if (packets.empty() || !decoder.initialize(48000, k_channels)) {
        state.SkipWithError("set-up failed");
        return;
    }
    std::vector<float> pcm(k_frames * k_channels);
    size_t i = 0;
    const uint64_t allocs_before = nb::bench::allocations();
    for (auto _ : state) {
        const int n = decoder.decode(packets[i++ % packets.size()], pcm);
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(pcm.data());
    }
    report_allocations(state, allocs_before);
    state.SetItemsProcessed(state.iterations());
    state.counters["packets/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_OpusDecode20ms)->Arg(64000)->Arg(128000)->Arg(256000);

// One network packet in (960 stereo frames), two 480-frame device pulls out.
void BM_RingPushThenTwoPulls(benchmark::State& state) {
    nb::SampleRing ring(9600);
    std::vector<float> packet(k_frames * k_channels, 0.5f);
    std::vector<float> device(480 * k_channels);
    const uint64_t allocs_before = nb::bench::allocations();
    for (auto _ : state) {
        ring.push(packet.data(), packet.size());
        ring.pull(device.data(), device.size());
        ring.pull(device.data(), device.size());
        benchmark::DoNotOptimize(device.data());
    }
    report_allocations(state, allocs_before);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RingPushThenTwoPulls);

// Pushes into a full ring: every one drops the oldest 20 ms.
void BM_RingPushOverrun(benchmark::State& state) {
    nb::SampleRing ring(9600);
    std::vector<float> packet(k_frames * k_channels, 0.5f);
    for (int i = 0; i < 5; ++i) ring.push(packet.data(), packet.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(ring.push(packet.data(), packet.size()));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RingPushOverrun);

// Push cost while a device thread pulls 480 frames in a tight loop: the worst
// contention the ring lock can see.
void BM_RingPushContended(benchmark::State& state) {
    nb::SampleRing ring(9600);
    std::atomic<bool> stop{false};
    std::thread device_thread([&] {
        std::vector<float> device(480 * k_channels);
        while (!stop.load(std::memory_order_relaxed)) ring.pull(device.data(), device.size());
    });
    std::vector<float> packet(k_frames * k_channels, 0.5f);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ring.push(packet.data(), packet.size()));
    }
    stop.store(true);
    device_thread.join();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RingPushContended)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    nb::bench::FillLevelOptions fill;
    bool fill_mode = false;
    for (int i = 1; i < argc; ++i) {
        const char* prefix = "--fill-seconds=";
        if (std::strncmp(argv[i], prefix, std::strlen(prefix)) == 0) {
            fill_mode = true;
            fill.seconds = std::max(2, std::atoi(argv[i] + std::strlen(prefix)));
        } else if (std::strcmp(argv[i], "--wall-clock") == 0) {
            fill.device_clock = false;
        }
    }
    if (fill_mode) return nb::bench::run_fill_level(fill);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
