// Agent replies, a control channel tuned for quick failures and the I/O
// thread that serves it, shared by the control-channel suites.
#pragma once

#include <sodium.h>

#include <asio.hpp>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "session/control_channel.h"
#include "tests/support/eventually.h"
#include "tests/support/fake_tcp_peer.h"

namespace nb::test {

// Standard base64 of `length` bytes of `fill`, as the agent sends keys.
inline std::string key_text(size_t length, uint8_t fill) {
    const std::vector<uint8_t> bytes(length, fill);
    std::string out(sodium_base64_encoded_len(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(out.data(), out.size(), bytes.data(), bytes.size(), sodium_base64_VARIANT_ORIGINAL);
    out.resize(out.size() - 1);  // the terminating NUL
    return out;
}

inline std::string ready_reply(const std::string& extra_members = "") {
    return R"({"type":"session_ready","video_key":")" + key_text(32, 1) + R"(","audio_key":")" +
           key_text(32, 2) + R"(","input_key":")" + key_text(32, 3) + "\"" + extra_members + "}\n";
}

// A peer that reads the auth line, answers with `reply` and then plays
// `then`, by default recording whatever else the client sends until it closes.
inline FakeTcpPeer::Script answer_with(std::string reply, FakeTcpPeer::Script then = [](FakeTcpPeer& peer, int fd) {
    peer.drain(fd);
}) {
    return [reply, then](FakeTcpPeer& peer, int fd) {
        peer.read_line(fd);
        FakeTcpPeer::send_all(fd, reply);
        then(peer, fd);
    };
}

inline ControlTuning quick_tuning() {
    return {.connect_attempts = 3, .connect_retry_pause_ms = 20, .step_timeout_ms = 400};
}

inline ConnectionParams params_for(uint16_t port, std::string token = "t") {
    return {.host = "127.0.0.1", .port = port, .token = std::move(token)};
}

// A channel on its own I/O context. The handshake drives the context on the
// test thread; serve() then hands it to one I/O thread, as a session does.
class ChannelRig {
public:
    explicit ChannelRig(ControlTuning tuning = quick_tuning(), HostResolver resolver = {})
        : channel(io, tuning, std::move(resolver)) {}
    ~ChannelRig() {
        if (thread_.joinable()) channel.close();
        guard_.reset();
        io.stop();
        if (thread_.joinable()) thread_.join();
    }
    ChannelRig(const ChannelRig&) = delete;
    ChannelRig& operator=(const ChannelRig&) = delete;

    bool handshake(const ConnectionParams& params) { return channel.handshake(params, keys); }
    bool handshake(uint16_t port) { return handshake(params_for(port)); }

    void serve() {
        io.restart();
        guard_.emplace(asio::make_work_guard(io));
        thread_ = std::thread([this] { io.run(); });
    }

    asio::io_context io;
    ControlChannel channel;
    SessionKeys keys;

private:
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> guard_;
    std::thread thread_;
};

}  // namespace nb::test
