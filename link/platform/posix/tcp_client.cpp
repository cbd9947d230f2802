#include "link/platform/tcp_client.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kt::platform {

namespace {

using Clock = std::chrono::steady_clock;

int msUntil(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for `events` on `fd` until `deadline`; false on a time-out or a poll error.
bool waitFor(int fd, short events, Clock::time_point deadline, short* revents = nullptr) {
    for (;;) {
        int waitMs = msUntil(deadline);
        if (waitMs == 0) return false;
        pollfd p{fd, events, 0};
        int r = ::poll(&p, 1, waitMs);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        if (revents) *revents = p.revents;
        return true;
    }
}

// One non-blocking connect attempt to one address, finished within `deadline`. On failure
// `why` says what the system reported.
int connectOne(const addrinfo& a, Clock::time_point deadline, std::string& why) {
    int fd = ::socket(a.ai_family, a.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a.ai_protocol);
    if (fd < 0) {
        why = std::strerror(errno);
        return -1;
    }
    if (::connect(fd, a.ai_addr, a.ai_addrlen) != 0) {
        if (errno != EINPROGRESS) {
            why = std::strerror(errno);
            ::close(fd);
            return -1;
        }
        int error = 0;
        socklen_t len = sizeof error;
        if (!waitFor(fd, POLLOUT, deadline)) {
            why = "timed out";
            ::close(fd);
            return -1;
        }
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) {
            why = std::strerror(error != 0 ? error : errno);
            ::close(fd);
            return -1;
        }
    }
    // Requests are a dozen bytes each, answered before the next: no point waiting to coalesce.
    int one = 1;
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

} // namespace

struct TcpClient::Impl {
    int fd = -1;
    std::string connectError;
};

TcpClient::TcpClient() : impl_(std::make_unique<Impl>()) {}

TcpClient::~TcpClient() {
    disconnect();
}

const std::string& TcpClient::connectError() const {
    return impl_->connectError;
}

bool TcpClient::connect(const std::string& host, uint16_t port, int timeoutMs) {
    disconnect();
    impl_->connectError.clear();
    if (host.empty()) {
        impl_->connectError = "no address";
        return false;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    // Name resolution has no time-out of its own; dotted addresses never leave the machine.
    if (int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list); rc != 0 || !list) {
        impl_->connectError = rc != 0 ? ::gai_strerror(rc) : "unknown host";
        return false;
    }
    std::string why = "timed out";
    for (const addrinfo* a = list; a && impl_->fd < 0 && msUntil(deadline) > 0; a = a->ai_next)
        impl_->fd = connectOne(*a, deadline, why);
    ::freeaddrinfo(list);
    if (impl_->fd < 0) impl_->connectError = why;
    return impl_->fd >= 0;
}

TcpState TcpClient::state() const {
    if (impl_->fd < 0) return TcpState::NotConnected;
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(impl_->fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0)
        return TcpState::Broken;
    pollfd p{impl_->fd, POLLIN, 0};
    if (::poll(&p, 1, 0) < 0) return TcpState::Broken;
    if (p.revents & (POLLERR | POLLNVAL)) return TcpState::Broken;
    if (p.revents & (POLLIN | POLLHUP)) {
        // Readable: either unread data (still connected) or the peer's end of stream.
        uint8_t byte = 0;
        ssize_t n = ::recv(impl_->fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n == 0) return TcpState::NotConnected;
        if (n < 0 && errno != EAGAIN && errno != EINTR) return TcpState::Broken;
    }
    return TcpState::Connected;
}

bool TcpClient::readExact(uint8_t* buffer, size_t count, int timeoutMs) {
    if (impl_->fd < 0) return false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t got = 0;
    while (got < count) {
        ssize_t n = ::recv(impl_->fd, buffer + got, count - got, MSG_DONTWAIT);
        if (n > 0) {
            got += static_cast<size_t>(n);
            continue;
        }
        if (n == 0) return false; // the peer closed the connection
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
        if (!waitFor(impl_->fd, POLLIN, deadline)) return false;
    }
    return true;
}

bool TcpClient::write(const uint8_t* buffer, size_t count, int timeoutMs) {
    if (impl_->fd < 0) return false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t done = 0;
    while (done < count) {
        // MSG_NOSIGNAL: a peer that went away is an error result, not a SIGPIPE.
        ssize_t n = ::send(impl_->fd, buffer + done, count - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        if (!waitFor(impl_->fd, POLLOUT, deadline)) return false;
    }
    return true;
}

void TcpClient::discardInput() {
    if (impl_->fd < 0) return;
    uint8_t scratch[512];
    // Stops at "nothing more now"; an end of stream is left for state() to see.
    while (::recv(impl_->fd, scratch, sizeof scratch, MSG_DONTWAIT) > 0) {
    }
}

void TcpClient::disconnect() {
    if (impl_->fd < 0) return;
    ::close(impl_->fd);
    impl_->fd = -1;
}

} // namespace kt::platform
