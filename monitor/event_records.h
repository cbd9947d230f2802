#pragma once

// The unit's event records as the engine's event reader delivers them: typed, newest first.

#include "link/link_result.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kt {

// Texts of one record: the event registers of the register file in their S_ORDER (at most 7).
inline constexpr int EventRecordTextCount = 7;

struct EventRecord {
    int number = 0;    // 0 = newest
    int index = 0;     // the unit's ring index it was read from
    bool read = false; // false: the record could not be read; its texts are "--"
    std::array<std::string, EventRecordTextCount> texts;
};

struct EventReadResult {
    enum class Kind : uint8_t {
        Records,         // every record was asked for: `records` holds what was read, newest first
        CountOnly,       // only the count was refreshed (the records were read before)
        NoRecords,       // the unit holds no records
        CountUnreadable, // registers 60..71 could not be read: `count` is the count last known
        Cancelled,       // the request never ran, or was cancelled before the count was read
    };
    Kind kind = Kind::Cancelled;
    // Why the read ended early or failed; Done when it ran to the end.
    LinkResult link = LinkResult::failure(LinkStatus::Cancelled);
    uint16_t count = 0;        // records the unit holds (register 61, bounded by the reader's limit)
    uint16_t newest = 0;       // register 60
    bool countLimited = false; // register 61 claimed more records than the reader's limit
    std::vector<EventRecord> records;
    // The reader stopped after this many records failed in a row (0: it did not give up).
    int gaveUpAfter = 0;
    // The read was cancelled part way: `records` holds what came before.
    bool cancelledPartWay = false;
};

} // namespace kt
