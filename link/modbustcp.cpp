#include "link/modbustcp.h"

#include "link/link_settle.h"

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

LinkResult refused(std::string why) {
    return LinkResult::failure(LinkStatus::Refused, std::move(why));
}

} // namespace

ModbusTCP::ModbusTCP(std::string ipAddress, uint16_t port, LinkOptions options)
    : client_(std::make_unique<platform::TcpClient>()), host_(std::move(ipAddress)), port_(port),
      options_(std::move(options)) {}

ModbusTCP::~ModbusTCP() {
    client_->disconnect();
    if (everConnected_) markLinkClosed(key(), options_.timings.settle);
}

std::string ModbusTCP::key() const {
    return host_ + ":" + std::to_string(port_);
}

LinkResult ModbusTCP::connect() {
    if (client_->state() == platform::TcpState::Connected) {
        client_->discardInput();
        client_->disconnect();
    }
    client_->discardInput();
    if (host_.empty()) return LinkResult::failure(LinkStatus::CannotOpen, "no address");
    if (!waitLinkSettled(key(), aborted_)) return LinkResult::failure(LinkStatus::Aborted);
    if (!client_->connect(host_, port_, options_.timings.tcpConnectMs))
        return LinkResult::failure(LinkStatus::CannotOpen, client_->connectError());
    everConnected_ = true;
    return LinkResult::done();
}

LinkResult ModbusTCP::reconnect() {
    client_->disconnect();
    client_ = std::make_unique<platform::TcpClient>();
    return connect();
}

LinkResult ModbusTCP::ensureConnected() {
    switch (client_->state()) {
    case platform::TcpState::Connected:
        return LinkResult::done();
    case platform::TcpState::NotConnected:
        return connect();
    case platform::TcpState::Broken:
        return reconnect();
    }
    return LinkResult::failure(LinkStatus::CannotOpen);
}

LinkResult ModbusTCP::readAnswer(FrameBuffer& answer, size_t& length, Clock::time_point deadline) {
    auto lost = [&] {
        return LinkResult::failure(LinkStatus::NoAnswer, client_->state() == platform::TcpState::Connected
                                                             ? std::string()
                                                             : "the unit closed the connection");
    };
    if (!client_->readExact(answer.data(), MbapSize, msUntil(deadline))) return lost();
    const uint16_t following = word(answer, 4); // unit id + PDU
    if (following < 2 || following > FrameBufferSize - MbapSize + 1)
        return LinkResult::failure(LinkStatus::Damaged, "MBAP length " + std::to_string(following));
    if (!client_->readExact(answer.data() + MbapSize, following - 1u, msUntil(deadline))) {
        LinkResult r = lost();
        r.status = LinkStatus::Damaged;
        if (r.detail.empty()) r.detail = "answer cut short";
        return r;
    }
    length = MbapSize + following - 1u;
    return LinkResult::done();
}

LinkResult ModbusTCP::exchange(const ExpectedAnswer& expected, const FrameBuffer& request, size_t length,
                               std::chrono::milliseconds wait, uint16_t* dest) {
    if (LinkResult c = ensureConnected(); !c) return c;
    client_->discardInput();
    if (!client_->write(request.data(), length, options_.timings.tcpReadMs)) {
        client_->disconnect(); // the next transfer connects afresh
        return LinkResult::failure(LinkStatus::NoAnswer, "the request could not be sent");
    }
    const auto deadline = Clock::now() + wait;
    FrameBuffer answer;
    LinkResult r = LinkResult::failure(LinkStatus::NoAnswer);
    for (;;) {
        size_t got = 0;
        LinkResult read = readAnswer(answer, got, deadline);
        if (!read) {
            r = std::move(read);
            break;
        }
        const uint16_t answered = word(answer, 0);
        // A unit that answered an earlier read too late has its answer in the stream first; it
        // is skipped, and this request's answer is awaited within the same wait. Writes go out
        // as transaction 0, so any other number there answers a read.
        const bool earlier =
            expected.function == 0x03 ? earlierTransaction(answered, expected.transaction) : answered != 0;
        if (answered != expected.transaction && earlier && Clock::now() < deadline) continue;
        r = checkTcpAnswer(expected, std::span<const uint8_t>(answer.data(), got), dest);
        break;
    }
    r.sent = true;
    // Whatever is left (the rest of a garbled answer) must not meet the next request.
    client_->discardInput();
    return r;
}

LinkResult ModbusTCP::readHoldingRegisters(int slaveAddress, int firstRegister, int count, uint16_t* dest,
                                           uint16_t transaction) {
    if (aborted_) return LinkResult::failure(LinkStatus::Aborted);
    if (count < 1 || count > MaxReadRegisters || dest == nullptr)
        return refused("register count out of range");
    if (firstRegister < 0 || firstRegister > MaxFirstRegister || !slaveInRange(slaveAddress))
        return refused("register or unit out of range");
    FrameBuffer request;
    const size_t length = tcpReadRequest(request, transaction, slaveAddress, firstRegister, count);
    return exchange(ExpectedAnswer::read(slaveAddress, firstRegister, count, transaction), request, length,
                    std::chrono::milliseconds(options_.timings.tcpReadMs), dest);
}

LinkResult ModbusTCP::writeMultipleRegisters(int slaveAddress, int firstRegister, int count,
                                             const uint16_t* src) {
    if (aborted_) return LinkResult::failure(LinkStatus::Aborted);
    if (firstRegister < 0 || firstRegister > MaxFirstRegister || !slaveInRange(slaveAddress))
        return refused("register or unit out of range");
    if (count < 1 || count > MaxWriteRegisters || src == nullptr)
        return refused("register count out of range");
    FrameBuffer request;
    const size_t length = tcpWriteRequest(request, slaveAddress, firstRegister, count, src);
    // Writes go out as transaction 0; an answer with another number answers a late read.
    return exchange(ExpectedAnswer::write(slaveAddress, firstRegister, count), request, length,
                    std::chrono::milliseconds(options_.timings.tcpReadMs), nullptr);
}

LinkResult ModbusTCP::executeCommand(int slaveAddress, int command) {
    if (aborted_) return LinkResult::failure(LinkStatus::Aborted);
    // A number past 16 bits would arrive as a different command.
    if (!slaveInRange(slaveAddress) || command < 0 || command > 0xFFFF)
        return refused("command or unit out of range");
    FrameBuffer request;
    const size_t length = tcpCommandRequest(request, slaveAddress, command);
    return exchange(ExpectedAnswer::write(slaveAddress, CommandRegister, 1), request, length,
                    options_.timings.commandAnswerWait, nullptr);
}

} // namespace kt
