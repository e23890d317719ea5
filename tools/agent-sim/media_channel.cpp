#include "tools/agent-sim/media_channel.h"

#include <poll.h>
#include <sodium.h>
#include <spdlog/spdlog.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>


namespace nb {
namespace {

std::string endpoint_text(const asio::ip::udp::endpoint& endpoint) {
    return endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
}

// Bursts of a large key frame outrun a default send buffer on a fast link.
constexpr int k_send_buffer_bytes = 4 * 1024 * 1024;
constexpr int k_full_buffer_wait_ms = 20;

}  // namespace

MediaChannel::MediaChannel(asio::io_context& io, std::string stream, EventLog& events)
    : stream_(std::move(stream)), events_(events), socket_(io) {}

MediaChannel::~MediaChannel() { close(); }

bool MediaChannel::open(const std::string& address, uint16_t port) {
    asio::error_code ec;
    const auto ip = asio::ip::make_address(address, ec);
    if (ec) {
        spdlog::error("MediaChannel: '{}' is not an IP address", address);
        return false;
    }
    const asio::ip::udp::endpoint endpoint(ip, port);
    socket_.open(endpoint.protocol(), ec);
    if (!ec) socket_.bind(endpoint, ec);
    if (ec) {
        spdlog::error("MediaChannel: cannot bind {} port {}:{}: {}", stream_, address, port, ec.message());
        socket_.close(ec);
        return false;
    }
    socket_.set_option(asio::socket_base::send_buffer_size(k_send_buffer_bytes), ec);
    port_ = socket_.local_endpoint(ec).port();
    spdlog::info("MediaChannel: {} probes on {}:{}", stream_, address, port_);
    receive_next();
    return true;
}

void MediaChannel::set_session(uint64_t session, const AeadKey* key) {
    std::lock_guard lock(mutex_);
    session_ = session;
    has_token_ = key != nullptr;
    if (key != nullptr) std::memcpy(token_.data(), key->data(), token_.size());
    peer_.reset();
}

void MediaChannel::set_endpoint_callback(std::function<void(const asio::ip::udp::endpoint&)> callback) {
    std::lock_guard lock(mutex_);
    endpoint_callback_ = std::move(callback);
}

std::optional<asio::ip::udp::endpoint> MediaChannel::peer() const {
    std::lock_guard lock(mutex_);
    return peer_;
}

void MediaChannel::receive_next() {
    socket_.async_receive_from(asio::buffer(buffer_), sender_, [this](const asio::error_code& error, size_t length) {
        if (error == asio::error::operation_aborted || !socket_.is_open()) return;
        if (!error) on_probe(length);
        // Other errors (an ICMP unreachable reported on the socket) are
        // transient: keep listening.
        receive_next();
    });
}

void MediaChannel::on_probe(size_t length) {
    const std::string from = endpoint_text(sender_);
    const char* reason = nullptr;
    std::function<void(const asio::ip::udp::endpoint&)> notify;
    uint64_t session = 0;
    bool moved = false;
    {
        std::lock_guard lock(mutex_);
        session = session_;
        if (length != k_probe_bytes && length != k_probe_magic.size()) reason = "size";
        else if (std::memcmp(buffer_.data(), k_probe_magic.data(), k_probe_magic.size()) != 0) reason = "magic";
        else if (!has_token_) reason = "no session";
        else if (length != k_probe_bytes) reason = "no token";
        else if (sodium_memcmp(buffer_.data() + 4, token_.data(), token_.size()) != 0) reason = "token";
        if (reason == nullptr) {
            moved = !peer_ || *peer_ != sender_;
            peer_ = sender_;
            if (moved) notify = endpoint_callback_;
        }
    }
    if (reason != nullptr) {
        const uint64_t n = probes_rejected_.fetch_add(1) + 1;
        if (n <= 5 || n % 100 == 0) {
            spdlog::warn("MediaChannel: {} probe from {} rejected ({}; {} rejected so far)", stream_, from, reason, n);
        }
        events_.write("probe", {{"stream", stream_}, {"from", from}, {"accepted", false}, {"reason", reason}});
        return;
    }
    probes_accepted_.fetch_add(1);
    events_.write("probe", {{"stream", stream_}, {"from", from}, {"accepted", true}, {"session", session},
                            {"new_endpoint", moved}});
    if (moved) {
        spdlog::info("MediaChannel: {} stream of session {} goes to {}", stream_, session, from);
        if (notify) notify(sender_);
    }
}

size_t MediaChannel::send(std::span<const std::vector<uint8_t>> datagrams) {
    const auto target = peer();
    if (!target) return 0;
    const int fd = socket_.native_handle();
    size_t sent = 0;
    for (const auto& datagram : datagrams) {
        bool done = false;
        for (int attempt = 0; attempt < 2 && !done; ++attempt) {
            const ssize_t rc = ::sendto(fd, datagram.data(), datagram.size(), MSG_DONTWAIT,
                                        static_cast<const sockaddr*>(target->data()),
                                        static_cast<socklen_t>(target->size()));
            if (rc >= 0) {
                done = true;
                break;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                const uint64_t n = send_failures_.fetch_add(1) + 1;
                if (n <= 5 || n % 1000 == 0) {
                    spdlog::warn("MediaChannel: {} send to {} failed: {} ({} failures)", stream_,
                                 endpoint_text(*target), std::strerror(errno), n);
                }
                break;
            }
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, k_full_buffer_wait_ms);
        }
        if (done) ++sent;
    }
    datagrams_sent_.fetch_add(sent);
    return sent;
}

void MediaChannel::close() {
    asio::error_code ec;
    if (socket_.is_open()) socket_.close(ec);
}

}  // namespace nb
