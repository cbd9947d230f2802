#include "ui/connection_controller.h"

#include <QPointer>
#include <QTimer>

#include <algorithm>

namespace kt {

QString portNameOfItem(const QString& item) {
    // Port names never hold two blanks and a parenthesis, so everything from there is a mark.
    int mark = item.indexOf("  (");
    return mark < 0 ? item : item.left(mark);
}

// One per connection: hands the engine's notifications to the controller with the connection's
// number, so an engine that is still ending cannot touch the next connection.
class ConnectionController::EngineNotifier : public MonitorNotifier {
public:
    EngineNotifier(ConnectionController& c, uint64_t generation) : c_(c), generation_(generation) {}
    void passCompleted(PassSnapshotPtr pass) override { c_.onPass(generation_, std::move(pass)); }
    void identificationFailed(const std::string&) override { c_.onIdentificationFailed(generation_); }
    void showMessage(const std::string& text, const std::string& title) override {
        if (c_.isCurrent(generation_))
            c_.events_.engineMessage(QString::fromStdString(text), QString::fromStdString(title));
    }

private:
    ConnectionController& c_;
    const uint64_t generation_;
};

// The legacy listener's notifications, kept alive by the calls it posts: once the controller is
// gone (the window closed), `controller` is null and they do nothing.
class ConnectionController::ListenerNotifier : public LegacyNotifier {
public:
    ListenerNotifier(ConnectionController& c, uint64_t generation)
        : controller(&c), generation_(generation) {}
    void legacyStatusUpdate(const LegacyFrame& frame) override {
        if (controller) controller->onLegacyFrame(generation_, frame);
    }
    void legacyEventUpdate(const LegacyEventBlock& block) override {
        if (controller && controller->isCurrent(generation_)) controller->events_.legacyEvents(block);
    }
    void legacyFailure(const LegacyFailure& failure) override {
        if (controller) controller->onLegacyFailure(generation_, failure);
    }
    void legacyClearDone(LegacyCommandOutcome outcome) override {
        if (controller && controller->isCurrent(generation_)) controller->events_.legacyClearDone(outcome);
    }
    QPointer<ConnectionController> controller;

private:
    const uint64_t generation_;
};

ConnectionController::ConnectionController(ConnectionEvents& events, GuiDispatcher& dispatcher,
                                           MonitorOptions monitor, LegacyTimings legacy, QObject* parent)
    : QObject(parent), events_(events), dispatcher_(dispatcher), monitorOptions_(std::move(monitor)),
      legacyTimings_(legacy) {
    setObjectName("ConnectionController");
    status_Timer = new QTimer(this);
    status_Timer->setObjectName("status_Timer");
    status_Timer->setInterval(StatusTimerMs);
    connect(status_Timer, &QTimer::timeout, this, &ConnectionController::status_TimerTimer);
    TerminateTimer = new QTimer(this);
    TerminateTimer->setObjectName("TerminateTimer");
    TerminateTimer->setInterval(FallbackDelayMs);
    connect(TerminateTimer, &QTimer::timeout, this, &ConnectionController::TerminateTimerTimer);
    reapTimer_ = new QTimer(this);
    reapTimer_->setInterval(100);
    connect(reapTimer_, &QTimer::timeout, this, &ConnectionController::reap);
    portWaitTimer_ = new QTimer(this);
    portWaitTimer_->setSingleShot(true);
    portWaitTimer_->setInterval(20);
    connect(portWaitTimer_, &QTimer::timeout, this, &ConnectionController::startLegacyMonitor);
}

ConnectionController::~ConnectionController() {
    status_Timer->stop();
    TerminateTimer->stop();
    portWaitTimer_->stop();
    retire();
    // Each engine and listener ends after its current step; their destructors wait for that.
    for (ListenerConnection& l : retiredListeners_) l.notifier->controller = nullptr;
    retiredListeners_.clear();
    retiredMonitors_.clear();
}

// ---- ports ----

std::vector<ConnectionController::PortItem> ConnectionController::probePorts(const QStringList& extra) {
    QStringList names;
    for (const std::string& p : platform::listSerialPorts()) names << QString::fromStdString(p);
    for (const QString& e : extra)
        if (!names.contains(e)) names << e;
    std::vector<PortItem> items;
    for (const QString& name : names) {
        platform::SerialPort probe;
        PortItem item{name, {}};
        switch (probe.open(platform::SerialPort::devicePath(name.toStdString()))) {
        case platform::SerialOpenResult::Ok:
            probe.close();
            break;
        case platform::SerialOpenResult::Busy:
            item.mark = PortInUseMark;
            break;
        case platform::SerialOpenResult::NotFound:
            item.mark = PortNotFoundMark;
            break;
        case platform::SerialOpenResult::Failed:
            item.mark = PortNoAccessMark;
            break;
        }
        items.push_back(item);
    }
    return items;
}

bool ConnectionController::testPort(const QString& port, QString* why) {
    if (port.isEmpty()) {
        if (why) *why = "no port chosen";
        return false;
    }
    comPortName_ = port;
    const bool opened =
        ComPort1.open(platform::SerialPort::devicePath(port.toStdString())) == platform::SerialOpenResult::Ok;
    if (!opened && why) *why = QString::fromStdString(ComPort1.openError());
    ComPort1.close();
    return opened;
}

// ---- the connection ----

bool ConnectionController::start(const ConnectionSettings& settings, QString* why) {
    retire();
    settings_ = settings;
    const uint64_t generation = ++generation_;
    active_ = true;
    legacySeen_ = false;
    passSinceLastTick_ = false;
    // A silence count left over from the last connection would cut this one short.
    silenceMs_ = 0;
    MonitorConnection c;
    c.notifier = std::make_unique<EngineNotifier>(*this, generation);
    try {
        // An earlier engine that is still ending is waited for by the new engine, not here.
        c.thread = std::make_unique<Monitor_Thread>(settings_, *c.notifier, dispatcher_, monitorOptions_);
    } catch (const std::exception& e) {
        active_ = false;
        if (why) *why = QString::fromUtf8(e.what());
        return false;
    }
    monitor_ = std::move(c);
    status_Timer->start();
    return true;
}

void ConnectionController::stop() {
    status_Timer->stop();
    // A fallback still pending belongs to the connection being left.
    TerminateTimer->stop();
    portWaitTimer_->stop();
    if (ComPort1.isOpen()) ComPort1.close();
    retire();
    active_ = false;
    legacySeen_ = false;
}

Monitor_Thread* ConnectionController::requestTarget() const {
    Monitor_Thread* m = monitor();
    return m && !legacySeen_ && m->identified() && !m->stopRequested() ? m : nullptr;
}

bool ConnectionController::requestLegacyEvents() {
    Thread_Old740* l = legacy();
    return l && l->requestEvents();
}

bool ConnectionController::requestLegacyClear() {
    Thread_Old740* l = legacy();
    return l && l->requestClear();
}

void ConnectionController::retire() {
    ++generation_; // from here on the old connection's notifications are dropped
    if (monitor_.thread) {
        monitor_.thread->requestStop();
        retiredMonitors_.push_back(std::move(monitor_));
        monitor_ = {};
    }
    if (legacy_.thread) {
        legacy_.thread->requestStop();
        legacy_.notifier->controller = nullptr;
        retiredListeners_.push_back(std::move(legacy_));
        legacy_ = {};
    }
    if (!retiredMonitors_.empty() || !retiredListeners_.empty()) {
        if (!reapTimer_->isActive()) reapTimer_->start();
    }
}

void ConnectionController::reap() {
    // An engine is deleted only once every result it posted has been delivered.
    std::erase_if(retiredMonitors_, [](const MonitorConnection& c) { return c.thread->idle(); });
    std::erase_if(retiredListeners_, [](const ListenerConnection& c) { return c.thread->finished(); });
    if (retiredMonitors_.empty() && retiredListeners_.empty()) reapTimer_->stop();
}

void ConnectionController::onPass(uint64_t generation, PassSnapshotPtr pass) {
    if (!isCurrent(generation)) return;
    events_.unitPass(std::move(pass));
}

void ConnectionController::onIdentificationFailed(uint64_t generation) {
    if (isCurrent(generation)) TerminateTimer->start();
}

void ConnectionController::onLegacyFrame(uint64_t generation, const LegacyFrame& frame) {
    if (!isCurrent(generation)) return;
    legacySeen_ = true;
    events_.legacyStatus(frame);
}

void ConnectionController::onLegacyFailure(uint64_t generation, const LegacyFailure& failure) {
    if (!isCurrent(generation)) return;
    events_.connectionLost(QString::fromUtf8(LegacyFailureText.data(), LegacyFailureText.size()),
                           QString::fromUtf8(LegacyFailureTitle.data(), LegacyFailureTitle.size()),
                           QString::fromStdString(describe(failure)));
}

// ---- silence watch and fallback ----

void ConnectionController::status_TimerTimer() {
    if (passSinceLastTick_ || transferInProgress) {
        silenceMs_ = 0;
    } else {
        silenceMs_ += StatusTimerMs;
        events_.silentTick();
    }
    if (silenceMs_ > SilenceLimitMs) {
        silenceMs_ = 0;
        status_Timer->stop();
        events_.connectionLost(
            SilenceText, SilenceTitle,
            QString("no poll pass or status frame for %1 seconds").arg(SilenceLimitMs / 1000));
        return;
    }
    passSinceLastTick_ = false;
}

void ConnectionController::TerminateTimerTimer() {
    TerminateTimer->stop();
    startLegacyMonitor();
}

void ConnectionController::startLegacyMonitor() {
    if (!active_) return;
    if (settings_.linkType != LinkSerialRtu) {
        // Legacy units push their frames on a serial line; behind an IP address there is none.
        events_.connectionLost(QString::fromUtf8(LegacyFailureText.data(), LegacyFailureText.size()),
                               QString::fromUtf8(LegacyFailureTitle.data(), LegacyFailureTitle.size()),
                               "the unit at " + QString::fromStdString(linkName(settings_)) +
                                   " did not answer the Modbus identification");
        return;
    }
    // The failed Modbus connection must have let go of the port first.
    if (monitor_.thread) {
        monitor_.thread->requestStop();
        retiredMonitors_.push_back(std::move(monitor_));
        monitor_ = {};
        if (!reapTimer_->isActive()) reapTimer_->start();
    }
    const bool portFree = std::all_of(retiredMonitors_.begin(), retiredMonitors_.end(),
                                      [](const MonitorConnection& c) { return c.thread->finished(); });
    if (!portFree) {
        portWaitTimer_->start();
        return;
    }
    if (ComPort1.isOpen()) ComPort1.close();
    ListenerConnection l;
    l.notifier = std::make_shared<ListenerNotifier>(*this, generation_);
    l.thread = std::make_unique<Thread_Old740>(settings_.portName, l.notifier, dispatcher_, legacyTimings_);
    legacy_ = std::move(l);
}

} // namespace kt
