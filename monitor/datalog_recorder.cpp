#include "monitor/datalog_recorder.h"

#include <charconv>

namespace kt {

namespace {

using VC = ValueControl;

void gridRows(const std::vector<GridRow>& grid, std::vector<DatalogGridRow>& out) {
    out.clear();
    out.reserve(grid.size());
    for (const GridRow& row : grid) out.push_back({row.parameter, row.value});
}

// A field's number; "Not Configured", "-----" and the like are no number.
float fieldNumber(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    float v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return NoValue;
    return v;
}

const std::string& field(const ValueTexts& values, ValueControl c) {
    return values[controlIndex(c)];
}

} // namespace

DatalogUnitTexts datalogUnitTexts(const SelectionPanelTexts& panels, const PanelText& version) {
    return {panels.of(SelectionPanel::unit_P), version.text};
}

CurrentUnitLogSource currentUnitLogSource(const UnitStatusView& view, std::vector<DatalogGridRow>& statusRows,
                                          std::vector<DatalogGridRow>& configRows) {
    gridRows(view.statusGrid, statusRows);
    gridRows(view.configGrid, configRows);
    return {statusRows, configRows, field(view.values, VC::main_current),
            field(view.values, VC::main_voltage)};
}

LegacyLogValues legacyLogValues(const LegacyFrame& frame, const LegacyStatusView& view) {
    return legacyLogValues(frame, field(view.values, VC::main_gftime), field(view.values, VC::main_gfsetting),
                           field(view.values, VC::main_pulsetime));
}

DatalogSample trendSample(const ValueTexts& values, int64_t timeMs) {
    DatalogSample s;
    s.timeMs = timeMs;
    s.currentPercent = fieldNumber(field(values, VC::main_ngrcurrent));
    s.voltagePercent = fieldNumber(field(values, VC::main_ngrvoltage));
    s.amps = fieldNumber(field(values, VC::main_current));
    s.volts = fieldNumber(field(values, VC::main_voltage));
    return s;
}

DatalogRecorder::DatalogRecorder(DatalogClock clock, size_t keptBytesLimit)
    : writer_(std::move(clock), keptBytesLimit) {}

DatalogWriteResult DatalogRecorder::unitRefresh(DatalogSettings& settings, const UnitStatusView& view) {
    if (!view.writeDatalogLine) return {};
    const CurrentUnitLogSource source = currentUnitLogSource(view, statusRows_, configRows_);
    return writer_.writeCurrentUnitLine(settings, datalogUnitTexts(view.selectionPanels, view.version_P),
                                        source);
}

DatalogWriteResult DatalogRecorder::legacyRefresh(DatalogSettings& settings, const LegacyFrame& frame,
                                                  const LegacyStatusView& view) {
    if (!view.accepted || !view.writeLegacyLine) return {};
    return writer_.writeLegacyLine(settings, datalogUnitTexts(view.selectionPanels, view.version_P),
                                   legacyLogValues(frame, view), view.identity.model);
}

} // namespace kt
