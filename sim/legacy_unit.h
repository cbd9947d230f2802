#pragma once

#include "monitor/legacy_frame.h"
#include "sim/event_ring.h"
#include "sim/options.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <random>

namespace kt::sim {

// An older KT-740 as its serial line shows it: a 24-byte status frame now and then, a 50-byte event
// block on "d", its records cleared on "c". The frame carries the unit's model, sibling and version
// bits, its switch positions, a moving NGR current and voltage, and in byte 20 (which the program
// shows nowhere) the frame's number modulo 256, so a test can tell which frames arrived.
// Thread-safe: the endpoint builds frames while a signal handler's thread makes trips.
class LegacyUnit {
public:
    using Steady = std::chrono::steady_clock;

    static constexpr std::chrono::seconds FaultDuration{5};
    static constexpr size_t SequenceByte = LegacyByte::Spare;

    LegacyUnit(const LegacyOptions& options, const Identity& identity, const UnitOptions& unit,
               uint32_t seed = 740);

    // The next frame (numbered from 1): the measurements take one step first.
    LegacyFrame nextFrame(Steady::time_point now);
    uint64_t framesBuilt() const;

    // The ten newest records, newest first; zeros for records the unit does not hold.
    LegacyEventBlock eventBlock() const;
    void clearEvents();
    size_t eventCount() const;

    // A ground-fault trip: a record, and trip and device status bit 0 for FaultDuration.
    void trip(Steady::time_point now);

    uint8_t identification() const;

private:
    struct Walk {
        int value = 0, low = 0, high = 0;
        void step(std::mt19937& rng);
    };

    LegacyOptions options_;
    Identity identity_;
    mutable std::mutex mutex_;
    EventRing ring_;
    std::mt19937 rng_;
    Walk current_{4, 1, 7}, voltage_{6, 2, 12}, change_{0, -5, 5};
    uint64_t frames_ = 0;
    std::optional<Steady::time_point> faultUntil_;
};

} // namespace kt::sim
