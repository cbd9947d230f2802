#pragma once

#include "monitor/register_codec.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kt::sim {

struct EventRecord {
    ClockFields when{};
    int current = 0;          // NGR current, % of full scale
    int voltage = 0;          // NGR voltage, % of setting
    int resistanceChange = 0; // ohms, signed
    int tripStatus = 0;       // trip status bits at the event
    int setpointStatus = 0;   // device status bits at the event
};

// The unit's event records as the program reads them: records 0..count-1, the newest at
// `newest()`, the i-th newest at (newest - i) mod count. A new record goes right after the newest;
// while the ring is not full it is inserted there (the records after it move up one place, which
// from an empty ring is simply the next index), once full it replaces the oldest. So every state,
// a preset one included, reads back in the program's order.
class EventRing {
public:
    static constexpr size_t Capacity = 100;

    size_t count() const { return records_.size(); }
    size_t newest() const { return newest_; } // 0 while empty
    const EventRecord* at(size_t index) const { return index < records_.size() ? &records_[index] : nullptr; }

    // Returns the index the record went to.
    size_t add(const EventRecord& record);
    void clear();
    // `count` records with distinguishable contents (see presetRecord); `newest` < count, or 0.
    void preset(size_t count, size_t newest);

private:
    std::vector<EventRecord> records_;
    size_t newest_ = 0;
};

// Record k of a preset ring: NGR current 10 + k, NGR voltage 20 + k, resistance change k - 50,
// date (1 + k mod 28)/(1 + k div 28 mod 12)/2024, time (k mod 24):(7k mod 60):(13k mod 60), and
// trip and device status cycling through ground fault, resistor fault, voltage trip, remote trip.
EventRecord presetRecord(size_t k);

} // namespace kt::sim
