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

// libmodbus frames a request by its function code and knows the layout of only some; the MBAP
// header says how long the request really is. Reads what libmodbus left of a request it did not
// know, so that the rest is neither lost from the log nor taken for the next request. False when
// the request cannot be completed or the header and the body disagree.
bool completeRequest(const StopFd& stop, int fd, uint8_t (&adu)[MODBUS_TCP_MAX_ADU_LENGTH], int& n) {
    if (n < 7) return false;
    const size_t declared = 6 + (static_cast<size_t>(adu[4]) << 8 | adu[5]);
    if (declared < static_cast<size_t>(n) || declared > sizeof adu) return false;
    while (static_cast<size_t>(n) < declared) {
        if (stop.wait(fd, POLLIN, RestOfRequestTimeoutMs) != StopFd::Wait::Ready) return false;
        ssize_t got = ::recv(fd, adu + n, declared - static_cast<size_t>(n), 0);
        if (got <= 0) return false;
        n += static_cast<int>(got);
    }
    return true;
}

} // namespace

TcpEndpoint::TcpEndpoint(ModbusService& service, FaultPlan& faults) : service_(service), faults_(faults) {}

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
        connections_.remove_if([](const auto& c) { return c->done.load(); });
        if (connections_.size() >= MaxConnections) {
            std::fprintf(stderr, "kt740sim: refusing a TCP connection, %zu are open already\n",
                         connections_.size());
            ::close(fd);
            continue;
        }
        int yes = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes); // answers leave at once
        auto& c = connections_.emplace_back(std::make_unique<Connection>());
        c->thread =
            std::jthread([this, fd, done = &c->done](std::stop_token t) { serveConnection(t, fd, *done); });
    }
    // Leaving: the connections' jthreads are asked to stop and joined here.
    connections_.clear();
}

void TcpEndpoint::serveConnection(std::stop_token token, int fd, std::atomic<bool>& done) {
    StopFd stop(token);
    ModbusContext ctx(modbus_new_tcp_pi(nullptr, "0"));
    if (!ctx) {
        ::close(fd);
        done = true;
        return;
    }
    modbus_set_socket(ctx.get(), fd); // closed with the context
    ModbusMapping scratch = ModbusService::makeScratch();
    uint8_t adu[MODBUS_TCP_MAX_ADU_LENGTH];
    uint64_t served = 0;
    while (stop.wait(fd, POLLIN, -1) == StopFd::Wait::Ready) {
        // Failure here is the peer closing, a frame cut short or one libmodbus cannot parse: the
        // stream has no resynchronisation point, so the connection ends and the master reconnects.
        int n = modbus_receive(ctx.get(), adu);
        if (n < 0) {
            if (errno != ECONNRESET)
                std::fprintf(stderr, "kt740sim: TCP connection closed: %s\n", modbus_strerror(errno));
            break;
        }
        if (n == 0) continue;
        if (!completeRequest(stop, fd, adu, n)) {
            if (!stop.stopRequested())
                std::fprintf(stderr,
                             "kt740sim: TCP connection closed: a request shorter or longer than its MBAP "
                             "length\n");
            break;
        }
        auto outcome =
            service_.serve(ctx.get(), {adu, static_cast<size_t>(n)}, Transport::Tcp, stop, scratch.get());
        if (outcome == ModbusService::Outcome::Stopped || outcome == ModbusService::Outcome::SendFailed)
            break;
        if (faults_.dropConnection(++served)) break;
    }
    done = true;
}

} // namespace kt::sim
