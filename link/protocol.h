#pragma once

#include "link/connection_settings.h"
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
// each operation up to three times and stops retrying once asked to abort. Every failure is a
// false result; nothing is thrown to the caller.
//
// The abort flag and the transaction counter belong to this facade, so the teardown of an old
// connection's facade never cuts the retries of a new one. The monitor thread and the GUI
// thread call the same facade at once; destruction waits for calls already inside to finish
// their current attempt. A facade must outlive calls started on it.
class Protocol {
public:
    static constexpr const char* LockName = "comport";
    static constexpr int Attempts = 3;
    static constexpr std::chrono::milliseconds ReadWait{1000};
    static constexpr std::chrono::milliseconds WriteWait{500};
    static constexpr std::chrono::milliseconds CommandWait{2000};
    static constexpr std::chrono::milliseconds RetryPause{5};
    static constexpr std::chrono::milliseconds SettleTime{500}; // after closing the port or socket

    // Builds the transport for settings.linkType (RTU with portName and baudRate, TCP with
    // ipAddress and tcpPort). Opens no port and no socket.
    explicit Protocol(const ConnectionSettings& settings);
    // The given transport serves settings.linkType (tests, tools).
    Protocol(const ConnectionSettings& settings, std::unique_ptr<Transport> transport);
    // Aborts, waits for calls in flight, destroys the transport, waits 500 ms.
    ~Protocol();
    Protocol(const Protocol&) = delete;
    Protocol& operator=(const Protocol&) = delete;

    // Function 3 into dest[0..count-1]; true when the unit answered. On a failure over the
    // serial link dest is left as it was.
    bool ReadRegisters(const ConnectionSettings& settings, int firstRegister, int count, uint16_t* dest);
    // Function 16 from src[0..count-1]; true when the unit acknowledged.
    bool WriteRegisters(const ConnectionSettings& settings, int firstRegister, int count,
                        const uint16_t* src);
    // Unit command n, fire and forget: over serial one coil write at most (an attempt that got
    // the lock counts as done), over TCP up to three writes of n into register 6 until one is
    // acknowledged. The result only tells whether the unit acknowledged the last request sent;
    // the program does not depend on it.
    bool WriteCoil(const ConnectionSettings& settings, int command);

    // Stops every retry loop of this facade after its current attempt; calls made afterwards
    // return false at once. The destructor does this first.
    void requestAbort() { abort_ = true; }
    bool abortRequested() const { return abort_; }
    int32_t linkType() const { return linkType_; }

private:
    enum class PauseKind { None, PumpThenSleep, SleepThenPump };
    template <typename Call>
    bool retry(std::chrono::milliseconds wait, PauseKind pause, bool lockEndsCall, Call&& call);
    Transport* transportFor(const ConnectionSettings& settings) const;
    void enter();
    void leave();

    const int32_t linkType_;
    std::unique_ptr<Transport> transport_;
    platform::ProcessLock lock_{LockName};
    std::atomic<bool> abort_{false};
    std::atomic<uint32_t> transactions_{0};
    std::mutex callsMutex_;
    std::condition_variable callsDone_;
    int callsInFlight_ = 0;
};

} // namespace kt
