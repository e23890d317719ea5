// Receive loop over two alternating slots and the probe timer, both on the
// session's I/O threads.

#include "net/udp_receiver.h"

#include <spdlog/spdlog.h>

#include <cstring>

namespace nb {

std::shared_ptr<UdpReceiver> UdpReceiver::create(asio::io_context& io, uint16_t port, ProbeTiming timing,
                                                 const std::string& bind_address) {
    return std::make_shared<UdpReceiver>(Passkey{}, io, port, timing, bind_address);
}

UdpReceiver::UdpReceiver(Passkey, asio::io_context& io, uint16_t port, ProbeTiming timing,
                         const std::string& bind_address)
    : io_(io), socket_(io), timing_(timing), probe_interval_ms_(timing.initial_interval_ms) {
    asio::error_code ec;
    socket_.open(asio::ip::udp::v4(), ec);
    if (ec) throw asio::system_error(ec, "open");
    const auto address = asio::ip::make_address_v4(bind_address, ec);
    if (ec) throw asio::system_error(ec, "bind");
    socket_.bind(asio::ip::udp::endpoint(address, port), ec);
    if (ec) throw asio::system_error(ec, "bind");
    socket_.set_option(asio::socket_base::receive_buffer_size(k_receive_buffer_bytes), ec);
    if (ec) throw asio::system_error(ec, "set_option");
    local_port_ = socket_.local_endpoint().port();

    // Linux doubles the request for its bookkeeping and caps it at
    // net.core.rmem_max, so what we got may differ from what we asked for.
    asio::socket_base::receive_buffer_size granted;
    socket_.get_option(granted, ec);
    if (!ec) {
        spdlog::debug("UdpReceiver: receive buffer {} bytes granted on port {} (asked {})", granted.value(),
                      local_port_, k_receive_buffer_bytes);
    }
    // No counterpart of a connection-reset switch is needed: an unconnected
    // UDP socket on Linux gets no ICMP-induced receive errors.
    spdlog::info("UdpReceiver: bound to port {}", local_port_);
}

UdpReceiver::~UdpReceiver() {
    stop();
    asio::error_code ignored;
    socket_.close(ignored);
}

void UdpReceiver::set_handler(DatagramHandler handler) { handler_ = std::move(handler); }

void UdpReceiver::set_probe_token(const uint8_t* token, size_t length) {
    std::memcpy(probe_.data(), "NBP1", 4);
    if (token != nullptr && length >= 8) {
        std::memcpy(probe_.data() + 4, token, 8);
        probe_length_ = 12;
    } else {
        probe_length_ = 4;
        spdlog::warn("UdpReceiver: probe token missing/short — using magic-only probe");
    }
}

void UdpReceiver::start_probe(const std::string& host, uint16_t port) {
    try {
        asio::ip::udp::resolver resolver(io_);
        asio::error_code ec;
        // The resolver would take an empty name for the local host; that is
        // never the agent, so it counts as a failed lookup.
        asio::ip::udp::resolver::results_type results;
        if (!host.empty()) results = resolver.resolve(asio::ip::udp::v4(), host, std::to_string(port), ec);
        if (ec || results.empty()) {
            spdlog::warn("UdpReceiver: probe resolve failed for {}:{} — {}", host, port,
                         ec ? ec.message() : std::string(host.empty() ? "empty host name" : "no endpoints"));
            return;
        }
        probe_target_ = results.begin()->endpoint();
        probe_interval_ms_ = timing_.initial_interval_ms;
        probe_active_.store(true);
        auto timer = std::make_shared<asio::steady_timer>(io_);
        std::lock_guard lock(socket_mutex_);
        if (probe_timer_) probe_timer_->cancel();
        probe_timer_ = timer;
        spdlog::info("UdpReceiver: starting probe loop → {}:{} every {}ms", host, port, probe_interval_ms_);
        socket_.send_to(asio::buffer(probe_.data(), probe_length_), probe_target_, 0, ec);
        if (ec) {
            spdlog::warn("UdpReceiver: first probe send failed: {}", ec.message());
        } else {
            spdlog::info("UdpReceiver: sent hole-punch probe → {}:{}", host, port);
        }
        arm_probe_timer(timer, probe_interval_ms_);
    } catch (const std::exception& e) {
        spdlog::warn("UdpReceiver: probe loop start exception: {}", e.what());
    }
}

// Called with socket_mutex_ held.
void UdpReceiver::arm_probe_timer(const std::shared_ptr<asio::steady_timer>& timer, uint32_t period_ms) {
    timer->expires_after(std::chrono::milliseconds(period_ms));
    timer->async_wait([self = shared_from_this(), timer](const asio::error_code& error) {
        self->on_probe_timer(timer, error);
    });
}

void UdpReceiver::on_probe_timer(const std::shared_ptr<asio::steady_timer>& timer, const asio::error_code& error) {
    if (error || !probe_active_.load()) return;
    const uint32_t period_ms = packets_received() != 0 ? timing_.keepalive_interval_ms : probe_interval_ms_;
    std::lock_guard lock(socket_mutex_);
    // A later start_probe replaced this timer, or stop() ran meanwhile.
    if (timer != probe_timer_ || !probe_active_.load()) return;
    asio::error_code ec;
    socket_.send_to(asio::buffer(probe_.data(), probe_length_), probe_target_, 0, ec);
    if (ec) {
        spdlog::debug("UdpReceiver: probe send error: {}", ec.message());
    } else {
        spdlog::trace("UdpReceiver: probe sent (pkts_rx={})", packets_received());
    }
    arm_probe_timer(timer, period_ms);
}

void UdpReceiver::start() {
    if (running_.exchange(true)) return;
    spdlog::info("UdpReceiver: starting async receive loop");
    std::lock_guard lock(socket_mutex_);
    arm_receive();
}

// Called with socket_mutex_ held.
void UdpReceiver::arm_receive() {
    if (!running_.load()) return;
    const size_t slot = next_slot_;
    socket_.async_receive_from(asio::buffer(slots_[slot]), senders_[slot],
                               [self = shared_from_this(), slot](const asio::error_code& error, size_t length) {
                                   self->on_receive(slot, error, length);
                               });
}

void UdpReceiver::on_receive(size_t slot, const asio::error_code& error, size_t length) {
    // A stack copy lets the slot be reused by the very next receive while
    // this datagram is still being handled, without a heap allocation.
    std::array<uint8_t, k_slot_bytes> datagram;
    asio::ip::udp::endpoint sender;
    const bool accepted = !error && length >= k_min_datagram_bytes;
    if (accepted) {
        std::memcpy(datagram.data(), slots_[slot].data(), length);
        sender = senders_[slot];
    }
    {
        // Re-arm before handing the datagram on, so a slow handler never
        // stalls the socket.
        std::lock_guard lock(socket_mutex_);
        next_slot_ = slot ^ 1;
        arm_receive();
    }
    if (error) {
        if (error == asio::error::operation_aborted) return;
        if (error == asio::error::connection_refused || error == asio::error::connection_reset) {
            spdlog::debug("UdpReceiver: ECONNREFUSED (stale ICMP) - resuming");
            return;
        }
        spdlog::warn("UdpReceiver: recv error: {}", error.message());
        return;
    }
    if (!accepted) {
        spdlog::trace("UdpReceiver: runt packet ({} bytes), dropping", length);
        return;
    }
    packets_received_.fetch_add(1, std::memory_order_relaxed);
    bytes_received_.fetch_add(length, std::memory_order_relaxed);
    if (!handler_) return;
    // This runs on a session I/O thread: an escaping exception would end the
    // thread's run loop, so the datagram is given up instead.
    try {
        handler_(datagram.data(), length, sender);
    } catch (const std::exception& e) {
        spdlog::error("UdpReceiver: handler exception: {}", e.what());
    } catch (...) {
        spdlog::error("UdpReceiver: handler exception: unknown");
    }
}

void UdpReceiver::stop() {
    // The probe loop may run without the receive loop; it ends here too, or
    // its timer would keep the receiver alive for the whole session.
    const bool was_running = running_.exchange(false);
    const bool was_probing = probe_active_.exchange(false);
    if (!was_running && !was_probing) return;
    {
        std::lock_guard lock(socket_mutex_);
        if (probe_timer_) probe_timer_->cancel();
        asio::error_code ignored;
        socket_.cancel(ignored);
    }
    if (was_running) {
        spdlog::info("UdpReceiver: stopped (pkts={}, bytes={})", packets_received(), bytes_received());
    }
}

}  // namespace nb
