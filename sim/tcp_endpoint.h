#pragma once

#include "sim/fd.h"
#include "sim/modbus_service.h"
#include "sim/options.h"

#include <atomic>
#include <list>
#include <memory>
#include <string>
#include <thread>

namespace kt::sim {

// Modbus TCP: one accepting thread and one thread per connection, so that a program that
// reconnects while its old connection is still being torn down, or two masters at once, are served.
class TcpEndpoint {
public:
    static constexpr size_t MaxConnections = 8;

    TcpEndpoint(ModbusService& service, FaultPlan& faults);
    ~TcpEndpoint();

    // Binds and listens. False with `error` set on failure.
    bool open(const TcpAddress& address, std::string* error);
    void start();
    void stop();

    // HOST:PORT with the port actually bound.
    std::string address() const { return formatHostPort(host_, port_); }
    uint16_t port() const { return port_; }

private:
    struct Connection {
        std::atomic<bool> done{false}; // set by the connection's thread as it ends
        std::jthread thread;
    };

    void acceptLoop(std::stop_token token);
    void serveConnection(std::stop_token token, int fd, std::atomic<bool>& done);

    ModbusService& service_;
    FaultPlan& faults_;
    std::string host_;
    uint16_t port_ = 0;
    UniqueFd listener_;
    std::list<std::unique_ptr<Connection>> connections_; // accepting thread only
    std::jthread acceptor_;
};

} // namespace kt::sim
