#pragma once

#include "link/connection_settings.h"
#include "link/modbus_frames.h"
#include "link/platform/tcp_client.h"
#include "link/transport.h"

#include <chrono>
#include <memory>
#include <string>

namespace kt {

// Modbus TCP to a unit with an Ethernet option. Connects lazily, reconnects with a fresh client
// when the socket reports an error, and checks every answer against its request: a late answer
// to an earlier read is skipped, an exception answer fails at once.
class ModbusTCP final : public Transport {
public:
    static constexpr int ConnectTimeoutMs = 2000;
    static constexpr int ReadTimeoutMs = 1000;
    static constexpr int MaxFirstRegister = 9999;

    explicit ModbusTCP(std::string ipAddress, uint16_t port = DefaultTcpPort);
    ~ModbusTCP() override;

    bool readHoldingRegisters(int slaveAddress, int firstRegister, int count, uint16_t* dest,
                              uint16_t transaction) override;
    bool writeMultipleRegisters(int slaveAddress, int firstRegister, int count, const uint16_t* src) override;
    // Writes `command` into register 6; true when the unit acknowledged the write.
    bool executeCommand(int slaveAddress, int command) override;

private:
    bool connect();
    bool reconnect();
    bool ensureConnected();
    bool exchangeWrite(const FrameBuffer& request, size_t length, int slaveAddress, int firstRegister,
                       int count);
    // Reads one whole answer (MBAP header and PDU) into `answer`; false on a time-out, a closed
    // connection or a header no Modbus TCP unit sends.
    bool readAnswer(FrameBuffer& answer, size_t& length, std::chrono::steady_clock::time_point deadline);

    std::unique_ptr<platform::TcpClient> client_;
    const std::string host_;
    const uint16_t port_;
};

} // namespace kt
