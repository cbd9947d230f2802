// identify / monitor / events and the unit commands, driven through the monitor engine.
#include "cli/cli.h"
#include "cli/interrupt.h"
#include "cli/json.h"
#include "cli/session.h"
#include "link/link_timings.h"
#include "monitor/device_rules.h"
#include "monitor/event_file.h"
#include "monitor/event_texts.h"
#include "monitor/monitor_thread.h"

#include <cstdio>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>

namespace kt::cli {

namespace {

using namespace std::chrono_literals;

// The window disconnects after more than 45 s without a pass; so does `monitor`.
constexpr auto SilenceLimit = 45s;

std::string twoDigits(int v) {
    return (v < 10 ? "0" : "") + std::to_string(v);
}

int identifyCommand(std::span<const std::string> words) {
    Args args(words, {"--resources"}, {"--json"});
    args.expectPositional(1);
    Session session("identify", args.positional()[0], args);
    const UnitIdentification id = session.identify();
    if (args.flag("--json")) {
        JsonWriter json(std::cout);
        json.beginObject()
            .field("modelCode", unsigned{id.modelCode})
            .field("firmwareRaw", unsigned{id.firmwareRaw})
            .field("version", id.version)
            .field("modelType", unsigned{id.modelType})
            .field("commOption", unsigned{id.commOption})
            .field("registerFile", id.registerFile)
            .field("firmwareVersion", id.firmwareVersion)
            .field("pollCount", id.pollCount)
            .field("chunkSize", id.chunkSize)
            .endObject();
        std::cout << '\n';
    } else {
        std::cout << "model code\t" << id.modelCode << "\nfirmware\t" << id.firmwareRaw
                  << (isPrototype(id.firmwareRaw) ? " (prototype)" : "") << "\nversion\t" << printable(id.version)
                  << "\nmodel type\t" << id.modelType << "\ncommunication option\t" << id.commOption
                  << "\nregister file\t" << printable(id.registerFile) << "\nfile version\t"
                  << id.firmwareVersion << "\npoll count\t" << id.pollCount << "\nchunk size\t"
                  << id.chunkSize << '\n';
    }
    return ExitOk;
}

// One pass as text or as one JSON line.
std::string passText(const PassSnapshot& pass, bool json) {
    std::ostringstream os;
    const RegisterTables& t = *pass.tables;
    const int count = std::min<int>(t.pollCount, RegisterTableSize);
    if (json) {
        JsonWriter j(os);
        j.beginObject().field("pass", static_cast<unsigned long long>(pass.pass)).key("values").beginObject();
        for (int r = 0; r < count; ++r) {
            if (t.RegisterTable[r].type <= 0) continue;
            const RegisterValue& v = pass.values[r];
            j.key(std::to_string(r))
                .beginObject()
                .field("label", v.label)
                .field("value", v.value)
                .endObject();
        }
        j.endObject().endObject();
        os << '\n';
    } else {
        os << "pass " << pass.pass << '\n';
        for (int r = 0; r < count; ++r) {
            if (t.RegisterTable[r].type <= 0) continue;
            const RegisterValue& v = pass.values[r];
            os << r << '\t' << printable(v.label) << '\t' << printable(v.value) << '\n';
        }
    }
    return os.str();
}

int monitorCommand(std::span<const std::string> words) {
    Args args(words, {"--resources", "--passes"}, {"--json"});
    args.expectPositional(1);
    const long passes = args.integer("--passes", 0, 1, 1000000); // 0: until interrupted
    const bool json = args.flag("--json");

    std::mutex mutex;
    std::condition_variable changed;
    long seen = 0;
    auto lastPass = std::chrono::steady_clock::now();

    Session session("monitor", args.positional()[0], args);
    session.notifier.onPass = [&](const PassSnapshotPtr& pass) {
        std::string text;
        {
            std::lock_guard guard(mutex);
            if (passes && seen >= passes) return;
            ++seen;
            text = passText(*pass, json);
            lastPass = std::chrono::steady_clock::now();
        }
        std::cout << text << std::flush;
        changed.notify_all();
    };
    session.identify();

    std::optional<InterruptWatch> watch(std::in_place);
    std::unique_lock guard(mutex);
    lastPass = std::chrono::steady_clock::now();
    bool silent = false;
    while (!(passes && seen >= passes) && !InterruptWatch::interrupted() && !session.engine().finished()) {
        changed.wait_for(guard, 100ms);
        if (std::chrono::steady_clock::now() - lastPass > SilenceLimit) {
            silent = true;
            break;
        }
    }
    const long done = seen;
    guard.unlock();
    session.engine().requestStop();
    watch.reset();

    if (silent)
        throw std::runtime_error(session.link() +
                                 " stopped answering: no poll pass succeeded for 45 s (after " +
                                 std::to_string(done) + (done == 1 ? " pass)" : " passes)"));
    if (passes && done < passes)
        throw std::runtime_error((InterruptWatch::interrupted() ? "interrupted" : "the monitor ended") +
                                 std::string(" after ") + std::to_string(done) + " of " +
                                 std::to_string(passes) + " passes");
    return ExitOk;
}

int eventsCommand(std::span<const std::string> words) {
    Args args(words, {"--resources"}, {"--json"});
    args.expectPositional(1);
    Session session("events", args.positional()[0], args);
    session.identify();

    Awaited<EventReadResult> awaited;
    session.engine().readEventRecords(true, awaited.callback());
    const EventReadResult result = awaited.get();
    if (result.kind == EventReadResult::Kind::CountUnreadable ||
        result.kind == EventReadResult::Kind::Cancelled)
        throw std::runtime_error(session.describe(result.link, {TransferWhat::Read, 60, 12}));
    const bool describesEvents = session.engine().lastPass() && session.engine().lastPass()->tables &&
                                 session.engine().lastPass()->tables->eventRegisterCount > 0;

    // The rows the Event Records page shows: the same cells, the same cause texts.
    const int32_t model = modelFromModelType(session.engine().identification()->modelType);
    auto causes = [](const std::string& cell) {
        std::vector<std::string> list;
        if (cell == "--") return list;
        size_t start = 0;
        for (size_t nl = cell.find('\n'); nl != std::string::npos; nl = cell.find('\n', start)) {
            list.push_back(cell.substr(start, nl - start));
            start = nl + 1;
        }
        return list;
    };
    if (args.flag("--json")) {
        JsonWriter json(std::cout);
        json.beginObject().field("count", unsigned{result.count}).key("records").beginArray();
        for (const EventRecord& r : result.records) {
            const EventGridRow row = eventGridRow(r, model);
            json.beginObject().field("record", r.number).field("read", r.read).key("texts").beginArray();
            for (const std::string& t : r.texts) json.value(t);
            json.endArray();
            for (auto [key, column] : {std::pair{"trip", 6}, std::pair{"setpoint", 7}}) {
                json.key(key).beginArray();
                for (const std::string& c : causes(row.cells[size_t(column)])) json.value(c);
                json.endArray();
            }
            json.endObject();
        }
        json.endArray().endObject();
        std::cout << '\n';
    } else {
        std::cout << result.count << (result.count == 1 ? " record" : " records") << ", newest first\n";
        // Cause lists on one line: "Ground Fault, Resistor Fault".
        auto cell = [](std::string_view text) {
            std::string out = cleanEventCell(text);
            for (size_t nl = out.find('\n'); nl != std::string::npos; nl = out.find('\n', nl))
                out.replace(nl, 1, ", ");
            return printable(out);
        };
        const auto& headings = eventGridHeadings();
        for (size_t c = 0; c < headings.size(); ++c) std::cout << (c ? "\t" : "") << cell(headings[c]);
        std::cout << '\n';
        for (const EventRecord& r : result.records) {
            const EventGridRow row = eventGridRow(r, model);
            for (size_t c = 0; c < row.cells.size(); ++c) std::cout << (c ? "\t" : "") << cell(row.cells[c]);
            std::cout << '\n';
        }
    }
    if (result.countLimited)
        std::cerr << "ktmon740-cli events: the unit claims more records than " << MaxEventRecords
                  << "; only the newest " << MaxEventRecords << " were read\n";
    if (result.gaveUpAfter > 0)
        throw std::runtime_error(
            "gave up after " + std::to_string(result.gaveUpAfter) + " records in a row could not be read (" +
            std::to_string(result.records.size()) + " of " + std::to_string(result.count) +
            " tried): " + session.describe(result.link, {TransferWhat::Read, 60, 12}));
    std::vector<int> unread;
    for (const EventRecord& r : result.records)
        if (!r.read && describesEvents) unread.push_back(r.number);
    if (!unread.empty()) {
        std::string list;
        for (int n : unread) list += (list.empty() ? "" : ", ") + std::to_string(n);
        throw std::runtime_error("record" + std::string(unread.size() == 1 ? " " : "s ") + list +
                                 " could not be read (shown as --)");
    }
    return ExitOk;
}

int setClockCommand(std::span<const std::string> words) {
    Args args(words, {"--resources"}, {});
    args.expectPositional(1);
    Session session("set-clock", args.positional()[0], args);
    session.identify();
    Awaited<UnitCommandResult> awaited;
    session.engine().setClock(awaited.callback());
    const UnitCommandResult result = awaited.get();
    if (!result.registersWritten)
        throw std::runtime_error(session.describe(result.link, {TransferWhat::Write, 150, 4}) +
                                 "; the clock was not set");
    if (!result.acknowledged)
        throw std::runtime_error(
            session.describe(result.link, {TransferWhat::Command, 3, 1}) +
            "; the time registers were written but the unit may not have taken the new time");
    const ClockFields c = session.clockSent();
    std::cout << "clock set to " << twoDigits(c.day) << '/' << twoDigits(c.month) << '/' << c.year << ' '
              << twoDigits(c.hour) << ':' << twoDigits(c.minute) << ':' << twoDigits(c.second) << '\n';
    return ExitOk;
}

// A unit command without register writes: its acknowledgement is the result.
int unitCommand(std::span<const std::string> words, const char* name, int number, const char* what,
                RequestId (Monitor_Thread::*operation)(std::function<void(UnitCommandResult)>)) {
    Args args(words, {"--resources"}, {});
    args.expectPositional(1);
    Session session(name, args.positional()[0], args);
    session.identify();
    Awaited<UnitCommandResult> awaited;
    (session.engine().*operation)(awaited.callback());
    const UnitCommandResult result = awaited.get();
    if (!result.acknowledged) {
        std::string why =
            session.describe(result.link, {TransferWhat::Command, number, 1}) + " (" + what + ")";
        // The one request may have been executed with its acknowledgement lost.
        if (result.link.sent && result.link.status != LinkStatus::Exception)
            why += "; it was sent once and may still have run";
        throw std::runtime_error(why);
    }
    std::cout << "command " << number << " (" << what << ") acknowledged\n";
    return ExitOk;
}

int resetDefaultsCommand(std::span<const std::string> words) {
    return unitCommand(words, "reset-defaults", 5, "reset to defaults", &Monitor_Thread::resetToDefaults);
}
int calibrateCommand(std::span<const std::string> words) {
    return unitCommand(words, "calibrate", 16, "remote calibration", &Monitor_Thread::remoteCalibration);
}
int dumpDiagnosticsCommand(std::span<const std::string> words) {
    return unitCommand(words, "dump-diagnostics", 18, "dump diagnostics file",
                       &Monitor_Thread::dumpDiagnostics);
}
int clearEventsCommand(std::span<const std::string> words) {
    return unitCommand(words, "clear-events", 2, "clear event records", &Monitor_Thread::clearEvents);
}

constexpr Command commands[] = {
    {"identify", "LINK [--json] [--resources DIR]", identifyCommand},
    {"monitor", "LINK [--passes N] [--json] [--resources DIR]", monitorCommand},
    {"events", "LINK [--json] [--resources DIR]", eventsCommand},
    {"set-clock", "LINK [--resources DIR]", setClockCommand},
    {"reset-defaults", "LINK [--resources DIR]", resetDefaultsCommand},
    {"calibrate", "LINK [--resources DIR]", calibrateCommand},
    {"dump-diagnostics", "LINK [--resources DIR]", dumpDiagnosticsCommand},
    {"clear-events", "LINK [--resources DIR]", clearEventsCommand},
};

} // namespace

std::span<const Command> monitorCommands() {
    return commands;
}

} // namespace kt::cli
