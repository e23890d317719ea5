#include "net/datagram_batch.h"

#include <winsock2.h>
#include <mstcpip.h>
#include <ws2tcpip.h>

#include <array>
#include <system_error>

namespace nb {

// Winsock has no batch receive: the batch is filled by non-blocking
// receives until the queue is empty or the batch full.
struct DatagramBatch::Slots {
    std::array<std::array<uint8_t, k_slot_bytes>, k_capacity> buffers;
    std::array<sockaddr_in, k_capacity> senders;
    std::array<size_t, k_capacity> lengths;
    std::array<bool, k_capacity> cut;
};

DatagramBatch::DatagramBatch() : slots_(std::make_unique<Slots>()) {}

DatagramBatch::~DatagramBatch() = default;

// Winsock turns an ICMP port-unreachable about an earlier probe into an
// error on the next receive, again and again while the agent is not yet
// listening; switched off.
void DatagramBatch::prepare_socket(asio::ip::udp::socket::native_handle_type socket) {
    BOOL report = FALSE;
    DWORD returned = 0;
    ::WSAIoctl(socket, SIO_UDP_CONNRESET, &report, sizeof(report), nullptr, 0, &returned, nullptr, nullptr);
}

int DatagramBatch::receive(asio::ip::udp::socket::native_handle_type socket) {
    int taken = 0;
    while (static_cast<size_t>(taken) < k_capacity) {
        const auto i = static_cast<size_t>(taken);
        int sender_length = sizeof(sockaddr_in);
        const int received = ::recvfrom(socket, reinterpret_cast<char*>(slots_->buffers[i].data()),
                                        static_cast<int>(k_slot_bytes), 0,
                                        reinterpret_cast<sockaddr*>(&slots_->senders[i]), &sender_length);
        if (received >= 0) {
            slots_->lengths[i] = static_cast<size_t>(received);
            slots_->cut[i] = false;
            ++taken;
            continue;
        }
        const int error = WSAGetLastError();
        if (error == WSAEMSGSIZE) {
            slots_->lengths[i] = k_slot_bytes;
            slots_->cut[i] = true;
            ++taken;
            continue;
        }
        if (taken > 0) break;  // what came before the error is kept; the error comes back next time
        failure_text_.clear();
        if (error == WSAEWOULDBLOCK || error == WSAEINTR) {
            failure_ = Failure::would_block;
        } else if (error == WSAECONNRESET) {
            failure_ = Failure::connection_reset;
        } else {
            failure_ = Failure::other;
            failure_text_ = std::system_category().message(error);
        }
        return -1;
    }
    failure_ = Failure::none;
    return taken;
}

const uint8_t* DatagramBatch::data(size_t i) const { return slots_->buffers[i].data(); }

size_t DatagramBatch::length(size_t i) const { return slots_->lengths[i]; }

bool DatagramBatch::truncated(size_t i) const { return slots_->cut[i]; }

asio::ip::udp::endpoint DatagramBatch::sender(size_t i) const {
    const sockaddr_in& address = slots_->senders[i];
    return {asio::ip::address_v4(ntohl(address.sin_addr.s_addr)), ntohs(address.sin_port)};
}

}  // namespace nb
