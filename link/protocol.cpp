#include "link/protocol.h"

#include "link/gui_pump.h"
#include "link/mbprotocol.h"
#include "link/modbustcp.h"

#include <thread>

namespace kt {

namespace {

std::unique_ptr<Transport> makeTransport(const ConnectionSettings& settings) {
    switch (settings.linkType) {
    case LinkSerialRtu:
        return std::make_unique<MBProtocol>(settings.portName, settings.baudRate);
    case LinkModbusTcp:
        return std::make_unique<ModbusTCP>(settings.ipAddress, settings.tcpPort);
    default:
        return nullptr; // no transport: every call fails
    }
}

} // namespace

Protocol::Protocol(const ConnectionSettings& settings) : Protocol(settings, makeTransport(settings)) {}

Protocol::Protocol(const ConnectionSettings& settings, std::unique_ptr<Transport> transport)
    : linkType_(settings.linkType), transport_(std::move(transport)) {}

Protocol::~Protocol() {
    requestAbort();
    {
        std::unique_lock guard(callsMutex_);
        callsDone_.wait(guard, [this] { return callsInFlight_ == 0; });
    }
    // Closed under the lock, so a new connection's first transfer cannot find the port still
    // held by this one. Closed all the same if the lock cannot be had.
    platform::LockWait held = lock_.wait(CommandWait);
    transport_.reset();
    if (held == platform::LockWait::Acquired || held == platform::LockWait::Abandoned) lock_.release();
    std::this_thread::sleep_for(SettleTime);
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

template <typename Call>
bool Protocol::retry(std::chrono::milliseconds wait, PauseKind pause, bool lockEndsCall, Call&& call) {
    // Left on every way out, a GUI pump's exception included: the destructor waits on it.
    struct InFlight {
        Protocol& p;
        explicit InFlight(Protocol& facade) : p(facade) { p.enter(); }
        ~InFlight() { p.leave(); }
        InFlight(const InFlight&) = delete;
        InFlight& operator=(const InFlight&) = delete;
    } inFlight(*this);
    bool ok = false;
    bool done = false;
    for (int attempt = 0; attempt < Attempts && !ok && !done && !abort_; ++attempt) {
        switch (lock_.wait(wait)) {
        case platform::LockWait::Acquired:
            try {
                ok = call();
            } catch (...) {
                ok = false; // a transport fault is a failed attempt like any other
            }
            lock_.release();
            done = lockEndsCall;
            break;
        case platform::LockWait::Abandoned:
            lock_.release(); // its owner died mid-transfer: no transfer on this attempt
            break;
        case platform::LockWait::TimedOut:
        case platform::LockWait::Failed:
            break;
        }
        if (ok) break;
        if (pause == PauseKind::PumpThenSleep) {
            processPendingGuiEvents();
            std::this_thread::sleep_for(RetryPause);
        } else if (pause == PauseKind::SleepThenPump) {
            std::this_thread::sleep_for(RetryPause);
            processPendingGuiEvents();
        }
    }
    return ok;
}

bool Protocol::ReadRegisters(const ConnectionSettings& settings, int firstRegister, int count,
                             uint16_t* dest) {
    // Never a valid request on any link: refused without spending attempts.
    if (count < 1 || count > MaxReadRegisters || dest == nullptr) return false;
    return retry(ReadWait, PauseKind::PumpThenSleep, false, [&] {
        Transport* t = transportFor(settings);
        if (!t) return false;
        uint16_t transaction = 0;
        if (settings.linkType == LinkModbusTcp) transaction = static_cast<uint16_t>(transactions_++);
        return t->readHoldingRegisters(settings.slaveAddress, firstRegister, count, dest, transaction);
    });
}

bool Protocol::WriteRegisters(const ConnectionSettings& settings, int firstRegister, int count,
                              const uint16_t* src) {
    if (count < 1 || count > MaxWriteRegisters || src == nullptr) return false;
    return retry(WriteWait, PauseKind::SleepThenPump, false, [&] {
        Transport* t = transportFor(settings);
        return t && t->writeMultipleRegisters(settings.slaveAddress, firstRegister, count, src);
    });
}

bool Protocol::WriteCoil(const ConnectionSettings& settings, int command) {
    // Over serial a command the unit executed but whose echo got lost must not run twice.
    const bool oneRequest = settings.linkType == LinkSerialRtu;
    return retry(CommandWait, PauseKind::None, oneRequest, [&] {
        Transport* t = transportFor(settings);
        return t && t->executeCommand(settings.slaveAddress, command);
    });
}

} // namespace kt
