// settings / set: the unit's settings as the Configuration page lists them, and one setting
// written through the page's own rules (the same list items, limits, RANGE rule, address and
// offset checks, the same registers written).
#include "cli/cli.h"
#include "cli/json.h"
#include "link/link_timings.h"
#include "monitor/device_rules.h"
#include "monitor/monitor_thread.h"
#include "monitor/setting_rules.h"
#include "monitor/setting_write.h"
#include "monitor/status_decoding.h"

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <stdexcept>

namespace kt::cli {

namespace {

using namespace std::chrono_literals;

// The window gives up on a unit after 45 s without a pass; so does the tool.
constexpr auto PassWait = 45s;

// The engine's notifications, on its own thread.
class SettingNotifier : public MonitorNotifier {
public:
    explicit SettingNotifier(std::string command) : command_(std::move(command)) {}

    void showMessage(const std::string& text, const std::string& title) override {
        std::string line = text;
        std::replace(line.begin(), line.end(), '\n', ' ');
        std::cerr << "ktmon740-cli " << command_ << ": " << printable(title) << ": " << printable(line)
                  << '\n';
    }
    void passCompleted(PassSnapshotPtr pass) override {
        std::lock_guard guard(mutex_);
        pass_ = std::move(pass);
        changed_.notify_all();
    }
    void identificationFailed(const std::string&) override {}

    PassSnapshotPtr waitForPass(std::chrono::milliseconds timeout) {
        std::unique_lock guard(mutex_);
        changed_.wait_for(guard, timeout, [&] { return pass_ != nullptr; });
        return pass_;
    }

private:
    std::string command_;
    std::mutex mutex_;
    std::condition_variable changed_;
    PassSnapshotPtr pass_;
};

// One connection, identified and with one pass read, before anything is shown or written.
class UnitConnection {
public:
    UnitConnection(const std::string& command, const std::string& link, const Args& args)
        : link_(link), settings_(linkArgument(link)), notifier_(command) {
        MonitorOptions options;
        options.resourcesFolder = resourcesFolder(args);
        options.link = linkOptions();
        engine_ = std::make_unique<Monitor_Thread>(settings_, notifier_, dispatcher_, std::move(options));
    }
    ~UnitConnection() { engine_.reset(); } // stopped and joined before the notifier goes

    PassSnapshotPtr firstPass() {
        if (!engine_->waitForIdentification()) {
            const std::string why = engine_->failure();
            throw std::runtime_error(why.empty() ? link_ + " did not answer the Modbus identification" : why);
        }
        PassSnapshotPtr pass = notifier_.waitForPass(PassWait);
        if (!pass) throw std::runtime_error(link_ + " was identified but no poll pass succeeded within 45 s");
        return pass;
    }

    Monitor_Thread& engine() { return *engine_; }
    const ConnectionSettings& settings() const { return settings_; }

private:
    std::string link_;
    ConnectionSettings settings_;
    SettingNotifier notifier_;
    InlineDispatcher dispatcher_;
    std::unique_ptr<Monitor_Thread> engine_;
};

// The Configuration page of a window that has just shown this pass (a second refresh, so that
// values scaled by the CT primary the first one read are as the window shows them).
struct PageRows {
    std::vector<GridRow> rows;
    RegisterTexts values;
};

PageRows pageRows(const PassSnapshot& pass) {
    UnitStatusState state;
    CtVoltageSelection selection;
    UnitStatusView view;
    UpdateUnitStatus(pass, state, selection, view);
    UpdateUnitStatus(pass, state, selection, view);
    PageRows page;
    page.rows = view.configGrid;
    passValueTexts(pass, page.values);
    return page;
}

std::string withoutIndent(std::string_view text) {
    while (text.starts_with(' ')) text.remove_prefix(1);
    return std::string(text);
}

SettingRow settingRow(const GridRow& row) {
    return {row.reg, withoutIndent(row.parameter), row.value, row.access, row.translationType};
}

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// ---- settings ----

std::string allowedText(const SettingSource& source, const SettingRow& s, SettingEditor editor) {
    switch (editor) {
    case SettingEditor::List: {
        std::string out;
        for (const ListItem& item : settingList(source, s.reg, s.translationType).items)
            out += (out.empty() ? "" : ", ") + std::to_string(item.value) + "=" + item.text;
        return out;
    }
    case SettingEditor::Number: {
        const std::optional<SettingLimits> limits = numberLimits(source, s.reg);
        return limits ? std::to_string(limits->min) + ".." + std::to_string(limits->max) : "no limits";
    }
    case SettingEditor::IpAddress:
        return "A.B.C.D";
    case SettingEditor::MacAddress:
        return "HH:HH:HH:HH:HH:HH";
    case SettingEditor::UtcOffset:
        return std::string(UtcOffsets.front()) + ".." + std::string(UtcOffsets.back()) + " (" +
               std::to_string(UtcOffsetCount) + " offsets)";
    case SettingEditor::CtDialog:
        return "effective CT primary in amperes";
    case SettingEditor::None:
        break;
    }
    return "read-only";
}

void settingJson(JsonWriter& json, const SettingSource& source, const SettingRow& s,
                 const std::string& group) {
    const SettingEditor editor = editorForAccess(s.access);
    json.beginObject()
        .field("register", s.reg)
        .field("group", group)
        .field("parameter", s.parameter)
        .field("value", s.value)
        .field("editor", settingEditorName(editor))
        .field("access", s.access);
    switch (editor) {
    case SettingEditor::List: {
        const SettingList list = settingList(source, s.reg, s.translationType);
        json.key("items").beginArray();
        for (const ListItem& item : list.items)
            json.beginObject()
                .field("value", static_cast<long long>(item.value))
                .field("text", item.text)
                .endObject();
        json.endArray();
        if (list.selected >= 0)
            json.field("selected",
                       static_cast<long long>(list.items[static_cast<size_t>(list.selected)].value));
        break;
    }
    case SettingEditor::Number:
        if (const std::optional<SettingLimits> limits = numberLimits(source, s.reg))
            json.field("min", static_cast<long long>(limits->min))
                .field("max", static_cast<long long>(limits->max));
        break;
    case SettingEditor::UtcOffset:
        json.key("items").beginArray();
        for (std::string_view offset : UtcOffsets) json.value(offset);
        json.endArray();
        break;
    default:
        break;
    }
    json.endObject();
}

int settingsCommand(std::span<const std::string> words) {
    Args args(words, {"--resources"}, {"--json"});
    args.expectPositional(1);
    UnitConnection unit("settings", args.positional()[0], args);
    const PassSnapshotPtr pass = unit.firstPass();
    unit.engine().requestStop();
    const PageRows page = pageRows(*pass);
    const SettingSource source{pass->tables->dataset, page.values};

    if (args.flag("--json")) {
        JsonWriter json(std::cout);
        json.beginObject().field("unitConfigured", pass->register199Flag()).key("settings").beginArray();
        std::string group;
        for (const GridRow& row : page.rows) {
            if (row.isTitle()) {
                group = row.parameter;
                continue;
            }
            settingJson(json, source, settingRow(row), group);
        }
        json.endArray().endObject();
        std::cout << '\n';
        return ExitOk;
    }
    if (!pass->register199Flag())
        std::cout << "# essential settings not yet verified: only the essential settings are offered\n";
    for (const GridRow& row : page.rows) {
        if (row.isTitle()) {
            std::cout << "# " << printable(row.parameter) << '\n';
            continue;
        }
        const SettingRow s = settingRow(row);
        const SettingEditor editor = editorForAccess(s.access);
        std::cout << s.reg << '\t' << printable(s.parameter) << '\t' << printable(s.value) << '\t'
                  << settingEditorName(editor) << '\t' << printable(allowedText(source, s, editor)) << '\n';
    }
    return ExitOk;
}

// ---- set ----

int setCommand(std::span<const std::string> words) {
    Args args(words, {"--resources", "--log"}, {});
    args.expectPositional(3);
    const std::string& which = args.positional()[1];
    const std::string& text = args.positional()[2];
    UnitConnection unit("set", args.positional()[0], args);
    const PassSnapshotPtr pass = unit.firstPass();
    const PageRows page = pageRows(*pass);

    const std::optional<int64_t> number = parseDatasetInteger(which);
    const GridRow* found = nullptr;
    for (const GridRow& row : page.rows)
        if (!row.isTitle() && (number ? row.reg == *number : sameName(withoutIndent(row.parameter), which)))
            found = &row;
    if (!found)
        throw std::runtime_error("the Configuration page of this unit has no setting " +
                                 (number ? "in register " + which : "named \"" + which + "\"") +
                                 " (ktmon740-cli settings LINK lists them)");
    const SettingRow setting = settingRow(*found);
    const SettingSource source{pass->tables->dataset, page.values};
    const SettingEntry entry = entryFromText(source, setting, text);
    if (entry.outcome == SettingEntry::Outcome::Refused)
        throw std::runtime_error(entry.title + ": " + entry.text);
    if (entry.outcome == SettingEntry::Outcome::Unchanged) {
        std::cout << "register " << setting.reg << " (" << printable(setting.parameter) << ") already holds "
                  << printable(setting.value) << ": nothing written\n";
        return ExitOk;
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::optional<SettingWriteOutcome> outcome;
    const ClockFields asked = systemLocalClock();
    submitSettingWrite(unit.engine(), entry.write, [&](SettingWriteOutcome o) {
        std::lock_guard guard(mutex);
        outcome = std::move(o);
        changed.notify_all();
    });
    {
        std::unique_lock guard(mutex);
        changed.wait(guard, [&] { return outcome.has_value(); });
    }
    unit.engine().requestStop();

    if (auto folder = args.value("--log")) {
        // The folder named for the log is made when it does not exist yet.
        std::error_code made;
        std::filesystem::create_directories(*folder, made);
        SettingWriteLog log;
        log.setFolder(*folder);
        SettingLogSession session;
        const int32_t model = modelFromModelType(pass->unit.modelType);
        session.unit = std::string(unitName(model, false));
        for (const RegisterValue& v : pass->values)
            if (v.label == "DB_SERIAL_NUMBER") session.serial = v.value;
        session.firmware = firmwareVersionText(std::to_string(pass->unit.firmwareRaw)).value_or("");
        session.link = linkName(unit.settings());
        session.started = asked;
        log.startSession(std::move(session), model);
        SettingLogEntry line{asked,         setting.reg,         setting.parameter,
                             setting.value, entry.write.newText, settingLogResult(*outcome, unit.settings())};
        const SettingLogWriteResult written = log.append(line);
        if (!written.written)
            std::cerr << "ktmon740-cli set: the setting write log cannot be written: "
                      << printable(written.reason) << '\n';
    }
    if (!outcome->written)
        throw std::runtime_error(std::string(WriteFailedText) + ": " +
                                 describeSettingFailure(*outcome, unit.settings()));
    std::cout << "register " << setting.reg << " (" << printable(setting.parameter)
              << "): " << printable(setting.value) << " -> " << printable(entry.write.newText)
              << " written\n";
    return ExitOk;
}

constexpr Command commands[] = {
    {"settings", "LINK [--json] [--resources DIR]", settingsCommand},
    {"set", "LINK REGISTER|\"PARAMETER NAME\" VALUE [--log DIR] [--resources DIR]", setCommand},
};

} // namespace

std::span<const Command> settingCommands() {
    return commands;
}

} // namespace kt::cli
