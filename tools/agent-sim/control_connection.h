// One client on the control channel: newline-framed JSON in both directions,
// "auth" first, then requests, pings and statistics. Runs entirely on the
// agent's I/O thread.
#pragma once

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "tools/agent-sim/control_handler.h"
#include "tools/agent-sim/event_log.h"
#include "tools/agent-sim/line_framer.h"

namespace nb {

class ControlConnection : public std::enable_shared_from_this<ControlConnection> {
public:
    // A line longer than this is not a control message; the peer is cut off.
    static constexpr size_t k_max_line_bytes = 64 * 1024;
    // A client that connects and never authenticates is dropped after this.
    static constexpr int k_auth_deadline_ms = 10000;

    ControlConnection(asio::ip::tcp::socket socket, uint64_t id, IControlHandler& handler, EventLog& events);

    void start();
    // Closes the socket; pending operations finish with an error and the
    // handler hears connection_closed once.
    void close(const char* reason);
    uint64_t id() const { return id_; }

private:
    void read_more();
    void on_bytes(size_t count);
    void handle_line(std::string_view line);
    void handle_auth(const nlohmann::json& message);
    void handle_ping(const nlohmann::json& message);
    void handle_stats(const nlohmann::json& message);
    void handle_settings(const nlohmann::json& message);
    void reject(const std::string& error);
    void send(const nlohmann::json& message);
    void write_next();

    asio::ip::tcp::socket socket_;
    asio::steady_timer auth_timer_;
    const uint64_t id_;
    IControlHandler& handler_;
    EventLog& events_;
    std::string peer_;
    std::array<char, 4096> read_buffer_{};
    LineFramer framer_{k_max_line_bytes};
    bool authenticated_ = false;
    bool closed_ = false;
    bool close_after_write_ = false;
    bool writing_ = false;
    std::deque<std::string> write_queue_;
    uint64_t bad_lines_ = 0;
};

}  // namespace nb
