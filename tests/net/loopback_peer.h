// A plain loopback UDP socket playing the agent.
#pragma once

#include <asio.hpp>

#include <array>
#include <vector>

#include "tests/support/eventually.h"

namespace nb::test {

class Peer {
public:
    explicit Peer(asio::io_context& io) : socket_(io, {asio::ip::make_address_v4("127.0.0.1"), 0}) {
        socket_.non_blocking(true);
    }
    uint16_t port() const { return socket_.local_endpoint().port(); }
    void send(const std::vector<uint8_t>& bytes, uint16_t to) {
        socket_.send_to(asio::buffer(bytes), asio::ip::udp::endpoint(asio::ip::make_address_v4("127.0.0.1"), to));
    }
    // Datagrams waiting right now.
    std::vector<std::vector<uint8_t>> drain() {
        std::vector<std::vector<uint8_t>> out;
        std::array<uint8_t, 2048> buffer;
        asio::ip::udp::endpoint from;
        asio::error_code ec;
        for (size_t n; (n = socket_.receive_from(asio::buffer(buffer), from, 0, ec)), !ec;) {
            out.emplace_back(buffer.begin(), buffer.begin() + n);
        }
        return out;
    }
    // Everything that arrives until at least `n` datagrams have come.
    std::vector<std::vector<uint8_t>> collect(size_t n) {
        std::vector<std::vector<uint8_t>> out;
        eventually([&] {
            for (auto& d : drain()) out.push_back(std::move(d));
            return out.size() >= n;
        });
        return out;
    }

private:
    asio::ip::udp::socket socket_;
};

}  // namespace nb::test
