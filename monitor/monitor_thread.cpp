#include "monitor/monitor_thread.h"

#include "link/platform/local_time.h"
#include "link/platform/thread_priority.h"
#include "monitor/device_rules.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <stop_token>
#include <utility>


namespace kt {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Unit registers the engine names itself.
constexpr int ModelCodeRegister = 0;
constexpr int FirmwareRegister = 1;
constexpr int ModelTypeRegister = 4;
constexpr int CommOptionRegister = 5;
constexpr int NewestEventRegister = 60;
constexpr int EventSelectorRegister = 62;
constexpr int EventBlockCount = 12; // 60..71
constexpr int SixteenBitSettingRegister = 16;
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

std::optional<int64_t> toInteger(std::string_view text) {
    int64_t v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return v;
}


// Engines in order of creation, each until its run has ended and its facades are gone. A new
// engine starts only once every older one has left, so two connections never hold the port.
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
    // True once no older engine is left; false when `stop` was requested first (the stopping
    // engine calls wake()).
    bool waitForOlder(const EngineSlot& slot, std::stop_token stop) {
        std::unique_lock guard(mutex_);
        changed_.wait(guard, [&] { return stop.stop_requested() || live_.begin()->first == slot.sequence; });
        return live_.begin()->first == slot.sequence && !stop.stop_requested();
    }
    void wake() {
        std::lock_guard guard(mutex_);
        changed_.notify_all();
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
    std::condition_variable changed_;
    std::map<uint64_t, std::shared_ptr<EngineSlot>> live_;
    uint64_t next_ = 1;
};

EngineRegistry& engineRegistry() {
    // Never destroyed: engines may still leave while the process exits.
    static auto* registry = new EngineRegistry();
    return *registry;
}

} // namespace

namespace detail {

// What the engine has handed to its user and not yet seen run, and whether its user is still
// there to receive it.
struct Delivery {
    std::atomic<bool> open{true};
    std::atomic<bool> stopping{false}; // the user asked the engine to stop
    std::atomic<int> outstanding{0};
};

// Counts one posted call until the call is gone (run or dropped by the dispatcher).
class DeliveryToken {
public:
    explicit DeliveryToken(std::shared_ptr<Delivery> d) : d_(std::move(d)) { ++d_->outstanding; }
    ~DeliveryToken() { --d_->outstanding; }
    DeliveryToken(const DeliveryToken&) = delete;
    DeliveryToken& operator=(const DeliveryToken&) = delete;
    const Delivery& delivery() const { return *d_; }

private:
    std::shared_ptr<Delivery> d_;
};

struct QueuedJob {
    RequestId id = 0;
    std::function<void(UnitLink&, const Monitor_Thread::Deliver&)> run;
    std::function<void(const Monitor_Thread::Deliver&)> cancelled;
    std::function<void(const RequestProgress&)> progress;
    std::string what;
    std::shared_ptr<std::atomic<bool>> cancel = std::make_shared<std::atomic<bool>>(false);
};

class MonitorEngine {
public:
    MonitorEngine(const ConnectionSettings& settings, MonitorNotifier& notifier, GuiDispatcher& dispatcher,
                  MonitorOptions options)
        : settings_(settings), notifier_(notifier), dispatcher_(dispatcher),
          resources_(std::move(options.resourcesFolder)),
          clock_(options.clock ? std::move(options.clock) : LocalClock(systemLocalClock)),
          pollInterval_(options.pollInterval), link_(std::move(options.link)),
          makeProtocol_(std::move(options.makeProtocol)),
          maxEventRecords_(std::clamp(options.maxEventRecords, 1, 0xFFFF)), slot_(engineRegistry().enroll()) {
    }

    void run();
    void requestStop();
    bool stopRequested() const { return stop_.stop_requested(); }
    bool finished() const { return engineRegistry().finished(*slot_); }
    bool idle() const { return finished() && delivery_->outstanding == 0; }
    // The user is gone: calls still queued do nothing when they run.
    void closeDelivery() { delivery_->open = false; }
    // A result or notification for the user. `dropOnStop`: a notification that is of no use to
    // a user who has asked the engine to stop (a pass, a loader message); results always go.
    void deliver(std::function<void()> call, bool dropOnStop = false) {
        auto token = std::make_shared<DeliveryToken>(delivery_);
        dispatcher_.post([token, call = std::move(call), dropOnStop] {
            const Delivery& d = token->delivery();
            if (!d.open || (dropOnStop && d.stopping)) return;
            call();
        });
    }
    const Monitor_Thread::Deliver& deliverer() const { return deliverer_; }

    const ConnectionSettings& settings() const { return settings_; }
    bool identified() const { return identified_; }
    int32_t pollCount() const { return pollCount_; }
    int32_t firmwareVersion() const { return firmwareVersion_; }
    int32_t chunkSize() const { return chunkSize_; }

    bool waitForIdentification(std::chrono::milliseconds timeout) const;
    std::optional<UnitIdentification> identification() const {
        std::lock_guard guard(stateMutex_);
        return identification_;
    }
    std::string failure() const {
        std::lock_guard guard(stateMutex_);
        return failure_;
    }
    PassSnapshotPtr lastPass() const {
        std::lock_guard guard(stateMutex_);
        return lastPass_;
    }

    RequestId enqueue(QueuedJob job);
    void cancel(RequestId id);
    int pendingRequests() const {
        std::lock_guard guard(queueMutex_);
        return static_cast<int>(queue_.size()) + (running_ ? 1 : 0);
    }

    // ---- on the engine's thread (the request work uses these through its UnitLink) ----
    LinkResult readRegisters(int start, int count, uint16_t* dest);
    LinkResult readBlock(int start, int count);
    LinkResult writeRegisters(int start, int count, const uint16_t* words);
    LinkResult command(int n);
    void pollIfDue();
    const RegisterCacheWords& cache() const { return cache_; }
    ClockFields localTime() const { return clock_(); }
    bool sleepFor(std::chrono::milliseconds time);
    int maxEventRecords() const { return maxEventRecords_; }
    std::shared_ptr<const RegisterTables> tables() const { return tables_; }
    // The first event read of a connection reads every record.
    bool takeEventsRequested(bool requestAll) {
        if (requestAll) eventsRequested_ = true;
        return std::exchange(eventsRequested_, false);
    }
    void keepEventsRequested() { eventsRequested_ = true; }

private:
    class JobLink;

    void identify();
    void failIdentification(std::string why);
    void pollPass();
    void reconnect();
    void serviceRequestsUntil(Clock::time_point nextPass);
    bool runNextJob();
    void cancelQueuedJobs();

    std::shared_ptr<Protocol> buildFacade();
    void installFacade(std::shared_ptr<Protocol> facade);
    void dropFacade();
    std::shared_ptr<Protocol> currentFacade() const {
        std::lock_guard guard(facadeMutex_);
        return facade_;
    }
    void post(std::function<void()> call) {
        // Notifications stop with the engine; results of requests go regardless, so
        // cancellations are always reported.
        if (!stop_.stop_requested()) deliver(std::move(call), true);
    }
    void setPhase(int phase);

    const ConnectionSettings settings_;
    MonitorNotifier& notifier_;
    GuiDispatcher& dispatcher_;
    const std::string resources_;
    const LocalClock clock_;
    const std::chrono::milliseconds pollInterval_;
    const LinkOptions link_;
    const std::function<std::unique_ptr<Protocol>(const ConnectionSettings&)> makeProtocol_;
    const int maxEventRecords_;
    const std::shared_ptr<EngineSlot> slot_;
    const std::shared_ptr<Delivery> delivery_ = std::make_shared<Delivery>();
    const Monitor_Thread::Deliver deliverer_ = [this](std::function<void()> call) {
        deliver(std::move(call));
    };

    std::stop_source stop_;
    mutable std::mutex facadeMutex_;
    std::shared_ptr<Protocol> facade_;

    // The engine thread's own state: the tables loaded at identification, the cache and values.
    std::shared_ptr<const RegisterTables> tables_;
    RegisterCacheWords cache_{};
    std::array<RegisterValue, RegisterTableSize> values_;
    uint64_t passes_ = 0;
    int failedPasses_ = 0;
    Clock::time_point nextPass_{};
    bool inPass_ = false;
    bool eventsRequested_ = true;

    std::atomic<bool> identified_{false};
    std::atomic<int32_t> pollCount_{0};
    std::atomic<int32_t> firmwareVersion_{0};
    std::atomic<int32_t> chunkSize_{Monitor_Thread::ReadChunk};

    enum Phase { Waiting, Identifying, Polling, Failed, Ended };
    mutable std::mutex stateMutex_;
    mutable std::condition_variable stateChanged_;
    int phase_ = Waiting;
    std::optional<UnitIdentification> identification_;
    std::string failure_;
    PassSnapshotPtr lastPass_;

    mutable std::mutex queueMutex_;
    std::condition_variable queueChanged_;
    std::deque<QueuedJob> queue_;
    std::shared_ptr<std::atomic<bool>> runningCancel_;
    RequestId runningId_ = 0;
    bool running_ = false;
    RequestId nextId_ = 1;
};

// What a request's work sees: the engine's link, cache and clock, its own cancel flag.
class MonitorEngine::JobLink final : public UnitLink {
public:
    JobLink(MonitorEngine& engine, const QueuedJob& job) : engine_(engine), job_(job) {}

    LinkResult readRegisters(int start, int count, uint16_t* dest) override {
        if (cancelled()) return cancelledResult();
        engine_.pollIfDue();
        return engine_.readRegisters(start, count, dest);
    }
    LinkResult readBlock(int start, int count) override {
        if (cancelled()) return cancelledResult();
        engine_.pollIfDue();
        return engine_.readBlock(start, count);
    }
    LinkResult writeRegisters(int start, int count, const uint16_t* words) override {
        if (cancelled()) return cancelledResult();
        engine_.pollIfDue();
        return engine_.writeRegisters(start, count, words);
    }
    LinkResult command(int n) override {
        if (cancelled()) return cancelledResult();
        engine_.pollIfDue();
        return engine_.command(n);
    }
    const RegisterCacheWords& cache() const override { return engine_.cache(); }
    PassSnapshotPtr lastPass() const override { return engine_.lastPass(); }
    const ConnectionSettings& settings() const override { return engine_.settings(); }
    ClockFields localTime() const override { return engine_.localTime(); }
    bool cancelled() const override { return *job_.cancel || engine_.stopRequested(); }
    bool pause(std::chrono::milliseconds time) override { return engine_.sleepFor(time) && !cancelled(); }
    void progress(int done, int total, const std::string& text) override {
        if (!job_.progress) return;
        RequestProgress p{job_.id, done, total, text};
        auto report = job_.progress;
        engine_.deliver([report, p] { report(p); });
    }

private:
    LinkResult cancelledResult() const {
        return LinkResult::failure(engine_.stopRequested() ? LinkStatus::Aborted : LinkStatus::Cancelled);
    }
    MonitorEngine& engine_;
    const QueuedJob& job_;
};

void MonitorEngine::run() {
    // One step below normal priority, so a busy link never slows the window.
    platform::lowerCurrentThreadPriority();
    try {
        if (engineRegistry().waitForOlder(*slot_, stop_.get_token())) {
            installFacade(buildFacade());
            setPhase(Identifying);
            while (!stop_.stop_requested()) {
                const auto started = Clock::now();
                nextPass_ = started + pollInterval_;
                if (!identified_)
                    identify();
                else
                    pollPass();
                serviceRequestsUntil(nextPass_);
            }
        }
    } catch (const std::exception& e) {
        std::lock_guard guard(stateMutex_);
        failure_ = std::string("the monitor engine stopped: ") + e.what();
    } catch (...) {
        std::lock_guard guard(stateMutex_);
        failure_ = "the monitor engine stopped on an unknown error";
    }
    stop_.request_stop();
    cancelQueuedJobs();
    dropFacade();
    setPhase(Ended);
    engineRegistry().runEnded(*slot_);
}

void MonitorEngine::requestStop() {
    delivery_->stopping = true;
    stop_.request_stop();
    {
        std::lock_guard guard(facadeMutex_);
        if (facade_) facade_->requestAbort();
    }
    std::lock_guard guard(queueMutex_);
    queueChanged_.notify_all();
    engineRegistry().wake();
}

void MonitorEngine::setPhase(int phase) {
    std::lock_guard guard(stateMutex_);
    // Failed and Ended are final for waitForIdentification: Ended keeps what came before.
    if (phase == Ended && phase_ == Failed) return;
    phase_ = phase;
    stateChanged_.notify_all();
}

bool MonitorEngine::waitForIdentification(std::chrono::milliseconds timeout) const {
    std::unique_lock guard(stateMutex_);
    auto settled = [&] { return phase_ != Waiting && phase_ != Identifying; };
    if (timeout == std::chrono::milliseconds::max())
        stateChanged_.wait(guard, settled);
    else
        stateChanged_.wait_for(guard, timeout, settled);
    return identified_;
}

std::shared_ptr<Protocol> MonitorEngine::buildFacade() {
    std::unique_ptr<Protocol> made =
        makeProtocol_ ? makeProtocol_(settings_) : std::make_unique<Protocol>(settings_, link_);
    if (!made) return nullptr;
    engineRegistry().facadeBuilt(*slot_);
    // The registry learns when it is gone, so the next connection may open the port.
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
    if (old) old->requestAbort();
}

bool MonitorEngine::sleepFor(std::chrono::milliseconds time) {
    // Plain condition variables throughout: the stop-token waits of libstdc++ lose wake-ups on
    // MinGW. requestStop notifies under queueMutex_ after the stop is requested.
    std::unique_lock guard(queueMutex_);
    queueChanged_.wait_for(guard, time, [&] { return stop_.stop_requested(); });
    return !stop_.stop_requested();
}

// ---- requests ----

RequestId MonitorEngine::enqueue(QueuedJob job) {
    std::unique_lock guard(queueMutex_);
    job.id = nextId_++;
    const RequestId id = job.id;
    // The run ends by requesting its stop before it cancels what is queued, so a request that
    // finds no stop here is either run or cancelled.
    if (stop_.stop_requested()) {
        // Too late: reported as cancelled, through the dispatcher like any result.
        guard.unlock();
        if (job.cancelled) job.cancelled(deliverer_);
        return id;
    }
    queue_.push_back(std::move(job));
    queueChanged_.notify_all();
    return id;
}

void MonitorEngine::cancel(RequestId id) {
    std::optional<QueuedJob> dropped;
    {
        std::lock_guard guard(queueMutex_);
        if (running_ && runningId_ == id && runningCancel_) {
            *runningCancel_ = true;
            return;
        }
        auto it = std::find_if(queue_.begin(), queue_.end(), [&](const QueuedJob& j) { return j.id == id; });
        if (it == queue_.end()) return;
        dropped = std::move(*it);
        queue_.erase(it);
    }
    if (dropped->cancelled) dropped->cancelled(deliverer_);
}

void MonitorEngine::cancelQueuedJobs() {
    std::deque<QueuedJob> left;
    {
        std::lock_guard guard(queueMutex_);
        left.swap(queue_);
    }
    for (QueuedJob& job : left)
        if (job.cancelled) job.cancelled(deliverer_);
}

bool MonitorEngine::runNextJob() {
    QueuedJob job;
    {
        std::lock_guard guard(queueMutex_);
        if (queue_.empty()) return false;
        job = std::move(queue_.front());
        queue_.pop_front();
        running_ = true;
        runningId_ = job.id;
        runningCancel_ = job.cancel;
    }
    {
        JobLink link(*this, job);
        job.run(link, deliverer_);
    }
    std::lock_guard guard(queueMutex_);
    running_ = false;
    runningCancel_.reset();
    return true;
}

void MonitorEngine::serviceRequestsUntil(Clock::time_point nextPass) {
    // Requests run as soon as they arrive; the next pass comes when it is due (a request that
    // ran past that time has made the passes that fell due meanwhile).
    while (!stop_.stop_requested()) {
        if (identified_ && runNextJob()) {
            nextPass = std::max(nextPass, nextPass_);
            continue;
        }
        std::unique_lock guard(queueMutex_);
        if (Clock::now() >= nextPass) return;
        queueChanged_.wait_until(guard, nextPass, [&] {
            return stop_.stop_requested() || (identified_ && !queue_.empty());
        });
        if (Clock::now() >= nextPass && (queue_.empty() || !identified_)) return;
    }
}

void MonitorEngine::pollIfDue() {
    if (!identified_ || inPass_ || Clock::now() < nextPass_) return;
    nextPass_ = Clock::now() + pollInterval_;
    pollPass();
}

// ---- transfers ----

LinkResult MonitorEngine::readRegisters(int start, int count, uint16_t* dest) {
    std::shared_ptr<Protocol> facade = currentFacade();
    if (!facade) return LinkResult::failure(LinkStatus::Aborted);
    return facade->ReadRegisters(settings_, start, count, dest);
}

LinkResult MonitorEngine::readBlock(int start, int count) {
    if (start < 0 || count < 1 || start + count > RegisterCacheSize)
        return LinkResult::failure(LinkStatus::Refused, "registers outside the cache");
    std::shared_ptr<Protocol> facade = currentFacade();
    if (!facade) return LinkResult::failure(LinkStatus::Aborted);
    const int chunk = chunkSize_;
    std::array<uint16_t, Monitor_Thread::ReadChunk> words{};
    for (int done = 0; done < count; done += chunk) {
        if (stop_.stop_requested()) return LinkResult::failure(LinkStatus::Aborted);
        const int n = std::min(chunk, count - done);
        LinkResult r = facade->ReadRegisters(settings_, start + done, n, words.data());
        if (!r) return r;
        std::copy_n(words.begin(), n, cache_.begin() + start + done);
    }
    return LinkResult::done();
}

LinkResult MonitorEngine::writeRegisters(int start, int count, const uint16_t* words) {
    // Register numbers travel as 16 bits: anything outside would address some other register.
    if (start < 0 || count < 1 || start + count - 1 > 0xFFFF)
        return LinkResult::failure(LinkStatus::Refused, "register out of range");
    std::shared_ptr<Protocol> facade = currentFacade();
    if (!facade) return LinkResult::failure(LinkStatus::Aborted);
    return facade->WriteRegisters(settings_, start, count, words);
}

LinkResult MonitorEngine::command(int n) {
    std::shared_ptr<Protocol> facade = currentFacade();
    if (!facade) return LinkResult::failure(LinkStatus::Aborted);
    return facade->WriteCoil(settings_, n);
}

// ---- identification and polling ----

void MonitorEngine::identify() {
    chunkSize_ = Monitor_Thread::ReadChunk;
    LinkResult r = readBlock(0, Monitor_Thread::ReadChunk);
    if (!r && !stop_.stop_requested()) {
        chunkSize_ = Monitor_Thread::RefusedReadChunk;
        r = readBlock(0, Monitor_Thread::RefusedReadChunk);
    }
    if (stop_.stop_requested()) return;
    if (!r) {
        const std::string where = settings_.linkType == LinkModbusTcp
                                      ? settings_.ipAddress + ":" + std::to_string(settings_.tcpPort)
                                      : settings_.portName;
        failIdentification("no answer to the Modbus identification (registers 0.." +
                           std::to_string(Monitor_Thread::RefusedReadChunk - 1) + "): " +
                           describeLinkResult(r, settings_.slaveAddress, where,
                                              {TransferWhat::Read, 0, Monitor_Thread::RefusedReadChunk}));
        return;
    }

    UnitIdentification id;
    id.modelCode = cache_[ModelCodeRegister];
    id.firmwareRaw = cache_[FirmwareRegister];
    id.modelType = cache_[ModelTypeRegister];
    id.commOption = cache_[CommOptionRegister];
    id.version = std::to_string(registerFileVersion(id.firmwareRaw));
    id.chunkSize = chunkSize_;
    {
        std::lock_guard guard(stateMutex_);
        identification_ = id;
    }

    // The loader's messages go to the user like every notification, without waiting.
    struct PostedSink : MessageSink {
        MonitorEngine& engine;
        explicit PostedSink(MonitorEngine& e) : engine(e) {}
        void showMessage(const std::string& text, const std::string& title) override {
            MessageSink& target = engine.notifier_;
            engine.post([&target, text, title] { target.showMessage(text, title); });
        }
    } messages(*this);
    auto loaded = std::make_shared<RegisterTables>();
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
    applyCommOptionDisplayRules(loaded->RegisterGroups, loaded->lastGroupIndex, id.commOption);

    id.registerFile = std::filesystem::path(loaded->dataset.fileName()).filename().string();
    id.firmwareVersion = loaded->firmwareVersion;
    id.pollCount = loaded->pollCount;
    values_.fill(RegisterValue{});
    tables_ = std::move(loaded);
    pollCount_ = id.pollCount;
    firmwareVersion_ = id.firmwareVersion;
    {
        std::lock_guard guard(stateMutex_);
        identification_ = id;
        identified_ = true;
        phase_ = Polling;
        stateChanged_.notify_all();
    }
}

void MonitorEngine::failIdentification(std::string why) {
    {
        std::lock_guard guard(stateMutex_);
        failure_ = why;
        phase_ = Failed;
        stateChanged_.notify_all();
    }
    MonitorNotifier& notifier = notifier_;
    post([&notifier, why] { notifier.identificationFailed(why); });
    stop_.request_stop();
}

void MonitorEngine::pollPass() {
    inPass_ = true;
    struct Leave {
        bool& flag;
        ~Leave() { flag = false; }
    } leave{inPass_};

    if (!readBlock(0, pollCount_)) {
        if (stop_.stop_requested()) return; // cut short by the stop, not by the link
        if (++failedPasses_ > FailedPassesBeforeReconnect) {
            failedPasses_ = 0;
            reconnect();
        }
        return;
    }
    failedPasses_ = 0;

    const int count = std::min<int>(pollCount_, RegisterTableSize);
    for (int r = 0; r < count; ++r) {
        const RegisterDescriptor& d = tables_->RegisterTable[r];
        if (d.type <= 0) continue; // not polled: keeps its last value
        RegisterValue& v = values_[r];
        v.translationType = d.translationType;
        v.label = d.label;
        v.access = d.access;
        v.warning = d.warning;
        registerTextInto(v.value, cache_, r, d.type);
    }

    auto pass = std::make_shared<PassSnapshot>();
    if (isIec61850OptionText(values_[CommOptionRegister].value) &&
        readBlock(NetworkInputRegister, NetworkInputBlock)) {
        // A failed read would show the last pass's inputs as fresh: that update is left out.
        NetworkInputs inputs;
        inputs.flags = static_cast<int32_t>(
            toInteger(kt::registerText(cache_, NetworkInputRegister, ValueType::Signed32Padded)).value_or(0));
        for (int k = 0; k < NetworkInputCount; ++k)
            inputs.status[k] = static_cast<int32_t>(
                toInteger(kt::registerText(cache_, NetworkInputRegister + 1 + k, ValueType::Unsigned16))
                    .value_or(0));
        pass->networkInputs = inputs;
    }
    if (stop_.stop_requested()) return;

    pass->pass = ++passes_;
    pass->time = std::chrono::system_clock::now();
    pass->tables = tables_;
    pass->cache = cache_;
    pass->values = values_;
    {
        std::lock_guard guard(stateMutex_);
        pass->unit = identification_.value_or(UnitIdentification{});
        lastPass_ = pass;
    }
    MonitorNotifier& notifier = notifier_;
    post([&notifier, pass = PassSnapshotPtr(pass)] { notifier.passCompleted(pass); });
}

void MonitorEngine::reconnect() {
    dropFacade();
    if (!sleepFor(ReconnectPause)) return;
    installFacade(buildFacade());
}

} // namespace detail

// ---- the requests of the window and the command-line tool ----

namespace {

WriteResult writeResult(LinkResult link, int first, int count) {
    WriteResult w;
    w.link = std::move(link);
    w.first = first;
    w.count = count;
    return w;
}

// Register writes, then command n once they went through.
UnitCommandResult commandAfterWrites(UnitLink& link, int n,
                                     const std::function<LinkResult(UnitLink&)>& writes) {
    UnitCommandResult c;
    c.command = n;
    LinkResult written = writes ? writes(link) : LinkResult::done();
    c.registersWritten = written.ok();
    if (!written) {
        c.link = std::move(written);
        return c;
    }
    c.link = link.command(n);
    c.acknowledged = c.link.ok();
    return c;
}

} // namespace

Monitor_Thread::Monitor_Thread(const ConnectionSettings& settings, MonitorNotifier& notifier,
                               GuiDispatcher& dispatcher, MonitorOptions options)
    : engine_(std::make_shared<detail::MonitorEngine>(settings, notifier, dispatcher, std::move(options))) {
    thread_ = std::jthread([engine = engine_] { engine->run(); });
}

Monitor_Thread::~Monitor_Thread() {
    requestStop();
    join();
    // Calls still queued in the user's loop find nobody to tell.
    engine_->closeDelivery();
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
bool Monitor_Thread::idle() const {
    return engine_->idle();
}
void Monitor_Thread::join() {
    // A result run inline on the engine's thread (the command-line tool) cannot wait for it.
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}
const ConnectionSettings& Monitor_Thread::settings() const {
    return engine_->settings();
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
PassSnapshotPtr Monitor_Thread::lastPass() const {
    return engine_->lastPass();
}
void Monitor_Thread::cancel(RequestId id) {
    engine_->cancel(id);
}
int Monitor_Thread::pendingRequests() const {
    return engine_->pendingRequests();
}

RequestId Monitor_Thread::enqueue(Job job) {
    detail::QueuedJob q;
    q.what = std::move(job.what);
    q.run = std::move(job.run);
    q.cancelled = std::move(job.cancelled);
    q.progress = std::move(job.progress);
    return engine_->enqueue(std::move(q));
}

RequestId Monitor_Thread::writeValue(int32_t value, int reg, std::function<void(WriteResult)> done) {
    // The register's type decides one or two registers: read from the tables of the connection.
    std::weak_ptr<detail::MonitorEngine> weak = engine_;
    return submit<WriteResult>(
        "write register " + std::to_string(reg),
        [weak, value, reg](UnitLink& link) {
            auto engine = weak.lock();
            int type = 0;
            if (engine && engine->tables() && reg >= 0 && reg < RegisterTableSize)
                type = engine->tables()->RegisterTable[reg].type;
            if (type == ValueType::Unsigned16 || type == ValueType::UtcOffset) {
                const auto word = static_cast<uint16_t>(value & 0xFFFF);
                return writeResult(link.writeRegisters(reg, 1, &word), reg, 1);
            }
            const std::array<uint16_t, 2> words = encode32(value);
            return writeResult(link.writeRegisters(reg, 2, words.data()), reg, 2);
        },
        std::move(done));
}

RequestId Monitor_Thread::writeRegisterBlock(std::vector<uint8_t> bytes, int count, int start,
                                             std::function<void(WriteResult)> done) {
    return submit<WriteResult>(
        "write registers " + std::to_string(start),
        [bytes = std::move(bytes), count, start](UnitLink& link) {
            if (count < 1 || bytes.size() < static_cast<size_t>(2 * count))
                return writeResult(LinkResult::failure(LinkStatus::Refused, "fewer bytes than registers"),
                                   start, count);
            LinkResult first = LinkResult::done();
            std::array<uint16_t, WriteChunk> words{};
            for (int done = 0; done < count; done += WriteChunk) {
                const int n = std::min(WriteChunk, count - done);
                for (int i = 0; i < n; ++i) {
                    const uint8_t* b = bytes.data() + 2 * (done + i);
                    words[i] = static_cast<uint16_t>(b[0] << 8 | b[1]);
                }
                // Every request is sent even after a failed one; the first failure is reported.
                LinkResult r = link.writeRegisters(start + done, n, words.data());
                if (!r && first) first = std::move(r);
            }
            return writeResult(std::move(first), start, count);
        },
        std::move(done));
}

RequestId Monitor_Thread::writeRegister16(uint16_t value, std::function<void(WriteResult)> done) {
    return submit<WriteResult>(
        "write register 16",
        [value](UnitLink& link) {
            return writeResult(link.writeRegisters(SixteenBitSettingRegister, 1, &value),
                               SixteenBitSettingRegister, 1);
        },
        std::move(done));
}

RequestId Monitor_Thread::writeIpAddress(int reg, std::string text, std::function<void(WriteResult)> done) {
    return submit<WriteResult>(
        "write address " + std::to_string(reg),
        [reg, text = std::move(text)](UnitLink& link) {
            std::optional<std::array<uint16_t, 2>> words = encodeIpAddress(text);
            if (!words)
                return writeResult(
                    LinkResult::failure(LinkStatus::Refused, "\"" + text + "\" is not an IP address"), reg,
                    2);
            return writeResult(link.writeRegisters(reg, 2, words->data()), reg, 2);
        },
        std::move(done));
}

RequestId Monitor_Thread::setClock(std::function<void(UnitCommandResult)> done) {
    return submit<UnitCommandResult>(
        "set clock",
        [](UnitLink& link) {
            return commandAfterWrites(link, Command::SetClock, [](UnitLink& l) {
                const ClockWords words = encodeClock(l.localTime());
                // The date is written only after the time went through.
                LinkResult time = l.writeRegisters(ClockTimeRegister, 2, words.time.data());
                if (!time) return time;
                return l.writeRegisters(ClockDateRegister, 2, words.date.data());
            });
        },
        std::move(done));
}

RequestId Monitor_Thread::writeMacAddress(int reg, std::array<uint8_t, 6> bytes,
                                          std::function<void(UnitCommandResult)> done) {
    const int n = reg == FirstMacRegister ? Command::ApplyMac1 : Command::ApplyMac2;
    return submit<UnitCommandResult>(
        "write MAC address",
        [bytes, n](UnitLink& link) {
            return commandAfterWrites(link, n, [bytes](UnitLink& l) {
                const std::array<uint16_t, 3> words = encodeMacAddress(bytes);
                return l.writeRegisters(MacAddressRegister, 3, words.data());
            });
        },
        std::move(done));
}

namespace {

std::function<UnitCommandResult(UnitLink&)> bareCommand(int n) {
    return [n](UnitLink& link) { return commandAfterWrites(link, n, nullptr); };
}

} // namespace

RequestId Monitor_Thread::resetToDefaults(std::function<void(UnitCommandResult)> done) {
    return submit<UnitCommandResult>("reset to defaults", bareCommand(Command::ResetToDefaults),
                                     std::move(done));
}
RequestId Monitor_Thread::clearEvents(std::function<void(UnitCommandResult)> done) {
    return submit<UnitCommandResult>("clear event records", bareCommand(Command::ClearEvents),
                                     std::move(done));
}
RequestId Monitor_Thread::remoteCalibration(std::function<void(UnitCommandResult)> done) {
    return submit<UnitCommandResult>("remote calibration", bareCommand(Command::RemoteCalibration),
                                     std::move(done));
}
RequestId Monitor_Thread::dumpDiagnostics(std::function<void(UnitCommandResult)> done) {
    return submit<UnitCommandResult>("dump diagnostics", bareCommand(Command::DumpDiagnostics),
                                     std::move(done));
}

RequestId
Monitor_Thread::readEventRecords(bool requestAll, std::function<void(EventReadResult)> done,
                                 std::function<void(const EventRecord&, const RequestProgress&)> record) {
    std::weak_ptr<detail::MonitorEngine> weak = engine_;
    return submit<EventReadResult>(
        "read event records",
        [weak, requestAll, record](UnitLink& link) {
            EventReadResult result;
            auto engine = weak.lock();
            if (!engine) return result;
            std::shared_ptr<const RegisterTables> tables = engine->tables();

            std::array<uint16_t, EventBlockCount> head{};
            LinkResult countRead = link.readRegisters(NewestEventRegister, EventBlockCount, head.data());
            if (!countRead) {
                // Without the count the records cannot be read: a request for all of them stays
                // for the next call.
                if (requestAll) engine->keepEventsRequested();
                result.kind =
                    countRead.status == LinkStatus::Cancelled || countRead.status == LinkStatus::Aborted
                        ? EventReadResult::Kind::Cancelled
                        : EventReadResult::Kind::CountUnreadable;
                result.link = std::move(countRead);
                return result;
            }
            const int claimed = head[1];
            const int count = std::min(claimed, engine->maxEventRecords());
            result.newest = head[0];
            result.count = static_cast<uint16_t>(count);
            result.countLimited = claimed > count;
            result.link = LinkResult::done();
            if (!engine->takeEventsRequested(requestAll)) {
                result.kind = EventReadResult::Kind::CountOnly;
                return result;
            }
            if (count == 0) {
                result.kind = EventReadResult::Kind::NoRecords;
                return result;
            }
            result.kind = EventReadResult::Kind::Records;
            const size_t shown =
                tables ? std::min<size_t>(tables->EventRegisters.size(), EventRecordTextCount) : 0;
            int failuresInARow = 0;
            for (int i = 0; i < count; ++i) {
                // The unit keeps a ring of `claimed` records; for a newest index inside the ring
                // this is newest - i wrapped, and a damaged index still selects a ring record.
                const auto index = static_cast<uint16_t>(((result.newest - i) % claimed + claimed) % claimed);
                EventRecord rec;
                rec.number = i;
                rec.index = index;
                rec.texts.fill(std::string(UnreadableText));
                LinkResult last = LinkResult::done();
                bool ok = false;
                for (int attempt = 0; attempt < EventTries && !ok; ++attempt) {
                    if (link.cancelled()) break;
                    // A selector the unit did not take would show another record under this number.
                    LinkResult selected = link.writeRegisters(EventSelectorRegister, 1, &index);
                    link.pause(EventSelectPause);
                    LinkResult read = link.readBlock(NewestEventRegister, EventBlockCount);
                    ok = selected.ok() && read.ok();
                    last = !selected ? std::move(selected) : std::move(read);
                }
                if (link.cancelled()) {
                    result.cancelledPartWay = true;
                    result.link = LinkResult::failure(engine->stopRequested() ? LinkStatus::Aborted
                                                                              : LinkStatus::Cancelled);
                    return result;
                }
                if (ok) {
                    rec.read = true;
                    for (size_t k = 0; k < shown; ++k) {
                        const int reg = tables->EventRegisters[k];
                        const int type =
                            reg >= 0 && reg < RegisterTableSize ? tables->RegisterTable[reg].type : 0;
                        rec.texts[k] = link.registerText(reg, type);
                    }
                    failuresInARow = 0;
                } else {
                    ++failuresInARow;
                    result.link = last;
                }
                if (record) {
                    RequestProgress p{0, i + 1, count, {}};
                    engine->deliver([record, rec, p] { record(rec, p); });
                }
                link.progress(i + 1, count);
                result.records.push_back(std::move(rec));
                if (failuresInARow >= EventRecordFailuresInARow) {
                    result.gaveUpAfter = failuresInARow;
                    return result;
                }
            }
            if (failuresInARow == 0 && std::all_of(result.records.begin(), result.records.end(),
                                                   [](const EventRecord& r) { return r.read; }))
                result.link = LinkResult::done();
            return result;
        },
        std::move(done));
}

ClockFields systemLocalClock() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto seconds = floor<std::chrono::seconds>(now);
    const std::time_t t = system_clock::to_time_t(seconds);
    const std::tm local = platform::localTime(t);
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

} // namespace kt
