#include "link/modbus_answer.h"

#include "link/modbus_frames.h"

#include <string>

namespace kt {

namespace {

uint16_t word(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint16_t>(b[at] << 8 | b[at + 1]);
}

std::string expectedText(const char* what, unsigned got, unsigned wanted) {
    return std::string(what) + " " + std::to_string(got) + ", expected " + std::to_string(wanted);
}

// "answer cut short: 7 bytes, expected 13"
std::string sizeText(const char* what, size_t got, size_t wanted) {
    return std::string(what) + ": " + std::to_string(got) + " bytes, expected " + std::to_string(wanted);
}

LinkResult damaged(std::string why) {
    return LinkResult::failure(LinkStatus::Damaged, std::move(why));
}

LinkResult mismatch(std::string why) {
    return LinkResult::failure(LinkStatus::Mismatch, std::move(why));
}

size_t pduLength(const ExpectedAnswer& e) {
    return e.function == 0x03 ? 2u + 2u * e.count : 5u;
}

} // namespace

ExpectedAnswer ExpectedAnswer::read(int unit, int first, int count, uint16_t transaction) {
    ExpectedAnswer e;
    e.unit = static_cast<uint8_t>(unit);
    e.function = 0x03;
    e.first = static_cast<uint16_t>(first);
    e.count = static_cast<uint16_t>(count);
    e.transaction = transaction;
    return e;
}

ExpectedAnswer ExpectedAnswer::write(int unit, int first, int count) {
    ExpectedAnswer e;
    e.unit = static_cast<uint8_t>(unit);
    e.function = 0x10;
    e.first = static_cast<uint16_t>(first);
    e.count = static_cast<uint16_t>(count);
    return e;
}

ExpectedAnswer ExpectedAnswer::coil(int unit, int coil) {
    ExpectedAnswer e;
    e.unit = static_cast<uint8_t>(unit);
    e.function = 0x05;
    e.first = static_cast<uint16_t>(coil);
    e.value = 0xFF00;
    return e;
}

size_t rtuAnswerLength(const ExpectedAnswer& e) {
    return 1 + pduLength(e) + 2;
}

size_t tcpAnswerLength(const ExpectedAnswer& e) {
    return 7 + pduLength(e);
}

LinkResult checkPdu(const ExpectedAnswer& e, std::span<const uint8_t> pdu, uint16_t* dest) {
    if (pdu.empty()) return damaged("no function code");
    const uint8_t function = pdu[0];
    if (function == (e.function | 0x80)) {
        if (pdu.size() != 2) return damaged(sizeText("exception answer of the wrong length", pdu.size(), 2));
        return LinkResult::exception(pdu[1]);
    }
    if (function != e.function) return mismatch(expectedText("function", function, e.function));
    const size_t wanted = pduLength(e);
    if (e.function == 0x03) {
        if (pdu.size() < 2) return damaged("no byte count");
        if (pdu[1] != 2 * e.count) return damaged(expectedText("byte count", pdu[1], 2u * e.count));
    }
    if (pdu.size() != wanted) return damaged(sizeText("answer of the wrong length", pdu.size(), wanted));
    switch (e.function) {
    case 0x03:
        if (dest)
            for (size_t i = 0; i < e.count; ++i) dest[i] = word(pdu, 2 + 2 * i);
        break;
    case 0x10:
        if (word(pdu, 1) != e.first) return mismatch(expectedText("echoed start", word(pdu, 1), e.first));
        if (word(pdu, 3) != e.count) return mismatch(expectedText("echoed count", word(pdu, 3), e.count));
        break;
    case 0x05:
        if (word(pdu, 1) != e.first) return mismatch(expectedText("echoed coil", word(pdu, 1), e.first));
        if (word(pdu, 3) != e.value) return mismatch(expectedText("echoed value", word(pdu, 3), e.value));
        break;
    default:
        break;
    }
    return LinkResult::done();
}

LinkResult checkRtuAnswer(const ExpectedAnswer& e, std::span<const uint8_t> frame, uint16_t* dest) {
    if (frame.empty()) return LinkResult::failure(LinkStatus::NoAnswer);
    const size_t wanted = rtuAnswerLength(e);
    // An exception answer is shorter than the answer asked for; it is recognised by its own
    // length and CRC.
    const bool exceptionShape = frame.size() >= 2 && frame[1] == (e.function | 0x80);
    const size_t whole = exceptionShape ? RtuExceptionLength : wanted;
    if (frame.size() < whole) {
        if (frame.size() < 2) return LinkResult::failure(LinkStatus::NoAnswer, "1 byte arrived");
        return damaged(sizeText("answer cut short", frame.size(), whole));
    }
    if (frame.size() > whole) return damaged(sizeText("bytes after the answer", frame.size(), whole));
    if (modbusCrc(frame) != 0) return damaged("CRC error");
    if (frame[0] != e.unit) return mismatch(expectedText("unit", frame[0], e.unit));
    return checkPdu(e, frame.subspan(1, frame.size() - 3), dest);
}

LinkResult checkTcpAnswer(const ExpectedAnswer& e, std::span<const uint8_t> adu, uint16_t* dest) {
    if (adu.empty()) return LinkResult::failure(LinkStatus::NoAnswer);
    if (adu.size() < 8) return damaged(sizeText("answer cut short", adu.size(), tcpAnswerLength(e)));
    const uint16_t transaction = word(adu, 0);
    const uint16_t protocol = word(adu, 2);
    const uint16_t length = word(adu, 4);
    if (protocol != 0) return mismatch(expectedText("protocol id", protocol, 0));
    if (length != adu.size() - 6)
        return damaged(expectedText("MBAP length", length, unsigned(adu.size() - 6)));
    if (transaction != e.transaction)
        return mismatch(expectedText("transaction", transaction, e.transaction));
    if (adu[6] != e.unit) return mismatch(expectedText("unit", adu[6], e.unit));
    return checkPdu(e, adu.subspan(7), dest);
}

} // namespace kt
