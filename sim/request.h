#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kt::sim {

inline constexpr uint8_t FcReadHoldingRegisters = 3;
inline constexpr uint8_t FcWriteSingleCoil = 5;
inline constexpr uint8_t FcWriteMultipleRegisters = 16;
inline constexpr uint16_t CoilOn = 0xFF00;

// One request as the master sent it, before the unit judges it.
struct Request {
    uint8_t unit = 0;
    uint8_t function = 0;
    bool wellFormed = false;      // the PDU is long enough for its function's fields
    uint16_t start = 0;           // first register (3, 16) or coil (5)
    uint16_t count = 0;           // registers asked for (3, 16)
    uint16_t value = 0;           // coil value (5)
    uint8_t byteCount = 0;        // (16)
    std::vector<uint16_t> values; // (16) as many as the bytes sent carry
    std::vector<uint8_t> data;    // any other function, or a short PDU: the bytes after the code
};

// `pdu` starts at the function code; address, MBAP header and CRC are already stripped.
Request parseRequest(uint8_t unit, std::span<const uint8_t> pdu);

// The request log line: "fc=3 start=S count=N", "fc=16 start=S count=N values=V1,V2",
// "fc=5 coil=C value=V"; anything else "fc=F data=HEX".
std::string logLine(const Request& request);

} // namespace kt::sim
