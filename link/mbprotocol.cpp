#include "link/mbprotocol.h"

#include "link/gui_pump.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <thread>

namespace kt {

namespace {

using namespace std::chrono_literals;

std::atomic<std::ostream*> diagnosticStream{&std::cout};

void diagnostic(const char* line) {
    *diagnosticStream.load() << line << std::endl;
}

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

} // namespace

void setLinkDiagnosticStream(std::ostream& os) {
    diagnosticStream = &os;
}

MBProtocol::MBProtocol(const std::string& portName, int baudRate)
    : devicePath_(platform::SerialPort::devicePath(portName)), baudRate_(baudRate) {}

MBProtocol::~MBProtocol() {
    closing_ = true;
    for (int step = 0; step < 100 && busy_; ++step) {
        processPendingGuiEvents();
        std::this_thread::sleep_for(10ms);
    }
    port_.close();
    std::this_thread::sleep_for(20ms);
}

void MBProtocol::openPort() {
    switch (port_.open(devicePath_)) {
    case platform::SerialOpenResult::Ok:
        break;
    case platform::SerialOpenResult::NotFound:
        diagnostic("Error: Serial port does not exist. Please check the port name and try again");
        [[fallthrough]];
    default:
        diagnostic("Error!");
    }
    // The steps below fail on a port that did not open, and say so; the write then fails and
    // the transfer is counted as failed.
    if (!port_.setTimeouts(PortTimeouts)) diagnostic("Error!");
    if (!port_.getLineSettings()) diagnostic("Error Getting State");
    // A pseudo-terminal may refuse the baud rate; the link works regardless.
    if (!port_.setLine(baudRate_)) diagnostic("Error getting state");
    failures_ = 0;
}

bool MBProtocol::send(const FrameBuffer& request, size_t length) {
    if (!port_.isOpen() && !closing_) openPort();
    // A stale answer (or the unread tail of the last one) must not be read as this one's.
    port_.purge();
    return port_.write(request.data(), length);
}

bool MBProtocol::succeeded() {
    failures_ = 0;
    return true;
}

bool MBProtocol::failed() {
    if (failures_ < MaxFailures)
        ++failures_;
    else
        port_.close();
    return false;
}

bool MBProtocol::readHoldingRegisters(int slaveAddress, int firstRegister, int count, uint16_t* dest,
                                      uint16_t /*transaction: RTU has none*/) {
    return registerTransfer(0x03, slaveAddress, firstRegister, count, dest, nullptr);
}

bool MBProtocol::writeMultipleRegisters(int slaveAddress, int firstRegister, int count, const uint16_t* src) {
    return registerTransfer(0x10, slaveAddress, firstRegister, count, nullptr, src);
}

bool MBProtocol::registerTransfer(uint8_t function, int slaveAddress, int firstRegister, int count,
                                  uint16_t* dest, const uint16_t* src) {
    if (closing_) return false;
    if (firstRegister < 0 || firstRegister > MaxFirstRegister || !slaveInRange(slaveAddress)) return false;
    // Only 16 bits of a register number go on the wire: a range past 65535 would silently read
    // or write other registers. Oversized and empty requests are refused the same way.
    const int maxCount = function == 0x03 ? MaxReadRegisters : MaxWriteRegisters;
    if (count < 1 || count > maxCount || firstRegister + count > 0x10000) return false;
    if (function == 0x03 ? dest == nullptr : src == nullptr) return false;

    BusyGuard busy(busy_);
    FrameBuffer request;
    FrameBuffer answer;
    size_t length = function == 0x03 ? rtuReadRequest(request, slaveAddress, firstRegister, count)
                                     : rtuWriteRequest(request, slaveAddress, firstRegister, count, src);
    if (!send(request, length)) return failed();

    // A read answer is 2N + 5 bytes. A write acknowledgement (8 bytes) is asked for as that too
    // and ends on the inter-byte gap, but never as fewer than its 8: for N = 1 its last byte
    // could still be on the line when the next request purges the port, and would then be
    // taken as the first byte of the next answer.
    const size_t expected = static_cast<size_t>(2 * count + 5);
    const size_t wanted = function == 0x10 ? std::max<size_t>(expected, 8) : expected;
    std::this_thread::sleep_for(1ms);
    long got = 0;
    for (int reads = 0; reads < 3; ++reads) {
        got = port_.read(answer.data(), wanted);
        if (got != 0) break;
        std::this_thread::sleep_for(1ms);
    }
    if (got < 2 || answer[0] != static_cast<uint8_t>(slaveAddress)) return failed();
    if (answer[1] & 0x80) return failed(); // exception answer
    if (answer[1] == 0x10 && function == 0x10) return succeeded();
    if (answer[1] != 0x03 || function != 0x03) return failed();
    if (static_cast<size_t>(got) != expected || answer[2] != 2 * count) return failed();
    if (modbusCrc(std::span<const uint8_t>(answer.data(), expected)) != 0) return failed();
    for (int i = 0; i < count; ++i)
        dest[i] = static_cast<uint16_t>(answer[3 + 2 * i] << 8 | answer[4 + 2 * i]);
    return succeeded();
}

bool MBProtocol::executeCommand(int slaveAddress, int command) {
    if (closing_) return false;
    // A broadcast (0) would make every unit on the line execute the command, and a number past
    // 16 bits would arrive as a different command: refused without sending.
    if (!slaveInRange(slaveAddress) || command < 0 || command > 0xFFFF) return false;
    FrameBuffer request;
    FrameBuffer answer;
    size_t length = rtuCoilRequest(request, slaveAddress, command);
    if (!send(request, length)) return failed();
    long got = 0;
    for (int reads = 0; reads < 4 && got == 0; ++reads) got = port_.read(answer.data(), 8);
    if (got != 8 || answer[0] != static_cast<uint8_t>(slaveAddress) || answer[1] != 0x05) return failed();
    if (modbusCrc(std::span<const uint8_t>(answer.data(), 8)) != 0) return failed();
    return succeeded();
}

} // namespace kt
