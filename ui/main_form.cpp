#include "ui/main_form.h"

#include "iec61850/icd_parser.h"
#include "prefs/qsettings_store.h"
#include "ui/about_box.h"
#include "ui/address_text.h"
#include "ui/datalog_component.h"
#include "ui/gui_dispatcher.h"
#include "ui/message_box.h"
#include "ui/pages/communication_page.h"
#include "ui/pages/configuration_page.h"
#include "ui/pages/detailed_status_page.h"
#include "ui/pages/event_records_page.h"
#include "ui/pages/grid_view.h"
#include "ui/pages/iec61850_page.h"
#include "ui/pages/summary_page.h"
#include "ui/pages/unit_page.h"
#include "ui/selection_dialogs.h"
#include "ui/settings_dialog.h"
#include "ui/status_bars.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace kt {

namespace {

const QColor Red(255, 0, 0);
const QColor Yellow(255, 255, 0);
const QColor White(255, 255, 255);

} // namespace

// ---- construction and start-up ----

TMainForm::TMainForm(MainFormOptions options)
    : store_(options.store), programFolder_(options.programFolder), connectAtShow_(options.connectLink) {
    setObjectName("TMainForm");
    if (programFolder_.isEmpty()) programFolder_ = QCoreApplication::applicationDirPath();
    if (options.monitor.resourcesFolder.empty())
        options.monitor.resourcesFolder = (programFolder_ + "/resources").toStdString();
    if (!store_) {
        ownStore_ = std::make_unique<QSettingsPreferencesStore>();
        store_ = ownStore_.get();
    }
    help_ = HelpLauncher(programFolder_);
    dispatcher_ = new QtGuiDispatcher(this);
    connection_ =
        new ConnectionController(*this, *dispatcher_, std::move(options.monitor), options.legacy, this);
    context_ = std::make_unique<PageContext>();
    context_->window = this;
    context_->connection = connection_;
    context_->selection = &selection_;
    context_->preferences = &working_;
    context_->windowColour = windowColour_;

    buildMenus();
    buildPages();
    communication_->Communications_GB->hide(); // until the port list is built
    setWindowTitle("KT-MON740");
    resize(900, 600);

    startUp();
}

TMainForm::~TMainForm() {
    // Stops and joins every engine and listener before the pages and the dispatcher go.
    delete connection_;
    connection_ = nullptr;
}

void TMainForm::buildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName("MainMenu1");
    auto item = [this](QMenu* menu, const char* name, const char* caption, void (TMainForm::*handler)()) {
        QAction* a = menu->addAction(caption);
        a->setObjectName(name);
        if (handler) connect(a, &QAction::triggered, this, handler);
        return a;
    };
    auto menu = [&](const char* name, const char* caption) {
        QMenu* m = bar->addMenu(caption);
        m->setObjectName(name);
        m->menuAction()->setObjectName(QString(name) + "_action");
        return m;
    };
    File1 = menu("File1", "&File");
    OpenDatalog1 = item(File1, "OpenDatalog1", "&Open Data Log...", &TMainForm::OpenDatalog1Click);
    OpenDatalog1->setShortcut(QKeySequence::Open);
    LiveTrend1 = item(File1, "LiveTrend1", "Live &Trend", &TMainForm::LiveTrend1Click);
    LiveTrend1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    File1->addSeparator();
    Exit1 = item(File1, "Exit1", "E&xit", nullptr);
    connect(Exit1, &QAction::triggered, this, &QWidget::close);

    Edit1 = menu("Edit1", "&Edit");
    ProgramSettings1 =
        item(Edit1, "ProgramSettings1", "&Program Settings", &TMainForm::ProgramSettings1Click);

    SystemParameters1 = menu("SystemParameters1", "&System");
    ZSCTRating1 = item(SystemParameters1, "ZSCTRating1", "&Earth-Fault CT", &TMainForm::ZSCTRating1Click);
    VoltageSetting1 =
        item(SystemParameters1, "VoltageSetting1", "&Voltage Setting", &TMainForm::VoltageSetting1Click);
    mnuSetDate = item(SystemParameters1, "mnuSetDate", "Set &Date/Time", &TMainForm::mnuSetDateClick);
    ResettoDefaults1 =
        item(SystemParameters1, "ResettoDefaults1", "&Reset to Defaults", &TMainForm::ResettoDefaults1Click);
    mnuRemoteCal =
        item(SystemParameters1, "mnuRemoteCal", "Remote &Calibration", &TMainForm::mnuRemoteCalClick);
    DumpDiagnosticsFiletoSDCard1 =
        item(SystemParameters1, "DumpDiagnosticsFiletoSDCard1", "Dump Dia&gnostics File to SDCard",
             &TMainForm::DumpDiagnosticsFiletoSDCard1Click);

    DataLogging1 = menu("DataLogging1", "&Data Logging");
    Datalog_Settings =
        item(DataLogging1, "Datalog_Settings", "&Settings", &TMainForm::Change_Datalog_Settings);
    Datalog_Settings->setCheckable(true);

    Help1 = menu("Help1", "&Help");
    SetpointAssistant1 = item(Help1, "SetpointAssistant1", "&Setpoint Assistant", nullptr);
    connect(SetpointAssistant1, &QAction::triggered, this, [this] { help_.SetpointAssistant1Click(this); });
    Help2 = item(Help1, "Help2", "&Contents", nullptr);
    connect(Help2, &QAction::triggered, this, [this] { help_.Help2Click(this); });
    About1 = item(Help1, "About1", "&About", &TMainForm::About1Click);
}

void TMainForm::buildPages() {
    auto* central = new QWidget(this);
    central->setObjectName("MainPanel");
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(4, 4, 4, 0);
    column->setSpacing(2);

    PageControl1 = new QTabWidget(central);
    PageControl1->setObjectName("PageControl1");
    communication_ = new CommunicationPage(*context_);
    summary_ = new SummaryPage;
    legacyDetails_ = new LegacyDetailsPage;
    detailed_ = new DetailedStatusPage;
    configuration_ = new ConfigurationPage(*context_);
    connect(configuration_, &ConfigurationPage::ctDialogClosed, this, [this](bool accepted) {
        if (accepted) portSelectionChanged_ = true;
        savePreferences();
    });
    legacyEvents_ = new LegacyEventsPage(*context_);
    events_ = new EventRecordsPage(*context_);
    iec61850_ = new Iec61850Page(*context_);
    PageControl1->addTab(communication_, "Communication");
    PageControl1->addTab(summary_, "Summary");
    PageControl1->addTab(legacyDetails_, "Detailed Status and Config");
    PageControl1->addTab(detailed_, "Detailed Status");
    PageControl1->addTab(configuration_, "Configuration");
    PageControl1->addTab(legacyEvents_, "Event Records");
    PageControl1->addTab(events_, "Event Records");
    PageControl1->addTab(iec61850_, "IEC 61850");
    column->addWidget(PageControl1, 1);
    connect(PageControl1, &QTabWidget::currentChanged, this, &TMainForm::PageControl1Change);

    communication_->onEnable = [this] { connectOrDisconnect(); };
    communication_->onPortChosen = [this](const QString&) { comport_CBChange(); };

    bars_ = new StatusBars(central);
    column->addWidget(bars_);
    connect(bars_->netstatus_P, &StatusPanel::clicked, this, &TMainForm::connectOrDisconnect);
    for (StatusPanel* p : {bars_->ct_primary_P, bars_->ct_secondary_P, bars_->ef_connection_P, bars_->zsct_P})
        connect(p, &StatusPanel::clicked, this, &TMainForm::ZSCTRating1Click);
    connect(bars_->voltage_P, &StatusPanel::clicked, this, &TMainForm::VoltageSetting1Click);
    connect(bars_->datalog_P, &StatusPanel::clicked, this, &TMainForm::Change_Datalog_Settings);
    datalog_ = new DatalogComponent(*this, *context_);
    legacyEvents_->onSaved = [this] { datalog_->settings().datalogHeaderPending = true; };
    followDatalogFolder();

    setCentralWidget(central);
}

std::vector<UnitPage*> TMainForm::pages() const {
    return {communication_, summary_, legacyDetails_, detailed_, configuration_,
            legacyEvents_,  events_,  iec61850_,      datalog_};
}

void TMainForm::startUp() {
    ProgramPreferences stored;
    // A store that cannot be written or read leaves the defaults in effect; the window works
    // with them and tries to store again at the next save.
    // A damaged file with nothing left of the preferences is replaced by the defaults; that is
    // still a repair the operator is told about.
    const bool damagedAndEmpty = !preferencesExist(*store_) && store_->damaged();
    if (!preferencesExist(*store_)) (void)writeDefaultPreferences(*store_);
    PreferencesLoadReport loaded = loadPreferences(stored, *store_);
    if (damagedAndEmpty && loaded.readable) loaded.damaged = true;

    disconnect();
    PageControl1->setCurrentWidget(communication_);
    setWindowTitle("KT-MON740: Main Page");
    QPalette p = palette();
    p.setColor(QPalette::Window, windowColour_);
    setPalette(p);
    setAutoFillBackground(true);
    bars_->applyColours();
    for (QComboBox* combo : {communication_->comport_CB, communication_->network_CB}) {
        QPalette cp = combo->palette();
        cp.setColor(QPalette::Base, White);
        cp.setColor(QPalette::Button, White);
        combo->setPalette(cp);
    }

    applyPreferences(stored);
    // What had to be repaired is told in the window: a dialog here would come before the window
    // exists and keep it from ever showing.
    communication_->addNotice(QString::fromStdString(preferencesLoadNotice(loaded)));

    // A connection starts once the window is shown: a link that cannot be used is then told in
    // the window, which stays offline, instead of a message box before the window exists.
    if (connectAtShow_) selectLink(*connectAtShow_);
    reconnectAtShow_ = connectAtShow_.has_value() || working_.running;
    savePreferences();
    iec61850_->loadDeviceTypes(programFolder_);
}

void TMainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shownOnce_) return;
    shownOnce_ = true;
    if (reconnectAtShow_) {
        reconnectAtShow_ = false;
        QTimer::singleShot(0, this, [this] {
            if (!linkActive()) connectAtStart();
        });
    }
}

void TMainForm::applyPreferences(const ProgramPreferences& stored) {
    WorkingPreferences w = kt::workingPreferences(stored, programFolder_.toStdString());
    working_ = w.values;
    if (w.restorePosition) restorePosition(working_.Left, working_.Top);
    loadSelection(selection_, working_);

    bars_->setNetStatus(OfflineText, Red);
    ApplyModelCaptions();
    // A stored device that the system does not enumerate (a /dev/serial/by-id link, a
    // pseudo-terminal) is still the operator's choice while it exists.
    const QString storedPort = QString::fromStdString(working_.port);
    if (storedPort.startsWith('/') && QFileInfo::exists(storedPort))
        communication_->keepExtraPort(storedPort);
    refreshPortList();
    communication_->selectPortItem(storedPort);
    communication_->setAddressText(QString::fromStdString(working_.ip_address));
    communication_->setLinkIndex(working_.network);
    bars_->network_P->setText(working_.network == 0 ? communication_->selectedPortName()
                                                    : communication_->addressText());
    configuration_->writeEssentialSettingsNotice();
    followDatalogFolder();
}

void TMainForm::restorePosition(int left, int top) {
    // A position stored on a monitor that is gone would put the window out of reach.
    if (!QGuiApplication::screenAt(QPoint(left, top))) return;
    move(left, top);
}

// ---- preferences ----

void TMainForm::savePreferences() {
    saveSelection(selection_, working_);
    working_.network = communication_->tcpChosen() ? 1 : 0;
    working_.ip_address = communication_->addressText().toStdString();
    working_.Top = pos().y();
    working_.Left = pos().x();
    // A store that cannot be written keeps the working values for this session only; there is
    // nothing the operator could do about it here.
    (void)storePreferences(working_, *store_);
}

// ---- ports ----

bool TMainForm::refreshPortList() {
    return communication_->refreshPortList();
}

void TMainForm::selectSerialPort(const QString& device) {
    communication_->selectSerialPort(device);
    bars_->network_P->setText(device);
    working_.port = device.toStdString();
}

void TMainForm::selectLink(const ConnectionSettings& link) {
    if (link.linkType == LinkModbusTcp)
        communication_->selectLink(link);
    else
        selectSerialPort(QString::fromStdString(link.portName));
}

void TMainForm::network_CBChange() {
    communication_->network_CBChange();
}

void TMainForm::comport_CBChange() {
    const QString port = communication_->selectedPortName();
    bars_->network_P->setText(port);
    working_.port = port.toStdString();
    portSelectionChanged_ = true;
}

// ---- connecting ----

void TMainForm::connectOrDisconnect() {
    communication_->setButtonEnabled(false);
    settings_.slaveAddress = DefaultSlaveAddress;
    settings_.linkType = communication_->tcpChosen() ? LinkModbusTcp : LinkSerialRtu;
    if (linkActive()) {
        disconnect();
    } else if (communication_->tcpChosen() ? prepareTcpLink() : prepareSerialLink()) {
        goOnline();
    }
    communication_->setButtonEnabled(true);
    // An empty list (the adapter unplugged) keeps the port the operator chose last.
    if (const QString port = communication_->selectedPortName(); !port.isEmpty())
        working_.port = port.toStdString();
    savePreferences();
}

void TMainForm::connectAtStart() {
    connectingAtStart_ = true;
    connectOrDisconnect();
    connectingAtStart_ = false;
}

void TMainForm::reportLinkProblem(const QString& text, const QString& title, const QString& detail) {
    if (!connectingAtStart_) {
        kt::showMessage(text, title, MessageOk, this);
        return;
    }
    QString notice = "Not connected at start: " + text;
    if (!detail.isEmpty()) notice += " (" + detail + ")";
    communication_->addNotice(notice);
}

bool TMainForm::prepareTcpLink() {
    const QString text = communication_->addressText();
    auto endpoint = parseIpv4Endpoint(text.toStdString());
    if (!endpoint) {
        reportLinkProblem(QString::fromStdString(notAnIpAddressText(text.toStdString())), "error", {});
        return false;
    }
    settings_.ipAddress = endpoint->address;
    settings_.tcpPort = endpoint->port;
    bars_->network_P->setText(QString::fromStdString(formatIpv4Endpoint(*endpoint)));
    return true;
}

bool TMainForm::prepareSerialLink() {
    const QString port = communication_->selectedPortName();
    QString why;
    if (!connection_->testPort(port, &why)) {
        reportLinkProblem("Cannot Open ComPort.", "error", port.isEmpty() ? why : port + ": " + why);
        disconnect();
        refreshPortList();
        return false;
    }
    bars_->network_P->setText(port);
    settings_.baudRate = DefaultBaudRate;
    settings_.portName = port.toStdString();
    return true;
}

void TMainForm::goOnline() {
    bars_->setNetStatus(ConnectingText, Yellow);
    bars_->unit_P->setText("");
    working_.running = true;
    unitState_.connectionStarted();
    legacyState_.connectionStarted();
    lastPass_.reset();
    setStatusPanelsEnabled(false);
    QString why;
    if (!connection_->start(settings_, &why)) {
        reportLinkProblem(QString("The connection could not be started: %1").arg(why), "error", {});
        disconnect();
        return;
    }
    // The operator has acted on what the notice said.
    if (!connectingAtStart_) communication_->clearNotices();
    for (UnitPage* page : pages()) page->connected();
    setMenuShown(DataLogging1, true);
    setMenuShown(Edit1, true);
    setMenuShown(SystemParameters1, true);
}

void TMainForm::disconnect() {
    communication_->setButtonEnabled(false);
    for (StatusPanel* p : {bars_->version_P, bars_->trip_P, bars_->diagnostic_P, bars_->datalog_P})
        p->setText("");
    unitState_.disconnected();
    legacyState_.connectionStarted();
    lastPass_.reset();

    connection_->stop();

    const QString port = connection_->comPortName();
    bars_->network_P->setText(port.isEmpty() ? communication_->selectedPortName() : port);
    bars_->setNetStatus(OfflineText, Red);

    for (QWidget* page : std::initializer_list<QWidget*>{summary_, legacyDetails_, detailed_, configuration_,
                                                         legacyEvents_, events_})
        setPageShown(page, false);
    setPageShown(iec61850_, true);
    working_.running = false;
    VoltageSetting1->setVisible(true);
    mnuRemoteCal->setVisible(true);
    bars_->TopStatus_P->hide();

    for (UnitPage* page : pages()) page->disconnected();
    ClearStatusDisplay();

    communication_->setButtonEnabled(true);
    setMenuShown(DataLogging1, false);
    setMenuShown(Edit1, false);
    setMenuShown(SystemParameters1, false);
    PageControl1->setCurrentWidget(communication_);
    setStatusPanelsEnabled(true);
}

void TMainForm::setStatusPanelsEnabled(bool on) {
    bars_->setPanelsEnabled(on);
    SystemParameters1->menuAction()->setEnabled(on);
}

// ---- silence watch and fallback ----

void TMainForm::status_TimerTimer() {
    connection_->status_TimerTimer();
}

void TMainForm::startFallbackTimer() {
    connection_->TerminateTimer->start();
}

void TMainForm::TerminateTimerTimer() {
    connection_->TerminateTimerTimer();
}

void TMainForm::startLegacyMonitor() {
    connection_->startLegacyMonitor();
}

void TMainForm::silentTick() {
    ClearStatusDisplay();
    for (UnitPage* page : pages()) page->silent();
    bars_->setNetStatus(ConnectingText, Yellow);
}

void TMainForm::connectionLost(const QString& text, const QString& title, const QString& detail) {
    disconnect();
    // The detail (why, in words) is for the operator who asks; the message keeps its text.
    Q_UNUSED(detail);
    kt::showMessage(text, title, MessageOk, this);
}

void TMainForm::engineMessage(const QString& text, const QString& title) {
    kt::showMessage(text, title, MessageOk, this);
}

void TMainForm::legacyEvents(const LegacyEventBlock& block) {
    legacyEvents_->UpdateLegacyEventList(block);
}

void TMainForm::legacyClearDone(LegacyCommandOutcome outcome) {
    legacyEvents_->legacyClearDone(outcome == LegacyCommandOutcome::Sent);
}

// ---- closing ----

void TMainForm::closeEvent(QCloseEvent* event) {
    if (working_.show_prompt && portSelectionChanged_) showProgramSettings(this, working_, windowColour_);
    savePreferences();
    disconnect();
    event->accept();
}

// ---- status views ----

void TMainForm::setPageShown(QWidget* page, bool shown) {
    PageControl1->setTabVisible(PageControl1->indexOf(page), shown);
}

QWidget* TMainForm::pageWidget(StatusPage page) const {
    switch (page) {
    case StatusPage::TabCommunication:
        return communication_;
    case StatusPage::Tab_Summary:
        return summary_;
    case StatusPage::TabSheet2:
        return legacyDetails_;
    case StatusPage::TabSheet4:
        return detailed_;
    case StatusPage::Config_Sheet:
        return configuration_;
    case StatusPage::TabSheet3:
        return legacyEvents_;
    case StatusPage::TabSheet5:
        return events_;
    case StatusPage::Tab61850:
        return iec61850_;
    case StatusPage::Count:
        break;
    }
    return nullptr;
}

void TMainForm::setPageShown(StatusPage page, bool shown) {
    if (QWidget* w = pageWidget(page)) setPageShown(w, shown);
}

void TMainForm::applyPageLayout(const PageVisibility& visibility, const std::optional<StatusPage>& active) {
    for (size_t i = 0; i < StatusPageCount; ++i)
        if (visibility[i]) setPageShown(static_cast<StatusPage>(i), *visibility[i]);
    if (active)
        if (QWidget* w = pageWidget(*active)) PageControl1->setCurrentWidget(w);
}

void TMainForm::setMenuShown(QMenu* menu, bool shown) {
    menu->menuAction()->setVisible(shown);
}

void TMainForm::PageControl1Change() {
    // Leaving or entering a page changes nothing of the link; the pages refresh on every pass.
}

bool TMainForm::editorOpen() const {
    for (UnitPage* page : pages())
        if (page->editorOpen()) return true;
    for (const StatusGridView* grid : findChildren<StatusGridView*>())
        if (grid->editing()) return true;
    // A dialog over the window may edit what a grid row shows (the CT rating) or still wait for
    // an answer about it.
    return QApplication::activeModalWidget() != nullptr;
}

void TMainForm::UpdateUnitStatus(PassSnapshotPtr pass) {
    if (!pass) return;
    lastPass_ = pass;
    connection_->markPass();
    UnitStatusInputs inputs;
    inputs.datalogEnabled = working_.datalog_enable;
    inputs.communicationPageActive = PageControl1->currentWidget() == communication_;
    inputs.editorOpen = editorOpen();
    kt::UpdateUnitStatus(*pass, unitState_, selection_, unitView_, inputs);
    const UnitStatusView& v = unitView_;

    bars_->setPanel(bars_->netstatus_P, v.netstatus_P);
    if (v.enableStatusPanels) setStatusPanelsEnabled(true);
    mnuRemoteCal->setVisible(v.mnuRemoteCalVisible);
    DumpDiagnosticsFiletoSDCard1->setVisible(v.dumpDiagnosticsVisible);
    if (v.laidOut) {
        applyPageLayout(v.pages, v.activePage);
        VoltageSetting1->setVisible(v.voltageSetting1Visible);
        bars_->network_P->setEnabled(true);
        SystemParameters1->menuAction()->setEnabled(true);
    }
    if (v.tab61850Visible) setPageShown(StatusPage::Tab61850, *v.tab61850Visible);
    bars_->TopStatus_P->setVisible(v.topStatusVisible);
    bars_->setPanel(bars_->trip_P, v.trip_P);
    bars_->setPanel(bars_->diagnostic_P, v.diagnostic_P);
    bars_->setPanel(bars_->version_P, v.version_P);
    bars_->setPanel(bars_->datalog_P, v.datalog_P);
    bars_->datalog_P->setToolTip(QString::fromStdString(v.datalogHint));
    applySelectionPanels(v.selectionPanels);
    if (pass->networkInputs) networkInputs_ = *pass->networkInputs;

    for (UnitPage* page : pages()) page->passCompleted(*pass, v);
}

void TMainForm::UpdateLegacyStatus(const LegacyFrame& frame) {
    LegacyStatusInputs inputs;
    inputs.datalogEnabled = working_.datalog_enable;
    inputs.saveRate = working_.save_rate;
    kt::UpdateLegacyStatus(frame, legacyState_, legacyMemory_, selection_, legacyView_, inputs);
    const LegacyStatusView& v = legacyView_;
    if (v.passSinceLastTick) connection_->markPass();
    if (v.passSinceLastTick) bars_->setPanel(bars_->netstatus_P, v.netstatus_P);
    if (v.enableStatusPanels) setStatusPanelsEnabled(true);
    if (v.laidOut) {
        applyPageLayout(v.pages, v.activePage);
        VoltageSetting1->setVisible(true);
        bars_->network_P->setEnabled(true);
    }
    if (v.settingsChanged) portSelectionChanged_ = true;
    bars_->TopStatus_P->setVisible(v.topStatusVisible);
    bars_->setPanel(bars_->version_P, v.version_P);
    bars_->packetcount_P->setText(QString::fromStdString(v.packetcount_P.text));
    bars_->setPanel(bars_->datalog_P, v.datalog_P);
    applySelectionPanels(v.selectionPanels);

    for (UnitPage* page : pages()) page->legacyFrame(frame, v);
}

ObjectNameSelectionPanels& TMainForm::selectionPanels() {
    if (!selectionPanels_) selectionPanels_ = std::make_unique<ObjectNameSelectionPanels>(this);
    return *selectionPanels_;
}

void TMainForm::applySelectionPanels(const SelectionPanelTexts& texts) {
    ObjectNameSelectionPanels& panels = selectionPanels();
    for (SelectionPanel p :
         {SelectionPanel::unit_P, SelectionPanel::voltage_P, SelectionPanel::zsct_P,
          SelectionPanel::ef_connection_P, SelectionPanel::ct_secondary_P, SelectionPanel::ct_primary_P})
        panels.setPanelText(p, texts.of(p));
}

void TMainForm::ApplyModelCaptions() {
    refreshPanels();
}

void TMainForm::refreshPanels() {
    refreshSelectionPanels(selection_, legacyUnit(), selectionPanels());
}

void TMainForm::ClearStatusDisplay() {
    summary_->clear();
    legacyDetails_->clear();
}

void TMainForm::clearEditorTabs() {
    iec61850_->clearEditorTabs();
}

TICDParser* TMainForm::currentParser() const {
    return iec61850_->currentParser();
}

// ---- menu commands ----

Monitor_Thread* TMainForm::commandMonitor() {
    if (Monitor_Thread* m = connection_->requestTarget()) return m;
    kt::showMessage("This command needs a unit connected over Modbus. Connect the unit and try again.",
                    "Command Not Sent", MessageOk, this);
    return nullptr;
}

std::function<void(UnitCommandResult)> TMainForm::commandDone(const QString& what, bool sayDone,
                                                              TransferWhat writes) {
    const uint64_t generation = connection_->generation();
    QPointer<TMainForm> self(this);
    const ConnectionSettings settings = settings_;
    return [self, generation, what, sayDone, settings, writes](UnitCommandResult r) {
        // A result of a connection that has ended says nothing to the next one.
        if (!self || !self->connection_->isCurrent(generation)) return;
        if (r.acknowledged) {
            if (sayDone) kt::showMessage("Done", "Finished Command", MessageOk, self);
            return;
        }
        const TransferWhat transfer =
            r.registersWritten ? TransferWhat{TransferWhat::Command, r.command, 1} : writes;
        QString detail = QString::fromStdString(
            describeLinkResult(r.link, settings.slaveAddress, linkName(settings), transfer));
        if (r.link.sent && r.registersWritten && r.link.status != LinkStatus::Exception)
            detail += ". The command was sent once; the unit may still have carried it out.";
        kt::showMessage(what + " failed:\n" + detail, "Command Failed", MessageOk, self);
    };
}

void TMainForm::ZSCTRating1Click() {
    CtDialogContext context;
    context.legacyUnit = legacyUnit();
    context.targetRegister = CtRatingRegister;
    // A current unit gets the effective primary through the Configuration page, which marks the
    // row, logs the write and reports a failure.
    context.writeValue = [this](int32_t value, int reg) {
        return configuration_->writeCtPrimary(value, reg);
    };
    context.panels = &selectionPanels();
    context.windowColour = windowColour_;
    if (openCtDialog(this, selection_, context)) portSelectionChanged_ = true;
    savePreferences();
}

void TMainForm::VoltageSetting1Click() {
    if (!legacyUnit()) return; // a current unit reports its own voltage setting
    if (openVoltageDialog(this, selection_, legacyUnit(), &selectionPanels(), windowColour_))
        portSelectionChanged_ = true;
    savePreferences();
}

void TMainForm::mnuSetDateClick() {
    if (!commandMonitor()) return;
    if (kt::showMessage("Use the time and date on this computer to set the KT-740 clock?", "Set Date//Time",
                        MessageYesNo, this) != MessageResult::Yes)
        return;
    // The link may have gone while the question was open.
    if (Monitor_Thread* m = commandMonitor())
        m->setClock(commandDone("Set Date/Time", false, {TransferWhat::Write, 150, 4}));
}

void TMainForm::ResettoDefaults1Click() {
    // "Done" only once the unit has acknowledged the command.
    if (Monitor_Thread* m = commandMonitor()) m->resetToDefaults(commandDone("Reset to Defaults", true));
}

void TMainForm::mnuRemoteCalClick() {
    if (Monitor_Thread* m = commandMonitor()) m->remoteCalibration(commandDone("Remote Calibration", false));
}

void TMainForm::DumpDiagnosticsFiletoSDCard1Click() {
    if (Monitor_Thread* m = commandMonitor())
        m->dumpDiagnostics(commandDone("Dump Diagnostics File to SDCard", false));
}

void TMainForm::ProgramSettings1Click() {
    showProgramSettings(this, working_, windowColour_);
    savePreferences();
}

void TMainForm::Change_Datalog_Settings() {
    datalog_->Change_Datalog_Settings();
    followDatalogFolder();
}

void TMainForm::followDatalogFolder() {
    // The setting write log sits beside the data log; until a folder is chosen, the program's.
    const std::string& folder = datalog_->settings().datalogFolder;
    configuration_->setWriteLogFolder(folder.empty() ? programFolder_ : QString::fromStdString(folder));
}

void TMainForm::OpenDatalog1Click() {
    datalog_->openDatalogClick();
}

void TMainForm::LiveTrend1Click() {
    datalog_->showLiveTrend();
}

void TMainForm::About1Click() {
    TAboutBox box(this, windowColour_);
    box.exec();
}

} // namespace kt
