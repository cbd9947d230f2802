#pragma once

// The main window: the frame around the pages (menus, the page control, the two status bars),
// the preferences, and the hand-over of each refresh of the connected unit to the pages. The
// connection itself lives in ConnectionController; each page is a class of its own in ui/pages.

#include "help/help_launcher.h"
#include "link/connection_settings.h"
#include "monitor/legacy_frame.h"
#include "monitor/monitor_thread.h"
#include "monitor/status_decoding.h"
#include "prefs/preferences.h"
#include "ui/connection_controller.h"
#include "ui/ct_voltage.h"

#include <QColor>
#include <QMainWindow>

#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QMenu;
class QTabWidget;

namespace kt {

class CommunicationPage;
class ConfigurationPage;
class DatalogComponent;
class DetailedStatusPage;
class EventRecordsPage;
class Iec61850Page;
class ObjectNameSelectionPanels;
class LegacyDetailsPage;
class LegacyEventsPage;
class QtGuiDispatcher;
class StatusBars;
class SummaryPage;
class TICDParser;
class UnitPage;
struct PageContext;

inline constexpr int CtRatingRegister = 34;

struct MainFormOptions {
    PreferencesStore* store = nullptr; // nullptr: the current user's store
    QString programFolder;             // empty: the folder of the running program
    MonitorOptions monitor;            // engine options for every connection
    LegacyTimings legacy;              // the legacy listener's timing
    // Select this link and press Enable once the window is shown (instead of a stored reconnect).
    std::optional<ConnectionSettings> connectLink;
};

class TMainForm : public QMainWindow, public ConnectionEvents {
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
    // What the engine's failed identification starts: the legacy listener one second later.
    void startFallbackTimer();
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
    void PageControl1Change();
    // Data Logging > Settings and a click on `datalog_P`; File > Open Data Log and Live Trend.
    void Change_Datalog_Settings();
    void followDatalogFolder();
    void OpenDatalog1Click();
    void LiveTrend1Click();

    // ---- status views ----
    // The refresh after every poll pass of a register-file unit.
    void UpdateUnitStatus(PassSnapshotPtr pass);
    // The refresh after every status frame of a legacy unit.
    void UpdateLegacyStatus(const LegacyFrame& frame);
    // "-----" into every value display; the status bar's unit texts go blank.
    void ClearStatusDisplay();
    // Captions and visibility by model; ends with the selection panels.
    void ApplyModelCaptions();
    // Empties the IEC 61850 editor tabs.
    void clearEditorTabs();
    // An editor is open over the pages (a page says so, a grid cell is being edited, or a dialog
    // is up): a re-layout of the pages waits until it has closed.
    bool editorOpen() const;

    // ---- state ----
    bool linkActive() const { return connection_->active(); }
    bool legacyUnit() const { return connection_->legacyUnit(); }
    bool portSelectionChanged() const { return portSelectionChanged_; }
    bool passSinceLastTick() const { return connection_->passSinceLastTick(); }
    int silenceMs() const { return connection_->silenceMs(); }
    bool unitConfigured() const { return unitState_.unitConfigured; }
    int refreshCount() const { return unitState_.refreshCount + legacyState_.refreshCount; }
    const ProgramPreferences& working() const { return working_; }
    CtVoltageSelection& selection() { return selection_; }
    const ConnectionSettings& connectionSettings() const { return settings_; }
    // The monitor engine of the current connection (none offline).
    Monitor_Thread* monitorThread() const { return connection_->monitor(); }
    // Engines and listeners of earlier connections that have not ended yet.
    int retiredThreadCount() const { return connection_->retiredCount(); }
    // The IEC 61850 model: the first device template, or what the IEC 61850 page loaded.
    TICDParser* currentParser() const;
    const std::string& serialNumberText() const { return unitState_.serialNumberText; }
    const NetworkInputs& networkInputs() const { return networkInputs_; }
    // The last pass shown (none before the first of a connection).
    const PassSnapshotPtr& lastPass() const { return lastPass_; }
    const UnitStatusView& unitView() const { return unitView_; }
    const LegacyStatusView& legacyView() const { return legacyView_; }
    QColor windowColour() const { return windowColour_; }
    ConnectionController& connection() { return *connection_; }
    const QString& programFolder() const { return programFolder_; }
    // The legacy refresh's counters (the data log resets the line counter after a line).
    LegacyStatusState& legacyStatusState() { return legacyState_; }
    // The settings changed in a way the closing prompt should offer to keep.
    void markSettingsChanged() { portSelectionChanged_ = true; }

    // ---- pages ----
    CommunicationPage* communicationPage() const { return communication_; }
    SummaryPage* summaryPage() const { return summary_; }
    DetailedStatusPage* detailedStatusPage() const { return detailed_; }
    ConfigurationPage* configurationPage() const { return configuration_; }
    EventRecordsPage* eventRecordsPage() const { return events_; }
    LegacyDetailsPage* legacyDetailsPage() const { return legacyDetails_; }
    LegacyEventsPage* legacyEventsPage() const { return legacyEvents_; }
    Iec61850Page* iec61850Page() const { return iec61850_; }
    StatusBars* statusBars() const { return bars_; }
    DatalogComponent* datalogComponent() const { return datalog_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // ConnectionEvents
    void unitPass(PassSnapshotPtr pass) override { UpdateUnitStatus(std::move(pass)); }
    void legacyStatus(const LegacyFrame& frame) override { UpdateLegacyStatus(frame); }
    void legacyEvents(const LegacyEventBlock& block) override;
    void legacyClearDone(LegacyCommandOutcome outcome) override;
    void connectionLost(const QString& text, const QString& title, const QString& detail) override;
    void silentTick() override;
    void engineMessage(const QString& text, const QString& title) override;

    void buildMenus();
    void buildPages();
    void startUp();
    void applyPreferences(const ProgramPreferences& stored);
    void restorePosition(int left, int top);

    bool prepareSerialLink();
    bool prepareTcpLink();
    void goOnline();
    // The connection the window makes by itself once shown (stored "running", --connect): a link
    // that cannot be used is told on the Communication page, not in a dialog.
    void connectAtStart();
    // A link that cannot be used: a message, or the notice while connecting at start.
    void reportLinkProblem(const QString& text, const QString& title, const QString& detail);

    void setPageShown(QWidget* page, bool shown);
    void setPageShown(StatusPage page, bool shown);
    QWidget* pageWidget(StatusPage page) const;
    void applyPageLayout(const PageVisibility& pages, const std::optional<StatusPage>& active);
    void setMenuShown(QMenu* menu, bool shown);
    void refreshPanels();
    ObjectNameSelectionPanels& selectionPanels();
    void applySelectionPanels(const SelectionPanelTexts& texts);
    std::vector<UnitPage*> pages() const;

    // The handler of a unit command's result: "Done" (when asked) only on an acknowledgement,
    // the reason otherwise.
    std::function<void(UnitCommandResult)> commandDone(const QString& what, bool sayDone,
                                                       TransferWhat writes = {TransferWhat::Write, 0, 0});
    Monitor_Thread* commandMonitor();

    // ---- controls (object names as the operator's manual and the tests know them) ----
    QTabWidget* PageControl1 = nullptr;
    QMenu* File1 = nullptr;
    QMenu* Edit1 = nullptr;
    QMenu* SystemParameters1 = nullptr;
    QMenu* DataLogging1 = nullptr;
    QMenu* Help1 = nullptr;
    QAction* OpenDatalog1 = nullptr;
    QAction* LiveTrend1 = nullptr;
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

    StatusBars* bars_ = nullptr;
    CommunicationPage* communication_ = nullptr;
    SummaryPage* summary_ = nullptr;
    LegacyDetailsPage* legacyDetails_ = nullptr;
    DetailedStatusPage* detailed_ = nullptr;
    ConfigurationPage* configuration_ = nullptr;
    LegacyEventsPage* legacyEvents_ = nullptr;
    EventRecordsPage* events_ = nullptr;
    Iec61850Page* iec61850_ = nullptr;
    DatalogComponent* datalog_ = nullptr;

    // ---- owned state ----
    std::unique_ptr<PreferencesStore> ownStore_;
    PreferencesStore* store_ = nullptr;
    QString programFolder_;
    QtGuiDispatcher* dispatcher_ = nullptr;
    std::unique_ptr<PageContext> context_;
    HelpLauncher help_;
    ConnectionSettings settings_;
    ProgramPreferences working_;
    CtVoltageSelection selection_;
    QColor windowColour_{192, 192, 192};
    std::optional<ConnectionSettings> connectAtShow_;
    bool reconnectAtShow_ = false;
    bool shownOnce_ = false;
    bool connectingAtStart_ = false;

    bool portSelectionChanged_ = false;
    UnitStatusState unitState_;
    UnitStatusView unitView_;
    LegacyStatusState legacyState_;
    LegacyIdentityMemory legacyMemory_;
    LegacyStatusView legacyView_;
    NetworkInputs networkInputs_;
    PassSnapshotPtr lastPass_;
    std::unique_ptr<ObjectNameSelectionPanels> selectionPanels_; // found once, when first needed

    // A child of the window (its timers are found by name), deleted first in the destructor:
    // every engine and listener stops and is joined before the dispatcher and the pages go.
    ConnectionController* connection_ = nullptr;
};

} // namespace kt
