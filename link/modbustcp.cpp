#include "link/modbustcp.h"

#include <chrono>

namespace kt {

namespace {

using Clock = std::chrono::steady_clock;

int msUntil(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

uint16_t word(const FrameBuffer& b, size_t at) {
    return static_cast<uint16_t>(b[at] << 8 | b[at + 1]);
}

bool slaveInRange(int slaveAddress) {
    return slaveAddress >= 1 && slaveAddress <= 254;
}

constexpr size_t MbapSize = 7;

// An answer to a read sent before this one: within the 32767 numbers below it (modulo 2^16).
bool earlierTransaction(uint16_t answered, uint16_t current) {
    uint16_t behind = static_cast<uint16_t>(current - answered);
    return behind >= 1 && behind <= 0x7FFF;
}

} // namespace

ModbusTCP::ModbusTCP(std::string ipAddress, uint16_t port)
    : client_(std::make_unique<platform::TcpClient>()), host_(std::move(ipAddress)), port_(port) {}

ModbusTCP::~ModbusTCP() {
    client_->disconnect();
}

bool ModbusTCP::connect() {
    if (client_->state() == platform::TcpState::Connected) {
        client_->discardInput();
        client_->disconnect();
    }
    client_->discardInput();
    if (host_.empty()) return false;
    return client_->connect(host_, port_, ConnectTimeoutMs);
}

bool ModbusTCP::reconnect() {
    client_->disconnect();
    client_ = std::make_unique<platform::TcpClient>();
    return connect();
}

bool ModbusTCP::ensureConnected() {
    switch (client_->state()) {
    case platform::TcpState::Connected:
        return true;
    case platform::TcpState::NotConnected:
        return connect();
    case platform::TcpState::Broken:
        return reconnect();
    }
    return false;
}

bool ModbusTCP::readAnswer(FrameBuffer& answer, size_t& length, Clock::time_point deadline) {
    if (!client_->readExact(answer.data(), MbapSize, msUntil(deadline))) return false;
    const uint16_t protocol = word(answer, 2);
    const uint16_t following = word(answer, 4); // unit id + PDU
    if (protocol != 0 || following < 2 || following > 254) return false;
    if (!client_->readExact(answer.data() + MbapSize, following - 1u, msUntil(deadline))) return false;
    length = MbapSize + following - 1u;
    return true;
}

bool ModbusTCP::readHoldingRegisters(int slaveAddress, int firstRegister, int count, uint16_t* dest,
                                     uint16_t transaction) {
    if (count < 1 || count > MaxReadRegisters || dest == nullptr) return false;
    if (!ensureConnected()) return false;
    if (firstRegister < 0 || firstRegister > MaxFirstRegister || !slaveInRange(slaveAddress)) return false;

    FrameBuffer request;
    FrameBuffer answer;
    size_t length = tcpReadRequest(request, transaction, slaveAddress, firstRegister, count);
    const auto deadline = Clock::now() + std::chrono::milliseconds(ReadTimeoutMs);
    bool ok = false;
    if (client_->write(request.data(), length, ReadTimeoutMs)) {
        size_t got = 0;
        // A unit that answered an earlier request too late has its answer in the stream first;
        // it is skipped, and this request's answer is awaited within the same time-out.
        while (Clock::now() < deadline && readAnswer(answer, got, deadline)) {
            const uint16_t answered = word(answer, 0);
            if (answered != transaction) {
                if (earlierTransaction(answered, transaction)) continue;
                break;
            }
            ok = answer[6] == static_cast<uint8_t>(slaveAddress) && answer[7] == 0x03 &&
                 got == static_cast<size_t>(2 * count + 9) && answer[8] == 2 * count;
            break; // an exception answer (0x83) lands here as a failure, without waiting
        }
        if (ok)
            for (int i = 0; i < count; ++i) dest[i] = word(answer, 9 + 2 * static_cast<size_t>(i));
    }
    // Whatever is left (the rest of a garbled answer) must not meet the next request.
    client_->discardInput();
    return ok;
}

bool ModbusTCP::exchangeWrite(const FrameBuffer& request, size_t length, int slaveAddress, int firstRegister,
                              int count) {
    if (!ensureConnected()) return false;
    client_->discardInput();
    if (!client_->write(request.data(), length, ReadTimeoutMs)) return false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ReadTimeoutMs);
    FrameBuffer answer;
    size_t got = 0;
    bool ok = false;
    while (Clock::now() < deadline && readAnswer(answer, got, deadline)) {
        // Writes go out as transaction 0; anything else answers a read that came back late.
        if (word(answer, 0) != 0) continue;
        ok = got == 12 && answer[6] == static_cast<uint8_t>(slaveAddress) && answer[7] == 0x10 &&
             word(answer, 8) == firstRegister && word(answer, 10) == count;
        break;
    }
    client_->discardInput();
    return ok;
}

bool ModbusTCP::writeMultipleRegisters(int slaveAddress, int firstRegister, int count, const uint16_t* src) {
    if (firstRegister < 0 || firstRegister > MaxFirstRegister || !slaveInRange(slaveAddress)) return false;
    if (count < 1 || count > MaxWriteRegisters || src == nullptr) return false;
    FrameBuffer request;
    size_t length = tcpWriteRequest(request, slaveAddress, firstRegister, count, src);
    return exchangeWrite(request, length, slaveAddress, firstRegister, count);
}

bool ModbusTCP::executeCommand(int slaveAddress, int command) {
    // A number past 16 bits would arrive as a different command.
    if (!slaveInRange(slaveAddress) || command < 0 || command > 0xFFFF) return false;
    FrameBuffer request;
    size_t length = tcpCommandRequest(request, slaveAddress, command);
    return exchangeWrite(request, length, slaveAddress, CommandRegister, 1);
}

} // namespace kt
