// UdpReceiver over real loopback sockets: runts, counters, hand-off, the
// hole-punch probe and its two periods, start/stop.
#include <gtest/gtest.h>

#include <asio.hpp>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/log_capture.h"
#include "loopback_peer.h"
#include "net/udp_receiver.h"

namespace nb {
namespace {

using asio::ip::udp;
using namespace std::chrono_literals;
using test::Peer;
using test::eventually;

struct Received {
    bool throw_on_first = false;
    std::chrono::milliseconds first_delay{0};  // before the first datagram is recorded
    std::atomic<int> entered{0};
    std::mutex mutex;
    std::vector<std::vector<uint8_t>> datagrams;
    std::vector<udp::endpoint> senders;
    size_t size() {
        std::lock_guard lock(mutex);
        return datagrams.size();
    }
};

// An I/O context driven by two threads, as in a session.
class IoFixture : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < 2; ++i) threads_.emplace_back([this] { io_.run(); });
    }
    void TearDown() override {
        work_.reset();
        io_.stop();
        for (auto& t : threads_) t.join();
    }

    // A receiver on an ephemeral loopback port that hands datagrams to `received_`.
    std::shared_ptr<UdpReceiver> make_receiver(ProbeTiming timing = {}) {
        auto receiver = UdpReceiver::create(io_, 0, timing, "127.0.0.1");
        receiver->set_handler([this](const uint8_t* data, size_t length, const udp::endpoint& from) {
            if (received_.entered.fetch_add(1) == 0) std::this_thread::sleep_for(received_.first_delay);
            std::lock_guard lock(received_.mutex);
            received_.datagrams.emplace_back(data, data + length);
            received_.senders.push_back(from);
            if (received_.throw_on_first && received_.datagrams.size() == 1) throw std::runtime_error("boom");
        });
        return receiver;
    }

    asio::io_context io_;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work_{io_.get_executor()};
    std::vector<std::thread> threads_;
    test::LogCapture logs_;
    Received received_;
};

TEST_F(IoFixture, DropsRuntsDeliversTheRestThroughAThrowingHandlerAndStopsOnce) {
    received_.throw_on_first = true;
    auto receiver = make_receiver();
    receiver->start();
    receiver->start();
    EXPECT_EQ(logs_.count_containing("UdpReceiver: starting async receive loop"), 1u);
    Peer peer(io_);

    peer.send(std::vector<uint8_t>(21, 0xAA), receiver->local_port());  // runt
    std::vector<uint8_t> smallest(22);
    for (size_t i = 0; i < smallest.size(); ++i) smallest[i] = static_cast<uint8_t>(i);
    peer.send(smallest, receiver->local_port());
    const std::vector<uint8_t> full(1200, 0x42);
    peer.send(full, receiver->local_port());

    ASSERT_TRUE(eventually([&] { return received_.size() == 2; }));
    EXPECT_EQ(received_.datagrams[0], smallest);
    EXPECT_EQ(received_.datagrams[1], full);
    EXPECT_EQ(received_.senders[0].port(), peer.port());
    EXPECT_EQ(logs_.count_containing("UdpReceiver: runt packet (21 bytes), dropping"), 1u);
    // The handler records each datagram before it throws, so the line may
    // come a moment after the record.
    EXPECT_TRUE(eventually([&] { return logs_.count_containing("UdpReceiver: handler exception: boom") == 1u; }));

    receiver->stop();
    receiver->stop();
    EXPECT_EQ(logs_.matching("UdpReceiver: stopped"),
              std::vector<std::string>{"UdpReceiver: stopped (pkts=2, bytes=1222)"});
    EXPECT_FALSE(receiver->running());
    // Nothing is delivered or counted once stopped.
    peer.send(smallest, receiver->local_port());
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(received_.size(), 2u);
    EXPECT_EQ(receiver->packets_received(), 2u);
    EXPECT_EQ(receiver->bytes_received(), 1222u);
}

// Datagrams that queued up while the I/O threads were busy come out whole
// and each once, however many one wake-up takes.
TEST_F(IoFixture, LogsItsBufferDrainsAQueuedBurstWholeAndDropsOversizedDatagrams) {
    auto receiver = make_receiver();
    const auto granted = logs_.matching("UdpReceiver: receive buffer 8192 KiB asked, ");
    ASSERT_EQ(granted.size(), 1u);
    EXPECT_NE(granted[0].find(" KiB granted on port " + std::to_string(receiver->local_port())), std::string::npos);
    Peer peer(io_);
    // As many as surely fit what the kernel granted (each costs it about
    // twice its size in bookkeeping).
    const uint32_t k_burst = std::min<uint32_t>(1000, static_cast<uint32_t>(receiver->receive_buffer_bytes() / 4096));
    ASSERT_GT(k_burst, 50u);
    for (uint32_t i = 0; i < k_burst; ++i) {
        std::vector<uint8_t> datagram(100 + i % 1100, 0);
        std::memcpy(datagram.data(), &i, sizeof i);
        peer.send(datagram, receiver->local_port());
        if (i == k_burst / 2) peer.send(std::vector<uint8_t>(3000, 0x55), receiver->local_port());  // larger than a slot
    }
    receiver->start();
    ASSERT_TRUE(eventually([&] { return received_.size() >= k_burst; }));
    std::this_thread::sleep_for(50ms);

    std::lock_guard lock(received_.mutex);
    ASSERT_EQ(received_.datagrams.size(), k_burst);
    std::vector<bool> seen(k_burst, false);
    for (const auto& datagram : received_.datagrams) {
        uint32_t i = 0;
        std::memcpy(&i, datagram.data(), sizeof i);
        ASSERT_LT(i, k_burst);
        EXPECT_FALSE(seen[i]) << i;
        EXPECT_EQ(datagram.size(), 100 + i % 1100) << i;
        seen[i] = true;
    }
    EXPECT_EQ(receiver->packets_received(), k_burst);
    EXPECT_EQ(logs_.count_containing("UdpReceiver: oversized datagram (2048 bytes kept), dropping"), 1u);
}

// While one I/O thread is still handing on a batch, the other may read the
// next: it must wait its turn, or the depacketizer sees a frame's tail after
// the next frame and gives the frame up.
TEST_F(IoFixture, HandsDatagramsOnInArrivalOrderAcrossThreads) {
    received_.first_delay = 200ms;
    auto receiver = make_receiver();
    receiver->start();
    Peer peer(io_);
    peer.send(std::vector<uint8_t>(30, 0), receiver->local_port());
    ASSERT_TRUE(eventually([&] { return received_.entered.load() == 1; }));
    constexpr int k_later = 20;
    for (int i = 1; i <= k_later; ++i) peer.send(std::vector<uint8_t>(30, static_cast<uint8_t>(i)), receiver->local_port());
    ASSERT_TRUE(eventually([&] { return received_.size() == k_later + 1; }));
    for (int i = 0; i <= k_later; ++i) EXPECT_EQ(received_.datagrams[static_cast<size_t>(i)][0], i) << "position " << i;
    receiver->stop();
}

// Full 32-byte, short and missing tokens: only a full one adds its first 8 bytes.
TEST_F(IoFixture, ProbeCarriesMagicAndKeyPrefix) {
    Peer agent(io_);
    std::vector<uint8_t> key(32);
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(0xC0 + i);
    std::vector<std::shared_ptr<UdpReceiver>> receivers;
    for (size_t token_bytes : {32, 7, 0}) {
        auto& receiver = receivers.emplace_back(make_receiver({10000, 10000}));
        receiver->set_probe_token(token_bytes ? key.data() : nullptr, token_bytes);
        receiver->start_probe("127.0.0.1", agent.port());
    }

    const auto probes = agent.collect(3);
    const std::vector<uint8_t> full{'N', 'B', 'P', '1', 0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7};
    const std::vector<uint8_t> magic{'N', 'B', 'P', '1'};
    EXPECT_EQ(std::count(probes.begin(), probes.end(), full), 1);
    EXPECT_EQ(std::count(probes.begin(), probes.end(), magic), 2);
    EXPECT_EQ(logs_.count_containing("UdpReceiver: probe token missing/short — using magic-only probe"), 2u);
    EXPECT_EQ(logs_.count_containing("UdpReceiver: starting probe loop → 127.0.0.1:" + std::to_string(agent.port()) +
                          " every 10000ms"),
              3u);
    EXPECT_EQ(logs_.count_containing("UdpReceiver: sent hole-punch probe → 127.0.0.1:"), 3u);
    for (auto& r : receivers) r->stop();
}

// Fast probes until media arrive, slow ones after. Each case makes the period
// it is not about effectively infinite, so machine speed does not matter.
TEST_F(IoFixture, ProbeSwitchesToKeepAliveOnceMediaArrive) {
    for (const uint32_t keepalive_ms : {3600u * 1000, 10u}) {
        SCOPED_TRACE(keepalive_ms);
        Peer agent(io_);
        auto receiver = make_receiver({5, keepalive_ms});
        receiver->start_probe("127.0.0.1", agent.port());
        receiver->start();
        ASSERT_GE(agent.collect(4).size(), 4u);
        agent.send(std::vector<uint8_t>(40, 1), receiver->local_port());
        ASSERT_TRUE(eventually([&] { return receiver->packets_received() == 1; }));
        // At most the timer already armed at the fast period fires once more.
        std::this_thread::sleep_for(100ms);
        agent.drain();
        if (keepalive_ms == 10) {
            EXPECT_GE(agent.collect(3).size(), 3u);  // keep-alives go on
        } else {
            std::this_thread::sleep_for(200ms);
            EXPECT_TRUE(agent.drain().empty());
        }
        receiver->stop();
    }
}

TEST_F(IoFixture, StopEndsAProbeLoopThatRunsWithoutReceiving) {
    Peer agent(io_);
    std::weak_ptr<UdpReceiver> weak;
    {
        auto receiver = make_receiver({5, 5});
        weak = receiver;
        receiver->start_probe("127.0.0.1", agent.port());
        receiver->stop();
    }
    // The probe timer held the last reference; once cancelled it lets go.
    EXPECT_TRUE(eventually([&] { return weak.expired(); }));
}

TEST_F(IoFixture, UnresolvableProbeTargetLeavesReceiverUnprobed) {
    auto receiver = make_receiver({5, 5});
    receiver->start_probe("", 48002);
    EXPECT_EQ(logs_.count_containing("UdpReceiver: probe resolve failed for :48002 — "), 1u);
    EXPECT_EQ(logs_.count_containing("UdpReceiver: starting probe loop"), 0u);
    // Media still arrive without a probe.
    receiver->start();
    Peer peer(io_);
    peer.send(std::vector<uint8_t>(22, 0), receiver->local_port());
    ASSERT_TRUE(eventually([&] { return received_.size() == 1; }));
    receiver->stop();
}

TEST_F(IoFixture, BindFailureThrowsWithItsStep) {
    auto first = make_receiver();
    try {
        auto second = UdpReceiver::create(io_, first->local_port(), {}, "127.0.0.1");
        FAIL() << "a second bind to the same port must fail";
    } catch (const asio::system_error& e) {
        EXPECT_NE(std::string(e.what()).find("bind"), std::string::npos) << e.what();
    }
}

}  // namespace
}  // namespace nb
