#include "link/protocol.h"

#include "link/mbprotocol.h"
#include "link/modbustcp.h"

#include <thread>

namespace kt {

namespace {

std::unique_ptr<Transport> makeTransport(const ConnectionSettings& settings, const LinkOptions& options) {
    switch (settings.linkType) {
    case LinkSerialRtu:
        return std::make_unique<MBProtocol>(settings.portName, settings.baudRate, options);
    case LinkModbusTcp:
        return std::make_unique<ModbusTCP>(settings.ipAddress, settings.tcpPort, options);
    default:
        return nullptr; // no transport: every call fails
    }
}

} // namespace

Protocol::Protocol(const ConnectionSettings& settings, LinkOptions options)
    : Protocol(settings, makeTransport(settings, options), options) {}

Protocol::Protocol(const ConnectionSettings& settings, std::unique_ptr<Transport> transport,
                   LinkOptions options)
    : linkType_(settings.linkType), options_(std::move(options)), transport_(std::move(transport)) {}

Protocol::~Protocol() {
    requestAbort();
    {
        std::unique_lock guard(callsMutex_);
        callsDone_.wait(guard, [this] { return callsInFlight_ == 0; });
    }
    // Closed under the lock, so a new connection's first transfer cannot find the port still
    // held by this one. Closed all the same if the lock cannot be had.
    platform::LockWait held = lock_.wait(options_.timings.commandLockWait);
    transport_.reset();
    if (held == platform::LockWait::Acquired || held == platform::LockWait::Abandoned) lock_.release();
}

void Protocol::requestAbort() {
    abort_ = true;
    // The transport belongs to this facade until the destructor, which waits for the calls
    // first; an abort from another thread only sets the transport's flag.
    if (transport_) transport_->abort();
}

void Protocol::enter() {
    std::lock_guard guard(callsMutex_);
    ++callsInFlight_;
}

void Protocol::leave() {
    std::lock_guard guard(callsMutex_);
    if (--callsInFlight_ == 0) callsDone_.notify_all();
}

Transport* Protocol::transportFor(const ConnectionSettings& settings) const {
    return settings.linkType == linkType_ ? transport_.get() : nullptr;
}

template <typename Call> LinkResult Protocol::retry(Kind kind, Call&& call) {
    // Left on every way out: the destructor waits on it.
    struct InFlight {
        Protocol& p;
        explicit InFlight(Protocol& facade) : p(facade) { p.enter(); }
        ~InFlight() { p.leave(); }
        InFlight(const InFlight&) = delete;
        InFlight& operator=(const InFlight&) = delete;
    } inFlight(*this);

    const LinkTimings& t = options_.timings;
    const auto wait = kind == Kind::Read    ? t.readLockWait
                      : kind == Kind::Write ? t.writeLockWait
                                            : t.commandLockWait;
    LinkResult last = LinkResult::failure(LinkStatus::Aborted);
    bool anyAttempt = false;
    int attempt = 0;
    for (; attempt < Attempts && !abort_; ++attempt) {
        anyAttempt = true;
        switch (lock_.wait(wait)) {
        case platform::LockWait::Acquired:
            try {
                last = call();
            } catch (const std::exception& e) {
                // A transport fault fails the attempt; the request may have gone out.
                last = LinkResult::failure(LinkStatus::NoAnswer, e.what());
                last.sent = true;
            } catch (...) {
                last = LinkResult::failure(LinkStatus::NoAnswer, "transport fault");
                last.sent = true;
            }
            lock_.release();
            break;
        case platform::LockWait::Abandoned:
            lock_.release(); // its owner died mid-transfer: no transfer on this attempt
            last = LinkResult::failure(LinkStatus::LockBusy,
                                       "the previous holder of the link ended while using it");
            break;
        case platform::LockWait::TimedOut:
        case platform::LockWait::Failed:
            last = LinkResult::failure(LinkStatus::LockBusy);
            break;
        }
        // Requests that can never succeed are not worth another attempt.
        if (last.ok() || last.status == LinkStatus::Refused) {
            ++attempt;
            break;
        }
        // A command that went out is never sent again.
        if (kind == Kind::Command && last.sent) {
            ++attempt;
            break;
        }
        if (kind != Kind::Command) std::this_thread::sleep_for(t.retryPause);
    }
    if (!last.ok() && abort_ && anyAttempt && attempt < Attempts && last.status != LinkStatus::Refused) {
        // Stopped by the teardown: say so, keeping what the last attempt found.
        last.detail = last.detail.empty() ? std::string(linkStatusName(last.status)) : last.detail;
        last.status = LinkStatus::Aborted;
    }
    last.attempts = static_cast<uint8_t>(attempt);
    return last;
}

LinkResult Protocol::ReadRegisters(const ConnectionSettings& settings, int firstRegister, int count,
                                   uint16_t* dest) {
    // Never a valid request on any link: refused without spending attempts.
    if (count < 1 || count > MaxReadRegisters || dest == nullptr)
        return LinkResult::failure(LinkStatus::Refused, "register count out of range");
    return retry(Kind::Read, [&] {
        Transport* tr = transportFor(settings);
        if (!tr) return LinkResult::failure(LinkStatus::Refused, "no transport for this link type");
        uint16_t transaction = 0;
        if (settings.linkType == LinkModbusTcp) transaction = static_cast<uint16_t>(transactions_++);
        return tr->readHoldingRegisters(settings.slaveAddress, firstRegister, count, dest, transaction);
    });
}

LinkResult Protocol::WriteRegisters(const ConnectionSettings& settings, int firstRegister, int count,
                                    const uint16_t* src) {
    if (count < 1 || count > MaxWriteRegisters || src == nullptr)
        return LinkResult::failure(LinkStatus::Refused, "register count out of range");
    return retry(Kind::Write, [&] {
        Transport* tr = transportFor(settings);
        if (!tr) return LinkResult::failure(LinkStatus::Refused, "no transport for this link type");
        return tr->writeMultipleRegisters(settings.slaveAddress, firstRegister, count, src);
    });
}

LinkResult Protocol::WriteCoil(const ConnectionSettings& settings, int command) {
    return retry(Kind::Command, [&] {
        Transport* tr = transportFor(settings);
        if (!tr) return LinkResult::failure(LinkStatus::Refused, "no transport for this link type");
        return tr->executeCommand(settings.slaveAddress, command);
    });
}

} // namespace kt
