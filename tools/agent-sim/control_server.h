// The TCP listener of the control channel. Accepts any number of clients;
// each gets a ControlConnection. Runs on the agent's I/O thread.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "tools/agent-sim/control_connection.h"

namespace nb {

class ControlServer {
public:
    ControlServer(asio::io_context& io, IControlHandler& handler, EventLog& events);
    ~ControlServer();

    // Binds and listens. False, with the cause logged, when the address or
    // port cannot be used.
    bool listen(const std::string& address, uint16_t port);
    uint16_t port() const { return port_; }

    // Closes every connection but `keep` (0: all). I/O thread only.
    void close_others(uint64_t keep);
    // Stops accepting and closes every connection. I/O thread only.
    void stop();

private:
    void accept_next();

    IControlHandler& handler_;
    EventLog& events_;
    asio::ip::tcp::acceptor acceptor_;
    asio::steady_timer retry_timer_;  // pauses accepting after an error (out of descriptors)
    uint16_t port_ = 0;
    uint64_t next_id_ = 1;
    bool stopped_ = false;
    std::map<uint64_t, std::weak_ptr<ControlConnection>> connections_;
};

}  // namespace nb
