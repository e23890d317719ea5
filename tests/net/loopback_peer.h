// A plain loopback UDP socket playing the agent, and polling with a deadline.
#pragma once

#include <asio.hpp>

#include <array>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

namespace nb::test {

// Polls until `done`; the deadline only keeps a broken build from hanging.
inline bool wait_for(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

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
        wait_for([&] {
            for (auto& d : drain()) out.push_back(std::move(d));
            return out.size() >= n;
        });
        return out;
    }

private:
    asio::ip::udp::socket socket_;
};

}  // namespace nb::test
