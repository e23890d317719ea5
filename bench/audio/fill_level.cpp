// Ring fill under wall-clock packet pacing: the latency the ring adds, and how
// often it runs dry or overflows.
#include "bench/audio/fill_level.h"

#include <opus.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "audio/opus_audio_decoder.h"
#include "audio/sdl_audio_player.h"
#include "tests/audio/tone_analysis.h"

namespace nb::bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t k_rate = 48000;
constexpr uint32_t k_channels = 2;
constexpr int k_packet_frames = 960;

// One second of 20 ms Opus packets, replayed in a loop.
std::vector<std::vector<uint8_t>> encode_tone_packets() {
    std::vector<std::vector<uint8_t>> packets;
    int error = OPUS_OK;
    OpusEncoder* encoder = opus_encoder_create(k_rate, k_channels, OPUS_APPLICATION_RESTRICTED_LOWDELAY, &error);
    if (error != OPUS_OK) return packets;
    opus_encoder_ctl(encoder, OPUS_SET_BITRATE(128000));
    double phase = 0.25;
    std::vector<float> pcm(k_packet_frames * k_channels);
    for (int i = 0; i < 50; ++i) {
        test::generate_tone(pcm, k_channels, 440.0, k_rate, 0.5, phase);
        std::vector<uint8_t> packet(1500);
        const int len = opus_encode_float(encoder, pcm.data(), k_packet_frames, packet.data(), 1500);
        if (len <= 0) break;
        packet.resize(static_cast<size_t>(len));
        packets.push_back(std::move(packet));
    }
    opus_encoder_destroy(encoder);
    return packets;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0.0;
    const size_t idx = std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(idx), values.end());
    return values[idx];
}

}  // namespace

int run_fill_level(const FillLevelOptions& options) {
    // The disk driver unless the caller picked a real device.
    setenv("SDL_AUDIODRIVER", "disk", 0);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 0);
    spdlog::set_level(spdlog::level::warn);

    const auto packets = encode_tone_packets();
    if (packets.empty()) {
        std::fprintf(stderr, "fill-level: could not encode test packets\n");
        return 1;
    }
    OpusAudioDecoder decoder;
    SdlAudioPlayer player;
    if (!decoder.initialize(k_rate, k_channels) || !player.initialize(k_rate, k_channels) || !player.start()) {
        std::fprintf(stderr, "fill-level: audio set-up failed\n");
        return 1;
    }

    // How long the device takes to play one second of audio, measured over
    // everything it has played so far: the estimate sharpens as the run goes
    // on, which a one-off calibration with 10 ms granularity would not.
    const auto c0 = Clock::now();
    const uint64_t f0 = player.device_frames();
    auto device_scale = [&] {
        if (!options.device_clock) return 1.0;
        const double wall_s = std::chrono::duration<double>(Clock::now() - c0).count();
        const double device_s = static_cast<double>(player.device_frames() - f0) / k_rate;
        return device_s > 0.5 ? wall_s / device_s : 1.0;
    };
    if (options.device_clock) std::this_thread::sleep_for(std::chrono::seconds(2));
    const uint32_t underruns_before = player.underruns();

    const double samples_per_ms = k_rate * k_channels / 1000.0;
    std::atomic<bool> done{false};
    std::vector<double> fill_ms;
    fill_ms.reserve(static_cast<size_t>(options.seconds) * 1000 + 1000);
    const auto t0 = Clock::now();
    const auto warmup_end = t0 + std::chrono::milliseconds(options.warmup_ms);
    uint32_t underruns_at_warmup = 0;
    uint32_t overruns_at_warmup = 0;
    bool warm = false;

    std::thread sampler([&] {
        auto next = Clock::now();
        while (!done.load()) {
            next += std::chrono::milliseconds(1);
            std::this_thread::sleep_until(next);
            if (Clock::now() < warmup_end) continue;
            fill_ms.push_back(static_cast<double>(player.ring_fill_samples()) / samples_per_ms);
        }
    });

    // Packets leave on an absolute 20 ms schedule, so a late wake-up does not
    // shift every later packet.
    std::vector<float> pcm(k_packet_frames * k_channels);
    const int total_packets = options.seconds * 50;
    auto next_send = t0;
    for (int i = 0; i < total_packets; ++i) {
        std::this_thread::sleep_until(next_send);
        next_send += std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double, std::milli>(20.0 * device_scale()));
        if (!warm && Clock::now() >= warmup_end) {
            warm = true;
            underruns_at_warmup = player.underruns() - underruns_before;
            overruns_at_warmup = player.overruns();
        }
        const auto& packet = packets[static_cast<size_t>(i) % packets.size()];
        const int n = decoder.decode(packet, pcm);
        if (n > 0) player.push_samples(pcm.data(), static_cast<size_t>(n));
    }
    done.store(true);
    sampler.join();
    const double elapsed_min = std::chrono::duration<double>(Clock::now() - t0).count() / 60.0;
    const double steady_min = std::max(1e-9, elapsed_min - options.warmup_ms / 60000.0);

    const uint32_t underruns = player.underruns() - underruns_before;
    const uint32_t overruns = player.overruns();
    player.shutdown();
    decoder.shutdown();

    const char* driver = std::getenv("SDL_AUDIODRIVER");
    std::printf("audio fill level: driver=%s, %d s, one packet every %.3f ms (%s clock), "
                "device buffer granted=%u frames (%.1f ms)\n",
                driver != nullptr ? driver : "?", options.seconds, 20.0 * device_scale(),
                options.device_clock ? "device" : "wall", player.buffer_frames(),
                player.buffer_frames() * 1000.0 / k_rate);
    std::printf("  ring fill after the first %d ms: p50=%.1f ms  p99=%.1f ms  max=%.1f ms  (%zu samples)\n",
                options.warmup_ms, percentile(fill_ms, 0.50), percentile(fill_ms, 0.99),
                fill_ms.empty() ? 0.0 : *std::max_element(fill_ms.begin(), fill_ms.end()), fill_ms.size());
    std::printf("  underruns: %u total, %u after warm-up (%.1f/min)\n", underruns, underruns - underruns_at_warmup,
                (underruns - underruns_at_warmup) / steady_min);
    std::printf("  overruns:  %u total, %u after warm-up (%.1f/min)\n", overruns, overruns - overruns_at_warmup,
                (overruns - overruns_at_warmup) / steady_min);
    return 0;
}

}  // namespace nb::bench
