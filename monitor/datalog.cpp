#include "monitor/datalog.h"

#include "link/platform/regular_file.h"
#include "monitor/monitor_thread.h"
#include "prefs/preferences.h"
#include "ui/ct_voltage.h"

#include <cstdio>

namespace kt {

namespace {

constexpr std::string_view Bom = "\xEF\xBB\xBF";
constexpr std::string_view Crlf = "\r\n";

using LegacyHeadings = std::array<std::string_view, LegacyLogColumnCount>;

constexpr LegacyHeadings HeadingsKt740{
    "GF Time (s)",       "GF Setting (%)",        "Pulse Time (s)",     "NGR Cal",        "NGR Current (%)",
    "NGR Voltage (%)",   "NGR Change (ohms)",     "Relay Status (int)", "Switches (int)", "RecordHead",
    "Net Mode",          "Net GF Time",           "Net GF Setting",     "Net Pulse Time", "Net Switches",
    "Trip Status (hex)", "SetPoint Status (hex)", "Port A (hex)",       "Port G (hex)",   "Port H (hex)",
};
constexpr LegacyHeadings HeadingsKt740HV{
    "GF Time (s)",       "GF Setting (%)",        "RESERVED",           "NGR Cal",        "NGR Current (%)",
    "NGR Voltage (%)",   "NGR Change (ohms)",     "Relay Status (int)", "Switches (int)", "RecordHead",
    "Net Mode",          "Net GF Time",           "Net GF Setting",     "RESERVED",       "Net Switches",
    "Trip Status (hex)", "SetPoint Status (hex)", "Port A (hex)",       "Port G (hex)",   "Port H (hex)",
};
constexpr LegacyHeadings HeadingsKt740AU{
    "EF Time (s)",           "EF Setting",      "RESERVED",          "NER Cal",
    "NER Current (%)",       "NER Voltage (%)", "NER Change (ohms)", "Relay Status (int)",
    "Switches (int)",        "RecordHead",      "Net Mode",          "Net EF Time",
    "Net EF Setting",        "RESERVED",        "Net Switches",      "Trip Status (hex)",
    "SetPoint Status (hex)", "Port A (hex)",    "Port G (hex)",      "Port H (hex)",
};
// Columns 16 to 20 are logged for every model; columns 1 to 15 only for a known one.
constexpr int LegacyModelColumns = 15;

// A tab, a line end or a control character in a cell would shift the columns of the line.
void appendCell(std::string& out, std::string_view text) {
    out += '\t';
    for (char c : text) out += static_cast<unsigned char>(c) < ' ' ? ' ' : c;
}

void appendNumber(std::string& out, int value) {
    char buf[16];
    int n = std::snprintf(buf, sizeof buf, "\t%d", value);
    out.append(buf, size_t(n));
}

void appendHex(std::string& out, uint8_t value) {
    char buf[8];
    int n = std::snprintf(buf, sizeof buf, "\t%02X", unsigned(value));
    out.append(buf, size_t(n));
}

void appendRows(DatalogColumns& out, std::span<const DatalogGridRow> rows) {
    for (const DatalogGridRow& row : rows) {
        if (row.value.empty()) continue; // group title rows
        appendCell(out.headings, row.label);
        appendCell(out.values, row.value);
    }
}

bool endsWithSeparator(std::string_view s) {
    return !s.empty() && (s.back() == '/' || s.back() == '\\');
}

} // namespace

void loadDatalogSettings(DatalogSettings& s, const ProgramPreferences& p) {
    s.datalog_enable = p.datalog_enable;
    s.FileName = p.FileName;
    s.save_rate = p.save_rate;
    s.save_main = p.save_main;
    s.save_network = p.save_network;
    s.save_tripstat = p.save_tripstat;
    s.save_setpointstat = p.save_setpointstat;
    s.save_portA = p.save_portA;
    s.save_portG = p.save_portG;
    s.save_portH = p.save_portH;
}

void saveDatalogSettings(const DatalogSettings& s, ProgramPreferences& p) {
    p.datalog_enable = s.datalog_enable;
    p.FileName = s.FileName;
    p.save_rate = s.save_rate;
    p.save_main = s.save_main;
    p.save_network = s.save_network;
    p.save_tripstat = s.save_tripstat;
    p.save_setpointstat = s.save_setpointstat;
    p.save_portA = s.save_portA;
    p.save_portG = s.save_portG;
    p.save_portH = s.save_portH;
}

std::string datalogFilePath(std::string_view folderAndName, int month, int day) {
    char suffix[32];
    int n = std::snprintf(suffix, sizeof suffix, "_%02d%02d.txt", month, day);
    std::string path(folderAndName);
    path.append(suffix, size_t(n));
    return path;
}

std::string datalogFilePath(const DatalogSettings& s, const ClockFields& now) {
    return datalogFilePath(s.datalogFolder + s.FileName, now.month, now.day);
}

std::string datalogFileName(int32_t model_type, bool legacyUnit, std::string_view serialNumberText) {
    std::string name = model_type == ModelKt740     ? "KT-740"
                       : model_type == ModelKt740HV ? "KT-740HV"
                                                    : "KT-740AU";
    if (legacyUnit) return name;
    name += '_';
    // The serial number comes from the unit; a separator in it would send the log into a
    // folder that does not exist.
    for (char c : serialNumberText) {
        bool bad = static_cast<unsigned char>(c) < ' ' ||
                   std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos;
        name += bad ? '_' : c;
    }
    return name;
}

void prepareDatalogSettingsDialog(DatalogSettings& s, std::string_view programFolder, int32_t model_type,
                                  bool legacyUnit, std::string_view serialNumberText) {
    if (s.datalogFolder.empty()) {
        s.datalogFolder = programFolder;
        if (!endsWithSeparator(s.datalogFolder)) s.datalogFolder += '/';
    }
    s.FileName = datalogFileName(model_type, legacyUnit, serialNumberText);
}

void acceptDatalogSettingsDialog(DatalogSettings& s, bool enable) {
    s.datalog_enable = enable;
    s.save_rate = DatalogDialogSaveRate;
    s.datalogHeaderPending = true;
}

LegacyLogValues legacyLogValues(std::span<const uint8_t> f, std::string gfTime, std::string gfSetting,
                                std::string pulseTime) {
    LegacyLogValues v;
    v.gfTime = std::move(gfTime);
    v.gfSetting = std::move(gfSetting);
    v.pulseTime = std::move(pulseTime);
    if (f.size() < LegacyFrameSize) return v;
    v.ngrCal = static_cast<int16_t>(uint16_t(f[3] << 8 | f[4]));
    v.ngrCurrent = f[5];
    v.ngrVoltage = f[6];
    v.ngrChange = static_cast<int16_t>(uint16_t(f[7] << 8 | f[8]));
    v.tripStatus = f[9];
    v.setpointStatus = f[10];
    v.relayStatus = f[11];
    v.switches = f[12];
    v.recordHead = f[13];
    v.netMode = f[14];
    v.netGfTime = f[15];
    v.netGfSetting = f[16];
    v.netPulseTime = f[17];
    v.netSwitches = f[18];
    v.portA = f[19];
    v.portG = f[21];
    v.portH = f[22];
    return v;
}

const std::array<std::string_view, LegacyLogColumnCount>* legacyLogHeadings(int32_t model_type) {
    switch (model_type) {
    case ModelKt740:
        return &HeadingsKt740;
    case ModelKt740HV:
        return &HeadingsKt740HV;
    case ModelKt740AU:
        return &HeadingsKt740AU;
    default:
        return nullptr;
    }
}

void currentUnitColumns(const CurrentUnitLogSource& source, DatalogColumns& out) {
    out.layout = DatalogLayout::CurrentUnit;
    out.headings.clear();
    out.values.clear();
    appendRows(out, source.statusRows);
    appendRows(out, source.configRows);
    appendCell(out.headings, DatalogCurrentHeading);
    appendCell(out.values, source.currentText);
    appendCell(out.headings, DatalogVoltageHeading);
    appendCell(out.values, source.voltageText);
}

void legacyColumns(const LegacyLogValues& v, int32_t model_type, DatalogColumns& out) {
    out.layout = DatalogLayout::Legacy;
    out.headings.clear();
    out.values.clear();
    const LegacyHeadings* headings = legacyLogHeadings(model_type);
    if (headings) {
        for (int i = 0; i < LegacyModelColumns; ++i) appendCell(out.headings, (*headings)[size_t(i)]);
        const bool kt740 = model_type == ModelKt740;
        appendCell(out.values, v.gfTime);
        appendCell(out.values, v.gfSetting);
        appendCell(out.values, kt740 ? std::string_view(v.pulseTime) : "00");
        appendNumber(out.values, v.ngrCal);
        appendNumber(out.values, v.ngrCurrent);
        appendNumber(out.values, v.ngrVoltage);
        appendNumber(out.values, v.ngrChange);
        appendNumber(out.values, v.relayStatus);
        appendNumber(out.values, v.switches);
        appendNumber(out.values, v.recordHead);
        appendNumber(out.values, v.netMode);
        appendNumber(out.values, v.netGfTime);
        appendNumber(out.values, v.netGfSetting);
        if (kt740)
            appendNumber(out.values, v.netPulseTime);
        else
            appendCell(out.values, "0");
        appendNumber(out.values, v.netSwitches);
    }
    for (int i = LegacyModelColumns; i < LegacyLogColumnCount; ++i)
        appendCell(out.headings, HeadingsKt740[size_t(i)]);
    appendHex(out.values, v.tripStatus);
    appendHex(out.values, v.setpointStatus);
    appendHex(out.values, v.portA);
    appendHex(out.values, v.portG);
    appendHex(out.values, v.portH);
}

std::string datalogHeaderBlock(const DatalogUnitTexts& unit, const DatalogColumns& columns) {
    std::string h;
    h.reserve(columns.headings.size() + 128);
    h += "Data File for ";
    h += unit.unitText;
    h += ", ";
    h += unit.versionText;
    h += Crlf;
    h += DatalogProgramName;
    h += " version ";
    h += DatalogProgramVersion;
    h += Crlf;
    h += "Time";
    h += columns.headings;
    h += Crlf;
    if (columns.layout == DatalogLayout::CurrentUnit) h += Crlf;
    return h;
}

std::string datalogTimeText(const ClockFields& t) {
    char buf[32];
    int n = std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    return std::string(buf, size_t(n));
}

// ---- DatalogWriter ----

DatalogWriter::DatalogWriter(DatalogClock clock, size_t keptBytesLimit)
    : clock_(clock ? std::move(clock) : DatalogClock(systemLocalClock)), keptBytesLimit_(keptBytesLimit) {}

DatalogWriteResult DatalogWriter::currentUnitRefresh(DatalogSettings& settings, const DatalogUnitTexts& unit,
                                                     const CurrentUnitLogSource& source) {
    if (!settings.datalog_enable) return {};
    if (!settings.datalogLineToggle) {
        settings.datalogLineToggle = true;
        return {};
    }
    settings.datalogLineToggle = false;
    return writeCurrentUnitLine(settings, unit, source);
}

DatalogWriteResult DatalogWriter::legacyPacket(DatalogSettings& settings, const DatalogUnitTexts& unit,
                                               const LegacyLogValues& values, int32_t model_type) {
    ++settings.legacyLineCounter;
    if (!settings.datalog_enable || settings.legacyLineCounter < settings.save_rate) return {};
    DatalogWriteResult r = writeLegacyLine(settings, unit, values, model_type);
    // A line that could not be written yet is kept and written later, so the rate goes on as
    // if it had been: a failing folder does not turn every packet into a line.
    if (r.written || r.kept) settings.legacyLineCounter = 0;
    return r;
}

DatalogWriteResult DatalogWriter::writeCurrentUnitLine(DatalogSettings& settings,
                                                       const DatalogUnitTexts& unit,
                                                       const CurrentUnitLogSource& source) {
    currentUnitColumns(source, columns_);
    return writeLine(settings, unit);
}

DatalogWriteResult DatalogWriter::writeLegacyLine(DatalogSettings& settings, const DatalogUnitTexts& unit,
                                                  const LegacyLogValues& values, int32_t model_type) {
    legacyColumns(values, model_type, columns_);
    return writeLine(settings, unit);
}

std::shared_ptr<const std::string> DatalogWriter::headerFor(const DatalogUnitTexts& unit) {
    if (header_ && headerLayout_ == columns_.layout && headerHeadings_ == columns_.headings &&
        headerUnit_.size() == unit.unitText.size() + 1 + unit.versionText.size() &&
        headerUnit_.compare(0, unit.unitText.size(), unit.unitText) == 0 &&
        headerUnit_.compare(unit.unitText.size() + 1, std::string::npos, unit.versionText) == 0)
        return header_;
    header_ = std::make_shared<const std::string>(datalogHeaderBlock(unit, columns_));
    headerLayout_ = columns_.layout;
    headerHeadings_ = columns_.headings;
    headerUnit_ = unit.unitText + '\n' + unit.versionText;
    return header_;
}

DatalogWriteResult DatalogWriter::writeLine(DatalogSettings& settings, const DatalogUnitTexts& unit) {
    // One reading of the clock names the file and stamps the line, so a line written just after
    // midnight goes to the new day's file.
    const ClockFields now = clock_();
    target_ = settings.datalogFolder + settings.FileName;
    Entry e;
    e.month = now.month;
    e.day = now.day;
    e.header = headerFor(unit);
    e.line.reserve(columns_.values.size() + 16);
    e.line = datalogTimeText(now);
    e.line += columns_.values;
    e.line += Crlf;
    // The request travels with the line: if the line has to wait, its header still comes first.
    e.headerRequested = settings.datalogHeaderPending;
    settings.datalogHeaderPending = false;

    DatalogWriteResult r;
    r.due = true;
    r.path = datalogFilePath(target_, e.month, e.day);
    std::string reason;
    bool ok = writeKept(reason) && writeEntry(e, reason);
    if (!ok) {
        keptBytes_ += keptSize(e);
        kept_.push_back(std::move(e));
        while (keptBytes_ > keptBytesLimit_ && kept_.size() > 1) {
            Entry& oldest = kept_.front();
            if (oldest.headerRequested) kept_[1].headerRequested = true;
            keptBytes_ -= keptSize(oldest);
            kept_.pop_front();
            ++dropped_;
        }
    }
    return finish(std::move(r), ok, reason);
}

DatalogWriteResult DatalogWriter::retryKeptLines(const DatalogSettings& settings) {
    target_ = settings.datalogFolder + settings.FileName;
    std::string reason;
    bool ok = writeKept(reason);
    return finish({}, ok, reason);
}

bool DatalogWriter::writeKept(std::string& reason) {
    while (!kept_.empty()) {
        const Entry& e = kept_.front();
        if (!writeEntry(e, reason)) return false;
        keptBytes_ -= keptSize(e);
        kept_.pop_front();
    }
    return true;
}

bool DatalogWriter::writeEntry(const Entry& e, std::string& reason) {
    // Kept lines go where the log is set to go now: after the operator has chosen another folder
    // for a stick that is gone, they follow the new lines there.
    const std::string path = datalogFilePath(target_, e.month, e.day);
    // A file that was not written under this header block (one this writer has not written yet,
    // another day's, or new columns) gets the header before the line; a new file gets the
    // byte-order mark and the header whatever was asked.
    const bool needHeader = e.headerRequested || path != headedPath_ || !headedBy_ ||
                            (headedBy_ != e.header && *headedBy_ != *e.header);
    whenNew_.clear();
    whenNew_ += Bom;
    whenNew_ += *e.header;
    whenNew_ += e.line;
    std::string_view whenOld =
        std::string_view(whenNew_).substr(Bom.size() + (needHeader ? 0 : e.header->size()));
    platform::FileResult written = platform::appendRegularFile(path, whenNew_, whenOld, "data log");
    if (!written.ok()) {
        reason = written.message;
        return false;
    }
    headedPath_ = path;
    headedBy_ = e.header;
    return true;
}

DatalogWriteResult DatalogWriter::finish(DatalogWriteResult r, bool ok, const std::string& reason) {
    if (ok) {
        r.written = r.due;
        if (failing_) {
            r.notice = DatalogNotice::Recovered;
            failing_ = false;
        }
        r.droppedLines = dropped_;
        dropped_ = 0;
    } else {
        r.kept = r.due;
        r.reason = reason;
        if (!failing_) {
            r.notice = DatalogNotice::Failed;
            failing_ = true;
        }
        r.droppedLines = dropped_;
    }
    r.keptLines = kept_.size();
    return r;
}

} // namespace kt
