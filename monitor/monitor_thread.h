#pragma once

// The monitor engine: one thread per connection that identifies the unit, loads its register
// tables and polls it every 750 ms, and that carries out everything else asked of the unit
// (setting writes, commands, the event reader, the IEC 61850 transfers) as requests queued to
// that same thread. Nothing of a unit's I/O runs on the caller's thread: the window submits
// requests and gets typed results and pass snapshots back through its dispatcher.
//
// This header is the contract between the engine and its users (the main window, the
// command-line tool, the tests).

#include "link/connection_settings.h"
#include "link/link_result.h"
#include "link/link_timings.h"
#include "link/protocol.h"
#include "monitor/event_records.h"
#include "monitor/message_sink.h"
#include "monitor/pass_snapshot.h"
#include "monitor/register_codec.h"
#include "monitor/register_tables.h"
#include "monitor/unit_link.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kt {

// What the engine tells its user. Every call arrives through the GuiDispatcher (on the GUI
// thread in the window), after the engine has moved on: the engine never waits for its user.
struct MonitorNotifier : MessageSink {
    // After every successful poll pass, with that pass's immutable snapshot.
    virtual void passCompleted(PassSnapshotPtr pass) = 0;
    // Identification or table loading failed (why, in words): the window's fallback timer starts
    // the legacy listener. The engine has stopped itself.
    virtual void identificationFailed(const std::string& why) = 0;
    // showMessage (from MessageSink): the register-file loader's two messages.
};

// How the engine's notifications and results reach their user. The GUI posts `call` into its
// event loop (a queued invocation) and returns at once; the command-line tool, which has no
// GUI thread, runs it at once on the engine's thread. The engine never waits for a posted call.
// Calls carry values (snapshots, results), never pointers into the engine's state.
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
// records, half an hour of selector writes and reads; units hold far fewer (the simulator's ring
// holds 100), so a larger count is taken as a damaged register.
inline constexpr int MaxEventRecords = 1000;
// The reader gives up after this many records in a row could not be read (a unit that never takes
// the selector would otherwise cost about 9 s per record).
inline constexpr int EventRecordFailuresInARow = 3;

namespace detail {
class MonitorEngine;
}

struct MonitorOptions {
    std::string resourcesFolder; // empty: the resources folder beside the program
    LocalClock clock;            // empty: systemLocalClock
    std::chrono::milliseconds pollInterval{750};
    // The link's waits and where its diagnostic lines go.
    LinkOptions link;
    // Builds the link facade; empty: Protocol(settings, link). Tests inject scripted transports.
    std::function<std::unique_ptr<Protocol>(const ConnectionSettings&)> makeProtocol;
    int maxEventRecords = MaxEventRecords; // the event reader's bound
};

// One engine per connection, with its own register tables, values and link facade. Threads and
// lifetime:
// - A new engine waits (on its own thread, ending early when asked to stop) until every engine
//   created before it has finished its run and closed its link, so two connections never hold
//   the port at once; the window never waits for it.
// - Requests run one at a time on the engine's thread, between poll passes, in the order
//   submitted. A long request (an event read, a 61850 transfer) lets the passes that fall due
//   run between its transfers, so the status stays live.
// - requestStop ends the run after its current step; the link's retries stop after their current
//   attempt. A request still queued then is reported as cancelled (its result's link status is
//   Cancelled), never as done; one that was running reports what it got to (Aborted).
// - Results and notifications are delivered through the dispatcher; they may arrive after
//   requestStop, so the user must tell an ended connection's results from the current one's.
class Monitor_Thread {
public:
    static constexpr int ReadChunk = 50;
    static constexpr int RefusedReadChunk = 20;
    static constexpr int WriteChunk = 27;

    // Starts the thread at once. `settings` is copied. The notifier and dispatcher must outlive
    // the thread (the destructor joins it).
    Monitor_Thread(const ConnectionSettings& settings, MonitorNotifier& notifier, GuiDispatcher& dispatcher,
                   MonitorOptions options = {});
    // Asks the thread to stop and waits for it.
    ~Monitor_Thread();
    Monitor_Thread(const Monitor_Thread&) = delete;
    Monitor_Thread& operator=(const Monitor_Thread&) = delete;

    // Asks the thread to stop and returns at once.
    void requestStop();
    bool stopRequested() const;
    // True once the run has ended and the link is closed.
    bool finished() const;
    // True once finished and every result and notification posted to the dispatcher has run (or
    // been dropped by it): the engine may then be deleted without losing a result. Calls still
    // queued when the engine is deleted do nothing.
    bool idle() const;
    // Waits for the thread to end (call requestStop first).
    void join();

    const ConnectionSettings& settings() const;
    bool identified() const;
    int32_t pollCount() const;
    int32_t firmwareVersion() const;
    int32_t chunkSize() const;
    // Blocks until the unit has been identified and its tables loaded (true), or identification
    // failed, the engine was asked to stop or `timeout` passed (false). For tools and tests; the
    // window never calls it.
    bool waitForIdentification(std::chrono::milliseconds timeout = std::chrono::milliseconds::max()) const;
    // What identification read; nothing until the identification read succeeded.
    std::optional<UnitIdentification> identification() const;
    // Why the engine ended by itself, in words (identification failed, a notifier threw); empty
    // otherwise.
    std::string failure() const;
    // The last completed pass, or nothing before the first.
    PassSnapshotPtr lastPass() const;

    // ---- requests ----
    // Queues `work` for the engine's thread. `done` gets its result through the dispatcher; a
    // request that never ran gets a default Result whose `link` says Cancelled. `progress`
    // (optional) gets the work's progress reports. Result must have a `LinkResult link` member.
    template <class Result>
    RequestId submit(std::string what, std::function<Result(UnitLink&)> work,
                     std::function<void(Result)> done,
                     std::function<void(const RequestProgress&)> progress = {});
    // Asks a queued or running request to stop: a queued one is reported as cancelled, a running
    // one sees UnitLink::cancelled() and stops before its next transfer.
    void cancel(RequestId id);
    // Requests queued and not yet finished (the running one included).
    int pendingRequests() const;

    // The operations of the window's pages and the command-line tool, as requests.
    // A value into `reg`: one register when its type is 1 or 16, else two (low word first).
    RequestId writeValue(int32_t value, int reg, std::function<void(WriteResult)> done);
    // `count` registers from `bytes` (high byte first), in requests of 27; every request is sent
    // even after a failed one; the result is the first failure (or done).
    RequestId writeRegisterBlock(std::vector<uint8_t> bytes, int count, int start,
                                 std::function<void(WriteResult)> done);
    RequestId writeRegister16(uint16_t value, std::function<void(WriteResult)> done);
    // "nnn.nnn.nnn.nnn" into `reg` and `reg`+1; a text that is no address is refused unsent.
    RequestId writeIpAddress(int reg, std::string text, std::function<void(WriteResult)> done);
    RequestId setClock(std::function<void(UnitCommandResult)> done);
    RequestId resetToDefaults(std::function<void(UnitCommandResult)> done);
    RequestId writeMacAddress(int reg, std::array<uint8_t, 6> bytes,
                              std::function<void(UnitCommandResult)> done);
    RequestId clearEvents(std::function<void(UnitCommandResult)> done);
    RequestId remoteCalibration(std::function<void(UnitCommandResult)> done);
    RequestId dumpDiagnostics(std::function<void(UnitCommandResult)> done);
    // The event reader: all records newest first when asked (and on the first call of a
    // connection), else the count only. `record` (optional) gets each record as it is read.
    RequestId readEventRecords(bool requestAll, std::function<void(EventReadResult)> done,
                               std::function<void(const EventRecord&, const RequestProgress&)> record = {});

    // Hands a call to the user through the dispatcher, counted until it has run (see idle()).
    using Deliver = std::function<void(std::function<void()>)>;

private:
    struct Job {
        std::string what;
        std::function<void(UnitLink&, const Deliver&)> run;
        std::function<void(const Deliver&)> cancelled;
        std::function<void(const RequestProgress&)> progress;
    };
    RequestId enqueue(Job job);

    // Shared with the engine's thread, so that neither outlives what it uses.
    std::shared_ptr<detail::MonitorEngine> engine_;
    std::jthread thread_;
};

template <class Result>
RequestId Monitor_Thread::submit(std::string what, std::function<Result(UnitLink&)> work,
                                 std::function<void(Result)> done,
                                 std::function<void(const RequestProgress&)> progress) {
    Job job;
    job.what = std::move(what);
    job.run = [work = std::move(work), done](UnitLink& link, const Deliver& deliver) {
        Result result{};
        try {
            result = work(link);
        } catch (const std::exception& e) {
            // A fault in the work (a model accessor's error) ends the request with its words.
            result = Result{};
            result.link = LinkResult::failure(LinkStatus::Refused, e.what());
        }
        if (done) deliver([done, result = std::move(result)]() mutable { done(std::move(result)); });
    };
    job.cancelled = [done](const Deliver& deliver) {
        if (!done) return;
        deliver([done] {
            Result result{};
            result.link = LinkResult::failure(LinkStatus::Cancelled);
            done(std::move(result));
        });
    };
    job.progress = std::move(progress);
    return enqueue(std::move(job));
}

} // namespace kt
