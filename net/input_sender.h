// Sends the local mouse and keyboard records to the agent, one encrypted
// UDP datagram per record, inline on the caller's thread and never blocking.
#pragma once

#include <asio.hpp>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "input/input_event.h"
#include "net/input_crypto.h"
#include "net/session_ports.h"

namespace nb {

class InputSender {
public:
    // Opens an IPv4 socket on an ephemeral port of `bind_address`. Throws
    // asio::system_error when the socket cannot be opened or bound.
    explicit InputSender(asio::io_context& io, uint16_t remote_port = SessionPorts{}.input_remote,
                         const std::string& bind_address = "0.0.0.0");
    ~InputSender();
    InputSender(const InputSender&) = delete;
    InputSender& operator=(const InputSender&) = delete;

    // Resolves host:remote_port, marks the socket CS7 and non-blocking and
    // starts accepting records. False, after logging why, on any failure.
    bool connect(const std::string& host);

    // Installs the input key before sending starts. An empty or wrongly sized
    // key is logged and leaves the sender without a key: every record is then
    // dropped, with one error line for the sender's life.
    bool set_key(std::span<const uint8_t> key);

    // Records in order; mouse buttons, wheel and keys go out twice so a
    // single lost datagram cannot leave a button or key stuck. Dropped
    // silently while not connected or after stop(). Thread-safe.
    void send_events(std::span<const InputEvent> events);
    // One datagram for one record, no repetition; same drop rules.
    void send_event(const InputEvent& event);

    // Idempotent. The close runs on the I/O context; sends stop at once.
    void stop();

    uint64_t packets_sent() const { return packets_sent_.load(std::memory_order_relaxed); }
    bool running() const { return running_.load(); }
    uint16_t local_port() const { return local_port_; }

private:
    // The socket and its lock live apart so a close posted by stop() can
    // still run safely after the sender itself is gone.
    struct Channel {
        explicit Channel(asio::io_context& io) : socket(io) {}
        std::mutex mutex;  // serialises every send with each other and with the close
        asio::ip::udp::socket socket;
    };

    bool transmit(const InputEvent& event);

    asio::io_context& io_;
    std::shared_ptr<Channel> channel_;
    asio::ip::udp::endpoint remote_;  // written by connect() before running is set
    uint16_t remote_port_;
    uint16_t local_port_ = 0;
    AeadKey key_{};
    std::atomic<bool> key_set_{false};
    std::atomic<uint64_t> packets_sent_{0};
    std::atomic<bool> running_{false};
    std::atomic<bool> key_missing_warned_{false};
};

}  // namespace nb
