#include "monitor/setting_write.h"

#include "monitor/datalog.h"
#include "link/platform/regular_file.h"

#include <cstdio>
#include <filesystem>

namespace kt {

namespace {

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view LineEnd = "\r\n";

// Registers 156..158 carry the MAC address to apply (the engine's writeMacAddress).
constexpr int MacSetRegister = 156;
constexpr int FirstMacRegister = 107;

SettingWriteOutcome fromWrite(const WriteResult& r) {
    SettingWriteOutcome o;
    o.written = r.link.ok();
    o.link = r.link;
    o.what = {TransferWhat::Write, r.first, r.count};
    return o;
}

std::string cell(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    return out;
}

std::string twoDigits(int v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}

} // namespace

RequestId submitSettingWrite(Monitor_Thread& engine, const SettingWrite& write,
                             std::function<void(SettingWriteOutcome)> done) {
    auto onWrite = [done](WriteResult r) {
        if (done) done(fromWrite(r));
    };
    switch (write.kind) {
    case SettingWrite::Kind::Register16:
        return engine.writeRegister16(static_cast<uint16_t>(write.value), onWrite);
    case SettingWrite::Kind::IpAddress:
        return engine.writeIpAddress(write.reg, write.ipText, onWrite);
    case SettingWrite::Kind::MacAddress: {
        const int command = write.reg == FirstMacRegister ? 6 : 7;
        return engine.writeMacAddress(write.reg, write.mac, [done, command](UnitCommandResult r) {
            SettingWriteOutcome o;
            o.written = r.registersWritten && r.acknowledged;
            o.link = r.link;
            o.registersOnly = r.registersWritten && !r.acknowledged;
            o.what = r.registersWritten ? TransferWhat{TransferWhat::Command, command, 1}
                                        : TransferWhat{TransferWhat::Write, MacSetRegister, 3};
            if (done) done(std::move(o));
        });
    }
    case SettingWrite::Kind::Value:
        break;
    }
    return engine.writeValue(static_cast<int32_t>(write.value), write.reg, onWrite);
}

std::string describeSettingFailure(const SettingWriteOutcome& o, const ConnectionSettings& settings) {
    if (o.link.status == LinkStatus::Cancelled) return "the connection ended before the write's turn";
    std::string text = describeLinkResult(o.link, settings.slaveAddress, linkName(settings), o.what);
    if (o.registersOnly)
        text += "; the address registers were written, but the unit did not acknowledge applying them";
    return text;
}

std::string settingLogResult(const SettingWriteOutcome& o, const ConnectionSettings& settings) {
    if (o.written) return std::string(SettingLogWrittenText);
    if (o.link.status == LinkStatus::Cancelled) return "Not sent: " + describeSettingFailure(o, settings);
    return "Failed: " + describeSettingFailure(o, settings);
}

// ---- the write log ----

std::string settingLogFileName(int32_t model_type, std::string_view serial, const ClockFields& day) {
    char date[16];
    std::snprintf(date, sizeof date, "%04d%02d%02d", day.year, day.month, day.day);
    return datalogFileName(model_type, false, serial) + "_settings_" + date + ".txt";
}

std::string settingLogTime(const ClockFields& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%s-%s %s:%s:%s", t.year, twoDigits(t.month).c_str(),
                  twoDigits(t.day).c_str(), twoDigits(t.hour).c_str(), twoDigits(t.minute).c_str(),
                  twoDigits(t.second).c_str());
    return buf;
}

std::string settingLogSessionHeading(const SettingLogSession& s) {
    std::string out(LineEnd);
    out += "Session " + settingLogTime(s.started) + ", " + cell(s.unit) + ", serial " + cell(s.serial) +
           ", " + cell(s.firmware) + ", " + cell(s.link);
    out += LineEnd;
    out += SettingLogHeadings;
    out += LineEnd;
    return out;
}

std::string settingLogLine(const SettingLogEntry& e) {
    std::string out = settingLogTime(e.time);
    for (const std::string& c :
         {std::to_string(e.reg), cell(e.parameter), cell(e.oldText), cell(e.newText), cell(e.result)}) {
        out += '\t';
        out += c;
    }
    out += LineEnd;
    return out;
}

SettingWriteLog::SettingWriteLog(size_t keptBytesLimit) : keptBytesLimit_(keptBytesLimit) {}

void SettingWriteLog::startSession(SettingLogSession session, int32_t model_type) {
    session_ = std::move(session);
    model_ = model_type;
    ++sessionId_;
}

std::string SettingWriteLog::pathFor(const ClockFields& day) const {
    return (std::filesystem::path(folder_) / settingLogFileName(model_, session_.serial, day)).string();
}

bool SettingWriteLog::writeKept(std::string& reason) {
    while (!kept_.empty()) {
        const Kept& k = kept_.front();
        // A new file opens with its title; a session's first line in a file with its heading.
        // One append per line: the file ends with all of it or none of it.
        std::string whenNew = std::string(ByteOrderMark) + std::string(SettingLogTitle) + std::string(LineEnd) +
                              k.heading + k.line;
        const bool headed = headedPath_ == k.path && headedSession_ == k.session;
        std::string whenOld = (headed ? std::string() : k.heading) + k.line;
        const platform::FileResult written =
            platform::appendRegularFile(k.path, whenNew, whenOld, "setting write log");
        if (!written.ok()) {
            reason = written.message;
            return false;
        }
        headedPath_ = k.path;
        headedSession_ = k.session;
        keptBytes_ -= k.line.size() + k.heading.size();
        kept_.pop_front();
    }
    return true;
}

SettingLogWriteResult SettingWriteLog::append(const SettingLogEntry& entry) {
    SettingLogWriteResult r;
    Kept k;
    k.path = pathFor(entry.time);
    k.session = sessionId_;
    k.heading = settingLogSessionHeading(session_);
    k.line = settingLogLine(entry);
    r.path = k.path;
    keptBytes_ += k.line.size() + k.heading.size();
    kept_.push_back(std::move(k));
    // The memory bound: the oldest kept lines give way (never the one just added).
    while (keptBytes_ > keptBytesLimit_ && kept_.size() > 1) {
        keptBytes_ -= kept_.front().line.size() + kept_.front().heading.size();
        kept_.pop_front();
    }
    std::string reason;
    if (writeKept(reason)) {
        r.written = true;
        r.recoveredNow = failing_;
        failing_ = false;
        return r;
    }
    r.kept = true;
    r.reason = reason;
    r.failedNow = !failing_;
    failing_ = true;
    return r;
}

} // namespace kt
