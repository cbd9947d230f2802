#pragma once

#include "link/modbus_frames.h"
#include "link/platform/serial_port.h"
#include "link/transport.h"

#include <atomic>
#include <iosfwd>
#include <string>

namespace kt {

// Where the serial transport's diagnostic lines go: standard output unless changed. The
// command-line tool sends them to standard error so that its own output stays parseable.
void setLinkDiagnosticStream(std::ostream& os);

// Modbus RTU over a serial port. Opens the port on the first transfer, counts consecutive
// failures and closes the port on the fourth in a row; the next transfer opens it again.
// Each instance has its own port, so tearing down an old link cannot close a new one's port.
class MBProtocol final : public Transport {
public:
    static constexpr platform::SerialTimeouts PortTimeouts{20, 500, 20};
    static constexpr int MaxFirstRegister = 99999;
    static constexpr int MaxFailures = 3; // the next failure closes the port

    MBProtocol(const std::string& portName, int baudRate);
    // Refuses further transfers, waits up to 1000 ms for one in progress, closes the port.
    ~MBProtocol() override;

    bool readHoldingRegisters(int slaveAddress, int firstRegister, int count, uint16_t* dest,
                              uint16_t transaction) override;
    bool writeMultipleRegisters(int slaveAddress, int firstRegister, int count, const uint16_t* src) override;
    // Coil `command` ON; true when the unit echoed the request.
    bool executeCommand(int slaveAddress, int command) override;

    bool portOpen() const { return port_.isOpen(); }
    int failureCount() const { return failures_; }

private:
    bool registerTransfer(uint8_t function, int slaveAddress, int firstRegister, int count, uint16_t* dest,
                          const uint16_t* src);
    bool send(const FrameBuffer& request, size_t length);
    void openPort();
    bool succeeded();
    bool failed();

    platform::SerialPort port_;
    const std::string devicePath_;
    const int baudRate_;
    int failures_ = 0;
    std::atomic<bool> busy_{false};
    std::atomic<bool> closing_{false};
};

} // namespace kt
