// identify / monitor / events and the unit commands, driven through the monitor engine.
#include "cli/cli.h"
#include "cli/json.h"
#include "monitor/monitor_thread.h"

#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <sstream>
#include <stdexcept>

namespace kt::cli {

namespace {

using namespace std::chrono_literals;

// The window disconnects after more than 45 s without a pass; so does `monitor`.
constexpr auto SilenceLimit = 45s;

ConnectionSettings linkArgument(const std::string& text) {
    std::string why;
    auto settings = parseLink(text, &why);
    if (!settings) throw UsageError(why);
    return *settings;
}

// Set by SIGINT/SIGTERM while `monitor` runs.
volatile std::sig_atomic_t interrupted = 0;
extern "C" void onInterrupt(int) {
    interrupted = 1;
}

// The engine's notifications for a tool without a GUI thread: they arrive on the polling thread
// (passes) or on the calling thread (event records), and are passed on to the command.
class CliNotifier : public MonitorNotifier {
public:
    explicit CliNotifier(std::string command) : command_(std::move(command)) {}

    std::function<void(int)> onPass;
    std::function<void(uint16_t, const std::array<std::string, EventTextCount>&)> onEvent;

    // The loader's messages, one line each on stderr. Its abort text opens the command's error
    // line instead, which adds the precise reason.
    void showMessage(const std::string& text, const std::string& title) override {
        if (text == NoRegisterFileText) {
            std::lock_guard guard(mutex_);
            abortMessage_ = title + ": " + text;
            return;
        }
        std::string line = text;
        while (!line.empty() && line.back() == '\n') line.pop_back();
        for (char& c : line)
            if (c == '\n') c = ' ';
        std::cerr << "ktmon740-cli " << command_ << ": " << title << ": " << line << '\n';
    }
    void statusRefresh(int lastGroupIndex) override {
        if (onPass) onPass(lastGroupIndex);
    }
    void networkInputStatus(int32_t, const std::array<int32_t, NetworkInputCount>&) override {}
    void startFallbackTimer() override {} // the engine's failure text says what happened
    void eventListUpdate(uint16_t count, const std::array<std::string, EventTextCount>& texts) override {
        if (onEvent) onEvent(count, texts);
    }

    std::string abortMessage() {
        std::lock_guard guard(mutex_);
        return abortMessage_;
    }

private:
    std::string command_;
    std::mutex mutex_;
    std::string abortMessage_;
};

// One connection: the engine on the link, identified before any operation. The notifier's
// handlers are set before start(), since the polling thread calls them.
class Session {
public:
    Session(const std::string& command, const std::string& link, const Args& args)
        : link_(link), settings_(linkArgument(link)), resources_(resourcesFolder(args)), notifier(command) {}
    ~Session() { engine_.reset(); } // stops and joins before the notifier goes

    void start() {
        MonitorOptions options;
        options.resourcesFolder = resources_;
        options.clock = [this] {
            ClockFields now = systemLocalClock();
            std::lock_guard guard(clockMutex_);
            clockSent_ = now;
            return now;
        };
        engine_ = std::make_unique<Monitor_Thread>(settings_, notifier, dispatcher_, std::move(options));
    }

    Monitor_Thread& engine() { return *engine_; }
    const std::string& link() const { return link_; }
    ClockFields clockSent() {
        std::lock_guard guard(clockMutex_);
        return clockSent_;
    }

    // Starts the engine and waits for the identification; throws with a clear reason when the
    // unit cannot be identified.
    UnitIdentification identify() {
        start();
        if (engine_->waitForIdentification()) return *engine_->identification();
        const std::string why = engine_->failure();
        std::optional<UnitIdentification> id = engine_->identification();
        if (!id)
            throw std::runtime_error(
                link_ + " did not answer the Modbus identification (registers 0..19); the program "
                        "would now listen for an older unit's legacy frames");
        const std::string aborted = notifier.abortMessage();
        throw std::runtime_error(
            (aborted.empty() ? "" : aborted + " ") + link_ + " answered (model code " +
            std::to_string(id->modelCode) + ", firmware " + std::to_string(id->firmwareRaw) +
            ", model type " + std::to_string(id->modelType) + ") but no register file could be used: " + why);
    }

private:
    std::string link_;
    ConnectionSettings settings_;
    std::string resources_;
    InlineDispatcher dispatcher_;
    std::mutex clockMutex_;
    ClockFields clockSent_;

public:
    CliNotifier notifier;

private:
    std::unique_ptr<Monitor_Thread> engine_;
};

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
                  << (id.firmwareRaw & 0x8000 ? " (prototype)" : "") << "\nversion\t" << id.version
                  << "\nmodel type\t" << id.modelType << "\ncommunication option\t" << id.commOption
                  << "\nregister file\t" << id.registerFile << "\nfile version\t" << id.firmwareVersion
                  << "\npoll count\t" << id.pollCount << "\nchunk size\t" << id.chunkSize << '\n';
    }
    return ExitOk;
}

// One pass as text or as one JSON line. Runs during the hand-over: the values are complete.
std::string passText(long pass, bool json) {
    const RegisterTables& t = registerTables();
    std::ostringstream os;
    const int count = std::min<int>(t.pollCount, RegisterTableSize);
    if (json) {
        JsonWriter j(os);
        j.beginObject().field("pass", pass).key("values").beginObject();
        for (int r = 0; r < count; ++r) {
            if (t.RegisterTable[r].type <= 0) continue;
            const RegisterValue& v = t.RegisterValues[r];
            j.key(std::to_string(r))
                .beginObject()
                .field("label", v.label)
                .field("value", v.value)
                .endObject();
        }
        j.endObject().endObject();
        os << '\n';
    } else {
        os << "pass " << pass << '\n';
        for (int r = 0; r < count; ++r) {
            if (t.RegisterTable[r].type <= 0) continue;
            const RegisterValue& v = t.RegisterValues[r];
            os << r << '\t' << v.label << '\t' << v.value << '\n';
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
    session.notifier.onPass = [&](int) {
        std::string text;
        {
            std::lock_guard guard(mutex);
            if (passes && seen >= passes) return;
            text = passText(++seen, json);
            lastPass = std::chrono::steady_clock::now();
        }
        std::cout << text << std::flush;
        changed.notify_all();
    };
    session.identify();

    interrupted = 0;
    auto previousInt = std::signal(SIGINT, onInterrupt);
    auto previousTerm = std::signal(SIGTERM, onInterrupt);
    std::unique_lock guard(mutex);
    lastPass = std::chrono::steady_clock::now();
    bool silent = false;
    while (!(passes && seen >= passes) && !interrupted && !session.engine().finished()) {
        changed.wait_for(guard, 100ms);
        if (std::chrono::steady_clock::now() - lastPass > SilenceLimit) {
            silent = true;
            break;
        }
    }
    const long done = seen;
    guard.unlock();
    session.engine().requestStop();
    std::signal(SIGINT, previousInt);
    std::signal(SIGTERM, previousTerm);

    if (silent)
        throw std::runtime_error(session.link() +
                                 " stopped answering: no poll pass succeeded for 45 s (after " +
                                 std::to_string(done) + (done == 1 ? " pass)" : " passes)"));
    if (passes && done < passes)
        throw std::runtime_error((interrupted ? "interrupted" : "the monitor ended") +
                                 std::string(" after ") + std::to_string(done) + " of " +
                                 std::to_string(passes) + " passes");
    return ExitOk;
}

int eventsCommand(std::span<const std::string> words) {
    Args args(words, {"--resources"}, {"--json"});
    args.expectPositional(1);
    Session session("events", args.positional()[0], args);
    session.identify();

    struct Record {
        int number;
        std::array<std::string, EventTextCount - 1> texts;
    };
    std::vector<Record> records;
    std::vector<int> unread;
    bool noAnswer = false;
    uint16_t count = 0;
    const bool describesEvents = [] {
        auto lock = lockRegisterValues();
        return registerTables().eventRegisterCount > 0;
    }();
    session.notifier.onEvent = [&](uint16_t n, const std::array<std::string, EventTextCount>& texts) {
        count = n;
        if (texts[0] == "999") {
            noAnswer = true; // all records were asked for: only a failed count read answers so
            return;
        }
        if (texts[0] == "0" && n == 0) return;
        Record r{std::stoi(texts[0]), {}};
        std::copy(texts.begin() + 1, texts.end(), r.texts.begin());
        const bool allUnread = std::all_of(r.texts.begin(), r.texts.end(),
                                           [](const std::string& t) { return t == UnreadableText; });
        if (allUnread && describesEvents) unread.push_back(r.number);
        records.push_back(std::move(r));
    };
    session.engine().readEventRecords(true);
    if (noAnswer) throw std::runtime_error(session.link() + " did not answer the event registers 60..71");

    if (args.flag("--json")) {
        JsonWriter json(std::cout);
        json.beginObject().field("count", unsigned{count}).key("records").beginArray();
        for (const Record& r : records) {
            json.beginObject().field("record", r.number).key("texts").beginArray();
            for (const std::string& t : r.texts) json.value(t);
            json.endArray().endObject();
        }
        json.endArray().endObject();
        std::cout << '\n';
    } else {
        std::cout << count << (count == 1 ? " record" : " records") << ", newest first\n";
        for (const Record& r : records) {
            std::cout << r.number;
            for (const std::string& t : r.texts) std::cout << '\t' << t;
            std::cout << '\n';
        }
    }
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
    if (!session.engine().setClock())
        throw std::runtime_error(
            session.link() + " did not accept the clock registers (152..153 time, then 150..151 date); the "
                             "clock was not set");
    const ClockFields c = session.clockSent();
    std::cout << "clock set to " << twoDigits(c.day) << '/' << twoDigits(c.month) << '/' << c.year << ' '
              << twoDigits(c.hour) << ':' << twoDigits(c.minute) << ':' << twoDigits(c.second) << '\n';
    if (!session.engine().lastCommandAcknowledged())
        std::cerr
            << "ktmon740-cli set-clock: command 3 (set clock) was not acknowledged; the unit may not have "
               "taken the new time\n";
    return ExitOk;
}

// A unit command without register writes: its acknowledgement is the result.
int unitCommand(std::span<const std::string> words, const char* name, int number, const char* what,
                bool (Monitor_Thread::*operation)()) {
    Args args(words, {"--resources"}, {});
    args.expectPositional(1);
    Session session(name, args.positional()[0], args);
    session.identify();
    if (!(session.engine().*operation)()) {
        std::string why =
            session.link() + " did not acknowledge command " + std::to_string(number) + " (" + what + ")";
        // Over serial the one request may have been executed with its answer lost.
        if (linkArgument(session.link()).linkType == LinkSerialRtu)
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
