// One UDP socket on which the agent's media of one stream arrive, plus the
// hole-punch probe that opens the NAT mapping for it from the same socket.
#pragma once

#include <asio.hpp>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "net/datagram_batch.h"

namespace nb {

// Bytes of one accepted datagram, valid only during the call, and its sender.
using DatagramHandler = std::function<void(const uint8_t* data, size_t length, const asio::ip::udp::endpoint& from)>;

// Probe periods: fast until the first media datagram arrives, then a slow
// keep-alive. Tests shorten them.
struct ProbeTiming {
    uint32_t initial_interval_ms = 500;
    uint32_t keepalive_interval_ms = 5000;
};

class UdpReceiver : public std::enable_shared_from_this<UdpReceiver> {
public:
    static constexpr size_t k_slot_bytes = DatagramBatch::k_slot_bytes;
    static constexpr size_t k_min_datagram_bytes = 22;  // a media header
    // Room for about a third of a second of a flood of 50 000 datagrams a
    // second while the I/O threads are busy elsewhere (a decode, a present);
    // a 256 KiB buffer lost the genuine stream's packets within milliseconds.
    static constexpr int k_receive_buffer_bytes = 8 * 1024 * 1024;
    // Datagrams taken per wake-up: one system call instead of one per
    // datagram is what lets the drain outpace a flood.
    static constexpr size_t k_batch_datagrams = DatagramBatch::k_capacity;

    // Opens an IPv4 socket bound to 0.0.0.0:port (0 picks a free port) and
    // asks for an 8 MiB receive buffer, logging what the kernel grants.
    // Throws asio::system_error ("open", "bind", "set_option") when the
    // socket cannot be set up. Completions hold a reference, hence shared
    // ownership only.
    static std::shared_ptr<UdpReceiver> create(asio::io_context& io, uint16_t port, ProbeTiming timing = {},
                                               const std::string& bind_address = "0.0.0.0");

    ~UdpReceiver();
    UdpReceiver(const UdpReceiver&) = delete;
    UdpReceiver& operator=(const UdpReceiver&) = delete;

    // Setup calls, before start().
    void set_handler(DatagramHandler handler);
    // "NBP1" plus the first 8 key bytes; a null or shorter token gives the
    // bare 4-byte magic, with a warning.
    void set_probe_token(const uint8_t* token, size_t length);
    // Resolves host:port, sends one probe at once and keeps probing until
    // stop(). A resolve failure is logged and leaves the receiver unprobed.
    void start_probe(const std::string& host, uint16_t port);

    // Idempotent: arms the receive loop once.
    void start();
    // Idempotent: ends the receive loop and the probe loop; completions
    // already queued run once more without re-arming.
    void stop();

    uint64_t packets_received() const { return packets_received_.load(std::memory_order_relaxed); }
    uint64_t bytes_received() const { return bytes_received_.load(std::memory_order_relaxed); }
    bool running() const { return running_.load(); }
    // The bound port (useful when constructed with port 0).
    uint16_t local_port() const { return local_port_; }
    // What the kernel granted for the receive buffer, its bookkeeping included.
    int receive_buffer_bytes() const { return receive_buffer_bytes_; }
    std::span<const uint8_t> probe_datagram() const { return {probe_.data(), probe_length_}; }

private:
    struct Passkey {};

public:
    UdpReceiver(Passkey, asio::io_context& io, uint16_t port, ProbeTiming timing, const std::string& bind_address);

private:
    void arm_receive();
    void on_readable(const asio::error_code& error);
    void deliver(const uint8_t* data, size_t length, const asio::ip::udp::endpoint& sender);
    void arm_probe_timer(const std::shared_ptr<asio::steady_timer>& timer, uint32_t period_ms);
    void on_probe_timer(const std::shared_ptr<asio::steady_timer>& timer, const asio::error_code& error);

    asio::io_context& io_;
    asio::ip::udp::socket socket_;
    uint16_t local_port_ = 0;
    int receive_buffer_bytes_ = 0;
    ProbeTiming timing_;

    // Serialises operations started on the socket and on the probe timer:
    // re-arming the readiness wait, cancelling it, sending a probe and
    // (re)arming or cancelling the timer, which asio objects do not allow
    // concurrently. Never held while the handler runs.
    std::mutex socket_mutex_;
    // Held from reading a batch until it has been handed on. The wait is
    // re-armed in between, so another I/O thread may read the next batch,
    // but it hands that batch on only after this one: a frame's last
    // datagrams overtaken by the next frame's would make the depacketizer
    // give the frame up as superseded on a link that lost nothing.
    std::mutex delivery_mutex_;

    DatagramHandler handler_;
    std::atomic<uint64_t> packets_received_{0};
    std::atomic<uint64_t> bytes_received_{0};
    std::atomic<bool> running_{false};

    std::shared_ptr<asio::steady_timer> probe_timer_;  // guarded by socket_mutex_
    asio::ip::udp::endpoint probe_target_;             // written before the loop starts
    uint32_t probe_interval_ms_ = 500;
    std::atomic<bool> probe_active_{false};
    std::array<uint8_t, 12> probe_{'N', 'B', 'P', '1'};
    size_t probe_length_ = 4;
};

}  // namespace nb
