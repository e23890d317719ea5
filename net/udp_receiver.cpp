// Receive loop that takes whatever the socket holds in batches, and the probe
// timer, both on the session's I/O threads.

#include "net/udp_receiver.h"

#include <spdlog/spdlog.h>

#include <cstring>
#include <system_error>

#include "common/log_text.h"
#include "common/thread_exit.h"
#include "net/datagram_batch.h"

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
    // net.core.rmem_max, so what we got may be far less than we asked for:
    // worth knowing when a flood makes the kernel drop packets.
    asio::socket_base::receive_buffer_size granted;
    socket_.get_option(granted, ec);
    if (!ec) {
        receive_buffer_bytes_ = granted.value();
        spdlog::info("UdpReceiver: receive buffer {} KiB asked, {} KiB granted on port {}",
                     k_receive_buffer_bytes / 1024, granted.value() / 1024, local_port_);
        if (granted.value() < k_receive_buffer_bytes) {
            spdlog::info("UdpReceiver: raise net.core.rmem_max to at least {} for a larger buffer",
                         k_receive_buffer_bytes);
        }
    }
    // Batches are taken without waiting; the receive loop waits in asio.
    socket_.non_blocking(true, ec);
    if (ec) throw asio::system_error(ec, "non_blocking");
    DatagramBatch::prepare_socket(socket_.native_handle());
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
            spdlog::warn("UdpReceiver: probe resolve failed for {}:{} — {}", log_safe(host), port,
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
        spdlog::info("UdpReceiver: starting probe loop → {}:{} every {}ms", log_safe(host), port, probe_interval_ms_);
        socket_.send_to(asio::buffer(probe_.data(), probe_length_), probe_target_, 0, ec);
        if (ec) {
            spdlog::warn("UdpReceiver: first probe send failed: {}", ec.message());
        } else {
            spdlog::info("UdpReceiver: sent hole-punch probe → {}:{}", log_safe(host), port);
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
    socket_.async_wait(asio::ip::udp::socket::wait_read,
                       [self = shared_from_this()](const asio::error_code& error) { self->on_readable(error); });
}

void UdpReceiver::on_readable(const asio::error_code& error) {
    if (error == asio::error::operation_aborted) return;
    std::lock_guard delivery(delivery_mutex_);
    // One batch per I/O thread: it is filled and handled on the thread that
    // woke up, so no other thread ever touches it and nothing needs copying
    // before the next wait is armed.
    thread_local DatagramBatch* thread_batch = nullptr;
    if (!thread_batch) {
        thread_batch = new DatagramBatch;
        at_thread_exit([](void* object) { delete static_cast<DatagramBatch*>(object); }, thread_batch);
    }
    DatagramBatch& batch = *thread_batch;
    int received = 0;
    if (!error && running_.load()) received = batch.receive(socket_.native_handle());
    {
        // Re-arm before handing the datagrams on: the next wake-up is queued
        // at once, and the thread that takes it reads its batch as soon as
        // this one has been handed on (delivery_mutex_).
        std::lock_guard lock(socket_mutex_);
        arm_receive();
    }
    if (error) {
        spdlog::warn("UdpReceiver: recv error: {}", error.message());
        return;
    }
    if (received < 0) {
        switch (batch.failure()) {
            case DatagramBatch::Failure::connection_reset:
                spdlog::debug("UdpReceiver: ECONNREFUSED (stale ICMP) - resuming");
                return;
            case DatagramBatch::Failure::other:
                spdlog::warn("UdpReceiver: recv error: {}", batch.failure_text());
                return;
            default:
                return;
        }
    }
    for (int i = 0; i < received; ++i) {
        const auto slot = static_cast<size_t>(i);
        const size_t length = batch.length(slot);
        // Longer than any slot: the kernel cut it, and a cut datagram can
        // only fail its checks further on.
        if (batch.truncated(slot)) {
            spdlog::trace("UdpReceiver: oversized datagram ({} bytes kept), dropping", length);
            continue;
        }
        if (length < k_min_datagram_bytes) {
            spdlog::trace("UdpReceiver: runt packet ({} bytes), dropping", length);
            continue;
        }
        deliver(batch.data(slot), length, batch.sender(slot));
    }
}

void UdpReceiver::deliver(const uint8_t* data, size_t length, const asio::ip::udp::endpoint& sender) {
    packets_received_.fetch_add(1, std::memory_order_relaxed);
    bytes_received_.fetch_add(length, std::memory_order_relaxed);
    if (!handler_) return;
    // This runs on a session I/O thread: an escaping exception would end the
    // thread's run loop, so the datagram is given up instead.
    try {
        handler_(data, length, sender);
    } catch (const std::exception& e) {
        spdlog::error("UdpReceiver: handler exception: {}", log_safe(e.what()));
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
