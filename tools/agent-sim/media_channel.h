// One media stream's UDP socket on the agent: it receives the client's
// hole-punch probes, learns from an authenticated probe where the stream
// must go, and sends the stream's datagrams from the very port the probe
// reached, so a NAT mapping opened by the probe carries them back.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tools/agent-sim/event_log.h"
#include "tools/agent-sim/stream_session.h"

namespace nb {

class MediaChannel {
public:
    static constexpr size_t k_probe_bytes = 12;
    static constexpr std::array<uint8_t, 4> k_probe_magic = {'N', 'B', 'P', '1'};

    MediaChannel(asio::io_context& io, std::string stream, EventLog& events);
    ~MediaChannel();

    // Binds the socket and starts receiving probes. False, with the cause
    // logged, when the port cannot be bound.
    bool open(const std::string& address, uint16_t port);
    uint16_t port() const { return port_; }

    // Probes must now carry the first 8 bytes of `key` (the stream's key of
    // `session`); nullptr ends the session. Either way the learned endpoint
    // is forgotten until a valid probe arrives. Any thread.
    void set_session(uint64_t session, const AeadKey* key);

    // Called on the I/O thread whenever a probe moves the stream to a new
    // endpoint (including the first one of a session).
    void set_endpoint_callback(std::function<void(const asio::ip::udp::endpoint&)> callback);

    std::optional<asio::ip::udp::endpoint> peer() const;

    // Sends each datagram to the learned endpoint, in order; returns how
    // many the kernel took. A full send buffer is waited on briefly, then
    // the datagram is dropped. Safe from any thread.
    size_t send(std::span<const std::vector<uint8_t>> datagrams);

    uint64_t probes_accepted() const { return probes_accepted_.load(); }
    uint64_t probes_rejected() const { return probes_rejected_.load(); }
    uint64_t datagrams_sent() const { return datagrams_sent_.load(); }

    // Stops receiving; I/O thread or after the I/O thread has ended.
    void close();

private:
    void receive_next();
    void on_probe(size_t length);

    const std::string stream_;
    EventLog& events_;
    asio::ip::udp::socket socket_;
    uint16_t port_ = 0;
    std::array<uint8_t, 2048> buffer_{};
    asio::ip::udp::endpoint sender_;

    mutable std::mutex mutex_;  // guards the fields below
    uint64_t session_ = 0;
    bool has_token_ = false;
    std::array<uint8_t, 8> token_{};
    std::optional<asio::ip::udp::endpoint> peer_;
    std::function<void(const asio::ip::udp::endpoint&)> endpoint_callback_;

    std::atomic<uint64_t> probes_accepted_{0};
    std::atomic<uint64_t> probes_rejected_{0};
    std::atomic<uint64_t> datagrams_sent_{0};
    std::atomic<uint64_t> send_failures_{0};
};

}  // namespace nb
