// What one video frame costs the test agent: rendering the scene, encoding
// it, and cutting it into sealed data and repair datagrams. The agent must
// do all of it within one frame interval to keep its frame rate.
#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/log.h>
}

#include "net/input_crypto.h"
#include "tools/agent-sim/impairment.h"
#include "tools/agent-sim/test_scene.h"
#include "tools/agent-sim/video_encoder.h"
#include "tools/agent-sim/video_packetizer.h"

namespace nb {
namespace {

void BM_RenderScene(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0)), height = width * 9 / 16;
    YuvPicture picture;
    uint32_t n = 0;
    for (auto _ : state) {
        TestScene::render(picture, width, height, {++n, n * 16667});
        benchmark::DoNotOptimize(picture.y.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RenderScene)->Arg(1280)->Arg(1920);

// Render plus zero-latency libx264 at the client's default bitrate; the
// second argument selects the busy scene, which fills that bitrate.
void BM_RenderAndEncode(benchmark::State& state) {
    av_log_set_level(AV_LOG_ERROR);
    VideoEncoderConfig config;
    config.width = static_cast<int>(state.range(0));
    config.height = config.width * 9 / 16;
    config.fps = 60;
    config.bitrate_kbps = 30000;
    VideoEncoder encoder;
    if (!encoder.open(config)) {
        state.SkipWithError("encoder unavailable");
        return;
    }
    YuvPicture picture;
    EncodedFrame frame;
    uint32_t n = 0;
    size_t bytes = 0;
    for (auto _ : state) {
        TestScene::render(picture, config.width, config.height, {++n, n * 16667}, state.range(1) != 0);
        encoder.encode(picture, frame);
        bytes += frame.bytes.size();
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["bytes/frame"] = static_cast<double>(bytes) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_RenderAndEncode)->Args({1280, 0})->Args({1920, 0})->Args({1920, 1})->Unit(benchmark::kMillisecond)->UseRealTime();

// Sealing every data packet and computing 10% repair packets; the argument
// is the access unit's size in bytes (a 30 Mbit/s, 60 fps P frame is about
// 62 KB; key frames are several times larger).
void BM_Packetize(benchmark::State& state) {
    AeadKey key{};
    key.fill(7);
    MediaEncryption encryption;
    encryption.set_key(key);
    VideoPacketizer packetizer(encryption, 1);
    packetizer.set_repair(0.10, -1);
    std::vector<uint8_t> unit(static_cast<size_t>(state.range(0)));
    for (size_t i = 0; i < unit.size(); ++i) unit[i] = static_cast<uint8_t>(i * 13);
    PacketizedFrame frame;
    uint32_t id = 0;
    for (auto _ : state) {
        packetizer.packetize(++id, unit, false, frame);
        benchmark::DoNotOptimize(frame.datagrams.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
    state.counters["datagrams"] = static_cast<double>(frame.datagrams.size());
}
BENCHMARK(BM_Packetize)->Arg(10000)->Arg(62500)->Arg(500000);

void BM_Impairment(benchmark::State& state) {
    AeadKey key{};
    MediaEncryption encryption;
    encryption.set_key(key);
    VideoPacketizer packetizer(encryption, 1);
    PacketizedFrame frame;
    packetizer.packetize(1, std::vector<uint8_t>(62500, 1), false, frame);
    ImpairmentConfig config;
    config.loss_pct = 2;
    config.reorder_window = 8;
    config.duplicate_pct = 1;
    config.corrupt_pct = 1;
    config.forge_pct = 1;
    Impairment impairment(config, 1);
    ImpairmentReport report;
    for (auto _ : state) {
        auto datagrams = frame.datagrams;
        impairment.apply(2, datagrams, report);
        benchmark::DoNotOptimize(datagrams.data());
    }
}
BENCHMARK(BM_Impairment);

}  // namespace
}  // namespace nb

BENCHMARK_MAIN();
