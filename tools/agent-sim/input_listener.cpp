#include "tools/agent-sim/input_listener.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cstring>

#include "net/input_crypto.h"

namespace nb {
namespace {

constexpr size_t k_recent_nonces = 64;

}  // namespace

InputListener::InputListener(asio::io_context& io, EventLog& events) : events_(events), socket_(io) {}

InputListener::~InputListener() { close(); }

bool InputListener::open(const std::string& address, uint16_t port) {
    asio::error_code ec;
    const auto ip = asio::ip::make_address(address, ec);
    if (ec) {
        spdlog::error("InputListener: '{}' is not an IP address", address);
        return false;
    }
    const asio::ip::udp::endpoint endpoint(ip, port);
    socket_.open(endpoint.protocol(), ec);
    if (!ec) socket_.bind(endpoint, ec);
    if (ec) {
        spdlog::error("InputListener: cannot bind {}:{}: {}", address, port, ec.message());
        socket_.close(ec);
        return false;
    }
    port_ = socket_.local_endpoint(ec).port();
    spdlog::info("InputListener: input on {}:{}", address, port_);
    receive_next();
    return true;
}

void InputListener::set_key(const AeadKey* key) {
    std::lock_guard lock(key_mutex_);
    has_key_ = key != nullptr;
    if (key != nullptr) key_ = *key;
}

std::optional<std::string> InputListener::check_record(const InputRecordBytes& record) {
    const auto event = InputEvent::parse(record);
    if (!event) return "unknown version or type";
    if (std::any_of(record.begin() + 17, record.end(), [](uint8_t b) { return b != 0; })) return "reserved bytes set";
    const uint8_t known_buttons = k_button_left | k_button_right | k_button_middle;
    switch (event->type) {
        case InputEventType::mouse_move:
            if (event->buttons & ~known_buttons) return "unknown button bits";
            break;
        case InputEventType::mouse_buttons:
            if (event->buttons & ~known_buttons) return "unknown button bits";
            if (event->x != 0 || event->y != 0) return "payload in a buttons record";
            break;
        case InputEventType::mouse_wheel:
            if (event->x != 0 || event->buttons != 0) return "payload in a wheel record";
            break;
        case InputEventType::key_down:
        case InputEventType::key_up:
            if (event->buttons != 0) return "buttons in a key record";
            if (event->virtual_key() > 0xFF) return "virtual-key code out of range";
            // A release carries the break flag and a press does not.
            if (((event->key_flags() & k_key_flag_break) != 0) != (event->type == InputEventType::key_up))
                return "break flag disagrees with the key record's type";
            break;
    }
    return std::nullopt;
}

void InputListener::receive_next() {
    socket_.async_receive_from(asio::buffer(buffer_), sender_, [this](const asio::error_code& error, size_t length) {
        if (error == asio::error::operation_aborted || !socket_.is_open()) return;
        if (!error) on_datagram(length);
        receive_next();
    });
}

void InputListener::reject(const char* reason, size_t length) {
    const uint64_t n = rejected_.fetch_add(1) + 1;
    if (n <= 5 || n % 100 == 0) {
        spdlog::warn("InputListener: datagram of {} bytes rejected ({}; {} so far)", length, reason, n);
    }
    events_.write("input_rejected", {{"reason", reason}, {"bytes", length}});
}

void InputListener::on_datagram(size_t length) {
    std::optional<AeadKey> key;
    {
        std::lock_guard lock(key_mutex_);
        if (has_key_) key = key_;
    }
    if (!key) return reject("no session", length);
    if (length != k_input_datagram_bytes) return reject("size", length);
    const std::span<const uint8_t> datagram(buffer_.data(), length);
    const auto record = open_input_datagram(*key, datagram);
    if (!record) return reject("authentication", length);
    // The nonce is the record's own seq and time stamp; a sender that builds
    // it otherwise has a bug that would surface as nonce reuse.
    if (std::memcmp(datagram.data(), record->data() + 2, 10) != 0 || datagram[10] != 0 || datagram[11] != 0) {
        return reject("nonce does not match the record", length);
    }
    if (auto problem = check_record(*record)) return reject(problem->c_str(), length);

    std::array<uint8_t, 12> nonce{};
    std::memcpy(nonce.data(), datagram.data(), nonce.size());
    const bool duplicate = std::find(recent_nonces_.begin(), recent_nonces_.end(), nonce) != recent_nonces_.end();
    if (!duplicate) {
        recent_nonces_.push_back(nonce);
        if (recent_nonces_.size() > k_recent_nonces) recent_nonces_.pop_front();
        accepted_.fetch_add(1);
    }
    const auto event = InputEvent::parse(*record);
    spdlog::debug("InputListener: type {} seq {}{}", static_cast<int>(event->type), event->seq,
                  duplicate ? " (copy)" : "");
    events_.write("input", {{"type", static_cast<int>(event->type)},
                            {"seq", event->seq},
                            {"timestamp_us", event->timestamp_us},
                            {"x", event->x},
                            {"y", event->y},
                            {"buttons", event->buttons},
                            {"duplicate", duplicate}});
}

void InputListener::close() {
    asio::error_code ec;
    if (socket_.is_open()) socket_.close(ec);
}

}  // namespace nb
