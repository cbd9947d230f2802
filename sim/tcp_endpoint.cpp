#include "sim/tcp_endpoint.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

namespace kt::sim {

namespace {

constexpr int RestOfRequestTimeoutMs = 500;
constexpr size_t MbapSize = 7; // transaction, protocol, length, unit id
// The most the MBAP length may announce: the unit id and a write of 255 data bytes, the most a
// byte count can name. Such oversized requests are read whole and refused with an exception; a
// longer length is no Modbus request, and the stream cannot be trusted after it.
constexpr size_t MaxFollowing = 1 + 6 + 255;

enum class Received { Request, Idle, Closed, Broken, Stopped };

// Reads exactly `n` bytes, each wait at most `timeoutMs`.
Received readExact(const StopFd& stop, int fd, uint8_t* into, size_t n, int timeoutMs) {
    size_t got = 0;
    while (got < n) {
        switch (stop.wait(fd, POLLIN, timeoutMs)) {
        case StopFd::Wait::Ready:
            break;
        case StopFd::Wait::Stopped:
            return Received::Stopped;
        case StopFd::Wait::Timeout:
            return Received::Broken;
        case StopFd::Wait::Error:
            return Received::Closed;
        }
        const ssize_t r = ::recv(fd, into + got, n - got, 0);
        if (r == 0) return Received::Closed;
        if (r < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return Received::Closed;
        }
        got += static_cast<size_t>(r);
    }
    return Received::Request;
}

// One request, framed by its MBAP header (libmodbus frames by the function code and cannot read
// functions it does not know or writes longer than it allows). `idleMs` bounds the wait for its
// first byte (negative: no bound).
Received receiveRequest(const StopFd& stop, int fd, uint8_t* adu, size_t& length, int idleMs) {
    switch (stop.wait(fd, POLLIN, idleMs)) {
    case StopFd::Wait::Ready:
        break;
    case StopFd::Wait::Stopped:
        return Received::Stopped;
    case StopFd::Wait::Timeout:
        return Received::Idle;
    case StopFd::Wait::Error:
        return Received::Closed;
    }
    // A peer that closed wakes the wait with nothing to read.
    uint8_t first = 0;
    if (::recv(fd, &first, 1, MSG_PEEK) <= 0) return Received::Closed;
    if (Received r = readExact(stop, fd, adu, MbapSize, RestOfRequestTimeoutMs); r != Received::Request)
        return r;
    const size_t following = static_cast<size_t>(adu[4]) << 8 | adu[5];
    if (following < 2 || following > MaxFollowing) return Received::Broken;
    if (Received r = readExact(stop, fd, adu + MbapSize, following - 1, RestOfRequestTimeoutMs);
        r != Received::Request)
        return r;
    length = 6 + following;
    return Received::Request;
}

} // namespace

TcpEndpoint::TcpEndpoint(ModbusService& service, FaultPlan& faults, std::chrono::milliseconds idleTimeout)
    : service_(service), faults_(faults), idleTimeout_(idleTimeout) {}

TcpEndpoint::~TcpEndpoint() {
    stop();
}

bool TcpEndpoint::open(const TcpAddress& address, std::string* error) {
    const std::string where = formatHostPort(address.host, address.port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(address.port);
    if (int rc = ::getaddrinfo(address.host.c_str(), service.c_str(), &hints, &found); rc != 0) {
        if (error) *error = "cannot listen on " + where + ": " + ::gai_strerror(rc);
        return false;
    }
    int lastErrno = 0;
    for (addrinfo* ai = found; ai && !listener_.valid(); ai = ai->ai_next) {
        UniqueFd fd(::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol));
        int yes = 1;
        if (fd.valid() && ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) == 0 &&
            ::bind(fd.get(), ai->ai_addr, ai->ai_addrlen) == 0 && ::listen(fd.get(), 16) == 0)
            listener_ = std::move(fd);
        else
            lastErrno = errno;
    }
    ::freeaddrinfo(found);
    if (!listener_.valid()) {
        if (error) *error = "cannot listen on " + where + ": " + std::strerror(lastErrno);
        return false;
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&bound), &length);
    port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(bound).sin6_port
                                              : reinterpret_cast<sockaddr_in&>(bound).sin_port);
    host_ = address.host;
    return true;
}

void TcpEndpoint::start() {
    acceptor_ = std::jthread([this](std::stop_token token) { acceptLoop(token); });
}

void TcpEndpoint::stop() {
    if (acceptor_.joinable()) {
        acceptor_.request_stop();
        acceptor_.join();
    }
}

void TcpEndpoint::acceptLoop(std::stop_token token) {
    StopFd stop(token);
    while (stop.wait(listener_.get(), POLLIN, -1) == StopFd::Wait::Ready) {
        int fd = ::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            // Out of descriptors: wait a little rather than spin on the pending connection.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                stop.sleepFor(std::chrono::milliseconds(100));
            continue; // the client gave up before we accepted it, or the above
        }
        makeRoom();
        int yes = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes); // answers leave at once
        auto& c = connections_.emplace_back(std::make_unique<Connection>());
        c->lastRequest = Clock::now().time_since_epoch().count();
        Connection& connection = *c;
        c->thread =
            std::jthread([this, fd, &connection](std::stop_token t) { serveConnection(t, fd, connection); });
    }
    // Leaving: the connections' jthreads are asked to stop and joined here.
    connections_.clear();
}

void TcpEndpoint::makeRoom() {
    connections_.remove_if([](const auto& c) { return c->done.load(); });
    size_t open = 0;
    Connection* idlest = nullptr;
    for (const auto& c : connections_) {
        if (c->evicted) continue;
        ++open;
        if (!idlest || c->lastRequest.load() < idlest->lastRequest.load()) idlest = c.get();
    }
    if (open < MaxConnections || !idlest) return;
    const auto idleFor = Clock::now() - Clock::time_point(Clock::duration(idlest->lastRequest.load()));
    std::fprintf(
        stderr,
        "kt740sim: %zu TCP connections are open; closing the one idle longest (%lld ms) for a new "
        "one\n",
        open, static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(idleFor).count()));
    idlest->evicted = true;
    idlest->thread.request_stop(); // its thread closes the socket and ends
}

void TcpEndpoint::serveConnection(std::stop_token token, int fd, Connection& connection) {
    StopFd stop(token);
    ModbusContext ctx(modbus_new_tcp_pi(nullptr, "0"));
    if (!ctx) {
        ::close(fd);
        connection.done = true;
        return;
    }
    modbus_set_socket(ctx.get(), fd); // closed with the context
    ModbusMapping scratch = ModbusService::makeScratch();
    uint8_t adu[6 + MaxFollowing];
    const int idleMs = idleTimeout_.count() > 0 ? static_cast<int>(idleTimeout_.count()) : -1;
    uint64_t served = 0;
    for (;;) {
        size_t n = 0;
        const Received received = receiveRequest(stop, fd, adu, n, idleMs);
        if (received == Received::Idle) {
            std::fprintf(stderr, "kt740sim: TCP connection closed: nothing received for %d ms\n", idleMs);
            break;
        }
        if (received == Received::Broken) {
            // The stream has no resynchronisation point: the connection ends and the master
            // reconnects.
            std::fprintf(stderr, "kt740sim: TCP connection closed: a request shorter or longer than its MBAP "
                                 "length\n");
            break;
        }
        if (received != Received::Request) break; // closed by the peer, or stopping
        connection.lastRequest = Clock::now().time_since_epoch().count();
        // Another protocol id is not Modbus: a unit ignores the frame.
        if (adu[2] != 0 || adu[3] != 0) continue;
        auto outcome = service_.serve(ctx.get(), {adu, n}, Transport::Tcp, stop, scratch.get());
        if (outcome == ModbusService::Outcome::Stopped || outcome == ModbusService::Outcome::SendFailed)
            break;
        if (outcome == ModbusService::Outcome::Ignored) continue;
        if (faults_.dropConnection(++served)) break;
    }
    connection.done = true;
}

} // namespace kt::sim
