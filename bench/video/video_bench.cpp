// Cost of each video stage on this machine: software decode per access
// unit, texture upload and draw, buffer swap, and moving the GL context
// between threads as the session's frame path does for every picture.
#include <benchmark/benchmark.h>

#include <SDL.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

#include "tests/video/test_encoder.h"
#include "tests/video/x_display.h"
#include "video/gl_renderer.h"
#include "video/libav_decoder.h"

namespace nb {
namespace {

using test::AccessUnit;
using test::TestEncoder;

constexpr int k_stream_length = 60;

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// Per-iteration durations, reported as p50_us and p99_us counters: a frame
// path is judged by its tail, not only its mean.
class Percentiles {
public:
    void add(double seconds) { samples_.push_back(seconds * 1e6); }
    void report(benchmark::State& state) {
        if (samples_.empty()) return;
        std::sort(samples_.begin(), samples_.end());
        state.counters["p50_us"] = samples_[samples_.size() / 2];
        state.counters["p99_us"] = samples_[std::min(samples_.size() - 1, samples_.size() * 99 / 100)];
    }

private:
    std::vector<double> samples_;
};

// One IDR picture and 59 P pictures per stream, encoded once and cached:
// libx265 takes seconds for a 1080p stream on a small machine.
const std::vector<AccessUnit>& stream(VideoCodec codec, int width, int height, TestEncoder::Scene scene) {
    static std::map<std::tuple<int, int, int, int>, std::vector<AccessUnit>> cache;
    auto key = std::make_tuple(static_cast<int>(codec), width, height, static_cast<int>(scene));
    auto it = cache.find(key);
    if (it == cache.end()) {
        // The session's default bit rate for 1080p60, scaled to the size.
        const int64_t rate = int64_t{30'000'000} * width * height / (1920 * 1080);
        TestEncoder encoder(codec, width, height, k_stream_length, scene, rate);
        it = cache.emplace(key, encoder.encode(k_stream_length)).first;
    }
    return it->second;
}

const char* name_of(VideoCodec codec) { return codec == VideoCodec::HEVC ? "HEVC" : "H.264"; }

// Args: codec (0 H.264, 1 HEVC), width, height, scene (0 bars, 1 panning).
void BM_Decode(benchmark::State& state) {
    const auto codec = static_cast<VideoCodec>(state.range(0));
    const int w = static_cast<int>(state.range(1));
    const int h = static_cast<int>(state.range(2));
    const auto& units = stream(codec, w, h, static_cast<TestEncoder::Scene>(state.range(3)));
    if (units.size() != k_stream_length) {
        state.SkipWithError("encoder unavailable");
        return;
    }
    LibavDecoder decoder(LibavDecoder::Options{.try_hardware = false, .render_node = {}, .clock = {}, .slice_threads = 0});
    decoder.initialize(codec, static_cast<uint32_t>(w), static_cast<uint32_t>(h));
    size_t i = 0;
    size_t bytes = 0;
    Percentiles spread;
    for (auto _ : state) {
        const AccessUnit& u = units[i];
        const auto t0 = Clock::now();
        const DecodedFrame f = decoder.decode(u.data(), u.size(), static_cast<uint32_t>(i), i == 0);
        spread.add(seconds_since(t0));
        benchmark::DoNotOptimize(f.picture);
        bytes += u.size();
        i = (i + 1) % units.size();
    }
    spread.report(state);
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.SetLabel(std::string(name_of(codec)) + (state.range(3) ? " panning" : " bars"));
}

void decode_args(benchmark::internal::Benchmark* b) {
    for (int codec : {0, 1})
        for (auto [w, h] : {std::pair{1280, 720}, std::pair{1920, 1080}})
            for (int scene : {0, 1}) b->Args({codec, w, h, scene});
}

// A window, a renderer and a decoded picture of the stream's size. Made
// once per size and kept to the end: taking SDL's video down and up again
// between benchmarks leaves Mesa holding a closed X connection.
struct Presentation {
    SDL_Window* window = nullptr;
    GlRenderer renderer;
    LibavDecoder decoder{LibavDecoder::Options{.try_hardware = false, .render_node = {}, .clock = {}, .slice_threads = 0}};
    const Picture* picture = nullptr;
    PFNGLFINISHPROC finish = nullptr;

    Presentation(int w, int h) {
        if (!test::ensure_x_display() || SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return;
        GlRenderer::prepare_window_attributes();
        window = SDL_CreateWindow("nb_bench_video", 0, 0, w, h, SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN);
        if (!window || !renderer.initialize(window, static_cast<uint32_t>(w), static_cast<uint32_t>(h))) return;
        const auto& units = stream(VideoCodec::H264, w, h, TestEncoder::Scene::panning);
        decoder.initialize(VideoCodec::H264, static_cast<uint32_t>(w), static_cast<uint32_t>(h));
        picture = decoder.decode(units[0].data(), units[0].size(), 0, true).picture;
        finish = reinterpret_cast<PFNGLFINISHPROC>(SDL_GL_GetProcAddress("glFinish"));
    }
    bool ok() const { return picture && finish; }

    static Presentation& of_size(int w, int h) {
        static std::map<std::pair<int, int>, std::unique_ptr<Presentation>> made;
        auto& p = made[{w, h}];
        if (!p) p = std::make_unique<Presentation>(w, h);
        return *p;
    }
};

// The presentation of size range(0) x range(1), or of 1280x720 for
// benchmarks without arguments; null, with the run marked skipped, when
// there is no window or picture.
Presentation* presentation_for(benchmark::State& state, bool sized = true) {
    const int w = sized ? static_cast<int>(state.range(0)) : 1280;
    const int h = sized ? static_cast<int>(state.range(1)) : 720;
    Presentation& p = Presentation::of_size(w, h);
    if (p.ok()) return &p;
    state.SkipWithError("no window or picture");
    return nullptr;
}

// Per iteration: `before` off the clock, then `timed`, whose duration is the
// iteration's time (for UseManualTime) and goes into the percentiles, then
// `after` off the clock.
template <class Before, class Timed, class After>
void time_each(benchmark::State& state, Before before, Timed timed, After after) {
    Percentiles spread;
    for (auto _ : state) {
        before();
        const auto t0 = Clock::now();
        timed();
        const double t = seconds_since(t0);
        state.SetIterationTime(t);
        spread.add(t);
        after();
    }
    spread.report(state);
}

const auto nothing = [] {};

// Upload of the three planes and the conversion draw, waited for: with
// Mesa's software GL the draw itself runs on the CPU.
void BM_UploadAndDraw(benchmark::State& state) {
    Presentation* p = presentation_for(state);
    if (!p) return;
    time_each(
        state, nothing,
        [&] {
            p->renderer.render_frame(p->picture, p->picture->width, p->picture->height);
            p->finish();
        },
        [&] { p->renderer.present(); });
}

// Drawing the last picture again without an upload: the overlay refresh
// over a frozen stream, and the draw's share of BM_UploadAndDraw.
void BM_Redraw(benchmark::State& state) {
    Presentation* p = presentation_for(state);
    if (!p) return;
    p->renderer.render_frame(p->picture, p->picture->width, p->picture->height);
    p->renderer.present();
    time_each(
        state, nothing,
        [&] {
            p->renderer.restore_snapshot();
            p->finish();
        },
        [&] { p->renderer.present(); });
}

// The swap alone, including the context release that ends every sequence.
// Nothing is drawn in between: the swap's cost does not depend on what the
// back buffer holds, and Mesa's software draw would dominate the run time.
void BM_Present(benchmark::State& state) {
    Presentation* p = presentation_for(state);
    if (!p) return;
    time_each(
        state,
        [&] {
            p->renderer.bind_render_target();
            p->finish();
        },
        [&] { p->renderer.present(); }, nothing);
}

// What the frame handler does after decoding, as one sequence.
void BM_FramePath(benchmark::State& state) {
    Presentation* p = presentation_for(state);
    if (!p) return;
    time_each(
        state, nothing,
        [&] {
            p->renderer.render_frame(p->picture, p->picture->width, p->picture->height);
            p->renderer.bind_render_target();
            p->renderer.present();
        },
        nothing);
}

BENCHMARK(BM_Decode)->Apply(decode_args)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UploadAndDraw)->Args({1280, 720})->Args({1920, 1080})->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Redraw)->Args({1280, 720})->Args({1920, 1080})->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Present)->Args({1280, 720})->Args({1920, 1080})->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FramePath)->Args({1280, 720})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace nb

int main(int argc, char** argv) {
    spdlog::set_level(spdlog::level::warn);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
