#include "monitor/monitor_thread.h"

#include "link/gui_pump.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <ctime>
#include <filesystem>
#include <map>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace kt {

namespace {

using namespace std::chrono_literals;

// Unit registers the engine names itself.
constexpr int ModelCodeRegister = 0;
constexpr int FirmwareRegister = 1;
constexpr int ModelTypeRegister = 4;
constexpr int CommOptionRegister = 5;
constexpr int NewestEventRegister = 60;
constexpr int EventSelectorRegister = 62;
constexpr int EventBlockCount = 12; // 60..71
constexpr int SixteenBitSettingRegister = 16;
constexpr int EssentialSettingsRegister = 199;
constexpr int ClockDateRegister = 150;
constexpr int ClockTimeRegister = 152;
constexpr int MacAddressRegister = 156;
constexpr int FirstMacRegister = 107;
constexpr int NetworkInputRegister = 780;
constexpr int NetworkInputBlock = 17; // 780..796

namespace Command {
constexpr int ClearEvents = 2;
constexpr int SetClock = 3;
constexpr int ResetToDefaults = 5;
constexpr int ApplyMac1 = 6;
constexpr int ApplyMac2 = 7;
constexpr int RemoteCalibration = 16;
constexpr int DumpDiagnostics = 18;
} // namespace Command

constexpr int FailedPassesBeforeReconnect = 3;
constexpr auto ReconnectPause = 10ms;
constexpr auto EventSelectPause = 20ms;
constexpr int EventTries = 3;
constexpr const char* WriteFailedText = "Write Failed";

std::mutex& valuesMutex() {
    static std::mutex m;
    return m;
}

std::optional<int64_t> toInteger(std::string_view text) {
    int64_t v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return v;
}

bool isNetworkOption(std::optional<int64_t> option) {
    return option && *option >= 6 && *option <= 8;
}

// The polling thread runs one step below normal priority, so a busy link never slows the window.
void lowerThreadPriority() {
#ifdef _WIN32
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
#else
    // Linux keeps a nice value per thread. Failing to lower it is harmless: ignored.
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, tid);
    if (errno == 0) (void)::setpriority(PRIO_PROCESS, tid, current + 1);
#endif
}

// Engines in order of creation, each until its run has ended and its facades are gone. A new
// engine starts identifying only once every older one has left, since they share the register
// tables and the port.
struct EngineSlot {
    uint64_t sequence = 0;
    bool runEnded = false;
    int liveFacades = 0;
    bool done() const { return runEnded && liveFacades == 0; }
};

class EngineRegistry {
public:
    std::shared_ptr<EngineSlot> enroll() {
        std::lock_guard guard(mutex_);
        auto slot = std::make_shared<EngineSlot>();
        slot->sequence = next_++;
        live_.emplace(slot->sequence, slot);
        return slot;
    }
    // True once no older engine is left; false when `stop` was requested first.
    bool waitForOlder(const EngineSlot& slot, std::stop_token stop) {
        std::unique_lock guard(mutex_);
        return changed_.wait(guard, stop, [&] { return live_.begin()->first == slot.sequence; });
    }
    void facadeBuilt(EngineSlot& slot) {
        std::lock_guard guard(mutex_);
        ++slot.liveFacades;
    }
    void facadeGone(EngineSlot& slot) {
        std::lock_guard guard(mutex_);
        --slot.liveFacades;
        leaveIfDone(slot);
    }
    void runEnded(EngineSlot& slot) {
        std::lock_guard guard(mutex_);
        slot.runEnded = true;
        leaveIfDone(slot);
    }
    bool finished(const EngineSlot& slot) {
        std::lock_guard guard(mutex_);
        return slot.done();
    }

private:
    void leaveIfDone(EngineSlot& slot) {
        if (!slot.done()) return;
        live_.erase(slot.sequence);
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable_any changed_;
    std::map<uint64_t, std::shared_ptr<EngineSlot>> live_;
    uint64_t next_ = 1;
};

EngineRegistry& engineRegistry() {
    // Never destroyed: engines may still leave while the process exits.
    static auto* registry = new EngineRegistry();
    return *registry;
}

// One synchronous hand-over to the GUI thread. The posted call and the waiting thread share it,
// so a call cancelled before it started can still be dropped safely from the GUI's queue later.
struct HandOver {
    enum class State { Pending, Running, Done, Cancelled };
    std::mutex mutex;
    std::condition_variable_any changed;
    State state = State::Pending;
    std::function<void()> call;
};

} // namespace

namespace detail {

class MonitorEngine {
public:
    MonitorEngine(const ConnectionSettings& settings, MonitorNotifier& notifier, GuiDispatcher& dispatcher,
                  MonitorOptions options)
        : settings_(settings), notifier_(notifier), dispatcher_(dispatcher),
          tables_(options.tables ? *options.tables : registerTables()),
          resources_(std::move(options.resourcesFolder)),
          clock_(options.clock ? std::move(options.clock) : LocalClock(systemLocalClock)),
          pollInterval_(options.pollInterval), makeProtocol_(std::move(options.makeProtocol)),
          maxEventRecords_(std::clamp(options.maxEventRecords, 1, 0xFFFF)), slot_(engineRegistry().enroll()) {
    }

    void run();
    void requestStop();
    bool stopRequested() const { return stop_.stop_requested(); }
    bool finished() const { return engineRegistry().finished(*slot_); }

    bool identified() const { return identified_; }
    int32_t pollCount() const { return pollCount_; }
    int32_t firmwareVersion() const { return firmwareVersion_; }
    int32_t chunkSize() const { return chunkSize_; }
    uint16_t eventCount() const { return eventCount_; }
    bool lastCommandAcknowledged() const { return lastCommandAcknowledged_; }

    bool waitForIdentification(std::chrono::milliseconds timeout) const;
    std::optional<UnitIdentification> identification() const {
        std::lock_guard guard(stateMutex_);
        return identification_;
    }
    std::string failure() const {
        std::lock_guard guard(stateMutex_);
        return failure_;
    }

    bool readBlock(int start, int count);
    std::string registerText(int reg, int type) const {
        std::lock_guard guard(valuesMutex());
        return kt::registerText(tables_.RegisterCache, reg, type);
    }

    bool writeValue(int32_t value, int reg);
    bool writeRegisterBlock(const uint8_t* bytes, int count, int start);
    bool writeRegisters(int start, int count, const uint16_t* words);
    bool writeIpAddress(int reg, const std::string& text);
    void readEventRecords(bool requestAll);
    bool register199Flag() const;
    bool setClock();
    bool writeMacAddress(int reg, const std::array<uint8_t, 6>& bytes);
    bool command(int n);

private:
    enum class Phase { Waiting, Identifying, Polling, Failed, Ended };

    class HandOverSink : public MessageSink {
    public:
        explicit HandOverSink(MonitorEngine& engine) : engine_(engine) {}
        void showMessage(const std::string& text, const std::string& title) override {
            MessageSink& target = engine_.notifier_;
            engine_.handOver([&target, text, title] { target.showMessage(text, title); });
        }

    private:
        MonitorEngine& engine_;
    };

    void identify();
    void failIdentification(std::string why);
    void pollPass(int& failedPasses);
    void reconnect();

    std::shared_ptr<Protocol> buildFacade();
    void installFacade(std::shared_ptr<Protocol> facade);
    void dropFacade();
    std::shared_ptr<Protocol> currentFacade() const {
        std::lock_guard guard(facadeMutex_);
        return facade_;
    }

    bool handOver(std::function<void()> call);
    bool sleepFor(std::chrono::milliseconds time);
    void setPhase(Phase phase);

    const ConnectionSettings settings_;
    MonitorNotifier& notifier_;
    GuiDispatcher& dispatcher_;
    RegisterTables& tables_;
    const std::string resources_;
    const LocalClock clock_;
    const std::chrono::milliseconds pollInterval_;
    const std::function<std::unique_ptr<Protocol>(const ConnectionSettings&)> makeProtocol_;
    const int maxEventRecords_;
    const std::shared_ptr<EngineSlot> slot_;

    std::stop_source stop_;
    mutable std::mutex facadeMutex_;
    std::shared_ptr<Protocol> facade_;

    std::atomic<bool> identified_{false};
    std::atomic<int32_t> pollCount_{0};
    std::atomic<int32_t> firmwareVersion_{0};
    std::atomic<int32_t> chunkSize_{Monitor_Thread::ReadChunk};
    std::atomic<bool> eventsRequested_{true}; // a new connection reads all records on first request
    std::atomic<uint16_t> eventCount_{0};
    std::atomic<bool> lastCommandAcknowledged_{false};

    mutable std::mutex stateMutex_;
    mutable std::condition_variable stateChanged_;
    Phase phase_ = Phase::Waiting;
    std::optional<UnitIdentification> identification_;
    std::string failure_;

    std::mutex sleepMutex_;
    std::condition_variable_any sleepWake_;
};

void MonitorEngine::run() {
    lowerThreadPriority();
    try {
        if (engineRegistry().waitForOlder(*slot_, stop_.get_token())) {
            installFacade(buildFacade());
            setPhase(Phase::Identifying);
            int failedPasses = 0;
            while (!stop_.stop_requested()) {
                if (!identified_)
                    identify();
                else
                    pollPass(failedPasses);
                sleepFor(pollInterval_);
            }
        }
    } catch (const std::exception& e) {
        // A notifier that throws on this thread (the command-line tool runs them here) ends the
        // engine like a stop instead of ending the process.
        std::lock_guard guard(stateMutex_);
        failure_ = std::string("the monitor engine stopped: ") + e.what();
    } catch (...) {
        std::lock_guard guard(stateMutex_);
        failure_ = "the monitor engine stopped on an unknown error";
    }
    stop_.request_stop();
    dropFacade();
    setPhase(Phase::Ended);
    engineRegistry().runEnded(*slot_);
}

void MonitorEngine::requestStop() {
    stop_.request_stop();
    std::lock_guard guard(facadeMutex_);
    if (facade_) facade_->requestAbort();
}

void MonitorEngine::setPhase(Phase phase) {
    std::lock_guard guard(stateMutex_);
    // Failed and Ended are final for waitForIdentification: Ended keeps what came before.
    if (phase == Phase::Ended && phase_ == Phase::Failed) return;
    phase_ = phase;
    stateChanged_.notify_all();
}

bool MonitorEngine::waitForIdentification(std::chrono::milliseconds timeout) const {
    std::unique_lock guard(stateMutex_);
    auto settled = [&] { return phase_ != Phase::Waiting && phase_ != Phase::Identifying; };
    if (timeout == std::chrono::milliseconds::max())
        stateChanged_.wait(guard, settled);
    else
        stateChanged_.wait_for(guard, timeout, settled);
    return identified_;
}

std::shared_ptr<Protocol> MonitorEngine::buildFacade() {
    std::unique_ptr<Protocol> made =
        makeProtocol_ ? makeProtocol_(settings_) : std::make_unique<Protocol>(settings_);
    if (!made) return nullptr;
    engineRegistry().facadeBuilt(*slot_);
    // The last user destroys it (normally this thread); the registry learns when it is gone.
    std::shared_ptr<EngineSlot> slot = slot_;
    return std::shared_ptr<Protocol>(made.release(), [slot](Protocol* facade) {
        delete facade;
        engineRegistry().facadeGone(*slot);
    });
}

void MonitorEngine::installFacade(std::shared_ptr<Protocol> facade) {
    std::lock_guard guard(facadeMutex_);
    facade_ = std::move(facade);
    // requestStop may have run between the build and now: it could not abort this one.
    if (facade_ && stop_.stop_requested()) facade_->requestAbort();
}

void MonitorEngine::dropFacade() {
    std::shared_ptr<Protocol> old;
    {
        std::lock_guard guard(facadeMutex_);
        old.swap(facade_);
    }
    if (!old) return;
    old->requestAbort(); // a GUI call still using it ends after its current attempt
    old.reset();         // destroyed here unless a GUI call still holds it
}

bool MonitorEngine::sleepFor(std::chrono::milliseconds time) {
    std::unique_lock guard(sleepMutex_);
    sleepWake_.wait_for(guard, stop_.get_token(), time, [] { return false; });
    return !stop_.stop_requested();
}

bool MonitorEngine::handOver(std::function<void()> call) {
    if (stop_.stop_requested()) return false;
    auto h = std::make_shared<HandOver>();
    h->call = std::move(call);
    dispatcher_.post([h] {
        {
            std::lock_guard guard(h->mutex);
            if (h->state == HandOver::State::Cancelled) return;
            h->state = HandOver::State::Running;
        }
        // Done on every way out, so the waiting thread never hangs on a call that threw.
        struct Finish {
            HandOver& h;
            ~Finish() {
                std::lock_guard guard(h.mutex);
                h.state = HandOver::State::Done;
                h.changed.notify_all();
            }
        } finish{*h};
        h->call();
    });
    std::unique_lock guard(h->mutex);
    h->changed.wait(guard, stop_.get_token(), [&] { return h->state == HandOver::State::Done; });
    if (h->state == HandOver::State::Pending) {
        h->state = HandOver::State::Cancelled;
        h->call = nullptr; // its captures are never used
        return false;
    }
    // Running: the GUI is reading what this thread wrote, so wait for it to return.
    h->changed.wait(guard, [&] { return h->state == HandOver::State::Done; });
    return true;
}

bool MonitorEngine::readBlock(int start, int count) {
    if (start < 0 || count < 1 || start + count > RegisterCacheSize) return false;
    std::shared_ptr<Protocol> facade = currentFacade();
    if (!facade) return false;
    const int chunk = chunkSize_;
    std::array<uint16_t, Monitor_Thread::ReadChunk> words{};
    for (int done = 0; done < count; done += chunk) {
        if (stop_.stop_requested()) return false;
        const int n = std::min(chunk, count - done);
        if (!facade->ReadRegisters(settings_, start + done, n, words.data())) return false;
        std::lock_guard guard(valuesMutex());
        std::copy_n(words.begin(), n, tables_.RegisterCache.begin() + start + done);
    }
    return true;
}

void MonitorEngine::identify() {
    {
        // A new connection starts from no description, so nothing of the last unit is shown.
        std::lock_guard guard(valuesMutex());
        tables_.reset();
    }
    chunkSize_ = Monitor_Thread::ReadChunk;
    bool ok = readBlock(0, Monitor_Thread::ReadChunk);
    if (!ok && !stop_.stop_requested()) {
        chunkSize_ = Monitor_Thread::RefusedReadChunk;
        ok = readBlock(0, Monitor_Thread::RefusedReadChunk);
    }
    if (stop_.stop_requested()) return;
    if (!ok) {
        failIdentification("no answer to the Modbus identification (registers 0.." +
                           std::to_string(Monitor_Thread::RefusedReadChunk - 1) + ")");
        return;
    }

    UnitIdentification id;
    {
        std::lock_guard guard(valuesMutex());
        const RegisterCacheWords& cache = tables_.RegisterCache;
        id.modelCode = cache[ModelCodeRegister];
        id.firmwareRaw = cache[FirmwareRegister];
        id.modelType = cache[ModelTypeRegister];
        id.commOption = cache[CommOptionRegister];
    }
    id.version = std::to_string((id.firmwareRaw & 0x7FFF) / 10 * 10);
    id.chunkSize = chunkSize_;
    {
        std::lock_guard guard(stateMutex_);
        identification_ = id;
    }

    // Loaded aside and swapped in under the lock: a GUI reader sees the old tables or the new.
    auto loaded = std::make_unique<RegisterTables>();
    HandOverSink messages(*this);
    std::string why;
    RegisterLoadOptions load;
    load.tables = loaded.get();
    load.resourcesFolder = resources_;
    load.messages = &messages;
    load.stopRequested = [this] { return stop_.stop_requested(); };
    load.failure = &why;
    const bool fileLoaded = loadRegisterTables(id.version, std::to_string(id.modelType), load);
    if (stop_.stop_requested()) return;
    if (!fileLoaded) {
        failIdentification(why);
        return;
    }
    if (loaded->pollCount == 0) {
        // Nothing to poll: the connection could show nothing, so it fails like a missing file.
        messages.showMessage(NoRegisterFileText, CannotOpenFileTitle);
        failIdentification(loaded->dataset.fileName() + " describes no register");
        return;
    }

    // Group display by communication option.
    const int c = id.commOption;
    for (int g = 0; g <= loaded->lastGroupIndex; ++g) {
        RegisterGroup& group = loaded->RegisterGroups[g];
        if (c < 3 && (group.nameIndex == "network" || group.nameIndex == "sntp settings"))
            group.display = false;
        if (c == 1 && group.nameIndex == "devicenet") group.display = true;
    }

    id.registerFile = std::filesystem::path(loaded->dataset.fileName()).filename().string();
    id.firmwareVersion = loaded->firmwareVersion;
    id.pollCount = loaded->pollCount;
    {
        std::lock_guard guard(valuesMutex());
        loaded->RegisterCache = tables_.RegisterCache; // the cache is never cleared
        tables_ = std::move(*loaded);
    }
    pollCount_ = id.pollCount;
    firmwareVersion_ = id.firmwareVersion;
    {
        std::lock_guard guard(stateMutex_);
        identification_ = id;
        identified_ = true;
        phase_ = Phase::Polling;
        stateChanged_.notify_all();
    }
}

void MonitorEngine::failIdentification(std::string why) {
    {
        std::lock_guard guard(stateMutex_);
        failure_ = std::move(why);
        phase_ = Phase::Failed;
        stateChanged_.notify_all();
    }
    MonitorNotifier& notifier = notifier_;
    handOver([&notifier] { notifier.startFallbackTimer(); });
    stop_.request_stop();
}

void MonitorEngine::pollPass(int& failedPasses) {
    if (!readBlock(0, pollCount_)) {
        if (stop_.stop_requested()) return; // cut short by the stop, not by the link
        if (++failedPasses > FailedPassesBeforeReconnect) {
            failedPasses = 0;
            reconnect();
        }
        return;
    }
    failedPasses = 0;

    std::optional<int64_t> option;
    int lastGroup = -1;
    {
        std::lock_guard guard(valuesMutex());
        const int count = std::min<int>(pollCount_, RegisterTableSize);
        for (int r = 0; r < count; ++r) {
            const RegisterDescriptor& d = tables_.RegisterTable[r];
            if (d.type <= 0) continue; // not polled: keeps its last value
            RegisterValue& v = tables_.RegisterValues[r];
            v.translationType = d.translationType;
            v.label = d.label;
            v.access = d.access;
            v.warning = d.warning;
            registerTextInto(v.value, tables_.RegisterCache, r, d.type);
        }
        option = toInteger(tables_.RegisterValues[CommOptionRegister].value);
        lastGroup = tables_.lastGroupIndex;
    }

    const bool network = isNetworkOption(option);
    bool networkRead = false;
    int32_t flags = 0;
    std::array<int32_t, NetworkInputCount> status{};
    if (network && readBlock(NetworkInputRegister, NetworkInputBlock)) {
        // A failed read would show the last pass's inputs as fresh: that update is left out.
        networkRead = true;
        std::lock_guard guard(valuesMutex());
        const RegisterCacheWords& cache = tables_.RegisterCache;
        flags = static_cast<int32_t>(
            toInteger(kt::registerText(cache, NetworkInputRegister, ValueType::Signed32Padded)).value_or(0));
        for (int k = 0; k < NetworkInputCount; ++k)
            status[k] = static_cast<int32_t>(
                toInteger(kt::registerText(cache, NetworkInputRegister + 1 + k, ValueType::Unsigned16))
                    .value_or(0));
    }
    if (stop_.stop_requested()) return;

    MonitorNotifier& notifier = notifier_;
    handOver([&notifier, lastGroup, networkRead, flags, status] {
        notifier.statusRefresh(lastGroup);
        if (networkRead) notifier.networkInputStatus(flags, status);
    });
}

void MonitorEngine::reconnect() {
    dropFacade();
    if (!sleepFor(ReconnectPause)) return;
    installFacade(buildFacade());
}

bool MonitorEngine::writeRegisters(int start, int count, const uint16_t* words) {
    // Register numbers travel as 16 bits: anything outside would address some other register.
    if (start < 0 || count < 1 || start + count - 1 > 0xFFFF) return false;
    std::shared_ptr<Protocol> facade = currentFacade();
    return facade && facade->WriteRegisters(settings_, start, count, words);
}

bool MonitorEngine::command(int n) {
    std::shared_ptr<Protocol> facade = currentFacade();
    const bool acknowledged = facade && facade->WriteCoil(settings_, n);
    lastCommandAcknowledged_ = acknowledged;
    return acknowledged;
}

bool MonitorEngine::writeValue(int32_t value, int reg) {
    int type = 0;
    if (reg >= 0 && reg < RegisterTableSize) {
        std::lock_guard guard(valuesMutex());
        type = tables_.RegisterTable[reg].type;
    }
    bool ok = false;
    if (type == ValueType::Unsigned16 || type == ValueType::UtcOffset) {
        const auto word = static_cast<uint16_t>(value & 0xFFFF);
        ok = writeRegisters(reg, 1, &word);
    } else {
        const std::array<uint16_t, 2> words = encode32(value);
        ok = writeRegisters(reg, 2, words.data());
    }
    if (!ok) notifier_.showMessage(WriteFailedText, WriteFailedText);
    return ok;
}

bool MonitorEngine::writeRegisterBlock(const uint8_t* bytes, int count, int start) {
    if (!bytes || count < 1) return false;
    bool ok = false;
    std::array<uint16_t, Monitor_Thread::WriteChunk> words{};
    for (int done = 0; done < count; done += Monitor_Thread::WriteChunk) {
        const int n = std::min(Monitor_Thread::WriteChunk, count - done);
        for (int i = 0; i < n; ++i) {
            const uint8_t* b = bytes + 2 * (done + i);
            words[i] = static_cast<uint16_t>(b[0] << 8 | b[1]);
        }
        // Every request is sent even after a failed one; the caller gets the last result.
        ok = writeRegisters(start + done, n, words.data());
    }
    return ok;
}

bool MonitorEngine::writeIpAddress(int reg, const std::string& text) {
    std::optional<std::array<uint16_t, 2>> words = encodeIpAddress(text);
    return words && writeRegisters(reg, 2, words->data());
}

bool MonitorEngine::register199Flag() const {
    if ((firmwareVersion_ & 0x7FFF) < 300) return true;
    return registerText(EssentialSettingsRegister, ValueType::Unsigned16) == "1";
}

bool MonitorEngine::setClock() {
    const ClockWords words = encodeClock(clock_());
    const bool ok = writeRegisters(ClockTimeRegister, 2, words.time.data()) &&
                    writeRegisters(ClockDateRegister, 2, words.date.data());
    if (ok) command(Command::SetClock);
    return ok;
}

bool MonitorEngine::writeMacAddress(int reg, const std::array<uint8_t, 6>& bytes) {
    const std::array<uint16_t, 3> words = encodeMacAddress(bytes);
    const bool ok = writeRegisters(MacAddressRegister, 3, words.data());
    if (ok) command(reg == FirstMacRegister ? Command::ApplyMac1 : Command::ApplyMac2);
    return ok;
}

void MonitorEngine::readEventRecords(bool requestAll) {
    if (requestAll) eventsRequested_ = true;
    std::array<std::string, EventTextCount> texts;
    texts.fill(std::string(UnreadableText));
    auto notify = [&] { notifier_.eventListUpdate(eventCount_, texts); };

    std::array<uint16_t, EventBlockCount> head{};
    std::shared_ptr<Protocol> facade = currentFacade();
    if (!facade || !facade->ReadRegisters(settings_, NewestEventRegister, EventBlockCount, head.data())) {
        // Without the count the records cannot be read: answer as a count-only refresh with the
        // count last known (a zero here would claim the unit holds no records), and keep any
        // request for all records for the next call.
        texts[0] = "999";
        notify();
        return;
    }
    const int newest = head[0];
    const int count = std::min<int>(head[1], maxEventRecords_);
    eventCount_ = static_cast<uint16_t>(count);

    if (!eventsRequested_) {
        texts[0] = "999";
        notify();
        return;
    }
    eventsRequested_ = false;
    if (count == 0) {
        texts[0] = "0";
        notify();
        return;
    }

    for (int i = 0; i < count; ++i) {
        // The unit keeps a ring of `count` records; for a newest index inside the ring this is
        // newest - i wrapped, and a damaged index still selects a record of the ring.
        const int total = head[1];
        const auto index = static_cast<uint16_t>(((newest - i) % total + total) % total);
        bool ok = false;
        for (int attempt = 0; attempt < EventTries && !ok; ++attempt) {
            if (stop_.stop_requested()) return;
            // A selector the unit did not take would show another record under this number.
            const bool selected = writeRegisters(EventSelectorRegister, 1, &index);
            sleepFor(EventSelectPause);
            ok = readBlock(NewestEventRegister, EventBlockCount) && selected;
        }
        if (stop_.stop_requested()) return;
        texts[0] = std::to_string(i);
        if (ok) {
            std::lock_guard guard(valuesMutex());
            const size_t shown = std::min<size_t>(tables_.EventRegisters.size(), EventTextCount - 1);
            for (size_t k = 0; k < shown; ++k) {
                const int reg = tables_.EventRegisters[k];
                const int type = reg >= 0 && reg < RegisterTableSize ? tables_.RegisterTable[reg].type : 0;
                texts[k + 1] = kt::registerText(tables_.RegisterCache, reg, type);
            }
            for (size_t k = shown + 1; k < EventTextCount; ++k) texts[k] = UnreadableText;
        } else {
            std::fill(texts.begin() + 1, texts.end(), std::string(UnreadableText));
        }
        notify();
        processPendingGuiEvents();
    }
}

} // namespace detail

ClockFields systemLocalClock() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto seconds = floor<std::chrono::seconds>(now);
    const std::time_t t = system_clock::to_time_t(seconds);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &t);
#else
    localtime_r(&t, &local);
#endif
    ClockFields c;
    c.year = local.tm_year + 1900;
    c.month = local.tm_mon + 1;
    c.day = local.tm_mday;
    c.hour = local.tm_hour;
    c.minute = local.tm_min;
    c.second = local.tm_sec;
    c.millisecond = static_cast<int>(duration_cast<milliseconds>(now - seconds).count());
    return c;
}

std::unique_lock<std::mutex> lockRegisterValues() {
    return std::unique_lock(valuesMutex());
}

Monitor_Thread::Monitor_Thread(const ConnectionSettings& settings, MonitorNotifier& notifier,
                               GuiDispatcher& dispatcher, MonitorOptions options)
    : engine_(std::make_shared<detail::MonitorEngine>(settings, notifier, dispatcher, std::move(options))) {
    // The thread shares the engine: its stop comes from the engine's own stop source, which the
    // GUI-thread operations also watch.
    thread_ = std::jthread([engine = engine_] { engine->run(); });
}

Monitor_Thread::~Monitor_Thread() {
    requestStop();
    join();
}

void Monitor_Thread::requestStop() {
    engine_->requestStop();
}

bool Monitor_Thread::stopRequested() const {
    return engine_->stopRequested();
}

bool Monitor_Thread::finished() const {
    return engine_->finished();
}

void Monitor_Thread::join() {
    // The polling thread cannot wait for itself (a notifier run inline that ends the engine).
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

bool Monitor_Thread::identified() const {
    return engine_->identified();
}
int32_t Monitor_Thread::pollCount() const {
    return engine_->pollCount();
}
int32_t Monitor_Thread::firmwareVersion() const {
    return engine_->firmwareVersion();
}
int32_t Monitor_Thread::chunkSize() const {
    return engine_->chunkSize();
}
bool Monitor_Thread::waitForIdentification(std::chrono::milliseconds timeout) const {
    return engine_->waitForIdentification(timeout);
}
std::optional<UnitIdentification> Monitor_Thread::identification() const {
    return engine_->identification();
}
std::string Monitor_Thread::failure() const {
    return engine_->failure();
}
bool Monitor_Thread::lastCommandAcknowledged() const {
    return engine_->lastCommandAcknowledged();
}
uint16_t Monitor_Thread::eventCount() const {
    return engine_->eventCount();
}

// GUI-thread calls keep the engine alive for their whole length (see the class comment).
bool Monitor_Thread::readBlock(int start, int count) {
    std::shared_ptr<detail::MonitorEngine> e = engine_;
    return e->readBlock(start, count);
}
std::string Monitor_Thread::registerText(int reg, int type) const {
    return engine_->registerText(reg, type);
}
bool Monitor_Thread::writeValue(int32_t value, int reg) {
    std::shared_ptr<detail::MonitorEngine> e = engine_;
    return e->writeValue(value, reg);
}
bool Monitor_Thread::writeRegisterBlock(const uint8_t* bytes, int count, int start) {
    std::shared_ptr<detail::MonitorEngine> e = engine_;
    return e->writeRegisterBlock(bytes, count, start);
}
bool Monitor_Thread::writeRegister16(uint16_t value) {
    std::shared_ptr<detail::MonitorEngine> e = engine_;
    return e->writeRegisters(SixteenBitSettingRegister, 1, &value);
}
bool Monitor_Thread::writeIpAddress(int reg, const std::string& text) {
    std::shared_ptr<detail::MonitorEngine> e = engine_;
    return e->writeIpAddress(reg, text);
}
void Monitor_Thread::readEventRecords(bool requestAll) {
    std::shared_ptr<detail::MonitorEngine> e = engine_;
    e->readEventRecords(requestAll);
}
bool Monitor_Thread::register199Flag() const {
    return engine_->register199Flag();
}
bool Monitor_Thread::setClock() {
    std::shared_ptr<detail::MonitorEngine> e = engine_;
    return e->setClock();
}
bool Monitor_Thread::resetToDefaults() {
    std::shared_ptr<detail::MonitorEngine> e = engine_;
    return e->command(Command::ResetToDefaults);
}
bool Monitor_Thread::writeMacAddress(int reg, const std::array<uint8_t, 6>& bytes) {
    std::shared_ptr<detail::MonitorEngine> e = engine_;
    return e->writeMacAddress(reg, bytes);
}
bool Monitor_Thread::clearEvents() {
    std::shared_ptr<detail::MonitorEngine> e = engine_;
    return e->command(Command::ClearEvents);
}
bool Monitor_Thread::remoteCalibration() {
    std::shared_ptr<detail::MonitorEngine> e = engine_;
    return e->command(Command::RemoteCalibration);
}
bool Monitor_Thread::dumpDiagnostics() {
    std::shared_ptr<detail::MonitorEngine> e = engine_;
    return e->command(Command::DumpDiagnostics);
}

} // namespace kt
