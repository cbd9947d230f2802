#include "sim/event_ring.h"

#include <algorithm>

namespace kt::sim {

size_t EventRing::add(const EventRecord& record) {
    if (records_.empty()) {
        records_.push_back(record);
        newest_ = 0;
    } else if (records_.size() < Capacity) {
        newest_ += 1;
        records_.insert(records_.begin() + static_cast<std::ptrdiff_t>(newest_), record);
    } else {
        newest_ = (newest_ + 1) % Capacity;
        records_[newest_] = record;
    }
    return newest_;
}

void EventRing::clear() {
    records_.clear();
    newest_ = 0;
}

void EventRing::preset(size_t count, size_t newest) {
    count = std::min(count, Capacity);
    records_.clear();
    for (size_t k = 0; k < count; ++k) records_.push_back(presetRecord(k));
    newest_ = count == 0 ? 0 : std::min(newest, count - 1);
}

EventRecord presetRecord(size_t k) {
    // Bits of the trip status and the matching device status bits.
    struct Cause {
        int trip, setpoint;
    };
    static constexpr Cause Causes[] = {{1 << 0, 1 << 0}, {1 << 1, 1 << 1}, {1 << 4, 1 << 4}, {1 << 7, 0}};
    const int i = static_cast<int>(k);
    EventRecord r;
    r.when = {.year = 2024,
              .month = 1 + i / 28 % 12,
              .day = 1 + i % 28,
              .hour = i % 24,
              .minute = 7 * i % 60,
              .second = 13 * i % 60,
              .millisecond = 0};
    r.current = 10 + i;
    r.voltage = 20 + i;
    r.resistanceChange = i - 50;
    r.tripStatus = Causes[k % 4].trip;
    r.setpointStatus = Causes[k % 4].setpoint;
    return r;
}

} // namespace kt::sim
