#include "link/link_result.h"

namespace kt {

std::string modbusExceptionText(uint8_t code) {
    switch (code) {
    case 1:
        return "illegal function";
    case 2:
        return "illegal data address";
    case 3:
        return "illegal data value";
    case 4:
        return "server device failure";
    case 5:
        return "acknowledge";
    case 6:
        return "server device busy";
    case 8:
        return "memory parity error";
    case 10:
        return "gateway path unavailable";
    case 11:
        return "gateway target device failed to respond";
    default:
        return "exception code " + std::to_string(code);
    }
}

std::string_view linkStatusName(LinkStatus status) {
    switch (status) {
    case LinkStatus::Done:
        return "done";
    case LinkStatus::NoAnswer:
        return "no answer";
    case LinkStatus::Exception:
        return "exception";
    case LinkStatus::Damaged:
        return "damaged answer";
    case LinkStatus::Mismatch:
        return "mismatched answer";
    case LinkStatus::CannotOpen:
        return "cannot open";
    case LinkStatus::LockBusy:
        return "link busy";
    case LinkStatus::Aborted:
        return "aborted";
    case LinkStatus::Cancelled:
        return "cancelled";
    case LinkStatus::Refused:
        return "refused";
    }
    return "unknown";
}

namespace {

std::string registersText(const TransferWhat& what) {
    if (what.count <= 1) return "register " + std::to_string(what.first);
    return "registers " + std::to_string(what.first) + ".." + std::to_string(what.first + what.count - 1);
}

// "the read of registers 0..49", "the write of register 16", "command 5"
std::string transferText(const TransferWhat& what) {
    switch (what.kind) {
    case TransferWhat::Read:
        return "the read of " + registersText(what);
    case TransferWhat::Write:
        return "the write of " + registersText(what);
    case TransferWhat::Command:
        return "command " + std::to_string(what.first);
    }
    return {};
}

std::string withDetail(std::string text, const std::string& detail) {
    if (!detail.empty()) text += ": " + detail;
    return text;
}

std::string attemptsText(int attempts) {
    return attempts == 1 ? "1 attempt" : std::to_string(attempts) + " attempts";
}

} // namespace

std::string describeLinkResult(const LinkResult& r, int unit, std::string_view where,
                               const TransferWhat& what) {
    const std::string unitAt = "unit " + std::to_string(unit) + " at " + std::string(where);
    switch (r.status) {
    case LinkStatus::Done:
        return transferText(what) + " succeeded";
    case LinkStatus::NoAnswer:
        return withDetail("no answer from " + unitAt + " to " + transferText(what) + " after " +
                              attemptsText(r.attempts),
                          r.detail);
    case LinkStatus::Exception: {
        const std::string refused = what.kind == TransferWhat::Command
                                        ? "command " + std::to_string(what.first)
                                        : registersText(what);
        return unitAt + " refused " + refused + ": " + modbusExceptionText(r.exceptionCode) + " (exception " +
               std::to_string(r.exceptionCode) + ")";
    }
    case LinkStatus::Damaged:
        return withDetail("damaged answer from " + unitAt + " to " + transferText(what), r.detail);
    case LinkStatus::Mismatch:
        return withDetail("the answer from " + unitAt + " does not match " + transferText(what), r.detail);
    case LinkStatus::CannotOpen:
        return withDetail("cannot open " + std::string(where), r.detail);
    case LinkStatus::LockBusy:
        return "the link to " + std::string(where) + " stayed busy with another exchange; " +
               transferText(what) + " was not sent";
    case LinkStatus::Aborted:
        return transferText(what) + " was stopped: the connection to " + std::string(where) + " was closed";
    case LinkStatus::Cancelled:
        return transferText(what) + " was cancelled: the connection to " + std::string(where) +
               " ended before it ran";
    case LinkStatus::Refused:
        return withDetail(transferText(what) + " cannot be sent to " + unitAt, r.detail);
    }
    return {};
}

} // namespace kt
