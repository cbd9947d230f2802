#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kt {

// Requests and answers are built in fixed buffers of this size; no allocation per transfer.
inline constexpr size_t FrameBufferSize = 300;
using FrameBuffer = std::array<uint8_t, FrameBufferSize>;

// The holding register a TCP unit executes command n from.
inline constexpr int CommandRegister = 6;

// Modbus CRC-16 (polynomial 0xA001 reflected, start 0xFFFF). Run over a whole answer,
// its own CRC bytes included, it ends at 0 when the answer is intact.
constexpr uint16_t modbusCrc(std::span<const uint8_t> bytes) {
    uint16_t crc = 0xFFFF;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

// Each builder writes one request into `out` and returns its length. The callers have
// checked the counts (at most 125 to read, 123 to write), so every frame fits.

// RTU function 3: address, 03, first, N, CRC (8 bytes).
size_t rtuReadRequest(FrameBuffer& out, int slaveAddress, int firstRegister, int count);
// RTU function 16: address, 10, first, N, 2N, values, CRC (9 + 2N bytes).
size_t rtuWriteRequest(FrameBuffer& out, int slaveAddress, int firstRegister, int count,
                       const uint16_t* values);
// RTU function 5, coil ON: address, 05, coil, FF 00, CRC (8 bytes).
size_t rtuCoilRequest(FrameBuffer& out, int slaveAddress, int coil);

// TCP function 3 with its transaction number (12 bytes).
size_t tcpReadRequest(FrameBuffer& out, uint16_t transaction, int slaveAddress, int firstRegister, int count);
// TCP function 16, transaction 0 (13 + 2N bytes).
size_t tcpWriteRequest(FrameBuffer& out, int slaveAddress, int firstRegister, int count,
                       const uint16_t* values);
// TCP command n: n written into register 6, transaction 0 (15 bytes).
size_t tcpCommandRequest(FrameBuffer& out, int slaveAddress, int command);

} // namespace kt
