#pragma once

#include "sim/fd.h"
#include "sim/modbus_service.h"
#include "sim/options.h"

#include <atomic>
#include <chrono>
#include <list>
#include <memory>
#include <string>
#include <thread>

namespace kt::sim {

// Modbus TCP: one accepting thread and one thread per connection, so that a program that
// reconnects while its old connection is still being torn down, or several masters at once, are
// served. Requests are framed by their MBAP header here; libmodbus builds the answers.
//
// Like a unit's Ethernet port it keeps no connection for ever: one that has sent nothing for the
// idle time-out is closed, and when every place is taken the connection that has been idle
// longest is closed to serve the new one, so clients that connect and say nothing cannot lock out
// the others.
class TcpEndpoint {
public:
    static constexpr size_t MaxConnections = 32;

    // `idleTimeout` zero keeps idle connections open (until their place is needed).
    TcpEndpoint(ModbusService& service, FaultPlan& faults,
                std::chrono::milliseconds idleTimeout = std::chrono::milliseconds(DefaultTcpIdleMs));
    ~TcpEndpoint();

    // Binds and listens. False with `error` set on failure.
    bool open(const TcpAddress& address, std::string* error);
    void start();
    void stop();

    // HOST:PORT with the port actually bound.
    std::string address() const { return formatHostPort(host_, port_); }
    uint16_t port() const { return port_; }

private:
    using Clock = std::chrono::steady_clock;

    struct Connection {
        std::atomic<bool> done{false};          // set by the connection's thread as it ends
        std::atomic<Clock::rep> lastRequest{0}; // when it last sent something
        bool evicted = false;                   // accepting thread only
        std::jthread thread;
    };

    void acceptLoop(std::stop_token token);
    void makeRoom();
    void serveConnection(std::stop_token token, int fd, Connection& connection);

    ModbusService& service_;
    FaultPlan& faults_;
    const std::chrono::milliseconds idleTimeout_;
    std::string host_;
    uint16_t port_ = 0;
    UniqueFd listener_;
    std::list<std::unique_ptr<Connection>> connections_; // accepting thread only
    std::jthread acceptor_;
};

} // namespace kt::sim
