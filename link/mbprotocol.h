#pragma once

#include "link/link_timings.h"
#include "link/modbus_answer.h"
#include "link/modbus_frames.h"
#include "link/platform/serial_port.h"
#include "link/transport.h"

#include <atomic>
#include <string>

namespace kt {

// Modbus RTU over a serial port. Opens the port on the first transfer, counts consecutive
// failures and closes the port on the fourth in a row; the next transfer opens it again.
// Each instance has its own port, so tearing down an old link cannot close a new one's port.
//
// RTU answers carry no transaction number: after a request that got no whole answer the line is
// drained until it has been quiet long enough, so a unit's late answer is discarded instead of
// being read as the answer to the next request.
class MBProtocol final : public Transport {
public:
    static constexpr int MaxFirstRegister = 99999;
    static constexpr int MaxFailures = 3; // the next failure closes the port

    MBProtocol(const std::string& portName, int baudRate, LinkOptions options = {});
    // Refuses further transfers, waits (up to closeWait) for one in progress, closes the port.
    ~MBProtocol() override;

    LinkResult readHoldingRegisters(int slaveAddress, int firstRegister, int count, uint16_t* dest,
                                    uint16_t transaction) override;
    LinkResult writeMultipleRegisters(int slaveAddress, int firstRegister, int count,
                                      const uint16_t* src) override;
    // Coil `command` ON; done when the unit echoed the request.
    LinkResult executeCommand(int slaveAddress, int command) override;
    void abort() override { closing_ = true; }

    bool portOpen() const { return port_.isOpen(); }
    int failureCount() const { return failures_; }

private:
    LinkResult exchange(const ExpectedAnswer& expected, const FrameBuffer& request, size_t length,
                        size_t wanted, int reads, bool pauseBetweenReads, uint16_t* dest);
    LinkResult openPort();
    void drainLateAnswer();
    LinkResult succeeded(LinkResult r);
    LinkResult failed(LinkResult r);
    void diagnostic(std::string_view line) const;

    platform::SerialPort port_;
    const std::string devicePath_;
    const int baudRate_;
    const LinkOptions options_;
    int failures_ = 0;
    std::atomic<bool> busy_{false};
    std::atomic<bool> closing_{false};
};

} // namespace kt
