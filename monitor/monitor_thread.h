#pragma once

// The monitor engine: one background thread per connection that identifies the unit, loads its
// register tables and polls it every 750 ms, plus the write, command and event-record operations
// the GUI thread calls on the same link.
//
// This header is the contract between the engine and its users (the main window, the
// command-line tool, the tests). Members marked "contract" are relied on by the window.

#include "link/connection_settings.h"
#include "link/protocol.h"
#include "monitor/message_sink.h"
#include "monitor/pass_snapshot.h"
#include "monitor/register_codec.h"
#include "monitor/register_tables.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

namespace kt {

inline constexpr int EventTextCount = 8;

// What the engine tells the main window. Every call arrives on the GUI thread: notifications of
// the polling thread are handed over through the GuiDispatcher and the polling thread waits until
// the call has returned (contract).
struct MonitorNotifier : MessageSink {
    // After every successful poll pass; the register values of that pass are complete.
    virtual void statusRefresh(int lastGroupIndex) = 0;
    // After a successful pass, only for communication options 6, 7 and 8.
    virtual void networkInputStatus(int32_t flags, const std::array<int32_t, NetworkInputCount>& status) = 0;
    // Identification or table loading failed: start the fallback timer (legacy monitor).
    virtual void startFallbackTimer() = 0;
    // The event reader produced a record or a status (called from readEventRecords).
    virtual void eventListUpdate(uint16_t eventCount,
                                 const std::array<std::string, EventTextCount>& texts) = 0;
    // showMessage (from MessageSink): the register-file loader's messages and "Write Failed".
};

// How the polling thread reaches the GUI thread. The GUI posts `call` into its event loop
// (a queued invocation); the command-line tool, which has no GUI thread, runs it at once.
// The engine waits for the call to finish; when the thread is asked to stop before a posted call
// has started, the engine stops waiting and the call is cancelled (it will not run), so a GUI
// that waits for the thread can never deadlock with a pending hand-over.
struct GuiDispatcher {
    virtual ~GuiDispatcher() = default;
    virtual void post(std::function<void()> call) = 0;
};

// Runs every call at once on the calling thread (command-line tool, tests).
struct InlineDispatcher : GuiDispatcher {
    void post(std::function<void()> call) override { call(); }
};

// The PC's local date and time as the clock command sends it.
using LocalClock = std::function<ClockFields()>;
ClockFields systemLocalClock();


// The event reader reads at most this many records, newest first. Register 61 can claim 65535
// records, about half an hour of selector writes and reads on the GUI thread; units hold far
// fewer (the simulator's ring holds 100), so a larger count is taken as a damaged register.
inline constexpr int MaxEventRecords = 1000;

namespace detail {
class MonitorEngine;
}

struct MonitorOptions {
    RegisterTables* tables = nullptr; // nullptr: registerTables()
    std::string resourcesFolder;      // empty: the resources folder beside the program
    LocalClock clock;                 // empty: systemLocalClock
    std::chrono::milliseconds pollInterval{750};
    // Builds the link facade; empty: Protocol(settings). Tests inject scripted transports here.
    std::function<std::unique_ptr<Protocol>(const ConnectionSettings&)> makeProtocol;
    int maxEventRecords = MaxEventRecords; // the event reader's bound
};

// One engine per connection. Threads and lifetime:
// - The register tables are process-wide, so a new engine waits (without blocking its creator,
//   and ending early when asked to stop) until every engine created before it has finished: its
//   run has ended and its link facade is gone. Only then does it build its facade and identify.
//   The window may therefore start a new connection while the old one still ends its last pass,
//   and need never wait itself; an older engine that is never asked to stop keeps the new one
//   waiting.
// - The facade is shared: the GUI-thread operations hold it only while they use it, so it is never
//   destroyed under them; once the engine has ended (or before its facade exists) they return
//   false.
// - Do not destroy an engine from inside one of its own calls or notifications (a nested event
//   loop included): ask it to stop there and delete it later.
// - Engine operations take lockRegisterValues() themselves: never call them while holding it.
class Monitor_Thread {
public:
    static constexpr int ReadChunk = 50;
    static constexpr int RefusedReadChunk = 20;
    static constexpr int WriteChunk = 27;

    // Starts the thread at once (contract). `settings` is copied: the window may refill its record
    // for the next connection while this thread ends. The notifier and dispatcher must outlive
    // the thread (the destructor joins it).
    Monitor_Thread(const ConnectionSettings& settings, MonitorNotifier& notifier, GuiDispatcher& dispatcher,
                   MonitorOptions options = {});
    // Asks the thread to stop and waits for it (contract).
    ~Monitor_Thread();
    Monitor_Thread(const Monitor_Thread&) = delete;
    Monitor_Thread& operator=(const Monitor_Thread&) = delete;

    // Asks the thread to stop and returns at once (contract): the link's retries end after their
    // current attempt, a pending hand-over is cancelled, the thread ends after its current step.
    void requestStop();
    bool stopRequested() const;
    // True once the run loop has ended and the facade is gone (contract).
    bool finished() const;
    // Waits for the thread to end (contract; call requestStop first).
    void join();

    // ---- state read by the GUI (contract) ----
    bool identified() const;
    int32_t pollCount() const;
    int32_t firmwareVersion() const;
    int32_t chunkSize() const;

    // Blocks until the unit has been identified and its tables loaded (true), or identification
    // failed, the engine was asked to stop or `timeout` passed (false).
    bool waitForIdentification(std::chrono::milliseconds timeout = std::chrono::milliseconds::max()) const;
    // What identification read; nothing until the identification read succeeded.
    std::optional<UnitIdentification> identification() const;
    // Why the engine ended by itself, in words (identification failed, a notifier threw); empty
    // otherwise.
    std::string failure() const;

    // ---- engine operations (either thread) ----
    bool readBlock(int start, int count);
    std::string registerText(int reg, int type) const;

    // ---- GUI-thread operations (contract) ----
    bool writeValue(int32_t value, int reg); // shows "Write Failed" on failure
    bool writeRegisterBlock(const uint8_t* bytes, int count, int start);
    bool writeRegister16(uint16_t value);
    bool writeIpAddress(int reg, const std::string& text);
    // One eventListUpdate per record, newest first (all records when asked, and on the first call
    // of a connection), or one with "0" (no records) or "999" (count only). When the count itself
    // cannot be read the answer is "999" with the count last known, and a request for all records
    // stays for the next call. A record that could not be read shows "--".
    void readEventRecords(bool requestAll);
    bool register199Flag() const;

    // setClock and writeMacAddress return whether their register writes succeeded (their command
    // follows only then); the other commands return whether the unit acknowledged them.
    bool setClock();
    bool resetToDefaults();
    bool writeMacAddress(int reg, const std::array<uint8_t, 6>& bytes);
    bool clearEvents();
    bool remoteCalibration();
    bool dumpDiagnostics();

    // Whether the unit acknowledged the last unit command sent. Commands are fire and forget
    // (setClock and writeMacAddress report their register writes); over the serial link a command
    // whose answer got lost may still have been executed.
    bool lastCommandAcknowledged() const;

    // ---- event reader state (contract) ----
    uint16_t eventCount() const;

private:
    // Shared with the polling thread and with GUI calls in progress, so that neither outlives
    // what it uses.
    std::shared_ptr<detail::MonitorEngine> engine_;
    std::jthread thread_;
};

// The register values are written by the polling thread during a pass and read by the GUI.
// During a hand-over the polling thread waits, so the GUI reads a complete pass without locking;
// GUI code that reads RegisterValues at any other time holds this lock (contract). The same lock
// covers the register cache (block reads of both threads store into it) and the moment a newly
// loaded register file replaces the tables.
std::unique_lock<std::mutex> lockRegisterValues();

} // namespace kt
