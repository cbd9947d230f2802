#pragma once

// The one checker of the unit's answers, for both transports. Given what was asked, it says
// whether the bytes that came back answer it: every field is checked (unit id, function,
// exception code, byte count, echoed start and count, echoed coil and value, CRC or MBAP header),
// and the registers of a read are copied out only from an answer that passed.

#include "link/link_result.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace kt {

struct ExpectedAnswer {
    uint8_t unit = 0;
    uint8_t function = 0;     // 0x03 read, 0x10 write, 0x05 coil
    uint16_t first = 0;       // first register, or the coil
    uint16_t count = 0;       // registers of a read or write
    uint16_t value = 0;       // the coil's value (0xFF00)
    uint16_t transaction = 0; // Modbus TCP only

    static ExpectedAnswer read(int unit, int first, int count, uint16_t transaction = 0);
    static ExpectedAnswer write(int unit, int first, int count);
    static ExpectedAnswer coil(int unit, int coil);
};

// Bytes of the whole answer: a read 2N + 5, a write or coil echo 8 (RTU); the MBAP header
// and PDU (TCP): a read 2N + 9, a write 12.
size_t rtuAnswerLength(const ExpectedAnswer& expected);
size_t tcpAnswerLength(const ExpectedAnswer& expected);
// An exception answer is this long (address, function | 0x80, code, CRC).
inline constexpr size_t RtuExceptionLength = 5;

// The PDU (function code onward). `dest` receives the registers of a read answer that passed.
LinkResult checkPdu(const ExpectedAnswer& expected, std::span<const uint8_t> pdu, uint16_t* dest);
// A serial answer as received: address, PDU, CRC. An empty frame is no answer; a frame that
// stops short is damaged (or no answer when not even an address and function arrived).
LinkResult checkRtuAnswer(const ExpectedAnswer& expected, std::span<const uint8_t> frame, uint16_t* dest);
// A TCP answer: the MBAP header (transaction, protocol 0, length, unit id) and the PDU.
LinkResult checkTcpAnswer(const ExpectedAnswer& expected, std::span<const uint8_t> adu, uint16_t* dest);

} // namespace kt
