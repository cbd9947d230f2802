#pragma once

// Reads a data-log file back: the NGR current and voltage of every line, in percent and (when
// the log has them) in amperes and volts, for the trend view. The columns are found by their
// headings in each header block, so a file with several blocks (a new connection, a column set
// that changed) reads as one.

#include "monitor/register_codec.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kt {

inline constexpr float NoValue = std::numeric_limits<float>::quiet_NaN();

// One moment of the trend; NaN where the value is not known ("Not Configured", no such column).
struct DatalogSample {
    int64_t timeMs = 0; // milliseconds since the epoch
    float currentPercent = NoValue;
    float voltagePercent = NoValue;
    float amps = NoValue;
    float volts = NoValue;
};

struct DatalogDate {
    int year = 1970;
    int month = 1;
    int day = 1;
};

struct DatalogReadResult {
    std::string error; // empty when the file is a data log
    std::vector<DatalogSample> samples;
    int headerBlocks = 0;
    // Lines that are not a data line of their heading (wrong column count, no time) and were left out.
    size_t skippedLines = 0;
    bool ok() const { return error.empty(); }
};

// A log holds at most one line per second or so; far more lines than this is not a day's log.
inline constexpr size_t MaxDatalogSamples = 2'000'000;
// A line longer than this is not a data-log line (a register file has at most 250 columns).
inline constexpr size_t MaxDatalogLineBytes = size_t(1) << 20;

// The day a log file holds, from its name ("..._MMDD.txt"); the year is the latest one that
// does not put the day after `today`. Nothing when the name has no date.
std::optional<DatalogDate> datalogFileDate(std::string_view fileName, const ClockFields& today);

// The lines of a data log held in memory, its times taken on `date` in the PC's time zone.
DatalogReadResult parseDatalog(std::string_view text, const DatalogDate& date);

// Reads the file (`path` in UTF-8; its day from the name, else `today`). Refuses folders, FIFOs
// and devices.
DatalogReadResult readDatalogFile(const std::string& path, const ClockFields& today);

} // namespace kt
