#pragma once

#include "link/connection_settings.h"
#include "link/link_result.h"
#include "link/link_timings.h"
#include "link/platform/process_lock.h"
#include "link/transport.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

namespace kt {

// The one object every Modbus transfer to the unit goes through. It owns the transport for the
// link type, makes each exchange exclusive through the process-wide lock "comport", retries
// each operation up to three times and stops retrying once asked to abort. Every transfer
// returns what it came to; nothing is thrown to the caller.
//
// The abort flag and the transaction counter belong to this facade, so the teardown of an old
// connection's facade never cuts the retries of a new one. Several threads may call one facade;
// destruction waits for calls already inside to finish their current attempt. A facade must
// outlive calls started on it.
class Protocol {
public:
    static constexpr const char* LockName = "comport";
    static constexpr int Attempts = 3;

    // Builds the transport for settings.linkType (RTU with portName and baudRate, TCP with
    // ipAddress and tcpPort). Opens no port and no socket.
    explicit Protocol(const ConnectionSettings& settings, LinkOptions options = {});
    // The given transport serves settings.linkType (tests, tools).
    Protocol(const ConnectionSettings& settings, std::unique_ptr<Transport> transport,
             LinkOptions options = {});
    // Aborts, waits for calls in flight, closes the transport. The device's settling pause after
    // closing is paid by the next transport that opens it, not here.
    ~Protocol();
    Protocol(const Protocol&) = delete;
    Protocol& operator=(const Protocol&) = delete;

    // Function 3 into dest[0..count-1]; done when the unit answered. On a failure dest is left
    // as it was.
    LinkResult ReadRegisters(const ConnectionSettings& settings, int firstRegister, int count,
                             uint16_t* dest);
    // Function 16 from src[0..count-1]; done when the unit acknowledged. A write that got no
    // acknowledgement is sent again (a register write repeated leaves the same value).
    LinkResult WriteRegisters(const ConnectionSettings& settings, int firstRegister, int count,
                              const uint16_t* src);
    // Unit command n: coil n ON over serial, n into register 6 over TCP. Sent at most once: once
    // the request went out it is never repeated (a unit that carried it out but whose
    // acknowledgement was lost or late would run it twice), and an acknowledgement within the
    // command wait counts. Attempts that could not send (link busy, port not open) are retried.
    LinkResult WriteCoil(const ConnectionSettings& settings, int command);

    // Stops every retry loop of this facade after its current attempt and cuts the transport's
    // waits short; calls made afterwards end at once as aborted. The destructor does this first.
    void requestAbort();
    bool abortRequested() const { return abort_; }
    int32_t linkType() const { return linkType_; }
    const LinkTimings& timings() const { return options_.timings; }

private:
    enum class Kind { Read, Write, Command };
    template <typename Call> LinkResult retry(Kind kind, Call&& call);
    Transport* transportFor(const ConnectionSettings& settings) const;
    void enter();
    void leave();

    const int32_t linkType_;
    const LinkOptions options_;
    std::unique_ptr<Transport> transport_;
    platform::ProcessLock lock_{LockName};
    std::atomic<bool> abort_{false};
    std::atomic<uint32_t> transactions_{0};
    std::mutex callsMutex_;
    std::condition_variable callsDone_;
    int callsInFlight_ = 0;
};

} // namespace kt
