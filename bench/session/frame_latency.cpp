// Latency of the picture path against the real test agent over loopback:
// from the datagram that completes a frame to present returning, stage by
// stage, as the frame's own record and the video thread stamp it. Needs an X
// server (run under xvfb-run) and build/nubora-agent-sim.
//
//   xvfb-run -a -s "-screen 0 1920x1080x24" build/nb_bench_frame_latency [WIDTH HEIGHT SECONDS]
#include <SDL.h>
#include <sodium.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <vector>

#include "session/launcher.h"
#include "tests/support/client_process.h"
#include "tests/support/fake_tcp_peer.h"
#include "video/gl_renderer.h"

namespace {

class Recorder final : public nb::IFrameTimingSink {
public:
    void on_frame_timing(const nb::FrameTiming& timing) override {
        std::lock_guard lock(mutex_);
        timings_.push_back(timing);
    }
    std::vector<nb::FrameTiming> take() {
        std::lock_guard lock(mutex_);
        return timings_;
    }

private:
    std::mutex mutex_;  // guards timings_
    std::vector<nb::FrameTiming> timings_;
};

struct Percentiles {
    double p50 = 0;
    double p99 = 0;
};

Percentiles percentiles(std::vector<int64_t> values) {
    if (values.empty()) return {};
    std::sort(values.begin(), values.end());
    auto at = [&](double q) { return values[std::min(values.size() - 1, static_cast<size_t>(q * values.size()))] / 1000.0; };
    return {at(0.50), at(0.99)};
}

}  // namespace

int main(int argc, char** argv) {
    const int width = argc > 1 ? std::atoi(argv[1]) : 1280;
    const int height = argc > 2 ? std::atoi(argv[2]) : 720;
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 10;
    spdlog::set_level(spdlog::level::warn);
    if (sodium_init() < 0) return 1;

    const auto dir = nb::test::fresh_temp_dir("nubora-latency");
    const uint16_t control_port = nb::test::unused_loopback_port();
    nb::test::ChildProcess agent(nb::test::build_dir() / "nubora-agent-sim",
                                 {"--token", "bench", "--control-port", std::to_string(control_port), "--busy-scene",
                                  "--no-audio", "--duration", std::to_string(seconds + 30)},
                                 {}, dir);
    if (!agent.wait_for_output("Agent: ready")) {
        std::fprintf(stderr, "agent did not start:\n%s\n", agent.output().c_str());
        return 1;
    }

    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "SDL_Init: %s\n", SDL_GetError());
        return 1;
    }
    nb::GlRenderer::prepare_window_attributes();
    SDL_Window* window = SDL_CreateWindow("Nubora latency", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width,
                                          height, SDL_WINDOW_SHOWN | SDL_WINDOW_OPENGL);
    if (!window) return 1;

    nb::ConnectionParams params;
    params.host = "127.0.0.1";
    params.port = control_port;
    params.token = "bench";
    params.width = width;
    params.height = height;
    Recorder recorder;
    auto launcher = std::make_unique<nb::Launcher>();
    launcher->set_frame_timing_sink(&recorder);
    if (!launcher->connect(params, window)) return 1;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        SDL_Event event;
        SDL_WaitEventTimeout(&event, 100);
    }
    launcher->shutdown();
    const uint64_t skipped = launcher->frames_skipped();
    launcher.reset();
    SDL_DestroyWindow(window);
    SDL_Quit();
    agent.signal(SIGINT);
    agent.wait_exit();
    std::filesystem::remove_all(dir);

    std::vector<int64_t> spread, assembly, queue_wait, decode, draw, present, path;
    for (const auto& t : recorder.take()) {
        if (t.presented_us == 0 || t.last_packet_us == 0) continue;
        spread.push_back(t.last_packet_us - t.first_packet_us);
        assembly.push_back(t.queued_us - t.last_packet_us);
        queue_wait.push_back(t.dequeued_us - t.queued_us);
        decode.push_back(t.decoded_us - t.dequeued_us);
        draw.push_back(t.drawn_us - t.decoded_us);
        present.push_back(t.presented_us - t.drawn_us);
        path.push_back((t.presented_us - t.last_packet_us) - (t.decoded_us - t.dequeued_us));
    }
    std::printf("%dx%d, %d s, %zu frames presented, %llu decoded but skipped\n", width, height, seconds,
                assembly.size(), static_cast<unsigned long long>(skipped));
    std::printf("%-28s %10s %10s\n", "stage (ms)", "p50", "p99");
    auto row = [](const char* name, const std::vector<int64_t>& v) {
        const auto p = percentiles(v);
        std::printf("%-28s %10.3f %10.3f\n", name, p.p50, p.p99);
    };
    row("first to last packet", spread);
    row("assembly (last packet)", assembly);
    row("video queue wait", queue_wait);
    row("decode", decode);
    row("upload + draw", draw);
    row("present", present);
    row("all but decode", path);
    return 0;
}
