#pragma once

// The texts of the unit's event records as the Event Records pages show them: the cause lists
// of the trip and setpoint status registers, the rows of `StrgdEvents` built from what the event
// reader delivers, and the ten records of a legacy unit's 50-byte event block.

#include "monitor/event_records.h"
#include "monitor/legacy_frame.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kt {

// Bits of the trip status register, one cause per line, each ending with "\n"; "None\n" for 0.
// Bit 0 reads "Earth Fault" on the KT-740AU (model_type 2).
std::string TripCauseText(int64_t value, int32_t model_type);
// The same for the setpoint (device) status register.
std::string SetpointCauseText(int64_t value, int32_t model_type);

// ---- `StrgdEvents`: units described by a register file ----

inline constexpr int EventGridColumns = 8;
// Row 0 of the grid; "\n" breaks a heading over two lines.
const std::array<std::string_view, EventGridColumns>& eventGridHeadings();

// One record row: the record number, date, time, current, voltage, resistance change, and the
// trip and setpoint cause lists ("--" in both when the record or its status could not be read).
struct EventGridRow {
    std::array<std::string, EventGridColumns> cells;
    // Lines of the taller cause list; the row is drawn this many lines high.
    int causeLines = 1;
};

// The record rows below the header row, newest first.
struct EventGrid {
    std::vector<EventGridRow> rows;
};

// Column widths for a grid `clientWidth` pixels wide: the record number hidden, the date as wide
// as its measured heading plus 5, the time three times its heading, and the rest shared out
// (15, 20, 25 and 25 % to voltage, change and the two cause lists, the remainder to the current).
std::array<int, EventGridColumns> eventGridColumnWidths(int clientWidth, int dateHeadingWidth,
                                                        int timeHeadingWidth);

EventGridRow eventGridRow(const EventRecord& record, int32_t model_type);
// The row's height: the grid's default height plus 16 pixels for every cause line after the first.
int eventRowHeight(const EventGridRow& row, int defaultHeight);

// One record as the reader streams it: its row replaces the row of its number and the grid ends
// there, so the rows of the last read give way one by one as the new ones arrive.
void applyEventRecord(EventGrid& grid, const EventRecord& record, int32_t model_type);

// Applies the final answer of the event reader: a full read replaces the rows (also one that was
// cancelled or gave up part way: the rows it got), "no records" empties the grid, a count
// refresh, an unreadable count or a request that never ran leave the rows as they are.
void UpdateEventList(EventGrid& grid, const EventReadResult& result, int32_t model_type);

// ---- `events_Old740_G`: legacy units ----

inline constexpr int LegacyEventGridColumns = 5;
inline constexpr int LegacyEventGridRows = int(LegacyEventRecordCount) + 1;
inline constexpr std::string_view LegacyEventOrderText =
    "Record 0 is the newest record, and Record 9 is the oldest";

// Trip cause code of a legacy record (one bit set); 0 and codes with several bits give "0".
std::string LegacyTripCauseText(int code);
// The five headings of row 0.
const std::array<std::string_view, LegacyEventGridColumns>& legacyEventGridHeadings();

// The grid's cells, row 0 the headings, rows 1..10 the records 0..9.
struct LegacyEventGrid {
    std::array<std::array<std::string, LegacyEventGridColumns>, LegacyEventGridRows> cells;
};

// While the block is being fetched: the headings, and "----" in columns 1 to 4 of every record
// row (column 0 keeps what it showed).
void blankLegacyEventGrid(LegacyEventGrid& grid);
// Fills the ten record rows from the block; false (grid unchanged) when it is not 50 bytes.
bool UpdateLegacyEventList(LegacyEventGrid& grid, std::span<const uint8_t> block);

} // namespace kt
