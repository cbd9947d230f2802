#pragma once

// Requests to a unit. Everything the window or the command-line tool asks of a connected unit
// beyond polling (setting writes, commands, the event reader, the IEC 61850 transfers) is a
// request queued to the connection's own thread and carried out there between poll passes, in the
// order asked. A request's work sees the unit through a UnitLink; its result comes back, typed, on
// the thread the caller's dispatcher names (the GUI thread in the window).

#include "link/connection_settings.h"
#include "link/link_result.h"
#include "monitor/pass_snapshot.h"
#include "monitor/register_codec.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace kt {

using RequestId = uint64_t;

// The unit as a request's work sees it, on the connection's thread. Each transfer goes through
// the connection's link facade with the facade's retries and waits. When a poll pass falls due
// while a long request runs, the pass is made before the next transfer, so the status stays live
// (and the silence watch quiet) through an event read or a 61850 transfer.
class UnitLink {
public:
    virtual ~UnitLink() = default;

    // One request of `count` registers into `dest` (not the cache).
    virtual LinkResult readRegisters(int start, int count, uint16_t* dest) = 0;
    // `count` registers from `start` into the connection's register cache, in requests of the
    // connection's chunk size; stops at the first failed request.
    virtual LinkResult readBlock(int start, int count) = 0;
    // One request of `count` registers (at most 123; callers split larger blocks).
    virtual LinkResult writeRegisters(int start, int count, const uint16_t* words) = 0;
    // Unit command n: coil n over serial, n into register 6 over TCP; sent at most once.
    virtual LinkResult command(int n) = 0;

    // The connection's register cache (what readBlock and the passes stored) and its texts.
    virtual const RegisterCacheWords& cache() const = 0;
    std::string registerText(int reg, int type) const { return kt::registerText(cache(), reg, type); }
    // The last completed pass of the connection, or nothing before the first.
    virtual PassSnapshotPtr lastPass() const = 0;
    virtual const ConnectionSettings& settings() const = 0;
    // The PC's local date and time (injectable for tests).
    virtual ClockFields localTime() const = 0;

    // True once the request was cancelled or the connection is ending: the work should stop
    // before its next transfer and say how far it got.
    virtual bool cancelled() const = 0;
    // Waits; false (at once) when cancelled meanwhile.
    virtual bool pause(std::chrono::milliseconds time) = 0;
    // Tells the requester how far the work is (`done` of `total` steps), on its dispatcher.
    virtual void progress(int done, int total, const std::string& text = {}) = 0;
};

// Progress of a request, as its requester sees it.
struct RequestProgress {
    RequestId id = 0;
    int done = 0;
    int total = 0;
    std::string text;
};

// Result of a register write request.
struct WriteResult {
    // Cancelled until the request has run, so a result nobody filled in never reads as done.
    LinkResult link = LinkResult::failure(LinkStatus::Cancelled);
    int first = 0; // first register written
    int count = 0; // registers written
};

// Result of a unit command. Commands with register writes before them (clock, MAC address) send
// the command only after those succeeded: `link` is then the first failure, or the command's.
struct UnitCommandResult {
    LinkResult link = LinkResult::failure(LinkStatus::Cancelled);
    int command = 0;
    // The register writes went through (always true for a bare command).
    bool registersWritten = false;
    // The command itself went out and the unit acknowledged it.
    bool acknowledged = false;
};

} // namespace kt
