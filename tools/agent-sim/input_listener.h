// Receives the client's encrypted input datagrams, opens them with the
// session's input key and checks every record before recording it. Runs on
// the agent's I/O thread.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include "input/input_event.h"
#include "tools/agent-sim/event_log.h"
#include "tools/agent-sim/stream_session.h"

namespace nb {

class InputListener {
public:
    InputListener(asio::io_context& io, EventLog& events);
    ~InputListener();

    bool open(const std::string& address, uint16_t port);
    uint16_t port() const { return port_; }

    // The key datagrams are opened with; nullptr drops them all. Any thread.
    void set_key(const AeadKey* key);

    // Why a record that decrypted is still refused, or nothing when it is a
    // record a well-behaved client sends.
    static std::optional<std::string> check_record(const InputRecordBytes& record);

    uint64_t records_accepted() const { return accepted_.load(); }
    uint64_t datagrams_rejected() const { return rejected_.load(); }

    void close();

private:
    void receive_next();
    void on_datagram(size_t length);
    void reject(const char* reason, size_t length);

    EventLog& events_;
    asio::ip::udp::socket socket_;
    uint16_t port_ = 0;
    std::array<uint8_t, 2048> buffer_{};
    asio::ip::udp::endpoint sender_;

    mutable std::mutex key_mutex_;  // guards key_ and has_key_
    AeadKey key_{};
    bool has_key_ = false;

    // Nonces of recent datagrams: button, wheel and key records come twice
    // on purpose, and the copy is recorded as a duplicate, not a new event.
    std::deque<std::array<uint8_t, 12>> recent_nonces_;
    std::atomic<uint64_t> accepted_{0};
    std::atomic<uint64_t> rejected_{0};
};

}  // namespace nb
