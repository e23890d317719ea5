#include "net/datagram_batch.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <system_error>

namespace nb {

struct DatagramBatch::Slots {
    std::array<std::array<uint8_t, k_slot_bytes>, k_capacity> buffers;
    std::array<sockaddr_in, k_capacity> senders;
    std::array<iovec, k_capacity> vectors;
    std::array<mmsghdr, k_capacity> headers;
};

DatagramBatch::DatagramBatch() : slots_(std::make_unique<Slots>()) {
    for (size_t i = 0; i < k_capacity; ++i) {
        slots_->vectors[i] = {slots_->buffers[i].data(), slots_->buffers[i].size()};
        slots_->headers[i] = {};
        slots_->headers[i].msg_hdr.msg_iov = &slots_->vectors[i];
        slots_->headers[i].msg_hdr.msg_iovlen = 1;
    }
}

DatagramBatch::~DatagramBatch() = default;

// An unconnected UDP socket on Linux gets no ICMP-induced receive errors.
void DatagramBatch::prepare_socket(asio::ip::udp::socket::native_handle_type) {}

int DatagramBatch::receive(asio::ip::udp::socket::native_handle_type socket) {
    for (size_t i = 0; i < k_capacity; ++i) {
        auto& header = slots_->headers[i];
        header.msg_hdr.msg_name = &slots_->senders[i];
        header.msg_hdr.msg_namelen = sizeof(sockaddr_in);
        header.msg_hdr.msg_flags = 0;
        header.msg_len = 0;
    }
    const int received = ::recvmmsg(socket, slots_->headers.data(), static_cast<unsigned>(k_capacity), MSG_DONTWAIT,
                                    nullptr);
    if (received >= 0) {
        failure_ = Failure::none;
        return received;
    }
    const int error = errno;
    failure_text_.clear();
    if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR) {
        failure_ = Failure::would_block;
    } else if (error == ECONNREFUSED) {
        failure_ = Failure::connection_reset;
    } else {
        failure_ = Failure::other;
        failure_text_ = std::generic_category().message(error);
    }
    return -1;
}

const uint8_t* DatagramBatch::data(size_t i) const { return slots_->buffers[i].data(); }

size_t DatagramBatch::length(size_t i) const { return slots_->headers[i].msg_len; }

bool DatagramBatch::truncated(size_t i) const { return (slots_->headers[i].msg_hdr.msg_flags & MSG_TRUNC) != 0; }

asio::ip::udp::endpoint DatagramBatch::sender(size_t i) const {
    const sockaddr_in& address = slots_->senders[i];
    return {asio::ip::address_v4(ntohl(address.sin_addr.s_addr)), ntohs(address.sin_port)};
}

}  // namespace nb
