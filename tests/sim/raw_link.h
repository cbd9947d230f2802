#pragma once
// Bytes to and from the simulator without a Modbus library in between, so that the tests can send
// what no master would (unknown functions, oversized writes, other protocol ids) and see exactly
// what comes back.

#include "link/modbus_frames.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace kt::test {

using Bytes = std::vector<uint8_t>;

// A Modbus frame without its transport's framing: the unit id and the PDU.
struct RawFrame {
    uint8_t unit = 0;
    Bytes pdu;
    bool operator==(const RawFrame&) const = default;
};

inline void PrintTo(const RawFrame& f, std::ostream* out) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    *out << "unit " << int(f.unit) << " pdu ";
    for (uint8_t b : f.pdu) *out << Hex[b >> 4] << Hex[b & 15];
}

// One connection to the simulator's TCP endpoint, or its RTU line.
class RawLink {
public:
    virtual ~RawLink() = default;
    // Sends the bytes as they are.
    virtual void sendBytes(const Bytes& bytes) = 0;
    // Sends `frame` framed for the transport (MBAP header with `transaction`, or address and CRC).
    virtual void send(const RawFrame& frame, uint16_t transaction = 1) = 0;
    // The next answer, framing checked and removed; nothing when none came within `wait`.
    virtual std::optional<RawFrame> receive(std::chrono::milliseconds wait) = 0;
    // True once the far end has closed the connection (TCP only).
    virtual bool closedByPeer(std::chrono::milliseconds wait) = 0;

    std::optional<RawFrame> exchange(const RawFrame& frame,
                                     std::chrono::milliseconds wait = std::chrono::milliseconds(1000)) {
        send(frame);
        return receive(wait);
    }
};

namespace detail {

inline bool readable(int fd, std::chrono::milliseconds wait) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(wait.count())) > 0;
}

} // namespace detail

class RawTcp final : public RawLink {
public:
    explicit RawTcp(uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            throw std::runtime_error("cannot connect to 127.0.0.1:" + std::to_string(port));
    }
    ~RawTcp() override { ::close(fd_); }
    RawTcp(const RawTcp&) = delete;
    RawTcp& operator=(const RawTcp&) = delete;

    void sendBytes(const Bytes& bytes) override {
        if (::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
            throw std::runtime_error("the request could not be sent");
    }
    void send(const RawFrame& f, uint16_t transaction = 1) override {
        const size_t following = 1 + f.pdu.size();
        Bytes adu{static_cast<uint8_t>(transaction >> 8), static_cast<uint8_t>(transaction & 0xFF), 0,     0,
                  static_cast<uint8_t>(following >> 8),   static_cast<uint8_t>(following & 0xFF),   f.unit};
        adu.insert(adu.end(), f.pdu.begin(), f.pdu.end());
        sendBytes(adu);
    }
    std::optional<RawFrame> receive(std::chrono::milliseconds wait) override {
        Bytes header(7);
        if (!readExact(header.data(), 7, wait)) return std::nullopt;
        lastTransaction_ = static_cast<uint16_t>(header[0] << 8 | header[1]);
        lastProtocol_ = static_cast<uint16_t>(header[2] << 8 | header[3]);
        const size_t following = static_cast<size_t>(header[4] << 8 | header[5]);
        if (following < 1) return RawFrame{header[6], {}};
        RawFrame f{header[6], Bytes(following - 1)};
        if (!readExact(f.pdu.data(), f.pdu.size(), wait)) return std::nullopt;
        return f;
    }
    bool closedByPeer(std::chrono::milliseconds wait) override {
        if (!detail::readable(fd_, wait)) return false;
        uint8_t b = 0;
        return ::recv(fd_, &b, 1, MSG_PEEK) == 0;
    }
    uint16_t lastTransaction() const { return lastTransaction_; }
    uint16_t lastProtocol() const { return lastProtocol_; }

private:
    bool readExact(uint8_t* into, size_t n, std::chrono::milliseconds wait) {
        size_t got = 0;
        while (got < n) {
            if (!detail::readable(fd_, wait)) return false;
            ssize_t r = ::recv(fd_, into + got, n - got, 0);
            if (r <= 0) return false;
            got += static_cast<size_t>(r);
        }
        return true;
    }

    int fd_ = -1;
    uint16_t lastTransaction_ = 0;
    uint16_t lastProtocol_ = 0;
};

class RawRtu final : public RawLink {
public:
    explicit RawRtu(const std::string& device) {
        fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd_ < 0) throw std::runtime_error("cannot open " + device);
        termios t{};
        ::tcgetattr(fd_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd_, TCSANOW, &t);
        ::tcflush(fd_, TCIOFLUSH);
    }
    ~RawRtu() override { ::close(fd_); }
    RawRtu(const RawRtu&) = delete;
    RawRtu& operator=(const RawRtu&) = delete;

    void sendBytes(const Bytes& bytes) override {
        if (::write(fd_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            throw std::runtime_error("the request could not be written");
    }
    void send(const RawFrame& f, uint16_t = 1) override {
        Bytes frame{f.unit};
        frame.insert(frame.end(), f.pdu.begin(), f.pdu.end());
        const uint16_t crc = modbusCrc(frame);
        frame.push_back(static_cast<uint8_t>(crc & 0xFF));
        frame.push_back(static_cast<uint8_t>(crc >> 8));
        sendBytes(frame);
    }
    // An answer ends with 50 ms of silence; a frame with a wrong CRC throws.
    std::optional<RawFrame> receive(std::chrono::milliseconds wait) override {
        Bytes frame;
        auto gap = wait;
        while (detail::readable(fd_, gap)) {
            uint8_t buf[512];
            ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0) break;
            frame.insert(frame.end(), buf, buf + n);
            gap = std::chrono::milliseconds(50);
        }
        if (frame.empty()) return std::nullopt;
        if (frame.size() < 4 || modbusCrc(frame) != 0)
            throw std::runtime_error("an answer of " + std::to_string(frame.size()) +
                                     " bytes failed its CRC");
        return RawFrame{frame[0], Bytes(frame.begin() + 1, frame.end() - 2)};
    }
    bool closedByPeer(std::chrono::milliseconds) override { return false; }

private:
    int fd_ = -1;
};

} // namespace kt::test
