// Sends forged media datagrams at a steady rate, as an attacker who knows the
// header layout but not the key would: every header passes the client's
// range checks, so each datagram costs it a full authentication attempt.
//   nubora-udp-flood [--host H] [--port P] [--rate N/s] [--seconds S] [--size BYTES] [--seed N]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "net/media_header.h"

namespace {

struct Options {
    std::string host = "127.0.0.1";
    uint16_t port = 47998;
    long rate = 50000;
    double seconds = 30;
    size_t size = 1200;
    unsigned seed = 1;
};

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        if (name == "--host") {
            options.host = value;
        } else if (name == "--port") {
            options.port = static_cast<uint16_t>(std::atoi(value));
        } else if (name == "--rate") {
            options.rate = std::atol(value);
        } else if (name == "--seconds") {
            options.seconds = std::atof(value);
        } else if (name == "--size") {
            options.size = static_cast<size_t>(std::atol(value));
        } else if (name == "--seed") {
            options.seed = static_cast<unsigned>(std::atol(value));
        } else {
            return false;
        }
    }
    return options.rate > 0 && options.seconds > 0 && options.size >= nb::k_media_header_bytes + nb::k_aead_tag_bytes &&
           options.size <= 1200;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: nubora-udp-flood [--host H] [--port P] [--rate N] [--seconds S] "
                             "[--size 38..1200] [--seed N]\n");
        return 2;
    }
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(options.port);
    if (::inet_pton(AF_INET, options.host.c_str(), &target.sin_addr) != 1) {
        std::fprintf(stderr, "nubora-udp-flood: '%s' is no IPv4 address\n", options.host.c_str());
        return 2;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
        std::perror("nubora-udp-flood: socket");
        return 1;
    }

    // A pool of distinct datagrams, reused round-robin, so the sender spends
    // its time sending rather than making up bytes.
    constexpr size_t k_pool = 4096;
    std::mt19937 random(options.seed);
    std::vector<std::vector<uint8_t>> pool(k_pool, std::vector<uint8_t>(options.size));
    for (auto& datagram : pool) {
        for (auto& b : datagram) b = static_cast<uint8_t>(random());
        nb::MediaHeader header;
        header.nonce_prefix = static_cast<uint32_t>(random());
        header.frame_id = static_cast<uint32_t>(random());
        header.packet_count = static_cast<uint16_t>(1 + random() % 64);
        header.packet_index = static_cast<uint16_t>(random() % header.packet_count);
        header.flags = static_cast<uint8_t>(random() % 2);  // key-frame bit only: a data packet
        header.serialize(std::span<uint8_t, nb::k_media_header_bytes>(datagram.data(), nb::k_media_header_bytes));
    }

    // Sent in one batch per millisecond, paced by an absolute clock so a late
    // wake-up is made up for rather than lost.
    const long per_tick = std::max(1L, options.rate / 1000);
    std::vector<mmsghdr> batch(static_cast<size_t>(per_tick));
    std::vector<iovec> vectors(static_cast<size_t>(per_tick));
    timespec next{};
    ::clock_gettime(CLOCK_MONOTONIC, &next);
    const long ticks = static_cast<long>(options.seconds * 1000);
    uint64_t sent = 0;
    uint64_t refused = 0;
    size_t at = 0;
    for (long tick = 0; tick < ticks; ++tick) {
        for (long i = 0; i < per_tick; ++i) {
            auto& datagram = pool[at++ % k_pool];
            vectors[static_cast<size_t>(i)] = {datagram.data(), datagram.size()};
            batch[static_cast<size_t>(i)] = {};
            batch[static_cast<size_t>(i)].msg_hdr.msg_iov = &vectors[static_cast<size_t>(i)];
            batch[static_cast<size_t>(i)].msg_hdr.msg_iovlen = 1;
        }
        const int n = ::sendmmsg(fd, batch.data(), static_cast<unsigned>(per_tick), 0);
        if (n > 0) {
            sent += static_cast<uint64_t>(n);
        } else {
            ++refused;  // nobody listening yet (ICMP port unreachable): keep going
        }
        next.tv_nsec += 1'000'000;
        if (next.tv_nsec >= 1'000'000'000) {
            next.tv_nsec -= 1'000'000'000;
            ++next.tv_sec;
        }
        ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
    std::printf("nubora-udp-flood: sent %llu datagrams of %zu bytes to %s:%u in %.1f s (%.0f/s), %llu refused batches\n",
                static_cast<unsigned long long>(sent), options.size, options.host.c_str(), options.port,
                options.seconds, static_cast<double>(sent) / options.seconds, static_cast<unsigned long long>(refused));
    ::close(fd);
    return 0;
}
