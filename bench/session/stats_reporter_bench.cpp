// The reporter's per-packet bookkeeping, alone and with two receiving
// threads contending for its locks, as two I/O threads do in a session.
#include <benchmark/benchmark.h>
#include <spdlog/spdlog.h>

#include "session/stats_reporter.h"

namespace nb {
namespace {

StatsReporter& shared_reporter() {
    static asio::io_context io;
    static StatsReporter reporter(io, {});
    return reporter;
}

// Frames of 40 packets, the size of a 1080p picture at 30 Mbit/s and 60 fps.
void BM_OnVideoPacket(benchmark::State& state) {
    StatsReporter& reporter = shared_reporter();
    uint32_t packet = 0;
    for (auto _ : state) {
        reporter.on_video_packet(packet / 40 + 1, 40);
        ++packet;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OnVideoPacket)->Threads(1)->Threads(2)->UseRealTime();

// The tick's own cost with a full interval behind it: ~600 packets, 6 pictures.
void BM_Tick(benchmark::State& state) {
    asio::io_context io;
    std::string last;
    StatsTiming timing;
    timing.stats_interval_ms = 0;
    StatsReporter reporter(io, [&last](const std::string& text) { last = text; }, timing);
    reporter.start();
    for (auto _ : state) {
        state.PauseTiming();
        for (uint32_t i = 0; i < 600; ++i) reporter.on_video_packet(i / 100 + 1, 100);
        for (int i = 0; i < 6; ++i) reporter.count_decoded_frame();
        state.ResumeTiming();
        io.run_one();
    }
    reporter.stop();
    benchmark::DoNotOptimize(last);
}
BENCHMARK(BM_Tick);

}  // namespace
}  // namespace nb

int main(int argc, char** argv) {
    spdlog::set_level(spdlog::level::warn);  // start and stop lines would drown the table
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
