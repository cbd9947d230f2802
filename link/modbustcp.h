#pragma once

#include "link/connection_settings.h"
#include "link/link_timings.h"
#include "link/modbus_answer.h"
#include "link/modbus_frames.h"
#include "link/platform/tcp_client.h"
#include "link/transport.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

namespace kt {

// Modbus TCP to a unit with an Ethernet option. Connects lazily, reconnects with a fresh client
// when the socket reports an error, and checks every answer against its request: a late answer
// to an earlier read is skipped, an exception answer fails at once.
class ModbusTCP final : public Transport {
public:
    static constexpr int MaxFirstRegister = 9999;

    explicit ModbusTCP(std::string ipAddress, uint16_t port = DefaultTcpPort, LinkOptions options = {});
    ~ModbusTCP() override;

    LinkResult readHoldingRegisters(int slaveAddress, int firstRegister, int count, uint16_t* dest,
                                    uint16_t transaction) override;
    LinkResult writeMultipleRegisters(int slaveAddress, int firstRegister, int count,
                                      const uint16_t* src) override;
    // Writes `command` into register 6; done when the unit acknowledged the write. The
    // acknowledgement is awaited for the command wait, not the read time-out: the request is
    // never sent twice, so a late acknowledgement must still count.
    LinkResult executeCommand(int slaveAddress, int command) override;
    void abort() override { aborted_ = true; }

private:
    LinkResult connect();
    LinkResult reconnect();
    LinkResult ensureConnected();
    LinkResult exchange(const ExpectedAnswer& expected, const FrameBuffer& request, size_t length,
                        std::chrono::milliseconds wait, uint16_t* dest);
    // Reads one whole answer (MBAP header and PDU) into `answer`; NoAnswer on a time-out or a
    // closed connection, Damaged for a header no Modbus TCP unit sends.
    LinkResult readAnswer(FrameBuffer& answer, size_t& length,
                          std::chrono::steady_clock::time_point deadline);
    std::string key() const;

    std::unique_ptr<platform::TcpClient> client_;
    const std::string host_;
    const uint16_t port_;
    const LinkOptions options_;
    bool everConnected_ = false;
    std::atomic<bool> aborted_{false};
};

} // namespace kt
