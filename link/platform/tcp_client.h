#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kt::platform {

enum class TcpState {
    Connected,
    NotConnected, // never connected, disconnected, or the peer closed the connection
    Broken,       // the socket reports an error; the client should be replaced
};

// A blocking TCP client with time-outs, thread-agnostic. Host names and dotted addresses.
class TcpClient {
public:
    TcpClient();
    ~TcpClient(); // disconnects
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;

    bool connect(const std::string& host, uint16_t port, int timeoutMs);
    // Why the last connect failed ("Connection refused", "timed out", "unknown host"); empty
    // after a successful connect.
    const std::string& connectError() const;
    TcpState state() const;
    // Exactly `count` bytes within `timeoutMs`; false on a time-out, a closed peer or an error.
    bool readExact(uint8_t* buffer, size_t count, int timeoutMs);
    bool write(const uint8_t* buffer, size_t count, int timeoutMs);
    // Throws away whatever has arrived and not been read.
    void discardInput();
    void disconnect();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace kt::platform
