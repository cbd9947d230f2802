#include "ui/main_form.h"

#include "iec61850/icd_parser.h"
#include "link/platform/serial_port.h"
#include "prefs/qsettings_store.h"
#include "ui/about_box.h"
#include "ui/address_text.h"
#include "ui/gui_dispatcher.h"
#include "ui/message_box.h"
#include "ui/selection_dialogs.h"
#include "ui/settings_dialog.h"
#include "ui/status_panel.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <string_view>

namespace kt {

namespace {

const QColor Red(255, 0, 0);
const QColor Yellow(255, 255, 0);
const QColor Lime(0, 255, 0);
const QColor White(255, 255, 255);
const QColor PanelBlack(0, 0, 0);
const QColor PanelText(192, 192, 192);

constexpr const char* PortNotFoundMark = "  (not found)";
constexpr const char* OfflineText = "OFFLINE";
constexpr const char* ConnectingText = "Connecting";
constexpr const char* OnlineText = "ONLINE";

// The port list asks the drop-down to refresh itself just before it opens.
class PortComboBox : public QComboBox {
public:
    using QComboBox::QComboBox;
    std::function<void()> beforePopup;
    void showPopup() override {
        if (beforePopup) beforePopup();
        QComboBox::showPopup();
    }
};

std::optional<int> toInt(const std::string& text) {
    bool ok = false;
    int v = QString::fromStdString(text).trimmed().toInt(&ok);
    if (!ok) return std::nullopt;
    return v;
}

std::optional<double> toDouble(const std::string& text) {
    bool ok = false;
    double v = QString::fromStdString(text).trimmed().toDouble(&ok);
    if (!ok) return std::nullopt;
    return v;
}

QString twoDecimals(double v) {
    return QString::number(v, 'f', 2);
}

// The labels of the register file the status refresh reacts to.
enum class LabelRule {
    ModelType,
    CommCode,
    SerialNumber,
    FirmwareVersion,
    VnLevel,
    Sensor,
    CtNominal,
    NgrCurrent,
    NgrVoltage,
};

struct LabelEntry {
    std::string_view label;
    LabelRule rule;
};

constexpr LabelEntry LabelRules[] = {
    {"DB_MODEL_TYPE", LabelRule::ModelType},
    {"DB_COMM_CODE", LabelRule::CommCode},
    {"DB_SERIAL_NUMBER", LabelRule::SerialNumber},
    {"DB_FIRMWARE_VERSION", LabelRule::FirmwareVersion},
    {"DB_VNLEVEL", LabelRule::VnLevel},
    {"DB_SENSOR", LabelRule::Sensor},
    {"DB_CT_NOMINAL", LabelRule::CtNominal},
    {"DB_NGRCURRENT", LabelRule::NgrCurrent},
    {"DB_NGRVOLTAGE", LabelRule::NgrVoltage},
};

constexpr int LabelPassLastRegister = 99;

std::optional<LabelRule> ruleFor(const std::string& label) {
    // The model type label is matched whatever its case: older files spell it in lower case.
    std::string upper = label;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (upper == "DB_MODEL_TYPE") return LabelRule::ModelType;
    for (const LabelEntry& e : LabelRules)
        if (e.label == label) return e.rule;
    return std::nullopt;
}

} // namespace

QString portNameOfItem(const QString& item) {
    // Port names never hold two blanks and a parenthesis, so everything from there is a mark.
    int mark = item.indexOf("  (");
    return mark < 0 ? item : item.left(mark);
}

// ---- hand-over from the engine ----

// One per connection: forwards the engine's notifications while its connection is the current
// one and drops them afterwards, so a connection that is still ending cannot touch the display of
// the next one.
class TMainForm::ConnectionNotifier : public MonitorNotifier {
public:
    ConnectionNotifier(TMainForm& window, uint64_t generation) : window_(window), generation_(generation) {}

    void passCompleted(PassSnapshotPtr pass) override {
        if (window_.isCurrent(generation_)) window_.UpdateUnitStatus(std::move(pass));
    }
    void identificationFailed(const std::string&) override {
        if (window_.isCurrent(generation_)) window_.startFallbackTimer();
    }
    void showMessage(const std::string& text, const std::string& title) override {
        window_.engineMessage(generation_, text, title);
    }

private:
    TMainForm& window_;
    const uint64_t generation_;
};

void TMainForm::engineMessage(uint64_t generation, const std::string& text, const std::string& title) {
    // The engine hands its messages over to the GUI thread like every other notification.
    if (isCurrent(generation))
        kt::showMessage(QString::fromStdString(text), QString::fromStdString(title), MessageOk, this);
}

// ---- construction and start-up ----

TMainForm::TMainForm(MainFormOptions options)
    : store_(options.store), programFolder_(options.programFolder),
      monitorOptions_(std::move(options.monitor)), ComPort1(std::make_unique<platform::SerialPort>()) {
    setObjectName("TMainForm");
    if (programFolder_.isEmpty()) programFolder_ = QCoreApplication::applicationDirPath();
    if (monitorOptions_.resourcesFolder.empty())
        monitorOptions_.resourcesFolder = (programFolder_ + "/resources").toStdString();
    if (!store_) {
        ownStore_ = std::make_unique<QSettingsPreferencesStore>();
        store_ = ownStore_.get();
    }
    help_ = HelpLauncher(programFolder_);
    dispatcher_ = new QtGuiDispatcher(this);

    buildMenus();
    buildPages();
    buildStatusBars();
    Communications_GB->hide(); // until the port list is built
    setWindowTitle("KT-MON740");
    resize(900, 600);

    status_Timer = new QTimer(this);
    status_Timer->setObjectName("status_Timer");
    status_Timer->setInterval(StatusTimerMs);
    connect(status_Timer, &QTimer::timeout, this, &TMainForm::status_TimerTimer);
    TerminateTimer = new QTimer(this);
    TerminateTimer->setObjectName("TerminateTimer");
    TerminateTimer->setInterval(FallbackDelayMs);
    connect(TerminateTimer, &QTimer::timeout, this, &TMainForm::TerminateTimerTimer);
    reapTimer_ = new QTimer(this);
    reapTimer_->setInterval(100);
    connect(reapTimer_, &QTimer::timeout, this, &TMainForm::reapRetiredThreads);

    startUp(options.connectLink);
}

TMainForm::~TMainForm() {
    status_Timer->stop();
    TerminateTimer->stop();
    retireMonitor();
    for (Connection& c : retired_) c.thread->requestStop();
    // Each thread ends after its current step; its destructor waits for that.
    retired_.clear();
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
    File1 = menu("File1", "File");
    Exit1 = item(File1, "Exit1", "Exit", nullptr);
    connect(Exit1, &QAction::triggered, this, &QWidget::close);

    Edit1 = menu("Edit1", "Edit");
    ProgramSettings1 = item(Edit1, "ProgramSettings1", "Program Settings", &TMainForm::ProgramSettings1Click);

    SystemParameters1 = menu("SystemParameters1", "System");
    ZSCTRating1 = item(SystemParameters1, "ZSCTRating1", "Earth-Fault CT", &TMainForm::ZSCTRating1Click);
    VoltageSetting1 =
        item(SystemParameters1, "VoltageSetting1", "Voltage Setting", &TMainForm::VoltageSetting1Click);
    mnuSetDate = item(SystemParameters1, "mnuSetDate", "Set Date/Time", &TMainForm::mnuSetDateClick);
    ResettoDefaults1 =
        item(SystemParameters1, "ResettoDefaults1", "Reset to Defaults", &TMainForm::ResettoDefaults1Click);
    mnuRemoteCal =
        item(SystemParameters1, "mnuRemoteCal", "Remote Calibration", &TMainForm::mnuRemoteCalClick);
    DumpDiagnosticsFiletoSDCard1 =
        item(SystemParameters1, "DumpDiagnosticsFiletoSDCard1", "Dump Diagnostics File to SDCard",
             &TMainForm::DumpDiagnosticsFiletoSDCard1Click);

    DataLogging1 = menu("DataLogging1", "Data Logging");
    Datalog_Settings = item(DataLogging1, "Datalog_Settings", "Settings", nullptr);
    // The data log and its settings dialog are not part of the program yet.
    Datalog_Settings->setEnabled(false);

    Help1 = menu("Help1", "Help");
    SetpointAssistant1 = item(Help1, "SetpointAssistant1", "Setpoint Assistant", nullptr);
    connect(SetpointAssistant1, &QAction::triggered, this, [this] { help_.SetpointAssistant1Click(this); });
    Help2 = item(Help1, "Help2", "Contents", nullptr);
    connect(Help2, &QAction::triggered, this, [this] { help_.Help2Click(this); });
    About1 = item(Help1, "About1", "About", &TMainForm::About1Click);
}

void TMainForm::buildPages() {
    auto* central = new QWidget(this);
    central->setObjectName("MainPanel");
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(4, 4, 4, 0);
    column->setSpacing(2);

    PageControl1 = new QTabWidget(central);
    PageControl1->setObjectName("PageControl1");
    auto page = [this](QWidget*& member, const char* name, const char* caption) {
        member = new QWidget;
        member->setObjectName(name);
        PageControl1->addTab(member, caption);
    };
    page(TabCommunication, "TabCommunication", "Communication");
    page(Tab_Summary, "Tab_Summary", "Summary");
    page(TabSheet2, "TabSheet2", "Detailed Status and Config");
    page(TabSheet4, "TabSheet4", "Detailed Status");
    page(Config_Sheet, "Config_Sheet", "Configuration");
    page(TabSheet3, "TabSheet3", "Event Records");
    page(TabSheet5, "TabSheet5", "Event Records");
    page(Tab61850, "Tab61850", "IEC 61850");
    column->addWidget(PageControl1, 1);

    // Communication: the link type and its port or address, and Enable.
    Communications_GB = new QGroupBox("Communications", TabCommunication);
    Communications_GB->setObjectName("Communications_GB");
    auto* grid = new QGridLayout(Communications_GB);
    network_CB = new QComboBox(Communications_GB);
    network_CB->setObjectName("network_CB");
    network_CB->addItems({"Serial/USB", "Modbus TCP"});
    auto* linkLabel = new QLabel("Link", Communications_GB);
    linkLabel->setObjectName("network_L");
    com_L = new QLabel("Comport", Communications_GB);
    com_L->setObjectName("com_L");
    auto* ports = new PortComboBox(Communications_GB);
    ports->beforePopup = [this] { refreshPortList(); };
    comport_CB = ports;
    comport_CB->setObjectName("comport_CB");
    comport_CB->setMinimumWidth(220);
    ip_L = new QLabel("IP Address", Communications_GB);
    ip_L->setObjectName("ip_L");
    ip_E = new QLineEdit(Communications_GB);
    ip_E->setObjectName("ip_E");
    ip_E->setPlaceholderText("192.168.0.100 or 192.168.0.100:502");
    ip_E->setMaxLength(21); // "255.255.255.255:65535"
    Comm_Button = new QPushButton("Enable", Communications_GB);
    Comm_Button->setObjectName("Comm_Button");
    grid->addWidget(linkLabel, 0, 0);
    grid->addWidget(network_CB, 0, 1);
    grid->addWidget(com_L, 1, 0);
    grid->addWidget(comport_CB, 1, 1);
    grid->addWidget(ip_L, 2, 0);
    grid->addWidget(ip_E, 2, 1);
    grid->addWidget(Comm_Button, 3, 1, Qt::AlignLeft);
    ip_L->hide();
    ip_E->hide();
    connect(network_CB, &QComboBox::currentIndexChanged, this, &TMainForm::network_CBChange);
    // Only the operator's choice counts as a port change, not the list being rebuilt.
    connect(comport_CB, &QComboBox::activated, this, &TMainForm::comport_CBChange);
    connect(Comm_Button, &QPushButton::clicked, this, &TMainForm::Comm_ButtonClick);
    auto* commLayout = new QVBoxLayout(TabCommunication);
    commLayout->addWidget(Communications_GB, 0, Qt::AlignLeft | Qt::AlignTop);
    commLayout->addStretch(1);

    // Configuration: the essential-settings notice (the grid joins it).
    RichEdit1 = new QTextEdit(Config_Sheet);
    RichEdit1->setObjectName("RichEdit1");
    RichEdit1->setReadOnly(true);
    auto* configLayout = new QVBoxLayout(Config_Sheet);
    configLayout->addWidget(RichEdit1);

    // IEC 61850: the device type list of the templates (the editor joins it).
    DevTypeComboBox = new QComboBox(Tab61850);
    DevTypeComboBox->setObjectName("DevTypeComboBox");
    DevTypeComboBox->hide();
    auto* iecLayout = new QVBoxLayout(Tab61850);
    iecLayout->addWidget(DevTypeComboBox);
    iecLayout->addStretch(1);

    setCentralWidget(central);
}

void TMainForm::buildStatusBars() {
    auto* column = static_cast<QVBoxLayout*>(centralWidget()->layout());
    auto bar = [this](QWidget*& member, const char* name) {
        member = new QWidget(centralWidget());
        member->setObjectName(name);
        auto* row = new QHBoxLayout(member);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(2);
        return row;
    };
    auto panel = [](QHBoxLayout* row, QWidget* parent, const char* name, const char* text, int stretch) {
        auto* p = new StatusPanel(name, text, parent);
        row->addWidget(p, stretch);
        return p;
    };

    QHBoxLayout* top = bar(TopStatus_P, "TopStatus_P");
    ct_primary_P = panel(top, TopStatus_P, "ct_primary_P", "", 2);
    ct_secondary_P = panel(top, TopStatus_P, "ct_secondary_P", "", 2);
    ef_connection_P = panel(top, TopStatus_P, "ef_connection_P", "Select CT", 3);
    zsct_P = panel(top, TopStatus_P, "zsct_P", "", 2);
    voltage_P = panel(top, TopStatus_P, "voltage_P", "Select Voltage", 3);
    packetcount_P = panel(top, TopStatus_P, "packetcount_P", "Packets: 0000000", 2);
    TopStatus_P->hide();
    column->addWidget(TopStatus_P);

    QHBoxLayout* bottom = bar(Status_P, "Status_P");
    diagnostic_P = panel(bottom, Status_P, "diagnostic_P", "", 3);
    version_P = panel(bottom, Status_P, "version_P", "", 3);
    unit_P = panel(bottom, Status_P, "unit_P", "", 2);
    network_P = panel(bottom, Status_P, "network_P", "", 3);
    trip_P = panel(bottom, Status_P, "trip_P", "", 2);
    netstatus_P = panel(bottom, Status_P, "netstatus_P", OfflineText, 2);
    datalog_P = panel(bottom, Status_P, "datalog_P", "", 3);
    column->addWidget(Status_P);

    netstatus_P->setCursor(Qt::PointingHandCursor);
    connect(netstatus_P, &StatusPanel::clicked, this, &TMainForm::connectOrDisconnect);
    for (StatusPanel* p : {ct_primary_P, ct_secondary_P, ef_connection_P, zsct_P}) {
        p->setCursor(Qt::PointingHandCursor);
        connect(p, &StatusPanel::clicked, this, &TMainForm::ZSCTRating1Click);
    }
    voltage_P->setCursor(Qt::PointingHandCursor);
    connect(voltage_P, &StatusPanel::clicked, this, &TMainForm::VoltageSetting1Click);
}

void TMainForm::applyColours() {
    QPalette p = palette();
    p.setColor(QPalette::Window, windowColour_);
    setPalette(p);
    setAutoFillBackground(true);
    for (StatusPanel* panel :
         {voltage_P, zsct_P, ef_connection_P, ct_primary_P, ct_secondary_P, packetcount_P}) {
        panel->setBackground(White);
        panel->setTextColour(Qt::black);
    }
    // The lower bar shows state in bright text colours, which read on black.
    for (StatusPanel* panel : {diagnostic_P, version_P, unit_P, network_P, trip_P, netstatus_P, datalog_P}) {
        panel->setBackground(PanelBlack);
        panel->setTextColour(PanelText);
    }
    for (QComboBox* combo : {comport_CB, network_CB}) {
        QPalette cp = combo->palette();
        cp.setColor(QPalette::Base, White);
        cp.setColor(QPalette::Button, White);
        combo->setPalette(cp);
    }
}

void TMainForm::startUp(const std::optional<ConnectionSettings>& connectLink) {
    ProgramPreferences stored;
    // A store that cannot be written or read leaves the defaults in effect; the window works
    // with them and tries to store again at the next save.
    if (!preferencesExist(*store_)) (void)writeDefaultPreferences(*store_);
    (void)loadPreferences(stored, *store_);

    disconnect();
    PageControl1->setCurrentWidget(TabCommunication);
    setWindowTitle("KT-MON740: Main Page");
    applyColours();

    applyPreferences(stored);

    if (connectLink) {
        selectLink(*connectLink);
        connectOrDisconnect();
    } else if (working_.running) {
        connectOrDisconnect();
    }
    savePreferences();
    loadDeviceTypes();
}

void TMainForm::applyPreferences(const ProgramPreferences& stored) {
    WorkingPreferences w = kt::workingPreferences(stored, programFolder_.toStdString());
    working_ = w.values;
    if (w.restorePosition) restorePosition(working_.Left, working_.Top);
    loadSelection(selection_, working_);

    setNetStatus(OfflineText, Red);
    ApplyModelCaptions();
    // A stored device that the system does not enumerate (a /dev/serial/by-id link, a
    // pseudo-terminal) is still the operator's choice while it exists.
    const QString storedPort = QString::fromStdString(working_.port);
    if (storedPort.startsWith('/') && QFileInfo::exists(storedPort) && !extraPorts_.contains(storedPort))
        extraPorts_ << storedPort;
    refreshPortList();
    selectPortItem(QString::fromStdString(working_.port));
    ip_E->setText(QString::fromStdString(working_.ip_address));
    network_CB->setCurrentIndex(working_.network);
    network_CBChange();
    network_P->setText(working_.network == 0 ? selectedPortName() : ip_E->text());
    writeEssentialSettingsNotice();
}

void TMainForm::restorePosition(int left, int top) {
    // A position stored on a monitor that is gone would put the window out of reach.
    if (!QGuiApplication::screenAt(QPoint(left, top))) return;
    move(left, top);
}

void TMainForm::writeEssentialSettingsNotice() {
    RichEdit1->clear();
    QTextCursor c(RichEdit1->document());
    QTextCharFormat heading;
    heading.setForeground(Red);
    heading.setFontWeight(QFont::Bold);
    QTextCharFormat plain;
    plain.setForeground(Qt::black);
    QTextCharFormat underlined = plain;
    underlined.setFontUnderline(true);
    c.insertText("IMPORTANT\n\n", heading);
    c.insertText("This KT-740 Series product contains firmware that enables new functionality, and more "
                 "information is required about the system configuration for these new functions to "
                 "operate correctly. It is important that each parameter listed on this screen is reviewed "
                 "carefully before proceeding. After verifying these parameters, set the ",
                 plain);
    c.insertText("Essential Settings Verified", underlined);
    c.insertText(" parameter to ", plain);
    c.insertText("Settings Verified.\n\n", underlined);
    c.insertText("This step must be completed before KT-MON740 will display the complete set of parameters "
                 "and status information from the unit.\n\n",
                 plain);
    c.insertText("As a reminder, the KT-740 Series products must be calibrated after installation to ensure "
                 "correct operation.\n\n",
                 plain);
    c.insertText("For questions about calibration or the new functionality, please consult the appropriate "
                 "KT-740 Series Manual or contact Corvane Relays technical support, "
                 "support@corvane-relays.example, +1 555 0100 740.",
                 plain);
    RichEdit1->moveCursor(QTextCursor::Start);
}

void TMainForm::loadDeviceTypes() {
    QDir resources(programFolder_ + "/resources");
    const QStringList files = resources.entryList({"*.icd"}, QDir::Files, QDir::Name);
    DevTypeComboBox->clear();
    for (const QString& file : files)
        DevTypeComboBox->addItem(QFileInfo(file).completeBaseName(), resources.filePath(file));
    if (files.isEmpty()) return;
    DevTypeComboBox->setCurrentIndex(0);
    const QString path = DevTypeComboBox->itemData(0).toString();
    try {
        parser_ = std::make_unique<TICDParser>(path.toStdString(), -1);
    } catch (const std::exception& e) {
        // The window works without a template; the IEC 61850 page then has nothing to edit.
        kt::showMessage(
            QString("The device template %1 cannot be read:\n%2").arg(path, QString::fromUtf8(e.what())),
            "error", MessageOk, this);
    }
}

// ---- preferences ----

void TMainForm::savePreferences() {
    saveSelection(selection_, working_);
    working_.network = network_CB->currentIndex() == 0 ? 0 : 1;
    working_.ip_address = ip_E->text().toStdString();
    working_.Top = pos().y();
    working_.Left = pos().x();
    // A store that cannot be written keeps the working values for this session only; there is
    // nothing the operator could do about it here.
    (void)storePreferences(working_, *store_);
}

// ---- ports ----

bool TMainForm::refreshPortList() {
    const QString keep = selectedPortName();
    comport_CB->clear();
    QStringList names;
    for (const std::string& p : platform::listSerialPorts()) names << QString::fromStdString(p);
    for (const QString& extra : extraPorts_)
        if (!names.contains(extra)) names << extra;
    for (const QString& name : names) {
        platform::SerialPort probe;
        switch (probe.open(platform::SerialPort::devicePath(name.toStdString()))) {
        case platform::SerialOpenResult::Ok:
            probe.close();
            comport_CB->addItem(name);
            break;
        case platform::SerialOpenResult::Busy:
            comport_CB->addItem(name + PortInUseMark);
            break;
        case platform::SerialOpenResult::NotFound:
            comport_CB->addItem(name + PortNotFoundMark);
            break;
        case platform::SerialOpenResult::Failed:
            comport_CB->addItem(name + PortNoAccessMark);
            break;
        }
    }
    if (comport_CB->count() > 0) selectPortItem(keep);
    Communications_GB->show();
    return comport_CB->count() > 0;
}

void TMainForm::selectPortItem(const QString& port) {
    for (int i = 0; i < comport_CB->count(); ++i) {
        if (portNameOfItem(comport_CB->itemText(i)) == port) {
            comport_CB->setCurrentIndex(i);
            return;
        }
    }
    if (comport_CB->count() > 0) comport_CB->setCurrentIndex(0);
}

QString TMainForm::selectedPortName() const {
    return portNameOfItem(comport_CB->currentText());
}

void TMainForm::selectSerialPort(const QString& device) {
    if (!extraPorts_.contains(device)) {
        bool listed = false;
        for (int i = 0; i < comport_CB->count(); ++i)
            listed = listed || portNameOfItem(comport_CB->itemText(i)) == device;
        if (!listed) {
            extraPorts_ << device;
            comport_CB->addItem(device);
        }
    }
    network_CB->setCurrentIndex(0);
    selectPortItem(device);
    network_P->setText(device);
    working_.port = device.toStdString();
}

void TMainForm::selectLink(const ConnectionSettings& link) {
    if (link.linkType == LinkModbusTcp) {
        network_CB->setCurrentIndex(1);
        ip_E->setText(QString::fromStdString(formatIpv4Endpoint({link.ipAddress, link.tcpPort})));
    } else {
        selectSerialPort(QString::fromStdString(link.portName));
    }
}

void TMainForm::network_CBChange() {
    bool serial = network_CB->currentIndex() == 0;
    com_L->setVisible(serial);
    comport_CB->setVisible(serial);
    ip_L->setVisible(!serial);
    ip_E->setVisible(!serial);
}

void TMainForm::comport_CBChange() {
    const QString port = selectedPortName();
    network_P->setText(port);
    working_.port = port.toStdString();
    portSelectionChanged_ = true;
}

// ---- connecting ----

void TMainForm::connectOrDisconnect() {
    Comm_Button->setEnabled(false);
    settings_.slaveAddress = DefaultSlaveAddress;
    const bool tcp = network_CB->currentIndex() != 0;
    if (tcp) {
        settings_.linkType = LinkModbusTcp;
        legacyUnit_ = false;
    } else {
        settings_.linkType = LinkSerialRtu;
    }
    if (linkActive_) {
        disconnect();
    } else if (tcp ? prepareTcpLink() : prepareSerialLink()) {
        goOnline();
    }
    Comm_Button->setEnabled(true);
    // An empty list (the adapter unplugged) keeps the port the operator chose last.
    if (const QString port = selectedPortName(); !port.isEmpty()) working_.port = port.toStdString();
    savePreferences();
}

bool TMainForm::prepareTcpLink() {
    const QString text = ip_E->text();
    auto endpoint = parseIpv4Endpoint(text.toStdString());
    if (!endpoint) {
        kt::showMessage(QString::fromStdString(notAnIpAddressText(text.toStdString())), "error", MessageOk,
                        this);
        return false;
    }
    settings_.ipAddress = endpoint->address;
    settings_.tcpPort = endpoint->port;
    network_P->setText(QString::fromStdString(formatIpv4Endpoint(*endpoint)));
    return true;
}

bool TMainForm::prepareSerialLink() {
    const QString port = selectedPortName();
    bool opened = false;
    if (!port.isEmpty()) {
        comPortName_ = port;
        opened = ComPort1->open(platform::SerialPort::devicePath(port.toStdString())) ==
                 platform::SerialOpenResult::Ok;
        ComPort1->close();
    }
    if (!opened) {
        kt::showMessage("Cannot Open ComPort.", "error", MessageOk, this);
        disconnect();
        refreshPortList();
        return false;
    }
    network_P->setText(port);
    settings_.baudRate = DefaultBaudRate;
    settings_.portName = port.toStdString();
    return true;
}

void TMainForm::goOnline() {
    Comm_Button->setText("Disable");
    comport_CB->setEnabled(false);
    network_CB->setEnabled(false);
    ip_E->setEnabled(false);
    setNetStatus(ConnectingText, Yellow);
    unit_P->setText("");

    working_.running = true;
    linkActive_ = true;
    refreshCount_ = 0;
    packetCount_ = 0;
    passSinceLastTick_ = false;
    // A silence count left over from the last connection would cut this one short.
    silenceMs_ = 0;
    datalogHeaderPending_ = true;
    lastRecordHead_ = -1;
    lastRecordCount_ = -1;

    status_Timer->start();
    setStatusPanelsEnabled(false);
    if (!startMonitor()) return;
    setMenuShown(DataLogging1, true);
    setMenuShown(Edit1, true);
    setMenuShown(SystemParameters1, true);
}

bool TMainForm::startMonitor() {
    const uint64_t generation = ++generation_;
    Connection c;
    c.notifier = std::make_unique<ConnectionNotifier>(*this, generation);
    try {
        // An earlier thread that is still ending is waited for by the engine, not here.
        c.thread = std::make_unique<Monitor_Thread>(settings_, *c.notifier, *dispatcher_, monitorOptions_);
    } catch (const std::exception& e) {
        kt::showMessage(QString("The connection could not be started: %1").arg(QString::fromUtf8(e.what())),
                        "error", MessageOk, this);
        disconnect();
        return false;
    }
    connection_ = std::move(c);
    return true;
}

void TMainForm::retireMonitor() {
    ++generation_; // from here on the old connection's notifications are dropped
    if (!connection_.thread) return;
    connection_.thread->requestStop();
    retired_.push_back(std::move(connection_));
    connection_ = {};
    if (!reapTimer_->isActive()) reapTimer_->start();
}

void TMainForm::reapRetiredThreads() {
    std::erase_if(retired_, [](const Connection& c) { return c.thread->idle(); });
    if (retired_.empty()) reapTimer_->stop();
}

Monitor_Thread* TMainForm::monitorThread() const {
    return linkActive_ ? connection_.thread.get() : nullptr;
}

void TMainForm::disconnect() {
    Comm_Button->setEnabled(false);
    comport_CB->setEnabled(true);
    network_CB->setEnabled(true);
    ip_E->setEnabled(true);
    status_Timer->stop();
    // A fallback still pending belongs to the connection being left.
    TerminateTimer->stop();
    for (StatusPanel* p : {version_P, trip_P, diagnostic_P, datalog_P}) p->setText("");
    refreshCount_ = 0;
    packetCount_ = 0;
    lastPass_.reset();

    if (ComPort1->isOpen()) ComPort1->close();
    retireMonitor();

    network_P->setText(comPortName_.isEmpty() ? selectedPortName() : comPortName_);
    setNetStatus(OfflineText, Red);

    for (QWidget* page : {Tab_Summary, TabSheet2, TabSheet4, Config_Sheet, TabSheet3, TabSheet5})
        setPageShown(page, false);
    setPageShown(Tab61850, true);
    legacyUnit_ = false;
    linkActive_ = false;
    working_.running = false;
    VoltageSetting1->setVisible(true);
    mnuRemoteCal->setVisible(true);
    TopStatus_P->hide();

    clearEditorTabs();
    ClearStatusDisplay();

    Comm_Button->setText("Enable");
    Comm_Button->setEnabled(true);
    setMenuShown(DataLogging1, false);
    setMenuShown(Edit1, false);
    setMenuShown(SystemParameters1, false);
    PageControl1->setCurrentWidget(TabCommunication);
    setStatusPanelsEnabled(true);
}

void TMainForm::setStatusPanelsEnabled(bool on) {
    for (QWidget* bar : {Status_P, TopStatus_P})
        for (StatusPanel* p : bar->findChildren<StatusPanel*>()) p->setEnabled(on);
    SystemParameters1->menuAction()->setEnabled(on);
}

// ---- silence watch and fallback ----

void TMainForm::status_TimerTimer() {
    if (passSinceLastTick_ || transferInProgress) {
        silenceMs_ = 0;
    } else {
        silenceMs_ += StatusTimerMs;
        ClearStatusDisplay();
        setNetStatus(ConnectingText, Yellow);
    }
    if (silenceMs_ > SilenceLimitMs) {
        silenceMs_ = 0;
        disconnect();
        status_Timer->stop();
        kt::showMessage("There were no communications for 30 seconds.\nThe unit has been disconnected.",
                        "Communications Error", MessageOk, this);
    }
    passSinceLastTick_ = false;
}

void TMainForm::startFallbackTimer() {
    TerminateTimer->start();
}

void TMainForm::TerminateTimerTimer() {
    TerminateTimer->stop();
    startLegacyMonitor();
}

void TMainForm::startLegacyMonitor() {
    disconnect();
    kt::showMessage("Error connecting to the KT-740", "Cannot Connect", MessageOk, this);
    if (ComPort1->isOpen()) ComPort1->close();
}

// ---- closing ----

void TMainForm::closeEvent(QCloseEvent* event) {
    if (working_.show_prompt && portSelectionChanged_) showProgramSettings(this, working_, windowColour_);
    savePreferences();
    disconnect();
    event->accept();
}

// ---- status views ----

void TMainForm::setNetStatus(const QString& text, const QColor& colour) {
    netstatus_P->setText(text);
    netstatus_P->setTextColour(colour);
}

void TMainForm::setPageShown(QWidget* page, bool shown) {
    PageControl1->setTabVisible(PageControl1->indexOf(page), shown);
}

void TMainForm::setMenuShown(QMenu* menu, bool shown) {
    menu->menuAction()->setVisible(shown);
}

void TMainForm::UpdateUnitStatus(PassSnapshotPtr pass) {
    if (!pass) return;
    lastPass_ = std::move(pass);
    passSinceLastTick_ = true;
    setNetStatus(OnlineText, Lime);
    ++refreshCount_;
    ++packetCount_;
    if (refreshCount_ == 1) setStatusPanelsEnabled(true);

    {
        const int v = lastPass_->firmwareVersion() & 0x7FFF;
        mnuRemoteCal->setVisible(v >= 230);
        DumpDiagnosticsFiletoSDCard1->setVisible(v >= 270);
        extendedStatusBits_ = v >= 270;
        const bool configured = lastPass_->register199Flag();
        if (configured != unitConfigured_) {
            packetCount_ = 1; // the pages follow the unit into or out of the essential settings
            unitConfigured_ = configured;
        }
    }
    if (lastPass_->networkInputs) updateNetworkInputs(*lastPass_->networkInputs);
    if (packetCount_ == 1) layoutPages();

    labelPass();
    computeCurrentUnitAmpsVolts(selection_, ngrCurrentPercent_, ngrVoltagePercent_);
    ApplyModelCaptions();

    TopStatus_P->show();
    packetcount_P->setText(QString("Packets: %1").arg(refreshCount_ % 10000000, 7, 10, QChar('0')));
}

void TMainForm::layoutPages() {
    if (!unitConfigured_) PageControl1->setCurrentWidget(Config_Sheet);
    for (QWidget* page : {Tab_Summary, TabSheet4, TabSheet5, Config_Sheet}) setPageShown(page, true);
    for (QWidget* page : {TabSheet2, TabSheet3}) setPageShown(page, false);
    network_P->setEnabled(true);
    SystemParameters1->menuAction()->setEnabled(true);
    VoltageSetting1->setVisible(false);
    ef_connection_P->setText("");
    if (unitConfigured_) {
        PageControl1->setCurrentWidget(PageControl1->currentWidget() == TabCommunication ? Tab_Summary
                                                                                         : Config_Sheet);
        RichEdit1->hide();
    } else {
        RichEdit1->show();
        for (QWidget* page : {Tab_Summary, TabSheet4, TabSheet5, Tab61850}) setPageShown(page, false);
    }
}

void TMainForm::labelPass() {
    for (int reg = 0; reg <= LabelPassLastRegister && reg < RegisterTableSize; ++reg) {
        const RegisterValue& entry = lastPass_->values[reg];
        if (entry.label.empty()) continue;
        auto rule = ruleFor(entry.label);
        if (!rule) continue;
        const std::string& value = entry.value;
        // A value the unit did not deliver ("--") changes nothing.
        auto number = toInt(value);
        switch (*rule) {
        case LabelRule::ModelType:
            if (number)
                selection_.model_type = *number == 2   ? ModelKt740AU
                                        : *number == 3 ? ModelKt740HV
                                                       : ModelKt740;
            break;
        case LabelRule::CommCode:
            setPageShown(Tab61850, number && *number >= 6 && *number <= 8);
            break;
        case LabelRule::SerialNumber:
            serialNumberText_ = value;
            break;
        case LabelRule::FirmwareVersion:
            if (!number) break;
            if (*number & 0x8000)
                version_P->setText("Prototype Version: " + twoDecimals((*number & 0x7FFF) / 100.0));
            else if (auto f = toDouble(value))
                version_P->setText("Firmware Version: " + twoDecimals(*f / 100.0));
            break;
        case LabelRule::VnLevel:
            if (!number) break;
            selection_.voltage = *number;
            selection_.voltage_selected = true;
            break;
        case LabelRule::Sensor: {
            // The sensing resistor decides the voltage multiplier; its value reads as the
            // resistor's rating from here on.
            const bool hv = selection_.model_type == ModelKt740HV;
            (void)hv;
            if (value == "1" || value == "0")
                selection_.voltageMultiplier = voltageMultiplierFor(selection_.model_type, value == "1");
            break;
        }
        case LabelRule::CtNominal:
            if (number) selection_.effectiveCtPrimary = *number;
            break;
        case LabelRule::NgrCurrent:
            if (number) ngrCurrentPercent_ = *number;
            break;
        case LabelRule::NgrVoltage:
            if (number) ngrVoltagePercent_ = *number;
            break;
        }
    }
}

void TMainForm::ApplyModelCaptions() {
    // The model's wording of the status pages comes here as the pages are filled in.
    refreshPanels();
}

void TMainForm::refreshPanels() {
    ObjectNameSelectionPanels panels(this);
    refreshSelectionPanels(selection_, legacyUnit_, panels);
}

void TMainForm::ClearStatusDisplay() {
    // Every value display of the Summary and legacy pages is named *_E.
    for (QWidget* page : {Tab_Summary, TabSheet2})
        for (QLabel* value : page->findChildren<QLabel*>())
            if (value->objectName().endsWith("_E")) value->setText("-----");
}

void TMainForm::clearEditorTabs() {
    // The IEC 61850 page has no editor fields yet; the template itself is kept.
}

void TMainForm::updateNetworkInputs(const NetworkInputs& inputs) {
    networkInputs_ = inputs;
}

// ---- menu commands ----

Monitor_Thread* TMainForm::commandMonitor() {
    Monitor_Thread* m = monitorThread();
    if (m && !legacyUnit_ && m->identified() && !m->stopRequested()) return m;
    kt::showMessage("This command needs a unit connected over Modbus. Connect the unit and try again.",
                    "Command Not Sent", MessageOk, this);
    return nullptr;
}

QString TMainForm::describeFailure(const LinkResult& result, const TransferWhat& what) const {
    return QString::fromStdString(
        describeLinkResult(result, settings_.slaveAddress, linkName(settings_), what));
}

std::function<void(UnitCommandResult)> TMainForm::commandDone(const QString& what, bool sayDone) {
    const uint64_t generation = generation_;
    QPointer<TMainForm> self(this);
    return [self, generation, what, sayDone](UnitCommandResult r) {
        // A result of a connection that has ended says nothing to the next one.
        if (!self || !self->isCurrent(generation)) return;
        if (r.acknowledged) {
            if (sayDone) kt::showMessage("Done", "Finished Command", MessageOk, self);
            return;
        }
        const TransferWhat transfer = r.registersWritten ? TransferWhat{TransferWhat::Command, r.command, 1}
                                                         : TransferWhat{TransferWhat::Write, 0, 0};
        QString detail = self->describeFailure(r.link, transfer);
        if (r.link.sent && r.registersWritten && r.link.status != LinkStatus::Exception)
            detail += ". The command was sent once; the unit may still have carried it out.";
        kt::showMessage(what + " failed:\n" + detail, "Command Failed", MessageOk, self);
    };
}

bool TMainForm::writeToUnit(int32_t value, int reg) {
    Monitor_Thread* m = monitorThread();
    if (!m || legacyUnit_ || !m->identified()) return false; // offline: the selection stays local
    const uint64_t generation = generation_;
    QPointer<TMainForm> self(this);
    m->writeValue(value, reg, [self, generation](WriteResult r) {
        if (!self || !self->isCurrent(generation) || r.link.ok()) return;
        kt::showMessage("Write Failed", "Write Failed", MessageOk, self);
    });
    return true;
}

void TMainForm::ZSCTRating1Click() {
    ObjectNameSelectionPanels panels(this);
    CtDialogContext context;
    context.legacyUnit = legacyUnit_;
    context.targetRegister = CtRatingRegister;
    context.writeValue = [this](int32_t value, int reg) { return writeToUnit(value, reg); };
    context.panels = &panels;
    context.windowColour = windowColour_;
    if (openCtDialog(this, selection_, context)) portSelectionChanged_ = true;
    savePreferences();
}

void TMainForm::VoltageSetting1Click() {
    if (!legacyUnit_) return; // a current unit reports its own voltage setting
    ObjectNameSelectionPanels panels(this);
    if (openVoltageDialog(this, selection_, legacyUnit_, &panels, windowColour_))
        portSelectionChanged_ = true;
    savePreferences();
}

void TMainForm::mnuSetDateClick() {
    if (!commandMonitor()) return;
    if (kt::showMessage("Use the time and date on this computer to set the KT-740 clock?", "Set Date//Time",
                        MessageYesNo, this) != MessageResult::Yes)
        return;
    // The link may have gone while the question was open.
    if (Monitor_Thread* m = commandMonitor()) m->setClock(commandDone("Set Date/Time", false));
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

void TMainForm::About1Click() {
    TAboutBox box(this, windowColour_);
    box.exec();
}

} // namespace kt
