// A scripted TCP peer on 127.0.0.1 for control-channel tests: it accepts
// connections, hands each to a script and records every byte it received.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

namespace nb::test {

class FakeTcpPeer {
public:
    // The script runs on the peer's thread with the connected descriptor.
    using Script = std::function<void(FakeTcpPeer& peer, int fd)>;

    explicit FakeTcpPeer(Script script, uint16_t port = 0) : script_(std::move(script)) {
        listen_fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(port);
        if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listen_fd_, 8) != 0) {
            ::close(listen_fd_);
            throw std::runtime_error("FakeTcpPeer: cannot listen");
        }
        socklen_t len = sizeof addr;
        ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { serve(); });
    }

    ~FakeTcpPeer() {
        stop_.store(true);
        thread_.join();
        ::close(listen_fd_);
    }

    uint16_t port() const { return port_; }
    int connections() const { return connections_.load(); }

    std::string received() {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }

    bool stopping() const { return stop_.load(); }

    // Reads until a line feed, the peer closing, or the stop request.
    std::string read_line(int fd) {
        std::string line;
        char c = 0;
        while (!stop_.load()) {
            if (!wait_readable(fd, 50)) continue;
            const ssize_t n = ::recv(fd, &c, 1, 0);
            if (n <= 0) break;
            record(&c, 1);
            if (c == '\n') return line;
            line.push_back(c);
        }
        return line;
    }

    // Records everything until the client closes or the peer stops.
    void drain(int fd) {
        char buf[4096];
        while (!stop_.load()) {
            if (!wait_readable(fd, 50)) continue;
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) return;
            record(buf, static_cast<size_t>(n));
        }
    }

    // Waits without reading until the peer stops or the client closes.
    void hold(int fd) {
        while (!stop_.load()) {
            pollfd p{fd, POLLRDHUP, 0};
            if (::poll(&p, 1, 50) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR))) return;
        }
    }

    static void send_all(int fd, const std::string& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return;
            sent += static_cast<size_t>(n);
        }
    }

private:
    static bool wait_readable(int fd, int timeout_ms) {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, timeout_ms) > 0;
    }

    void record(const char* data, size_t size) {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.append(data, size);
    }

    void serve() {
        while (!stop_.load()) {
            if (!wait_readable(listen_fd_, 50)) continue;
            const int fd = ::accept(listen_fd_, nullptr, nullptr);
            if (fd < 0) continue;
            connections_.fetch_add(1);
            script_(*this, fd);
            ::close(fd);
        }
    }

    Script script_;
    int listen_fd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::mutex mutex_;  // guards received_
    std::string received_;
    std::thread thread_;
};

// A listener on 127.0.0.1 whose accept queue is full and never drained:
// the kernel drops further SYNs, so a connect to it hangs as it does to a
// host that silently drops packets.
class StalledListener {
public:
    StalledListener() {
        listen_fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listen_fd_, 0) != 0) {
            ::close(listen_fd_);
            throw std::runtime_error("StalledListener: cannot listen");
        }
        socklen_t len = sizeof addr;
        ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        // A backlog of 0 still queues one or two connections; fill them.
        for (int& fd : fillers_) {
            fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ~StalledListener() {
        for (int fd : fillers_) ::close(fd);
        ::close(listen_fd_);
    }
    StalledListener(const StalledListener&) = delete;
    StalledListener& operator=(const StalledListener&) = delete;

    uint16_t port() const { return port_; }

private:
    int listen_fd_ = -1;
    int fillers_[3] = {-1, -1, -1};
    uint16_t port_ = 0;
};

// A port on 127.0.0.1 that nothing listens on (bound, then released).
inline uint16_t unused_loopback_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

}  // namespace nb::test
