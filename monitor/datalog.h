#pragma once

// The PC data log: one tab-separated line at a regular interval, appended to a file per day
// ("<folder><name>_MMDD.txt", UTF-8 with a byte-order mark, CR LF), with a header block before
// the first line of a file, of a connection and of every new set of columns. One writer serves
// the window and the command-line tool.

#include "monitor/legacy_frame.h"
#include "monitor/register_codec.h"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace kt {

struct ProgramPreferences;

inline constexpr std::string_view DatalogProgramName = "KT-MON740";
inline constexpr std::string_view DatalogProgramVersion = "4.1";
inline constexpr std::string_view DatalogErrorText = "Cannot Open File";
inline constexpr std::string_view DatalogErrorTitle = "File Error 2";
inline constexpr std::string_view DatalogCurrentHeading = "NGR Current (A)";
inline constexpr std::string_view DatalogVoltageHeading = "NGR Voltage (V)";
// What OK in the settings dialog sets the legacy rate to.
inline constexpr int32_t DatalogDialogSaveRate = 2;

struct DatalogSettings {
    // Stored with the preferences, under these names.
    bool datalog_enable = false;
    std::string FileName = "KTMON740"; // base name, without date and extension
    int32_t save_rate = 5;             // legacy units: good packets per line
    bool save_main = true;
    bool save_network = true;
    bool save_tripstat = true;
    bool save_setpointstat = true;
    bool save_portA = true;
    bool save_portG = true;
    bool save_portH = true;

    // Kept while the program runs.
    std::string datalogFolder;         // with its trailing separator; empty at start
    bool datalogHeaderPending = false; // the next line starts with a header block
    int32_t legacyLineCounter = 0;     // good legacy packets since the last line
    bool datalogLineToggle = true;     // current units log every second refresh, starting now
};

void loadDatalogSettings(DatalogSettings& settings, const ProgramPreferences& prefs);
void saveDatalogSettings(const DatalogSettings& settings, ProgramPreferences& prefs);

// "%s_%02d%02d.txt" applied to folder-and-name.
std::string datalogFilePath(std::string_view folderAndName, int month, int day);
// The day's file of the settings: folder + FileName + "_MMDD.txt".
std::string datalogFilePath(const DatalogSettings& settings, const ClockFields& now);

// The file name the settings dialog proposes: the model name, and for a current unit "_" and
// its serial number (characters a file name cannot hold become "_").
std::string datalogFileName(int32_t model_type, bool legacyUnit, std::string_view serialNumberText);
// What opening the settings dialog does first, whatever the operator answers: the folder
// defaults to the program's own (with a trailing separator) and the name follows the unit.
void prepareDatalogSettingsDialog(DatalogSettings& settings, std::string_view programFolder,
                                  int32_t model_type, bool legacyUnit, std::string_view serialNumberText);
// OK in the dialog: logging on or off, the legacy rate, and a header before the next line.
void acceptDatalogSettingsDialog(DatalogSettings& settings, bool enable);

// ---- line layouts ----

// The texts the header's first line names: the status bar's unit and version panels.
struct DatalogUnitTexts {
    std::string unitText;
    std::string versionText;
};

// One row of `Status_Grid` or `Config_Grid` below the header row: the label cell (column 1, as
// shown, leading blanks included) and the value cell (column 2); empty on a group title row.
struct DatalogGridRow {
    std::string_view label;
    std::string_view value;
};

// Everything a current-unit line is made of.
struct CurrentUnitLogSource {
    std::span<const DatalogGridRow> statusRows;
    std::span<const DatalogGridRow> configRows;
    std::string_view currentText; // `main_current_E`: amperes, or "Not Configured"
    std::string_view voltageText; // `main_voltage_E`: volts, or "Not Configured"
};

// What a legacy line is made of; fields named after the columns. The three texts are what the
// status view decodes from the switch positions (bytes 0 to 2 of the frame).
struct LegacyLogValues {
    std::string gfTime;
    std::string gfSetting;
    std::string pulseTime;
    int16_t ngrCal = 0;
    uint8_t ngrCurrent = 0;
    uint8_t ngrVoltage = 0;
    int16_t ngrChange = 0;
    uint8_t relayStatus = 0;
    uint8_t switches = 0;
    uint8_t recordHead = 0;
    uint8_t netMode = 0;
    uint8_t netGfTime = 0;
    uint8_t netGfSetting = 0;
    uint8_t netPulseTime = 0;
    uint8_t netSwitches = 0;
    uint8_t tripStatus = 0;
    uint8_t setpointStatus = 0;
    uint8_t portA = 0;
    uint8_t portG = 0;
    uint8_t portH = 0;
};

// The numbers of a legacy status frame (24 bytes) with the decoded switch texts; the numbers
// stay 0 when the frame is shorter.
LegacyLogValues legacyLogValues(std::span<const uint8_t> frame, std::string gfTime, std::string gfSetting,
                                std::string pulseTime);

inline constexpr int LegacyLogColumnCount = 20;
// The model's headings of the legacy columns (model_type 0, 1 or 2).
const std::array<std::string_view, LegacyLogColumnCount>* legacyLogHeadings(int32_t model_type);

enum class DatalogLayout : uint8_t { CurrentUnit, Legacy };

// The columns of one line: every heading and every value preceded by a tab.
struct DatalogColumns {
    DatalogLayout layout = DatalogLayout::CurrentUnit;
    std::string headings;
    std::string values;
};

void currentUnitColumns(const CurrentUnitLogSource& source, DatalogColumns& out);
void legacyColumns(const LegacyLogValues& values, int32_t model_type, DatalogColumns& out);

// "Data File for ...", the program line, "Time" and the headings, and (current units) an empty line.
std::string datalogHeaderBlock(const DatalogUnitTexts& unit, const DatalogColumns& columns);
// "HH:MM:SS"
std::string datalogTimeText(const ClockFields& time);

// ---- the writer ----

enum class DatalogNotice : uint8_t {
    None,
    Failed,    // the first line that could not be written: tell the operator once
    Recovered, // the file can be written again; the lines kept meanwhile are in it
};

struct DatalogWriteResult {
    bool due = false;     // a line was made (false: logging is off, or not this refresh/packet)
    bool written = false; // the line, and every line kept before it, is in its file
    bool kept = false;    // the line is kept in memory until the file can be written
    DatalogNotice notice = DatalogNotice::None;
    std::string path;   // the file of this line
    std::string reason; // why it could not be written (while failing)
    size_t keptLines = 0;
    // Lines given up because the memory bound was reached, counted until a notice reports them.
    size_t droppedLines = 0;
};

using DatalogClock = std::function<ClockFields()>;

// Appends the lines; keeps what it cannot write, in order, up to `keptBytesLimit`, and writes it
// first when the file can be written again (the oldest lines give way when the bound is reached).
// Every line goes to the system in one write, together with the byte-order mark and the header
// block that precede it, so a program stopped between two writes leaves whole lines only.
class DatalogWriter {
public:
    static constexpr size_t DefaultKeptBytes = size_t(32) << 20;

    explicit DatalogWriter(DatalogClock clock = {}, size_t keptBytesLimit = DefaultKeptBytes);

    // After each status refresh of a current unit: a line on every second call while logging is on.
    DatalogWriteResult currentUnitRefresh(DatalogSettings& settings, const DatalogUnitTexts& unit,
                                          const CurrentUnitLogSource& source);
    // After each good legacy packet: a line when `save_rate` packets have come since the last one.
    DatalogWriteResult legacyPacket(DatalogSettings& settings, const DatalogUnitTexts& unit,
                                    const LegacyLogValues& values, int32_t model_type);

    // One line now, whatever the rate.
    DatalogWriteResult writeCurrentUnitLine(DatalogSettings& settings, const DatalogUnitTexts& unit,
                                            const CurrentUnitLogSource& source);
    DatalogWriteResult writeLegacyLine(DatalogSettings& settings, const DatalogUnitTexts& unit,
                                       const LegacyLogValues& values, int32_t model_type);

    // Tries to write the kept lines now (before the next line is due, or when logging stops),
    // into the file the settings name now.
    DatalogWriteResult retryKeptLines(const DatalogSettings& settings);

    bool failing() const { return failing_; }
    size_t keptLines() const { return kept_.size(); }

private:
    struct Entry {
        int month = 1; // the day of the line, which names its file
        int day = 1;
        std::shared_ptr<const std::string> header; // the header block of the line's columns
        std::string line;                          // time, values, CR LF
        bool headerRequested = false;
    };

    static size_t keptSize(const Entry& e) { return e.line.size() + sizeof(Entry); }
    DatalogWriteResult writeLine(DatalogSettings& settings, const DatalogUnitTexts& unit);
    std::shared_ptr<const std::string> headerFor(const DatalogUnitTexts& unit);
    // Writes kept entries from the front; false when one could not be written.
    bool writeKept(std::string& reason);
    bool writeEntry(const Entry& e, std::string& reason);
    DatalogWriteResult finish(DatalogWriteResult r, bool ok, const std::string& reason);

    DatalogClock clock_;
    size_t keptBytesLimit_;
    std::deque<Entry> kept_;
    size_t keptBytes_ = 0;
    size_t dropped_ = 0;
    bool failing_ = false;

    DatalogColumns columns_;
    std::string headerHeadings_; // headings of `header_`
    std::string headerUnit_;     // unit and version texts of `header_`
    DatalogLayout headerLayout_ = DatalogLayout::CurrentUnit;
    std::shared_ptr<const std::string> header_;
    // The file last written and the header block its latest lines stand under.
    std::string headedPath_;
    std::shared_ptr<const std::string> headedBy_;
    std::string target_; // folder and base name of the log, as last set
    std::string whenNew_;
};

} // namespace kt
