// ktmon740-cli log: the PC data log without the window, for a logger left running beside the
// panel. The refreshes go through the same status views and the same recorder as in the window,
// so the files are the window's files: the current-unit layout from the grids' rows, or, for an
// older unit that pushes its legacy frames, the legacy layout.
#include "cli/cli.h"
#include "cli/interrupt.h"
#include "cli/json.h"
#include "monitor/datalog_recorder.h"
#include "monitor/monitor_thread.h"
#include "monitor/thread_old740.h"

#include <condition_variable>
#include <deque>
#include <iostream>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>

namespace kt::cli {

namespace {

using namespace std::chrono_literals;

// Without a pass or a good frame for this long the unit counts as gone, as in the window.
constexpr auto SilenceLimit = 45s;

// The engine's and the listener's calls, run in order on the logger's own thread, as the window's
// event loop runs them: the refresh, the log and the counters are touched by one thread only.
class QueueDispatcher : public GuiDispatcher {
public:
    void post(std::function<void()> call) override {
        {
            std::lock_guard guard(mutex_);
            calls_.push_back(std::move(call));
        }
        wake_.notify_all();
    }
    // Runs what is queued, waiting up to `wait` for the first call.
    void runFor(std::chrono::milliseconds wait) {
        std::deque<std::function<void()>> calls;
        {
            std::unique_lock guard(mutex_);
            wake_.wait_for(guard, wait, [&] { return !calls_.empty(); });
            calls.swap(calls_);
        }
        for (auto& call : calls) call();
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> calls_;
};

class Logger : public MonitorNotifier, public LegacyNotifier {
public:
    Logger(DatalogSettings& settings, bool nameGiven, int saveRate)
        : settings_(settings), nameGiven_(nameGiven), saveRate_(saveRate) {}

    long refreshes = 0;
    std::chrono::steady_clock::time_point lastRefresh = std::chrono::steady_clock::now();
    std::string ended; // why the unit's connection ended by itself

    // MonitorNotifier
    void passCompleted(PassSnapshotPtr pass) override {
        if (!pass) return;
        UnitStatusInputs inputs;
        inputs.datalogEnabled = true;
        UpdateUnitStatus(*pass, unitState_, selection_, unitView_, inputs);
        if (!nameGiven_)
            settings_.FileName = datalogFileName(selection_.model_type, false, unitState_.serialNumberText);
        report(recorder_.unitRefresh(settings_, unitView_));
        refreshed();
    }
    void identificationFailed(const std::string&) override {}
    void showMessage(const std::string& text, const std::string& title) override {
        std::string line = text;
        for (char& c : line)
            if (c == '\n') c = ' ';
        std::cerr << "ktmon740-cli log: " << printable(title) << ": " << printable(line) << '\n';
    }

    // LegacyNotifier
    void legacyStatusUpdate(const LegacyFrame& frame) override {
        LegacyStatusInputs inputs;
        inputs.datalogEnabled = true;
        inputs.saveRate = saveRate_;
        UpdateLegacyStatus(frame, legacyState_, legacyMemory_, selection_, legacyView_, inputs);
        if (!legacyView_.accepted) return;
        if (!nameGiven_) settings_.FileName = datalogFileName(legacyView_.identity.model, true, {});
        const DatalogWriteResult r = recorder_.legacyRefresh(settings_, frame, legacyView_);
        if (r.written || r.kept) legacyState_.lineWritten();
        report(r);
        refreshed();
    }
    void legacyEventUpdate(const LegacyEventBlock&) override {}
    void legacyFailure(const LegacyFailure& failure) override { ended = describe(failure); }
    void legacyClearDone(LegacyCommandOutcome) override {}

    // The lines still waiting for their file: one more try.
    size_t flush() {
        if (recorder_.writer().keptLines() > 0) report(recorder_.writer().retryKeptLines(settings_));
        return recorder_.writer().keptLines();
    }
    size_t linesWritten() const { return written_; }

private:
    void refreshed() {
        ++refreshes;
        lastRefresh = std::chrono::steady_clock::now();
    }
    void report(const DatalogWriteResult& r) {
        if (r.written) {
            ++written_;
            if (files_.insert(r.path).second) std::cout << "logging to " << printable(r.path) << std::endl;
        }
        if (r.notice == DatalogNotice::Failed)
            std::cerr << "ktmon740-cli log: " << DatalogErrorText << ": " << printable(r.reason)
                      << "; the lines are kept and written once the file can be written again" << std::endl;
        if (r.notice == DatalogNotice::Recovered)
            std::cerr << "ktmon740-cli log: logging works again"
                      << (r.path.empty() ? std::string() : ": " + printable(r.path)) << std::endl;
        if (r.droppedLines > 0)
            std::cerr << "ktmon740-cli log: " << r.droppedLines
                      << " lines could not be kept while the file could not be written" << std::endl;
    }

    DatalogSettings& settings_;
    const bool nameGiven_;
    const int saveRate_;
    DatalogRecorder recorder_;
    CtVoltageSelection selection_;
    UnitStatusState unitState_;
    UnitStatusView unitView_;
    LegacyStatusState legacyState_;
    LegacyIdentityMemory legacyMemory_;
    LegacyStatusView legacyView_;
    std::set<std::string> files_;
    size_t written_ = 0;
};

int logCommand(std::span<const std::string> words) {
    Args args(words, {"--resources", "--folder", "--name", "--passes", "--rate"}, {"--legacy"});
    args.expectPositional(1);
    const std::string link = args.positional()[0];
    const ConnectionSettings settings = linkArgument(link);
    const long passes = args.integer("--passes", 0, 1, 100000000); // 0: until interrupted
    const int rate = static_cast<int>(args.integer("--rate", 5, 1, 10000));
    const bool legacyOnly = args.flag("--legacy");
    if (legacyOnly && settings.linkType != LinkSerialRtu)
        throw UsageError("--legacy needs a serial link: older units push their frames on a serial line");

    DatalogSettings log;
    log.datalog_enable = true;
    log.save_rate = rate;
    log.datalogHeaderPending = true; // a connection starts with a header block
    if (auto folder = args.value("--folder")) {
        log.datalogFolder = *folder;
        if (!log.datalogFolder.empty() && log.datalogFolder.back() != '/' && log.datalogFolder.back() != '\\')
            log.datalogFolder += '/';
    }
    const std::optional<std::string> name = args.value("--name");
    if (name) {
        if (name->empty() || name->find_first_of("/\\") != std::string::npos)
            throw UsageError("--name is the file's base name, without a folder: \"" + printable(*name) +
                             "\"");
        log.FileName = *name;
    }

    Logger logger(log, name.has_value(), rate);
    QueueDispatcher dispatcher;
    std::unique_ptr<Monitor_Thread> engine;
    std::unique_ptr<Thread_Old740> listener;
    // The logger and the dispatcher outlive both threads.
    struct Stop {
        std::unique_ptr<Monitor_Thread>& engine;
        std::unique_ptr<Thread_Old740>& listener;
        ~Stop() {
            engine.reset();
            listener.reset();
        }
    } stop{engine, listener};

    if (!legacyOnly) {
        MonitorOptions options;
        options.resourcesFolder = resourcesFolder(args);
        options.link = linkOptions();
        engine = std::make_unique<Monitor_Thread>(settings, logger, dispatcher, std::move(options));
        if (!engine->waitForIdentification()) {
            const std::string why = engine->failure();
            if (engine->identification())
                throw std::runtime_error(link + " answered but no register file could be used: " + why);
            if (settings.linkType != LinkSerialRtu)
                throw std::runtime_error(
                    (why.empty() ? link + " did not answer the Modbus identification" : why));
            std::cerr << "ktmon740-cli log: " << (why.empty() ? "no Modbus answer" : why)
                      << "; listening for an older unit's status frames" << std::endl;
            engine.reset(); // lets go of the port
        }
    }
    if (!engine) {
        auto forward = std::shared_ptr<LegacyNotifier>(&logger, [](LegacyNotifier*) {});
        listener = std::make_unique<Thread_Old740>(settings.portName, forward, dispatcher);
    }

    std::optional<InterruptWatch> watch(std::in_place);
    logger.lastRefresh = std::chrono::steady_clock::now();
    bool silent = false;
    while (!(passes && logger.refreshes >= passes) && !InterruptWatch::interrupted() &&
           logger.ended.empty()) {
        dispatcher.runFor(100ms);
        if (engine && engine->finished()) {
            logger.ended = engine->failure().empty() ? "the connection ended" : engine->failure();
            break;
        }
        if (std::chrono::steady_clock::now() - logger.lastRefresh > SilenceLimit) {
            silent = true;
            break;
        }
    }
    watch.reset();
    engine.reset();
    listener.reset();
    dispatcher.runFor(0ms); // what the threads delivered before they ended

    const size_t waiting = logger.flush();
    const long done = logger.refreshes;
    if (waiting > 0)
        throw std::runtime_error(std::to_string(waiting) + (waiting == 1 ? " line" : " lines") +
                                 " could not be written to the data log");
    if (silent)
        throw std::runtime_error(link + " went silent: no status for 45 s (after " + std::to_string(done) +
                                 (done == 1 ? " refresh)" : " refreshes)"));
    if (!logger.ended.empty()) throw std::runtime_error(logger.ended);
    if (passes && done < passes)
        throw std::runtime_error("interrupted after " + std::to_string(done) + " of " +
                                 std::to_string(passes) + " refreshes");
    std::cout << logger.linesWritten() << (logger.linesWritten() == 1 ? " line" : " lines") << " written"
              << std::endl;
    return ExitOk;
}

constexpr Command commands[] = {
    {"log", "LINK [--folder DIR] [--name NAME] [--passes N] [--rate N] [--legacy] [--resources DIR]",
     logCommand},
};

} // namespace

std::span<const Command> logCommands() {
    return commands;
}

} // namespace kt::cli
