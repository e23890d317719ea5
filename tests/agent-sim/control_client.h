// A blocking line-by-line TCP client of the agent's control channel.
#pragma once

#include <asio.hpp>
#include <sys/socket.h>

#include <string>

#include <nlohmann/json.hpp>

namespace nb::test {

class ControlClient {
public:
    explicit ControlClient(uint16_t port) : socket_(io_) {
        socket_.connect({asio::ip::make_address("127.0.0.1"), port});
        // A broken agent must fail the test, not hang it.
        timeval limit{10, 0};
        ::setsockopt(socket_.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    }

    void send_raw(const std::string& bytes) {
        asio::error_code ec;
        asio::write(socket_, asio::buffer(bytes), ec);
    }
    void send_line(const std::string& line) { send_raw(line + "\n"); }
    void send(const nlohmann::json& message) { send_line(message.dump()); }

    // The next line as JSON; null when the agent closed the connection.
    nlohmann::json read() {
        asio::error_code ec;
        const size_t n = asio::read_until(socket_, buffer_, '\n', ec);
        if (ec) return nullptr;
        std::string line(asio::buffers_begin(buffer_.data()), asio::buffers_begin(buffer_.data()) + n - 1);
        buffer_.consume(n);
        return nlohmann::json::parse(line, nullptr, false);
    }

    bool closed_by_agent() {
        while (!read().is_null()) {
        }
        return true;
    }

private:
    asio::io_context io_;
    asio::ip::tcp::socket socket_;
    asio::streambuf buffer_;
};

inline nlohmann::json auth_message(const std::string& token, int codec, int width, int height, int fps, int bitrate) {
    return {{"bitrate", bitrate}, {"codec", codec}, {"fps", fps},       {"height", height},
            {"token", token},     {"type", "auth"}, {"udp_ip", "127.0.0.1"}, {"width", width}};
}

}  // namespace nb::test
