#pragma once

// What the window and the command-line logger do with every refresh of the connected unit: the
// data-log line when the status view says one is due, built from that same view (the grids and
// the amperes and volts as shown), and the sample of the live trend. One implementation serves
// both, so `ktmon740-cli log` writes the files the window writes.

#include "monitor/datalog.h"
#include "monitor/datalog_reader.h"
#include "monitor/legacy_frame.h"
#include "monitor/status_decoding.h"

#include <vector>

namespace kt {

// The texts of the header's first line: the status bar's unit and version panels.
DatalogUnitTexts datalogUnitTexts(const SelectionPanelTexts& panels, const PanelText& version);

// The current-unit columns of a refresh: the grid rows with a value, then the summary's amperes
// and volts. The source refers to the view's texts and to `statusRows`/`configRows`.
CurrentUnitLogSource currentUnitLogSource(const UnitStatusView& view, std::vector<DatalogGridRow>& statusRows,
                                          std::vector<DatalogGridRow>& configRows);

// The legacy columns of an accepted frame: its bytes, with the switch texts the view decoded.
LegacyLogValues legacyLogValues(const LegacyFrame& frame, const LegacyStatusView& view);

// The trend's sample of a refresh: the NGR current and voltage in percent and, once a CT and a
// voltage are selected, in amperes and volts (NaN where a field shows no number).
DatalogSample trendSample(const ValueTexts& values, int64_t timeMs);

class DatalogRecorder {
public:
    explicit DatalogRecorder(DatalogClock clock = {},
                             size_t keptBytesLimit = DatalogWriter::DefaultKeptBytes);

    // After the status refresh of a pass: a line when the view says one is due (nothing else).
    DatalogWriteResult unitRefresh(DatalogSettings& settings, const UnitStatusView& view);
    // After a legacy frame: a line when the view says one is due. The caller resets the view's
    // line counter (LegacyStatusState::lineWritten) when the result is written or kept.
    DatalogWriteResult legacyRefresh(DatalogSettings& settings, const LegacyFrame& frame,
                                     const LegacyStatusView& view);

    DatalogWriter& writer() { return writer_; }
    const DatalogWriter& writer() const { return writer_; }

private:
    DatalogWriter writer_;
    std::vector<DatalogGridRow> statusRows_;
    std::vector<DatalogGridRow> configRows_;
};

} // namespace kt
