// Encrypt-and-send of input records on a non-blocking CS7-marked socket.

#include "net/input_sender.h"

#include <sodium.h>
#include <spdlog/spdlog.h>

#include <algorithm>

#include "common/log_text.h"

namespace nb {

namespace {
// DSCP 56 (class CS7) with ECN 0: input is the most latency-critical traffic.
constexpr int k_input_tos = 0xE0;
using TypeOfService = asio::detail::socket_option::integer<IPPROTO_IP, IP_TOS>;
}  // namespace

InputSender::InputSender(asio::io_context& io, uint16_t remote_port, const std::string& bind_address)
    : io_(io), channel_(std::make_shared<Channel>(io)), remote_port_(remote_port) {
    if (sodium_init() < 0) spdlog::critical("InputSender: libsodium initialization failed");
    auto& socket = channel_->socket;
    socket.open(asio::ip::udp::v4());
    socket.bind(asio::ip::udp::endpoint(asio::ip::make_address_v4(bind_address), 0));
    local_port_ = socket.local_endpoint().port();
}

InputSender::~InputSender() {
    stop();
    std::lock_guard lock(channel_->mutex);
    asio::error_code ignored;
    channel_->socket.close(ignored);
    sodium_memzero(key_.data(), key_.size());
}

bool InputSender::connect(const std::string& host) {
    try {
        asio::ip::udp::resolver resolver(io_);
        asio::error_code ec;
        if (host.empty()) {
            // The resolver would answer with the local host, never the agent.
            spdlog::error("InputSender: resolve {}:{} failed: {}", log_safe(host), remote_port_, "empty host name");
            return false;
        }
        const auto results = resolver.resolve(asio::ip::udp::v4(), host, std::to_string(remote_port_), ec);
        if (ec) {
            spdlog::error("InputSender: resolve {}:{} failed: {}", log_safe(host), remote_port_, ec.message());
            return false;
        }
        if (results.empty()) {
            spdlog::error("InputSender: resolve {}:{} failed: {}", log_safe(host), remote_port_, "no endpoints");
            return false;
        }
        remote_ = results.begin()->endpoint();
        {
            std::lock_guard lock(channel_->mutex);
            asio::error_code ignored;
            channel_->socket.set_option(TypeOfService(k_input_tos), ignored);
            // Non-blocking before the sender counts as connected, so a failure
            // here never leaves a "running" sender that could block a caller.
            channel_->socket.non_blocking(true, ec);
        }
        if (ec) throw asio::system_error(ec, "non_blocking");
        running_.store(true);
        spdlog::info("InputSender: connected to {}:{} (DSCP=CS7)", log_safe(host), remote_port_);
        return true;
    } catch (const std::exception& e) {
        spdlog::error("InputSender: connect failed: {}", e.what());
        return false;
    }
}

bool InputSender::set_key(std::span<const uint8_t> key) {
    if (key.empty()) {
        spdlog::warn("Launcher: input key is EMPTY — input events will be dropped");
        return false;
    }
    if (key.size() != key_.size()) {
        spdlog::error("InputSender: invalid key length {}", key.size());
        return false;
    }
    std::copy(key.begin(), key.end(), key_.begin());
    key_set_.store(true, std::memory_order_release);
    spdlog::info("InputSender: encryption key set");
    return true;
}

void InputSender::send_events(std::span<const InputEvent> events) {
    for (const InputEvent& event : events) {
        if (!running_.load()) continue;
        if (!key_set_.load(std::memory_order_acquire)) {
            if (!key_missing_warned_.exchange(true)) {
                spdlog::error("InputSender: encryption key not set — dropping input events");
            }
            continue;
        }
        transmit(event);
        const auto type = static_cast<uint8_t>(event.type);
        if (type >= 1 && type <= 4) transmit(event);
    }
}

void InputSender::send_event(const InputEvent& event) {
    if (!running_.load() || !key_set_.load(std::memory_order_acquire)) return;
    transmit(event);
}

bool InputSender::transmit(const InputEvent& event) {
    const InputDatagram datagram = seal_input_datagram(key_, event.to_bytes());
    std::lock_guard lock(channel_->mutex);
    asio::error_code ec;
    channel_->socket.send_to(asio::buffer(datagram), remote_, 0, ec);
    if (!ec) {
        packets_sent_.fetch_add(1, std::memory_order_relaxed);
        return true;
    }
    if (ec == asio::error::would_block || ec == asio::error::try_again) {
        spdlog::trace("InputSender: send buffer full — dropping packet");
    } else {
        spdlog::trace("InputSender: send error: {}", ec.message());
    }
    return false;
}

void InputSender::stop() {
    if (!running_.exchange(false)) return;
    asio::post(io_, [channel = channel_] {
        std::lock_guard lock(channel->mutex);
        asio::error_code ignored;
        channel->socket.cancel(ignored);
        channel->socket.close(ignored);
    });
    spdlog::info("InputSender: stopped ({} packets sent)", packets_sent());
}

}  // namespace nb
