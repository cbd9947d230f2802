#pragma once

// Writing one setting to a connected unit, and the setting write log: every setting the operator
// writes (time, register, parameter name, old and new value text, result) appended to a plain-text
// file beside the data log, so that what was changed on site can be shown afterwards. The
// Configuration page and the command-line tool both write through here.

#include "link/connection_settings.h"
#include "link/link_result.h"
#include "monitor/monitor_thread.h"
#include "monitor/register_codec.h"
#include "monitor/setting_rules.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

namespace kt {

// What came of a setting write.
struct SettingWriteOutcome {
    // The unit acknowledged every register written (and, for a MAC address, its command).
    bool written = false;
    // Done, or the failure.
    LinkResult link = LinkResult::failure(LinkStatus::Cancelled);
    // The transfer the result is about, for the words of a failure.
    TransferWhat what;
    // A MAC address whose registers went through but whose command was not acknowledged.
    bool registersOnly = false;
};

// Queues the write on the connection's thread with the engine's operation for its kind
// (writeValue, writeRegister16, writeIpAddress, writeMacAddress).
RequestId submitSettingWrite(Monitor_Thread& engine, const SettingWrite& write,
                             std::function<void(SettingWriteOutcome)> done);

// Why the write failed, in one line naming the unit, the link and the registers.
std::string describeSettingFailure(const SettingWriteOutcome& outcome, const ConnectionSettings& settings);

// The result column of the write log: "Written", "Failed: <why>", "Not sent: <why>".
std::string settingLogResult(const SettingWriteOutcome& outcome, const ConnectionSettings& settings);
inline constexpr std::string_view SettingLogWrittenText = "Written";
// Written into the log for a write whose result never came (the connection ended first).
inline constexpr std::string_view SettingLogNoResultText =
    "No result: the connection ended before the unit answered";

// ---- the write log ----

struct SettingLogSession {
    std::string unit;     // "KT-740"
    std::string serial;   // the unit's serial number text
    std::string firmware; // "Firmware Version: 3.20"
    std::string link;     // "127.0.0.1:502", "/dev/ttyUSB0"
    ClockFields started;
};

struct SettingLogEntry {
    ClockFields time;
    int reg = 0;
    std::string parameter;
    std::string oldText;
    std::string newText;
    std::string result;
};

inline constexpr std::string_view SettingLogTitle = "KT-MON740 version 4.1 setting write log";
inline constexpr std::string_view SettingLogHeadings =
    "Time\tRegister\tParameter\tOld Value\tNew Value\tResult";

// "<unit>_<serial>_settings_YYYYMMDD.txt", the data log's name for the unit with the day of the
// write (characters a file name cannot hold become "_").
std::string settingLogFileName(int32_t model_type, std::string_view serial, const ClockFields& day);
// "YYYY-MM-DD HH:MM:SS"
std::string settingLogTime(const ClockFields& time);
// The session's heading: an empty line, "Session <time>, <unit>, serial <serial>, <firmware>,
// <link>" and the column headings, each ending CR LF.
std::string settingLogSessionHeading(const SettingLogSession& session);
// One line: the cells separated by TAB, ending CR LF (a TAB or line end in a cell becomes a blank).
std::string settingLogLine(const SettingLogEntry& entry);

struct SettingLogWriteResult {
    bool written = false; // this line, and every line kept before it, is in its file
    bool kept = false;    // it is kept in memory until the file can be written
    // The first line that could not be written (tell the operator once), or the first write
    // after such failures (the kept lines are in the file now).
    bool failedNow = false;
    bool recoveredNow = false;
    std::string path;
    std::string reason;
};

// Appends the lines of one program run. A new file starts with a UTF-8 byte-order mark and the
// title line; each session's heading comes before its first line in a file. Each line (with what
// precedes it) is one write to the system. Lines that cannot be written are kept, in order (up to
// `keptBytesLimit`, the oldest giving way), and written first when the file can be written again.
class SettingWriteLog {
public:
    static constexpr size_t DefaultKeptBytes = size_t(1) << 20;

    explicit SettingWriteLog(size_t keptBytesLimit = DefaultKeptBytes);

    // The folder the files go to (with or without a trailing separator).
    void setFolder(std::string folder) { folder_ = std::move(folder); }
    const std::string& folder() const { return folder_; }
    // The lines that follow belong to this session (a connection).
    void startSession(SettingLogSession session, int32_t model_type);
    bool sessionStarted() const { return sessionId_ > 0; }

    SettingLogWriteResult append(const SettingLogEntry& entry);

    bool failing() const { return failing_; }
    size_t keptLines() const { return kept_.size(); }
    // The file of the session's day (of `day`).
    std::string pathFor(const ClockFields& day) const;

private:
    struct Kept {
        std::string path;
        uint64_t session = 0;
        std::string heading; // the session's heading
        std::string line;
    };
    bool writeKept(std::string& reason);

    size_t keptBytesLimit_;
    std::string folder_;
    SettingLogSession session_;
    int32_t model_ = 0;
    uint64_t sessionId_ = 0;
    std::deque<Kept> kept_;
    size_t keptBytes_ = 0;
    bool failing_ = false;
    // The file written last and the session whose heading its latest lines stand under.
    std::string headedPath_;
    uint64_t headedSession_ = 0;
};

} // namespace kt
