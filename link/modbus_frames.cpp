#include "link/modbus_frames.h"

namespace kt {

namespace {

uint8_t hi(int v) {
    return static_cast<uint8_t>((v >> 8) & 0xFF);
}
uint8_t lo(int v) {
    return static_cast<uint8_t>(v & 0xFF);
}

size_t appendCrc(FrameBuffer& out, size_t n) {
    uint16_t crc = modbusCrc(std::span<const uint8_t>(out.data(), n));
    out[n] = lo(crc);
    out[n + 1] = hi(crc);
    return n + 2;
}

// The MBAP header: transaction, protocol 0, length (unit id + PDU), unit id.
size_t mbap(FrameBuffer& out, uint16_t transaction, int length, int slaveAddress) {
    out[0] = hi(transaction);
    out[1] = lo(transaction);
    out[2] = 0;
    out[3] = 0;
    out[4] = hi(length);
    out[5] = lo(length);
    out[6] = lo(slaveAddress);
    return 7;
}

} // namespace

size_t rtuReadRequest(FrameBuffer& out, int slaveAddress, int firstRegister, int count) {
    out[0] = lo(slaveAddress);
    out[1] = 0x03;
    out[2] = hi(firstRegister);
    out[3] = lo(firstRegister);
    out[4] = hi(count);
    out[5] = lo(count);
    return appendCrc(out, 6);
}

size_t rtuWriteRequest(FrameBuffer& out, int slaveAddress, int firstRegister, int count,
                       const uint16_t* values) {
    out[0] = lo(slaveAddress);
    out[1] = 0x10;
    out[2] = hi(firstRegister);
    out[3] = lo(firstRegister);
    out[4] = hi(count);
    out[5] = lo(count);
    out[6] = lo(2 * count);
    size_t n = 7;
    for (int i = 0; i < count; ++i) {
        out[n++] = hi(values[i]);
        out[n++] = lo(values[i]);
    }
    return appendCrc(out, n);
}

size_t rtuCoilRequest(FrameBuffer& out, int slaveAddress, int coil) {
    out[0] = lo(slaveAddress);
    out[1] = 0x05;
    out[2] = hi(coil);
    out[3] = lo(coil);
    out[4] = 0xFF;
    out[5] = 0x00;
    return appendCrc(out, 6);
}

size_t tcpReadRequest(FrameBuffer& out, uint16_t transaction, int slaveAddress, int firstRegister,
                      int count) {
    size_t n = mbap(out, transaction, 6, slaveAddress);
    out[n++] = 0x03;
    out[n++] = hi(firstRegister);
    out[n++] = lo(firstRegister);
    out[n++] = 0;
    out[n++] = lo(count);
    return n;
}

size_t tcpWriteRequest(FrameBuffer& out, int slaveAddress, int firstRegister, int count,
                       const uint16_t* values) {
    size_t n = mbap(out, 0, 2 * count + 7, slaveAddress);
    out[n++] = 0x10;
    out[n++] = hi(firstRegister);
    out[n++] = lo(firstRegister);
    out[n++] = 0;
    out[n++] = lo(count);
    out[n++] = lo(2 * count);
    for (int i = 0; i < count; ++i) {
        out[n++] = hi(values[i]);
        out[n++] = lo(values[i]);
    }
    return n;
}

size_t tcpCommandRequest(FrameBuffer& out, int slaveAddress, int command) {
    const uint16_t value = static_cast<uint16_t>(command);
    return tcpWriteRequest(out, slaveAddress, CommandRegister, 1, &value);
}

} // namespace kt
