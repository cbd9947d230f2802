#include "link/mbprotocol.h"

#include "link/link_settle.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace kt {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Marks the transfer in progress for the destructor, whatever way it ends.
class BusyGuard {
public:
    explicit BusyGuard(std::atomic<bool>& busy) : busy_(busy) { busy_ = true; }
    ~BusyGuard() { busy_ = false; }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;

private:
    std::atomic<bool>& busy_;
};

bool slaveInRange(int slaveAddress) {
    return slaveAddress >= 1 && slaveAddress <= 254;
}

LinkResult refused(std::string why) {
    return LinkResult::failure(LinkStatus::Refused, std::move(why));
}

} // namespace

MBProtocol::MBProtocol(const std::string& portName, int baudRate, LinkOptions options)
    : devicePath_(platform::SerialPort::devicePath(portName)), baudRate_(baudRate),
      options_(std::move(options)) {}

MBProtocol::~MBProtocol() {
    closing_ = true;
    const auto until = Clock::now() + options_.timings.closeWait;
    while (busy_ && Clock::now() < until) std::this_thread::sleep_for(10ms);
    if (port_.isOpen()) {
        port_.close();
        markLinkClosed(devicePath_, options_.timings.settle);
    }
}

void MBProtocol::diagnostic(std::string_view line) const {
    if (options_.diagnostics) options_.diagnostics(line);
}

LinkResult MBProtocol::openPort() {
    // The device may still be settling after another transport closed it.
    if (!waitLinkSettled(devicePath_, closing_)) return LinkResult::failure(LinkStatus::Aborted);
    switch (port_.open(devicePath_)) {
    case platform::SerialOpenResult::Ok:
        break;
    case platform::SerialOpenResult::NotFound:
        diagnostic("Error: Serial port does not exist. Please check the port name and try again");
        [[fallthrough]];
    default:
        diagnostic("Error!");
        return LinkResult::failure(LinkStatus::CannotOpen, port_.openError());
    }
    const platform::SerialTimeouts timeouts{options_.timings.serialIntervalMs,
                                            options_.timings.serialReadTotalMs,
                                            options_.timings.serialWriteTotalMs};
    if (!port_.setTimeouts(timeouts)) diagnostic("Error!");
    if (!port_.getLineSettings()) diagnostic("Error Getting State");
    // A pseudo-terminal may refuse the baud rate; the link works regardless.
    if (!port_.setLine(baudRate_)) diagnostic("Error getting state");
    failures_ = 0;
    return LinkResult::done();
}

LinkResult MBProtocol::succeeded(LinkResult r) {
    failures_ = 0;
    r.sent = true;
    return r;
}

LinkResult MBProtocol::failed(LinkResult r) {
    if (failures_ < MaxFailures)
        ++failures_;
    else
        port_.close();
    return r;
}

void MBProtocol::drainLateAnswer() {
    // Whatever arrives until the line has been quiet for a while belongs to a request that has
    // been given up on.
    const auto start = Clock::now();
    auto lastByte = start;
    std::array<uint8_t, 64> sink{};
    while (!closing_ && port_.isOpen()) {
        const auto now = Clock::now();
        if (now - lastByte >= options_.timings.lateAnswerQuiet ||
            now - start >= options_.timings.lateAnswerDrainMax)
            break;
        const long n = port_.read(sink.data(), sink.size());
        if (n < 0) break;
        if (n > 0) lastByte = Clock::now();
    }
}

LinkResult MBProtocol::exchange(const ExpectedAnswer& expected, const FrameBuffer& request, size_t length,
                                size_t wanted, int reads, bool pauseBetweenReads, uint16_t* dest) {
    if (!port_.isOpen()) {
        if (closing_) return LinkResult::failure(LinkStatus::Aborted);
        if (LinkResult opened = openPort(); !opened) return failed(std::move(opened));
    }
    // A stale answer (or the unread tail of the last one) must not be read as this one's.
    port_.purge();
    if (!port_.write(request.data(), length))
        return failed(LinkResult::failure(LinkStatus::CannotOpen, "the port refused the request"));

    FrameBuffer answer;
    if (pauseBetweenReads) std::this_thread::sleep_for(1ms);
    long got = 0;
    for (int r = 0; r < reads && got == 0 && !closing_; ++r) {
        got = port_.read(answer.data(), wanted);
        if (got == 0 && pauseBetweenReads) std::this_thread::sleep_for(1ms);
    }
    if (got < 0) {
        port_.close(); // the device went away: the next transfer opens it again
        LinkResult r = LinkResult::failure(LinkStatus::NoAnswer, "the port stopped working");
        r.sent = true;
        return failed(std::move(r));
    }
    size_t size = static_cast<size_t>(got);
    // Bytes still coming after the answer make it no answer to this request.
    if (size == wanted && port_.waiting() > 0) size = std::min(answer.size(), size + 1);
    LinkResult r = checkRtuAnswer(expected, std::span<const uint8_t>(answer.data(), size), dest);
    r.sent = true;
    if (r) return succeeded(std::move(r));
    // No whole answer: the rest (or all of it) may still come.
    if (r.status == LinkStatus::NoAnswer || (r.status == LinkStatus::Damaged && size < wanted))
        drainLateAnswer();
    return failed(std::move(r));
}

LinkResult MBProtocol::readHoldingRegisters(int slaveAddress, int firstRegister, int count, uint16_t* dest,
                                            uint16_t /*transaction: RTU has none*/) {
    if (closing_) return LinkResult::failure(LinkStatus::Aborted);
    if (firstRegister < 0 || firstRegister > MaxFirstRegister || !slaveInRange(slaveAddress))
        return refused("register or unit out of range");
    // Only 16 bits of a register number go on the wire: a range past 65535 would silently read
    // other registers. Oversized and empty requests are refused the same way.
    if (count < 1 || count > MaxReadRegisters || firstRegister + count > 0x10000 || dest == nullptr)
        return refused("register count out of range");
    BusyGuard busy(busy_);
    FrameBuffer request;
    const size_t length = rtuReadRequest(request, slaveAddress, firstRegister, count);
    const ExpectedAnswer expected = ExpectedAnswer::read(slaveAddress, firstRegister, count);
    return exchange(expected, request, length, rtuAnswerLength(expected), 3, true, dest);
}

LinkResult MBProtocol::writeMultipleRegisters(int slaveAddress, int firstRegister, int count,
                                              const uint16_t* src) {
    if (closing_) return LinkResult::failure(LinkStatus::Aborted);
    if (firstRegister < 0 || firstRegister > MaxFirstRegister || !slaveInRange(slaveAddress))
        return refused("register or unit out of range");
    if (count < 1 || count > MaxWriteRegisters || firstRegister + count > 0x10000 || src == nullptr)
        return refused("register count out of range");
    BusyGuard busy(busy_);
    FrameBuffer request;
    const size_t length = rtuWriteRequest(request, slaveAddress, firstRegister, count, src);
    // The acknowledgement is 8 bytes; asking for 2N + 5 lets a longer read end on the gap after
    // it, but never fewer than its 8 (a byte left on the line would spoil the next answer).
    const ExpectedAnswer expected = ExpectedAnswer::write(slaveAddress, firstRegister, count);
    const size_t wanted = std::max<size_t>(static_cast<size_t>(2 * count + 5), rtuAnswerLength(expected));
    LinkResult r = exchange(expected, request, length, wanted, 3, true, nullptr);
    return r;
}

LinkResult MBProtocol::executeCommand(int slaveAddress, int command) {
    if (closing_) return LinkResult::failure(LinkStatus::Aborted);
    // A broadcast (0) would make every unit on the line execute the command, and a number past
    // 16 bits would arrive as a different command: refused without sending.
    if (!slaveInRange(slaveAddress) || command < 0 || command > 0xFFFF)
        return refused("command or unit out of range");
    BusyGuard busy(busy_);
    FrameBuffer request;
    const size_t length = rtuCoilRequest(request, slaveAddress, command);
    const ExpectedAnswer expected = ExpectedAnswer::coil(slaveAddress, command);
    // The echo may come late: up to four reads of the receive wait.
    return exchange(expected, request, length, rtuAnswerLength(expected), 4, false, nullptr);
}

} // namespace kt
