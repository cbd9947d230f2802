#pragma once

// What one transfer to the unit came to. Every transfer of the link facade and of the transports
// returns one: done, or the reason it failed, so the window and the command-line tool can say what
// went wrong instead of "false".

#include <cstdint>
#include <string>
#include <string_view>

namespace kt {

enum class LinkStatus : uint8_t {
    Done,
    NoAnswer,   // nothing (or not a whole answer) arrived within the wait
    Exception,  // the unit answered with a Modbus exception (exceptionCode)
    Damaged,    // an answer arrived but is broken: CRC, length, byte count
    Mismatch,   // a well-formed answer that does not answer this request (unit, function, echo, transaction)
    CannotOpen, // the serial port or the socket could not be opened (detail: the system's reason)
    LockBusy,   // another exchange held the link for the whole wait
    Aborted,    // the link was being closed: the transfer stopped after its current attempt
    Cancelled,  // the request never ran (the connection ended before its turn)
    Refused,    // not a request this link can send (register or count out of range): nothing sent
};

struct LinkResult {
    LinkStatus status = LinkStatus::Done;
    // Attempts the facade made (0 when none could start). Transports report 1.
    uint8_t attempts = 0;
    // The Modbus exception code of an Exception answer.
    uint8_t exceptionCode = 0;
    // True once a request of this transfer went out on the wire.
    bool sent = false;
    // What exactly was wrong, in words ("CRC", "echoed start 301, expected 300", "No such file or
    // directory"); empty when there is nothing to add. Empty on success, so a good transfer does
    // not allocate.
    std::string detail;

    bool ok() const { return status == LinkStatus::Done; }
    explicit operator bool() const { return ok(); }

    static LinkResult done() { return {}; }
    static LinkResult failure(LinkStatus s, std::string detail = {}) {
        LinkResult r;
        r.status = s;
        r.detail = std::move(detail);
        return r;
    }
    static LinkResult exception(uint8_t code) {
        LinkResult r;
        r.status = LinkStatus::Exception;
        r.exceptionCode = code;
        return r;
    }
};

// "illegal data address" for 2, ...; "exception code N" for codes Modbus does not name.
std::string modbusExceptionText(uint8_t code);
// A short name of a status: "done", "no answer", "exception", ...
std::string_view linkStatusName(LinkStatus status);

// What a transfer was, for the words of a failure.
struct TransferWhat {
    enum Kind : uint8_t { Read, Write, Command } kind = Read;
    int first = 0; // first register, or the command number
    int count = 0;
};

// One line that names the unit, the link and what failed, for the command-line tool and the
// window's detail text:
//   "no answer from unit 254 at 192.168.1.50:502 after 3 attempts"
//   "unit 254 at 192.168.1.50:502 refused registers 300..349: illegal data address (exception 2)"
// `where` is the link as the operator named it ("192.168.1.50:502", "/dev/ttyUSB0").
std::string describeLinkResult(const LinkResult& result, int unit, std::string_view where,
                               const TransferWhat& what);

} // namespace kt
