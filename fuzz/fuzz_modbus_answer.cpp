// Any bytes as the unit's answer to any request, over either link: the checker must stay within
// the bytes it was given, never write a read's destination from an answer it refuses, and accept
// only an answer that is exactly the one asked for.
//
// Input: byte 0 picks the link (bit 0: TCP) and the request (bits 1-2: read, write, coil);
// byte 1 the register count; bytes 2-3 the first register or coil; bytes 4-5 the transaction;
// byte 6 the unit id; the rest is the answer as received.
#include "link/modbus_answer.h"
#include "link/modbus_frames.h"
#include "link/transport.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

void check(bool holds) {
    if (!holds) __builtin_trap();
}

uint16_t word(const uint8_t* b) {
    return static_cast<uint16_t>(b[0] << 8 | b[1]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 7) return 0;
    const bool tcp = data[0] & 1;
    const int kind = (data[0] >> 1) & 3;
    const int count = data[1] % kt::MaxReadRegisters + 1;
    const int first = word(data + 2);
    const uint16_t transaction = word(data + 4);
    const int unit = data[6];
    kt::ExpectedAnswer e = kind == 1   ? kt::ExpectedAnswer::write(unit, first, std::min(count, 123))
                           : kind == 2 ? kt::ExpectedAnswer::coil(unit, first)
                                       : kt::ExpectedAnswer::read(unit, first, count, transaction);
    if (tcp && kind != 0 && kind != 3) e.transaction = transaction;

    // The answer in a buffer of its own size, so that ASan sees any read past it.
    const std::vector<uint8_t> answer(data + 7, data + size);
    std::array<uint16_t, kt::MaxReadRegisters + 1> dest;
    dest.fill(0xA5A5);
    const kt::LinkResult r =
        tcp ? kt::checkTcpAnswer(e, answer, dest.data()) : kt::checkRtuAnswer(e, answer, dest.data());

    if (!r.ok()) {
        // A refused answer leaves the destination as it was.
        for (uint16_t v : dest) check(v == 0xA5A5);
        check(r.status != kt::LinkStatus::Done);
        if (r.status == kt::LinkStatus::Exception) {
            const size_t pdu = tcp ? 7 : 1;
            check(answer.size() > pdu + 1 && answer[pdu] == (e.function | 0x80) &&
                  answer[pdu + 1] == r.exceptionCode);
        }
        return 0;
    }

    // Accepted: exactly the answer asked for, every field as asked.
    check(r.detail.empty());
    check(answer.size() == (tcp ? kt::tcpAnswerLength(e) : kt::rtuAnswerLength(e)));
    const size_t at = tcp ? 7 : 1; // the function code
    check(answer[at - 1] == e.unit);
    check(answer[at] == e.function);
    if (tcp) {
        check(word(answer.data()) == e.transaction);
        check(word(answer.data() + 2) == 0);
        check(word(answer.data() + 4) == answer.size() - 6);
    } else {
        check(kt::modbusCrc(answer) == 0);
    }
    switch (e.function) {
    case 0x03:
        check(answer[at + 1] == 2 * e.count);
        for (int i = 0; i < e.count; ++i)
            check(dest[static_cast<size_t>(i)] == word(answer.data() + at + 2 + 2 * i));
        check(dest[e.count] == 0xA5A5); // nothing past the registers asked for
        break;
    case 0x10:
        check(word(answer.data() + at + 1) == e.first && word(answer.data() + at + 3) == e.count);
        break;
    case 0x05:
        check(word(answer.data() + at + 1) == e.first && word(answer.data() + at + 3) == 0xFF00);
        break;
    }
    return 0;
}
