// Memory the fountain code holds across one session: two repairing threads
// (the client's I/O threads on a 2-core machine) rebuild frames of 10 to
// 4096 blocks at 10 % loss, then end as a session's threads do. Prints one
// JSON object: resident growth while streaming and after the session, and
// what the codec pool keeps, all in MB over the resident size before.
//   nb_bench_fec_memory [frames-per-thread]
#include <atomic>
#include <barrier>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "fec/wirehair.h"
#ifndef NB_FEC_MEMORY_LEGACY
#include "fec/codec_pool.h"
#endif

namespace {

constexpr uint32_t k_block_bytes = 1162;

double resident_mb() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// The blocks a receiver that lost a tenth of the data would feed, and the
// message they rebuild.
struct Frame {
    std::vector<uint8_t> message;
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> blocks;

    explicit Frame(uint32_t n) : message(static_cast<size_t>(n) * k_block_bytes) {
        std::mt19937 rng(n);
        for (auto& b : message) b = static_cast<uint8_t>(rng());
        WirehairCodec e = wirehair_encoder_create(nullptr, message.data(), message.size(), k_block_bytes);
        const uint32_t lost = n / 10 > 0 ? n / 10 : 1;
        for (uint32_t id = 0; id < n + lost + 8; ++id) {
            if (id < n && id % 10 == 3) continue;  // lost on the way
            std::vector<uint8_t> block(k_block_bytes);
            uint32_t written = 0;
            wirehair_encode(e, id, block.data(), k_block_bytes, &written);
            blocks.emplace_back(id, std::move(block));
        }
        wirehair_free(e);
    }

    bool rebuild(std::vector<uint8_t>& out) const {
        WirehairCodec d = wirehair_decoder_create(nullptr, message.size(), k_block_bytes);
        WirehairResult r = Wirehair_NeedMore;
        for (const auto& [id, block] : blocks) {
            r = wirehair_decode(d, id, block.data(), k_block_bytes);
            if (r != Wirehair_NeedMore) break;
        }
        out.resize(message.size());
        const bool ok = r == Wirehair_Success && wirehair_recover(d, out.data(), out.size()) == Wirehair_Success &&
                        out == message;
        wirehair_free(d);
        return ok;
    }
};

void session_ended() {
#ifndef NB_FEC_MEMORY_LEGACY
    nb::fec::CodecPool::release_all();
#endif
}

double kept_mb() {
#ifndef NB_FEC_MEMORY_LEGACY
    return static_cast<double>(nb::fec::CodecPool::kept_bytes()) / (1024.0 * 1024.0);
#else
    return -1.0;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 20;
    if (wirehair_init() != Wirehair_Success) return 1;
    std::vector<Frame> frames;
    for (uint32_t n : {10u, 54u, 300u, 1000u, 4096u}) frames.emplace_back(n);
    session_ended();
    const double before = resident_mb();

    constexpr int k_threads = 2;
    std::barrier streaming(k_threads + 1);
    std::barrier ended(k_threads + 1);
    std::atomic<bool> all_ok{true};
    std::vector<std::thread> threads;
    for (int t = 0; t < k_threads; ++t) {
        threads.emplace_back([&, t] {
            std::vector<uint8_t> out;
            bool ok = true;
            for (int i = 0; i < rounds; ++i) {
                for (size_t f = 0; f < frames.size(); ++f) ok &= frames[(f + t) % frames.size()].rebuild(out);
            }
            if (!ok) all_ok = false;
            streaming.arrive_and_wait();
            ended.arrive_and_wait();
        });
    }
    streaming.arrive_and_wait();
    const double during = resident_mb() - before;
    const double kept = kept_mb();
    ended.arrive_and_wait();
    for (auto& thread : threads) thread.join();
    session_ended();
    const double after = resident_mb() - before;
    std::printf("{\"threads\": %d, \"frames_per_thread\": %d, \"rebuilt_ok\": %s, "
                "\"resident_growth_streaming_mb\": %.1f, \"pool_kept_streaming_mb\": %.1f, "
                "\"resident_retained_after_session_mb\": %.1f}\n",
                k_threads, rounds * static_cast<int>(frames.size()), all_ok.load() ? "true" : "false", during, kept,
                after);
    return all_ok.load() ? 0 : 1;
}
