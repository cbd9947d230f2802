#pragma once

#include "help/help_launcher.h"
#include "link/connection_settings.h"
#include "monitor/monitor_thread.h"
#include "prefs/preferences.h"
#include "ui/ct_voltage.h"

#include <QColor>
#include <QMainWindow>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTabWidget;
class QTextEdit;
class QTimer;

namespace kt {

class QtGuiDispatcher;
class StatusPanel;
class TICDParser;

namespace platform {
class SerialPort;
}

// Set while a 61850 settings transfer runs (on the GUI thread, like the silence watch that
// reads it): a transfer keeps the link busy for longer than a poll pass, and that is no silence.
inline bool transferInProgress = false;

inline constexpr int StatusTimerMs = 4000;
inline constexpr int SilenceLimitMs = 45000;
inline constexpr int FallbackDelayMs = 1000;
inline constexpr int CtRatingRegister = 34;

// Marks behind a port in `comport_CB` when the port test could not open it.
inline constexpr const char* PortInUseMark = "  (in use)";
inline constexpr const char* PortNoAccessMark = "  (no access)";
// The port name of a `comport_CB` item: the item without its mark.
QString portNameOfItem(const QString& item);

struct MainFormOptions {
    PreferencesStore* store = nullptr; // nullptr: the current user's store
    QString programFolder;             // empty: the folder of the running program
    MonitorOptions monitor;            // engine options for every connection
    // Select this link and press Enable at the end of start-up (instead of a stored reconnect).
    std::optional<ConnectionSettings> connectLink;
};

// The main window: connection control, the unit pages, the status bars, the menus, and the
// hand-over from the monitor engine.
class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TMainForm(MainFormOptions options = {});
    ~TMainForm() override;

    // ---- connection control ----
    void connectOrDisconnect(); // Enable / Disable, and a click on `netstatus_P`
    void disconnect();
    bool refreshPortList();
    void savePreferences();
    void setStatusPanelsEnabled(bool on);
    void startFallbackTimer();
    // What the fallback timer starts. The legacy listener is not here yet: this ends the attempt
    // as the listener's failure does, so the operator hears about it within seconds.
    void startLegacyMonitor();

    // Chooses a link without connecting (command line, tests): a serial device that the system
    // does not list is added to `comport_CB`; a TCP link fills `ip_E`.
    void selectLink(const ConnectionSettings& link);
    void selectSerialPort(const QString& device);

    // ---- event handlers ----
    void Comm_ButtonClick() { connectOrDisconnect(); }
    void network_CBChange();
    void comport_CBChange();
    void status_TimerTimer();
    void TerminateTimerTimer();
    void ZSCTRating1Click();
    void VoltageSetting1Click();
    void mnuSetDateClick();
    void ResettoDefaults1Click();
    void mnuRemoteCalClick();
    void DumpDiagnosticsFiletoSDCard1Click();
    void ProgramSettings1Click();
    void About1Click();

    // ---- status views ----
    // The refresh after every poll pass of a register-file unit.
    void UpdateUnitStatus(PassSnapshotPtr pass);
    // "-----" into every value display; the status bar's unit texts go blank.
    void ClearStatusDisplay();
    // Empties the IEC 61850 editor tabs.
    void clearEditorTabs();
    // Captions and visibility by model; ends with the selection panels.
    void ApplyModelCaptions();
    // Live GOOSE network-input status (61850 units), kept for the IEC 61850 page.
    void updateNetworkInputs(const NetworkInputs& inputs);

    // ---- state ----
    bool linkActive() const { return linkActive_; }
    bool legacyUnit() const { return legacyUnit_; }
    bool portSelectionChanged() const { return portSelectionChanged_; }
    bool passSinceLastTick() const { return passSinceLastTick_; }
    int silenceMs() const { return silenceMs_; }
    bool unitConfigured() const { return unitConfigured_; }
    int refreshCount() const { return refreshCount_; }
    const ProgramPreferences& working() const { return working_; }
    CtVoltageSelection& selection() { return selection_; }
    const ConnectionSettings& connectionSettings() const { return settings_; }
    // The monitor thread of the current connection (none offline).
    Monitor_Thread* monitorThread() const;
    // Threads of earlier connections that have not ended yet.
    int retiredThreadCount() const { return static_cast<int>(retired_.size()); }
    // The IEC 61850 model: the first device template, or what the IEC 61850 page loaded.
    TICDParser* currentParser() const { return parser_.get(); }
    const std::string& serialNumberText() const { return serialNumberText_; }
    const NetworkInputs& networkInputs() const { return networkInputs_; }
    // The last pass shown (none before the first of a connection).
    const PassSnapshotPtr& lastPass() const { return lastPass_; }
    QColor windowColour() const { return windowColour_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    class ConnectionNotifier;
    struct Connection {
        // Declared before the thread so that it outlives it.
        std::unique_ptr<ConnectionNotifier> notifier;
        std::unique_ptr<Monitor_Thread> thread;
    };

    void buildMenus();
    void buildPages();
    void buildStatusBars();
    void applyColours();
    void startUp(const std::optional<ConnectionSettings>& connectLink);
    void applyPreferences(const ProgramPreferences& stored);
    void restorePosition(int left, int top);
    void writeEssentialSettingsNotice();
    void loadDeviceTypes();

    bool prepareSerialLink();
    bool prepareTcpLink();
    void goOnline();
    bool startMonitor();
    void retireMonitor();
    void reapRetiredThreads();
    QString selectedPortName() const;
    void selectPortItem(const QString& port);

    void setNetStatus(const QString& text, const QColor& colour);
    void setPageShown(QWidget* page, bool shown);
    void setMenuShown(QMenu* menu, bool shown);
    void layoutPages();
    void labelPass();
    void refreshPanels();

    // The running Modbus monitor a command can use, or none (with the refusal shown).
    Monitor_Thread* commandMonitor();
    bool writeToUnit(int32_t value, int reg);
    // The handler of a unit command's result: "Done" (when asked) only on an acknowledgement,
    // the reason otherwise.
    std::function<void(UnitCommandResult)> commandDone(const QString& what, bool sayDone);
    QString describeFailure(const LinkResult& result, const TransferWhat& what) const;
    void engineMessage(uint64_t generation, const std::string& text, const std::string& title);
    bool isCurrent(uint64_t generation) const { return generation == generation_; }

    // ---- controls (object names as the operator's manual and the tests know them) ----
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabCommunication = nullptr;
    QWidget* Tab_Summary = nullptr;
    QWidget* TabSheet2 = nullptr;
    QWidget* TabSheet4 = nullptr;
    QWidget* Config_Sheet = nullptr;
    QWidget* TabSheet3 = nullptr;
    QWidget* TabSheet5 = nullptr;
    QWidget* Tab61850 = nullptr;
    QGroupBox* Communications_GB = nullptr;
    QComboBox* network_CB = nullptr;
    QLabel* com_L = nullptr;
    QComboBox* comport_CB = nullptr;
    QLabel* ip_L = nullptr;
    QLineEdit* ip_E = nullptr;
    QPushButton* Comm_Button = nullptr;
    QTextEdit* RichEdit1 = nullptr;
    QComboBox* DevTypeComboBox = nullptr;

    QWidget* Status_P = nullptr;
    StatusPanel* diagnostic_P = nullptr;
    StatusPanel* version_P = nullptr;
    StatusPanel* unit_P = nullptr;
    StatusPanel* network_P = nullptr;
    StatusPanel* trip_P = nullptr;
    StatusPanel* netstatus_P = nullptr;
    StatusPanel* datalog_P = nullptr;
    QWidget* TopStatus_P = nullptr;
    StatusPanel* ct_primary_P = nullptr;
    StatusPanel* ct_secondary_P = nullptr;
    StatusPanel* ef_connection_P = nullptr;
    StatusPanel* zsct_P = nullptr;
    StatusPanel* voltage_P = nullptr;
    StatusPanel* packetcount_P = nullptr;

    QMenu* File1 = nullptr;
    QMenu* Edit1 = nullptr;
    QMenu* SystemParameters1 = nullptr;
    QMenu* DataLogging1 = nullptr;
    QMenu* Help1 = nullptr;
    QAction* Exit1 = nullptr;
    QAction* ProgramSettings1 = nullptr;
    QAction* ZSCTRating1 = nullptr;
    QAction* VoltageSetting1 = nullptr;
    QAction* mnuSetDate = nullptr;
    QAction* ResettoDefaults1 = nullptr;
    QAction* mnuRemoteCal = nullptr;
    QAction* DumpDiagnosticsFiletoSDCard1 = nullptr;
    QAction* Datalog_Settings = nullptr;
    QAction* SetpointAssistant1 = nullptr;
    QAction* Help2 = nullptr;
    QAction* About1 = nullptr;

    QTimer* status_Timer = nullptr;
    QTimer* TerminateTimer = nullptr;
    QTimer* reapTimer_ = nullptr;

    // ---- owned state ----
    std::unique_ptr<PreferencesStore> ownStore_;
    PreferencesStore* store_ = nullptr;
    QString programFolder_;
    MonitorOptions monitorOptions_;
    QtGuiDispatcher* dispatcher_ = nullptr;
    HelpLauncher help_;
    std::unique_ptr<platform::SerialPort> ComPort1;
    QString comPortName_; // the port ComPort1 was last set to
    ConnectionSettings settings_;
    ProgramPreferences working_;
    CtVoltageSelection selection_;
    std::unique_ptr<TICDParser> parser_;
    QColor windowColour_{192, 192, 192};
    // Serial devices chosen by name that the system does not list (a pty, a device path given
    // on the command line); kept in the list across refreshes.
    QStringList extraPorts_;

    Connection connection_;
    std::vector<Connection> retired_;
    // Connections are numbered; a notification from an earlier one is dropped.
    uint64_t generation_ = 0;

    bool linkActive_ = false;
    bool legacyUnit_ = false;
    bool portSelectionChanged_ = false;
    bool passSinceLastTick_ = false;
    int silenceMs_ = 0;

    // Status view state.
    bool unitConfigured_ = true; // kept across connections
    bool extendedStatusBits_ = false;
    bool datalogHeaderPending_ = false;
    int refreshCount_ = 0;
    int packetCount_ = 0;
    int lastRecordHead_ = -1;
    int lastRecordCount_ = -1;
    int ngrCurrentPercent_ = 0;
    int ngrVoltagePercent_ = 0;
    std::string serialNumberText_;
    NetworkInputs networkInputs_;
    PassSnapshotPtr lastPass_;
};

} // namespace kt
