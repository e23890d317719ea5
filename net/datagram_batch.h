// Takes the datagrams queued on a UDP socket, up to a batch at a time,
// without waiting: one system call per batch where the system has one.
#pragma once

#include <asio.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace nb {

class DatagramBatch {
public:
    static constexpr size_t k_capacity = 32;
    static constexpr size_t k_slot_bytes = 2048;

    enum class Failure {
        none,
        would_block,       // nothing queued (or interrupted): wait again
        connection_reset,  // a stale ICMP report about an earlier send
        other,
    };

    DatagramBatch();
    ~DatagramBatch();
    DatagramBatch(const DatagramBatch&) = delete;
    DatagramBatch& operator=(const DatagramBatch&) = delete;

    // Readies a bound socket for receive(): ICMP reports about earlier
    // sends must not end up as receive errors.
    static void prepare_socket(asio::ip::udp::socket::native_handle_type socket);

    // The number of datagrams taken, or -1 with failure() set.
    int receive(asio::ip::udp::socket::native_handle_type socket);

    const uint8_t* data(size_t i) const;
    size_t length(size_t i) const;
    // Longer than its slot: the system cut it.
    bool truncated(size_t i) const;
    asio::ip::udp::endpoint sender(size_t i) const;

    Failure failure() const { return failure_; }
    const std::string& failure_text() const { return failure_text_; }

private:
    struct Slots;
    std::unique_ptr<Slots> slots_;
    Failure failure_ = Failure::none;
    std::string failure_text_;
};

}  // namespace nb
