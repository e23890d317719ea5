// Cost of turning an SDL input event into records ready for the sender, and
// proof that the steady state allocates nothing: every heap allocation of the
// process goes through the counting operator new below.
#include <SDL.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>
#include <vector>

#include "bench/support/allocation_counter.h"
#include "input/input_window_context.h"
#include "input/sdl_input_capture.h"
#include "net/input_sender.h"

namespace nb {
namespace {

// One hidden window under the dummy driver, a started capture, and a hook
// that drains into a reserved batch and serialises it, as the shell does
// before handing records to the sender.
class Rig {
public:
    Rig() {
        setenv("SDL_VIDEODRIVER", "dummy", 0);
        SDL_Init(SDL_INIT_VIDEO);
        window_ = SDL_CreateWindow("bench", 0, 0, 320, 240, SDL_WINDOW_HIDDEN);
        batch_.reserve(256);
        context_.on_input = [this](IInputCapture& capture) {
            capture.drain(batch_);
            if (sender_ != nullptr) {
                sender_->send_events(batch_);
            } else {
                for (const InputEvent& e : batch_) benchmark::DoNotOptimize(e.to_bytes());
            }
        };
        attach_input_context(window_, &context_);
        capture_.start(window_);
        SDL_SetRelativeMouseMode(SDL_TRUE);
    }
    ~Rig() {
        capture_.stop();
        detach_input_context(window_);
        SDL_DestroyWindow(window_);
        SDL_Quit();
    }

    SDL_Event event(int kind) const {
        SDL_Event e{};
        const uint32_t id = SDL_GetWindowID(window_);
        switch (kind) {
            case 0:
                e.type = SDL_MOUSEMOTION;
                e.motion.windowID = id;
                e.motion.xrel = 3;
                e.motion.yrel = -2;
                break;
            case 1:
                e.type = SDL_MOUSEBUTTONDOWN;
                e.button.windowID = id;
                e.button.button = SDL_BUTTON_LEFT;
                break;
            case 2:
                e.type = SDL_MOUSEWHEEL;
                e.wheel.windowID = id;
                e.wheel.y = 1;
                e.wheel.preciseY = 1.0f;
                break;
            default:
                e.type = SDL_KEYDOWN;
                e.key.windowID = id;
                e.key.keysym.scancode = SDL_SCANCODE_RCTRL;
                e.key.keysym.sym = SDLK_RCTRL;
                break;
        }
        return e;
    }

    SdlInputCapture& capture() { return capture_; }
    // With a sender the hook encrypts and sends instead of serialising.
    void set_sender(InputSender* sender) { sender_ = sender; }

private:
    InputSender* sender_ = nullptr;
    SDL_Window* window_ = nullptr;
    InputWindowContext context_;
    SdlInputCapture capture_;
    std::vector<InputEvent> batch_;
};

Rig& rig() {
    static Rig instance;
    return instance;
}

const char* kind_name(int kind) {
    static const char* names[] = {"move", "button", "wheel", "key"};
    return names[kind];
}

// record + drain only: the capture's own share of the path.
void BM_RecordAndDrain(benchmark::State& state) {
    const int kind = static_cast<int>(state.range(0));
    state.SetLabel(kind_name(kind));
    SDL_Event e = rig().event(kind);
    std::vector<InputEvent> out;
    out.reserve(256);
    const uint64_t before = nb::bench::allocations();
    for (auto _ : state) {
        // Buttons only make records when the mask changes: alternate.
        if (kind == 1) e.type = e.type == SDL_MOUSEBUTTONDOWN ? SDL_MOUSEBUTTONUP : SDL_MOUSEBUTTONDOWN;
        benchmark::DoNotOptimize(rig().capture().record(e));
        rig().capture().drain(out);
    }
    state.counters["allocs_per_event"] =
        benchmark::Counter(static_cast<double>(nb::bench::allocations() - before) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_RecordAndDrain)->DenseRange(0, 3);

// The whole path as SDL pumps an event: SDL_PushEvent runs the watch, which
// records and calls the hook, which drains and serialises; the shell's poll
// then takes the event off SDL's queue.
void BM_SdlEventToRecords(benchmark::State& state) {
    const int kind = static_cast<int>(state.range(0));
    state.SetLabel(kind_name(kind));
    SDL_Event e = rig().event(kind);
    SDL_Event polled;
    std::vector<double> samples;
    samples.reserve(1 << 20);
    // Warm SDL's queue free list before counting.
    for (int i = 0; i < 64; ++i) {
        SDL_PushEvent(&e);
        while (SDL_PollEvent(&polled)) {}
    }
    const uint64_t before = nb::bench::allocations();
    for (auto _ : state) {
        if (kind == 1) e.type = e.type == SDL_MOUSEBUTTONDOWN ? SDL_MOUSEBUTTONUP : SDL_MOUSEBUTTONDOWN;
        const auto t0 = std::chrono::steady_clock::now();
        SDL_PushEvent(&e);
        const auto t1 = std::chrono::steady_clock::now();
        if (samples.size() < samples.capacity()) samples.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        SDL_PollEvent(&polled);
    }
    const uint64_t allocations = nb::bench::allocations() - before;
    state.counters["allocs_per_event"] =
        benchmark::Counter(static_cast<double>(allocations) / static_cast<double>(state.iterations()));
    if (!samples.empty()) {
        std::sort(samples.begin(), samples.end());
        state.counters["p50_us"] = samples[samples.size() / 2];
        state.counters["p99_us"] = samples[samples.size() * 99 / 100];
    }
}
BENCHMARK(BM_SdlEventToRecords)->DenseRange(0, 3);

// As above, with the real input sender in the hook: the record is sealed and
// leaves a UDP socket towards a receiver on loopback before SDL_PushEvent
// returns. Buttons, wheel and keys go out twice.
void BM_SdlEventToDatagram(benchmark::State& state) {
    const int kind = static_cast<int>(state.range(0));
    state.SetLabel(kind_name(kind));
    asio::io_context io;
    asio::ip::udp::socket agent(io, asio::ip::udp::endpoint(asio::ip::make_address_v4("127.0.0.1"), 0));
    agent.non_blocking(true);
    InputSender sender(io, agent.local_endpoint().port(), "127.0.0.1");
    const std::vector<uint8_t> key(32, 0x5A);
    if (!sender.connect("127.0.0.1") || !sender.set_key(key)) {
        state.SkipWithError("input sender did not start");
        return;
    }
    rig().set_sender(&sender);
    SDL_Event e = rig().event(kind);
    SDL_Event polled;
    std::array<uint8_t, 1500> datagram{};
    asio::error_code ec;
    std::vector<double> samples;
    samples.reserve(1 << 20);
    const uint64_t sent_before = sender.packets_sent();
    const uint64_t before = nb::bench::allocations();
    for (auto _ : state) {
        if (kind == 1) e.type = e.type == SDL_MOUSEBUTTONDOWN ? SDL_MOUSEBUTTONUP : SDL_MOUSEBUTTONDOWN;
        const auto t0 = std::chrono::steady_clock::now();
        SDL_PushEvent(&e);
        const auto t1 = std::chrono::steady_clock::now();
        if (samples.size() < samples.capacity()) samples.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        SDL_PollEvent(&polled);
        while (agent.receive(asio::buffer(datagram), 0, ec) > 0) {}
    }
    const uint64_t allocations = nb::bench::allocations() - before;
    rig().set_sender(nullptr);
    const double events = static_cast<double>(state.iterations());
    state.counters["allocs_per_event"] = benchmark::Counter(static_cast<double>(allocations) / events);
    state.counters["datagrams_per_event"] = benchmark::Counter(static_cast<double>(sender.packets_sent() - sent_before) / events);
    if (!samples.empty()) {
        std::sort(samples.begin(), samples.end());
        state.counters["p50_us"] = samples[samples.size() / 2];
        state.counters["p99_us"] = samples[samples.size() * 99 / 100];
    }
    sender.stop();
}
BENCHMARK(BM_SdlEventToDatagram)->DenseRange(0, 3);

}  // namespace
}  // namespace nb

BENCHMARK_MAIN();
