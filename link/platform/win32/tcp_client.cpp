#include "link/platform/tcp_client.h"

#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <mutex>
#include <string>

namespace kt::platform {

namespace {

using Clock = std::chrono::steady_clock;

void startWinsock() {
    static std::once_flag once;
    std::call_once(once, [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    });
}

int msUntil(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool waitFor(SOCKET s, SHORT events, Clock::time_point deadline) {
    int waitMs = msUntil(deadline);
    if (waitMs == 0) return false;
    WSAPOLLFD p{s, events, 0};
    return WSAPoll(&p, 1, waitMs) > 0;
}

std::string socketErrorText(int error) {
    char buffer[256] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(error), 0, buffer, sizeof buffer, nullptr);
    std::string text(buffer, n);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.')) text.pop_back();
    return text.empty() ? "socket error " + std::to_string(error) : text;
}

SOCKET connectOne(const addrinfo& a, Clock::time_point deadline, std::string& why) {
    SOCKET s = socket(a.ai_family, a.ai_socktype, a.ai_protocol);
    if (s == INVALID_SOCKET) {
        why = socketErrorText(WSAGetLastError());
        return s;
    }
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    if (connect(s, a.ai_addr, static_cast<int>(a.ai_addrlen)) != 0) {
        int error = 0;
        int len = sizeof error;
        if (WSAGetLastError() != WSAEWOULDBLOCK) {
            why = socketErrorText(WSAGetLastError());
        } else if (!waitFor(s, POLLWRNORM, deadline)) {
            why = "timed out";
        } else if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0 || error != 0) {
            why = socketErrorText(error != 0 ? error : WSAGetLastError());
        } else {
            error = -1; // connected
        }
        if (error != -1) {
            closesocket(s);
            return INVALID_SOCKET;
        }
    }
    BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    return s;
}

} // namespace

struct TcpClient::Impl {
    SOCKET s = INVALID_SOCKET;
    std::string connectError;
};

TcpClient::TcpClient() : impl_(std::make_unique<Impl>()) {
    startWinsock();
}

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
    if (int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list); rc != 0 || !list) {
        impl_->connectError = rc != 0 ? socketErrorText(rc) : "unknown host";
        return false;
    }
    std::string why = "timed out";
    for (const addrinfo* a = list; a && impl_->s == INVALID_SOCKET && msUntil(deadline) > 0; a = a->ai_next)
        impl_->s = connectOne(*a, deadline, why);
    freeaddrinfo(list);
    if (impl_->s == INVALID_SOCKET) impl_->connectError = why;
    return impl_->s != INVALID_SOCKET;
}

TcpState TcpClient::state() const {
    if (impl_->s == INVALID_SOCKET) return TcpState::NotConnected;
    int error = 0;
    int len = sizeof error;
    if (getsockopt(impl_->s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0 || error != 0)
        return TcpState::Broken;
    WSAPOLLFD p{impl_->s, POLLRDNORM, 0};
    if (WSAPoll(&p, 1, 0) < 0 || (p.revents & (POLLERR | POLLNVAL))) return TcpState::Broken;
    if (p.revents & (POLLRDNORM | POLLHUP)) {
        char byte = 0;
        int n = recv(impl_->s, &byte, 1, MSG_PEEK);
        if (n == 0) return TcpState::NotConnected;
        if (n < 0 && WSAGetLastError() != WSAEWOULDBLOCK) return TcpState::Broken;
    }
    return TcpState::Connected;
}

bool TcpClient::readExact(uint8_t* buffer, size_t count, int timeoutMs) {
    if (impl_->s == INVALID_SOCKET) return false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t got = 0;
    while (got < count) {
        int n = recv(impl_->s, reinterpret_cast<char*>(buffer + got), static_cast<int>(count - got), 0);
        if (n > 0) {
            got += static_cast<size_t>(n);
            continue;
        }
        if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK) return false;
        if (!waitFor(impl_->s, POLLRDNORM, deadline)) return false;
    }
    return true;
}

bool TcpClient::write(const uint8_t* buffer, size_t count, int timeoutMs) {
    if (impl_->s == INVALID_SOCKET) return false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t done = 0;
    while (done < count) {
        int n =
            send(impl_->s, reinterpret_cast<const char*>(buffer + done), static_cast<int>(count - done), 0);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (WSAGetLastError() != WSAEWOULDBLOCK) return false;
        if (!waitFor(impl_->s, POLLWRNORM, deadline)) return false;
    }
    return true;
}

void TcpClient::discardInput() {
    if (impl_->s == INVALID_SOCKET) return;
    char scratch[512];
    while (recv(impl_->s, scratch, sizeof scratch, 0) > 0) {
    }
}

void TcpClient::disconnect() {
    if (impl_->s == INVALID_SOCKET) return;
    closesocket(impl_->s);
    impl_->s = INVALID_SOCKET;
}

} // namespace kt::platform
