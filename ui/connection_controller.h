#pragma once

// The connection of the main window: the serial ports on offer, Enable and Disable, the monitor
// engine of the connected unit, the silence watch, the fallback to the legacy listener when a
// unit does not answer Modbus, and the cleanup of connections that are still ending. It owns no
// widget; the window shows what it reports.

#include "link/connection_settings.h"
#include "link/platform/serial_port.h"
#include "monitor/legacy_frame.h"
#include "monitor/monitor_thread.h"
#include "monitor/thread_old740.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class QTimer;

namespace kt {

inline constexpr int StatusTimerMs = 4000;
inline constexpr int SilenceLimitMs = 45000;
inline constexpr int FallbackDelayMs = 1000;

// The silence watch's message: it names the limit the watch applies.
inline constexpr const char* SilenceText =
    "There were no communications for 45 seconds.\nThe unit has been disconnected.";
inline constexpr const char* SilenceTitle = "Communications Error";

// Marks behind a port in the port list when the port test could not open it.
inline constexpr const char* PortInUseMark = "  (in use)";
inline constexpr const char* PortNoAccessMark = "  (no access)";
inline constexpr const char* PortNotFoundMark = "  (not found)";
// The port name of a port-list item: the item without its mark.
QString portNameOfItem(const QString& item);

// Set while a 61850 settings transfer runs (on the GUI thread, like the silence watch that reads
// it): a transfer keeps the link busy for longer than a poll pass, and that is no silence.
inline bool transferInProgress = false;

// What the connection tells the window. Every call comes on the GUI thread and only for the
// current connection.
struct ConnectionEvents {
    virtual ~ConnectionEvents() = default;
    // A pass of the connected register-file unit.
    virtual void unitPass(PassSnapshotPtr pass) = 0;
    // A clean frame of the connected legacy unit.
    virtual void legacyStatus(const LegacyFrame& frame) = 0;
    // The legacy unit's event block, after requestLegacyEvents.
    virtual void legacyEvents(const LegacyEventBlock& block) = 0;
    // The legacy unit's records were cleared ("c" went out or did not).
    virtual void legacyClearDone(LegacyCommandOutcome outcome) = 0;
    // The connection was given up (the legacy listener found no unit, the link stayed silent):
    // the window disconnects and says `text` under `title`. `detail` says why in words.
    virtual void connectionLost(const QString& text, const QString& title, const QString& detail) = 0;
    // A tick of the status timer without a pass or frame: the values are blanked.
    virtual void silentTick() = 0;
    // A message of the register-file loader.
    virtual void engineMessage(const QString& text, const QString& title) = 0;
};

class ConnectionController : public QObject {
    Q_OBJECT
public:
    ConnectionController(ConnectionEvents& events, GuiDispatcher& dispatcher, MonitorOptions monitor,
                         LegacyTimings legacy, QObject* parent = nullptr);
    ~ConnectionController() override;

    // ---- ports ----
    struct PortItem {
        QString name;
        QString mark; // "" or one of the marks above
    };
    // The system's serial ports and `extra` (devices chosen by name that the system does not
    // list), each tested by opening and closing it.
    std::vector<PortItem> probePorts(const QStringList& extra);
    // Opens and closes `port` (the test before Enable); false with the reason when it cannot.
    bool testPort(const QString& port, QString* why = nullptr);
    // The port the last test was made on.
    const QString& comPortName() const { return comPortName_; }

    // ---- the connection ----
    // Starts the monitor engine on `settings` (Enable). The window has checked the link.
    bool start(const ConnectionSettings& settings, QString* why = nullptr);
    // Ends the connection (Disable, silence, failure, closing): everything running is asked to
    // stop and is deleted once it has ended; nothing of it reaches the window any more.
    void stop();
    bool active() const { return active_; }
    const ConnectionSettings& settings() const { return settings_; }
    // The monitor engine of the current connection (none offline or for a legacy unit).
    Monitor_Thread* monitor() const { return active_ ? monitor_.thread.get() : nullptr; }
    // The running Modbus engine a request can use: identified and not stopping.
    Monitor_Thread* requestTarget() const;
    // The legacy listener of the current connection, once it runs.
    Thread_Old740* legacy() const { return active_ ? legacy_.thread.get() : nullptr; }
    bool legacyUnit() const { return legacySeen_; }
    // Asks the legacy unit for its event block / to clear its records; false without a listener.
    bool requestLegacyEvents();
    bool requestLegacyClear();

    // Connections are numbered; results of an earlier one are dropped by its requester.
    uint64_t generation() const { return generation_; }
    bool isCurrent(uint64_t generation) const { return active_ && generation == generation_; }
    // Engines and listeners of earlier connections that have not ended yet.
    int retiredCount() const { return static_cast<int>(retiredMonitors_.size() + retiredListeners_.size()); }

    // ---- silence watch ----
    bool passSinceLastTick() const { return passSinceLastTick_; }
    // A refresh of the unit was shown (a pass or a legacy frame).
    void markPass() { passSinceLastTick_ = true; }
    int silenceMs() const { return silenceMs_; }
    void status_TimerTimer();
    void TerminateTimerTimer();
    // What the fallback timer starts (a serial link only: there is no legacy unit behind an IP
    // address).
    void startLegacyMonitor();

    QTimer* status_Timer = nullptr;
    QTimer* TerminateTimer = nullptr;

private:
    class EngineNotifier;
    class ListenerNotifier;
    struct MonitorConnection {
        std::unique_ptr<EngineNotifier> notifier; // outlives the engine
        std::unique_ptr<Monitor_Thread> thread;
    };
    struct ListenerConnection {
        std::shared_ptr<ListenerNotifier> notifier;
        std::unique_ptr<Thread_Old740> thread;
    };

    void onPass(uint64_t generation, PassSnapshotPtr pass);
    void onIdentificationFailed(uint64_t generation);
    void onLegacyFrame(uint64_t generation, const LegacyFrame& frame);
    void onLegacyFailure(uint64_t generation, const LegacyFailure& failure);
    void retire();
    void reap();

    ConnectionEvents& events_;
    GuiDispatcher& dispatcher_;
    MonitorOptions monitorOptions_;
    LegacyTimings legacyTimings_;
    platform::SerialPort ComPort1; // tests ports before Enable
    QString comPortName_;
    QTimer* reapTimer_ = nullptr;
    QTimer* portWaitTimer_ = nullptr;

    ConnectionSettings settings_;
    bool active_ = false;
    bool legacySeen_ = false;
    bool passSinceLastTick_ = false;
    int silenceMs_ = 0;
    uint64_t generation_ = 0;
    MonitorConnection monitor_;
    ListenerConnection legacy_;
    std::vector<MonitorConnection> retiredMonitors_;
    std::vector<ListenerConnection> retiredListeners_;
};

} // namespace kt
