#include "monitor/event_texts.h"

#include "ui/ct_voltage.h"

#include <algorithm>
#include <charconv>

namespace kt {

namespace {

struct CauseBit {
    int bit;
    std::string_view text;
};

// Bit 0 is worded by model and handled apart; bit 9 means nothing in the trip register.
constexpr std::array<CauseBit, 10> TripCauses{{
    {1, "Resistor Fault\n"},
    {2, "Cal Error\n"},
    {3, "A/D Error\n"},
    {4, "Voltage Trip\n"},
    {5, "EEPROM Error\n"},
    {6, "Internal Fault\n"},
    {7, "Remote Trip\n"},
    {8, "Hardware Trip\n"},
    {10, "NGR Short Trip\n"},
    {11, "NGR Open Trip\n"},
}};

constexpr std::array<CauseBit, 11> SetpointCauses{{
    {1, "Resistor Fault\n"},
    {2, "Cal Error\n"},
    {3, "A/D Error\n"},
    {4, "Voltage > Setting\n"},
    {5, "EEPROM Error\n"},
    {6, "CT Error\n"},
    {7, "CT Trip\n"},
    {8, "SD-Card Error\n"},
    {9, "Upgrade Error\n"},
    {10, "NGR Short Trip\n"},
    {11, "NGR Open Trip\n"},
}};

template <size_t N>
std::string causeText(int64_t value, int32_t model_type, const std::array<CauseBit, N>& table) {
    if (value == 0) return "None\n";
    std::string text;
    if (value & 1) text += model_type == ModelKt740AU ? "Earth Fault\n" : "Ground Fault\n";
    for (const CauseBit& c : table)
        if (value & (int64_t(1) << c.bit)) text += c.text;
    return text;
}

constexpr std::array<std::string_view, EventGridColumns> EventHeadings{
    "Record #",
    "Date (D/M/Y)",
    "Time",
    "NGR Current\n(% FS)",
    "NGR Voltage\n(% Setting)",
    "NGR Change\n(ohms)",
    "Trip Status",
    "Setpoint Status",
};

constexpr std::array<std::string_view, LegacyEventGridColumns> LegacyHeadings{
    "Record #", "Trip Status", "NGR Current (% FS)", "NGR Voltage (% Setting)", "NGR Change (ohms)",
};

// A status register's text as a number: decimal, blanks around it allowed.
std::optional<int64_t> statusNumber(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    int64_t v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return v;
}

int lineCount(const std::string& text) {
    return int(std::count(text.begin(), text.end(), '\n'));
}

} // namespace

std::string TripCauseText(int64_t value, int32_t model_type) {
    return causeText(value, model_type, TripCauses);
}

std::string SetpointCauseText(int64_t value, int32_t model_type) {
    return causeText(value, model_type, SetpointCauses);
}

const std::array<std::string_view, EventGridColumns>& eventGridHeadings() {
    return EventHeadings;
}

std::array<int, EventGridColumns> eventGridColumnWidths(int clientWidth, int dateHeadingWidth,
                                                        int timeHeadingWidth) {
    std::array<int, EventGridColumns> w{};
    w[1] = dateHeadingWidth + 5;
    w[2] = 3 * timeHeadingWidth;
    const int rest = clientWidth - w[0] - w[1] - w[2];
    w[4] = int(0.15 * rest);
    w[5] = int(0.20 * rest);
    w[6] = int(0.25 * rest);
    w[7] = int(0.25 * rest);
    // One pixel per column for the grid lines, and one more.
    w[3] = clientWidth - (w[0] + w[1] + w[2] + w[4] + w[5] + w[6] + w[7]) - EventGridColumns - 1;
    return w;
}

EventGridRow eventGridRow(const EventRecord& record, int32_t model_type) {
    EventGridRow row;
    row.cells[0] = std::to_string(record.number);
    for (int c = 1; c <= 5; ++c) row.cells[size_t(c)] = record.texts[size_t(c - 1)];
    const std::string& trip = record.texts[5];
    const std::string& setpoint = record.texts[6];
    auto t = trip.find("--") == std::string::npos ? statusNumber(trip) : std::nullopt;
    auto s = t ? statusNumber(setpoint) : std::nullopt;
    if (!t || !s) {
        row.cells[6] = "--";
        row.cells[7] = "--";
        return row;
    }
    row.cells[6] = TripCauseText(*t, model_type);
    row.cells[7] = SetpointCauseText(*s, model_type);
    // Bits without a text (trip bit 9, bits above 11) can leave a list empty; the row never
    // gets lower than one line.
    row.causeLines = std::max({1, lineCount(row.cells[6]), lineCount(row.cells[7])});
    return row;
}

int eventRowHeight(const EventGridRow& row, int defaultHeight) {
    return defaultHeight + 16 * (row.causeLines - 1);
}

void applyEventRecord(EventGrid& grid, const EventRecord& record, int32_t model_type) {
    if (record.number < 0) return;
    grid.rows.resize(size_t(record.number) + 1);
    grid.rows[size_t(record.number)] = eventGridRow(record, model_type);
}

void UpdateEventList(EventGrid& grid, const EventReadResult& result, int32_t model_type) {
    switch (result.kind) {
    case EventReadResult::Kind::Records:
        grid.rows.clear();
        for (const EventRecord& r : result.records) {
            if (r.number < 0) continue;
            if (size_t(r.number) >= grid.rows.size()) grid.rows.resize(size_t(r.number) + 1);
            grid.rows[size_t(r.number)] = eventGridRow(r, model_type);
        }
        break;
    case EventReadResult::Kind::NoRecords:
        grid.rows.clear();
        break;
    case EventReadResult::Kind::CountOnly:
    case EventReadResult::Kind::CountUnreadable:
    case EventReadResult::Kind::Cancelled:
        break;
    }
}

std::optional<std::array<LegacyEventRecord, LegacyEventRecordCount>>
decodeLegacyEventBlock(std::span<const uint8_t> block) {
    if (block.size() != LegacyEventBlockSize) return std::nullopt;
    std::array<LegacyEventRecord, LegacyEventRecordCount> records{};
    for (size_t i = 0; i < records.size(); ++i) {
        const uint8_t* b = block.data() + 5 * i;
        records[i].tripCause = b[0];
        records[i].currentPercent = b[1];
        records[i].voltagePercent = b[2];
        records[i].resistanceChange = static_cast<int16_t>(uint16_t(b[3] << 8 | b[4]));
    }
    return records;
}

std::string LegacyTripCauseText(int code) {
    switch (code) {
    case 1:
        return "GF Trip";
    case 2:
        return "RF Trip";
    case 4:
        return "Calibration Error";
    case 8:
        return "ADC Error";
    case 16:
        return "Voltage Trip";
    case 32:
        return "EEPROM Error";
    case 64:
        return "System Error";
    case 128:
        return "Remote Trip";
    default:
        return "0";
    }
}

const std::array<std::string_view, LegacyEventGridColumns>& legacyEventGridHeadings() {
    return LegacyHeadings;
}

void blankLegacyEventGrid(LegacyEventGrid& grid) {
    for (size_t c = 0; c < LegacyHeadings.size(); ++c) grid.cells[0][c] = LegacyHeadings[c];
    for (size_t r = 1; r < grid.cells.size(); ++r)
        for (size_t c = 1; c < LegacyEventGridColumns; ++c) grid.cells[r][c] = "----";
}

bool UpdateLegacyEventList(LegacyEventGrid& grid, std::span<const uint8_t> block) {
    auto records = decodeLegacyEventBlock(block);
    if (!records) return false;
    for (size_t c = 0; c < LegacyHeadings.size(); ++c) grid.cells[0][c] = LegacyHeadings[c];
    for (size_t i = 0; i < records->size(); ++i) {
        const LegacyEventRecord& r = (*records)[i];
        auto& row = grid.cells[i + 1];
        row[0] = std::to_string(i);
        row[1] = LegacyTripCauseText(r.tripCause);
        row[2] = std::to_string(r.currentPercent);
        row[3] = std::to_string(r.voltagePercent);
        row[4] = std::to_string(r.resistanceChange);
    }
    return true;
}

} // namespace kt
