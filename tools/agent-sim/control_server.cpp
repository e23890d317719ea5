#include "tools/agent-sim/control_server.h"

#include <spdlog/spdlog.h>

namespace nb {

ControlServer::ControlServer(asio::io_context& io, IControlHandler& handler, EventLog& events)
    : handler_(handler), events_(events), acceptor_(io), retry_timer_(io) {}

ControlServer::~ControlServer() {
    asio::error_code ec;
    acceptor_.close(ec);
}

bool ControlServer::listen(const std::string& address, uint16_t port) {
    asio::error_code ec;
    const auto ip = asio::ip::make_address(address, ec);
    if (ec) {
        spdlog::error("ControlServer: '{}' is not an IP address", address);
        return false;
    }
    const asio::ip::tcp::endpoint endpoint(ip, port);
    acceptor_.open(endpoint.protocol(), ec);
    if (!ec) acceptor_.set_option(asio::ip::tcp::acceptor::reuse_address(true), ec);
    if (!ec) acceptor_.bind(endpoint, ec);
    if (!ec) acceptor_.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        spdlog::error("ControlServer: cannot listen on {}:{}: {}", address, port, ec.message());
        acceptor_.close(ec);
        return false;
    }
    port_ = acceptor_.local_endpoint(ec).port();
    spdlog::info("ControlServer: listening on {}:{}", address, port_);
    accept_next();
    return true;
}

void ControlServer::accept_next() {
    acceptor_.async_accept([this](const asio::error_code& error, asio::ip::tcp::socket socket) {
        if (stopped_ || error == asio::error::operation_aborted) return;
        if (error) {
            // Typically out of descriptors: retrying at once would spin.
            spdlog::warn("ControlServer: accept failed: {}", error.message());
            retry_timer_.expires_after(std::chrono::milliseconds(100));
            retry_timer_.async_wait([this](const asio::error_code& e) {
                if (!e && !stopped_) accept_next();
            });
            return;
        }
        {
            // Forget connections that have gone, so the map stays small.
            std::erase_if(connections_, [](const auto& entry) { return entry.second.expired(); });
            auto connection = std::make_shared<ControlConnection>(std::move(socket), next_id_++, handler_, events_);
            connections_[connection->id()] = connection;
            connection->start();
        }
        accept_next();
    });
}

void ControlServer::close_others(uint64_t keep) {
    for (auto& [id, weak] : connections_) {
        if (id == keep) continue;
        if (auto connection = weak.lock()) connection->close(keep != 0 ? "superseded by a newer session" : "agent stopping");
    }
}

void ControlServer::stop() {
    if (stopped_) return;
    stopped_ = true;
    asio::error_code ec;
    acceptor_.close(ec);
    retry_timer_.cancel();
    close_others(0);
    connections_.clear();
}

}  // namespace nb
