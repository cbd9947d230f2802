// The main window without a unit: start-up, preferences, menus, link choice, port failures,
// closing, and the commands that need a unit.
#include "iec61850/icd_parser.h"
#include "link/platform/serial_port.h"
#include "tests/ui/main_form_fixture.h"
#include "ui/address_text.h"

#include <QGroupBox>
#include <QRadioButton>
#include <QSet>
#include <QTextEdit>

#include <pty.h>
#include <unistd.h>

namespace {

using kt::MessageResult;
using kt::test::MainFormTest;

const QString NoticeText =
    "IMPORTANT\n\nThis KT-740 Series product contains firmware that enables new functionality, and more "
    "information is required about the system configuration for these new functions to operate correctly. It "
    "is "
    "important that each parameter listed on this screen is reviewed carefully before proceeding. After "
    "verifying "
    "these parameters, set the Essential Settings Verified parameter to Settings Verified.\n\nThis step must "
    "be "
    "completed before KT-MON740 will display the complete set of parameters and status information from the "
    "unit.\n\nAs a reminder, the KT-740 Series products must be calibrated after installation to ensure "
    "correct "
    "operation.\n\nFor questions about calibration or the new functionality, please consult the appropriate "
    "KT-740 Series Manual or contact Corvane Relays technical support, support@corvane-relays.example, "
    "+1 555 0100 740.";

// A pseudo-terminal whose slave end another port object holds, as a program using the port would.
struct BusyPort {
    BusyPort() {
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
        device = name;
        holder.open(device.toStdString());
    }
    ~BusyPort() {
        holder.close();
        if (slave >= 0) ::close(slave);
        if (master >= 0) ::close(master);
    }
    int master = -1;
    int slave = -1;
    QString device;
    kt::platform::SerialPort holder;
};

TEST_F(MainFormTest, FirstStartWritesTheDefaultsAndOpensOffline) {
    ASSERT_FALSE(QFile::exists(iniPath()));
    kt::TMainForm& w = start();
    w.show();

    // Every value is in the store; the working values of a first start went back in at its end.
    for (const kt::PreferenceField& f : kt::preferenceFields())
        EXPECT_TRUE(stored(std::string(f.name).c_str()).isValid()) << f.name;
    EXPECT_EQ(stored("use_settings").toString(), "false");
    EXPECT_EQ(stored("running").toString(), "false");
    EXPECT_EQ(stored("show_prompt").toString(), "true");
    EXPECT_EQ(stored("ct_primary").toInt(), 200);
    EXPECT_EQ(w.working().FileName, std::string(KT_BIN_DIR) + "/KTMON740");
    EXPECT_EQ(w.working().ef_connection, 2);

    EXPECT_EQ(w.windowTitle(), "KT-MON740: Main Page");
    EXPECT_FALSE(w.linkActive());
    EXPECT_EQ(text("netstatus_P"), "OFFLINE");
    EXPECT_EQ(netStatusColour(), QColor(255, 0, 0));
    EXPECT_EQ(text("Comm_Button"), "Enable");
    EXPECT_TRUE(child<QPushButton>("Comm_Button")->isEnabled());
    EXPECT_TRUE(child<QGroupBox>("Communications_GB")->isVisible());
    EXPECT_FALSE(child<QWidget>("TopStatus_P")->isVisible());
    EXPECT_EQ(text("packetcount_P"), "Packets: 0000000");
    EXPECT_EQ(text("voltage_P"), "Voltage Trip Level");

    EXPECT_EQ(child<QTabWidget>("PageControl1")->currentWidget(), child<QWidget>("TabCommunication"));
    for (const char* page : {"TabCommunication", "Tab61850"}) EXPECT_TRUE(pageShown(page)) << page;
    for (const char* page :
         {"Tab_Summary", "TabSheet2", "TabSheet4", "Config_Sheet", "TabSheet3", "TabSheet5"})
        EXPECT_FALSE(pageShown(page)) << page;
    for (const char* menu : {"File1", "Help1"}) EXPECT_TRUE(menuShown(menu)) << menu;
    for (const char* menu : {"Edit1", "SystemParameters1", "DataLogging1"})
        EXPECT_FALSE(menuShown(menu)) << menu;

    auto* timer = child<QTimer>("status_Timer");
    EXPECT_EQ(timer->interval(), 4000);
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(child<QTimer>("TerminateTimer")->interval(), 1000);
    EXPECT_FALSE(child<QTimer>("TerminateTimer")->isActive());

    EXPECT_EQ(child<QTextEdit>("RichEdit1")->toPlainText(), NoticeText);

    auto* types = child<QComboBox>("DevTypeComboBox");
    ASSERT_EQ(types->count(), 3);
    EXPECT_EQ(types->itemText(0), "KT-740");
    EXPECT_EQ(types->itemText(1), "KT-740AU");
    EXPECT_EQ(types->itemText(2), "KT-740HV");
    EXPECT_EQ(types->currentIndex(), 0);
    ASSERT_NE(w.currentParser(), nullptr);
    EXPECT_FALSE(w.currentParser()->IEDName().empty());
    EXPECT_TRUE(messages.empty());
}

TEST_F(MainFormTest, StoredValuesAreUsedOnlyWithUseSettingsButShowPromptAlways) {
    struct Case {
        bool useSettings;
        std::string port;
        QPoint position;
        int ctSeries;
        bool ctSelected;
    } cases[] = {
        {true, "COM7", {40, 30}, 1, true},
        {false, "COM1", {0, 0}, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.useSettings);
        iniName = c.useSettings ? "remembered.ini" : "defaults.ini";
        preset({{"use_settings", c.useSettings},
                {"show_prompt", false},
                {"port", "COM7"},
                {"Left", 40},
                {"Top", 30},
                {"ct_series", 1},
                {"ct_selected", true},
                {"voltage", 4},
                {"FileName", "/tmp/elsewhere"}});
        kt::TMainForm& w = start();
        EXPECT_EQ(w.working().use_settings, c.useSettings);
        EXPECT_FALSE(w.working().show_prompt);
        EXPECT_EQ(w.working().port, c.port);
        EXPECT_EQ(w.selection().ct_series, c.ctSeries);
        EXPECT_EQ(w.selection().ct_selected, c.ctSelected);
        if (c.useSettings) {
            EXPECT_EQ(w.pos(), c.position);
        }
        EXPECT_FALSE(w.linkActive());
        window.reset();
        store.reset();
    }
}

TEST_F(MainFormTest, UnusableStoredValuesAreReadWithoutHarm) {
    preset({{"use_settings", "true"},
            {"running", "maybe"},
            {"ct_primary", 99999},
            {"voltage", -3},
            {"model_type", "abc"},
            {"Top", "north"},
            {"save_rate", 0},
            {"ef_connection", 9},
            {"FileName", ""}});
    kt::TMainForm& w = start();
    EXPECT_FALSE(w.linkActive()); // "maybe" is no request to reconnect
    EXPECT_EQ(w.working().ct_primary, 5000);
    EXPECT_EQ(w.working().voltage, 0);
    EXPECT_EQ(w.working().model_type, 0);
    EXPECT_EQ(w.working().Top, 0);
    EXPECT_EQ(w.working().save_rate, 5);
    EXPECT_EQ(w.working().ef_connection, 0);
    EXPECT_EQ(w.working().FileName, "KTMON740");
    // The corrected values replace the unusable ones in the store.
    EXPECT_EQ(stored("ct_primary").toInt(), 5000);
    EXPECT_EQ(stored("running").toString(), "false");
}

// A store that cannot be read at all: the window starts on the defaults.
class UnreadableStore : public kt::PreferencesStore {
public:
    bool exists() override { return true; }
    bool readable() override { return false; }
    std::optional<std::string> read(std::string_view) override { return std::string("true"); }
    void write(std::string_view, const kt::PreferenceValue&) override { ++writes; }
    bool flush() override { return false; }
    int writes = 0;
};

TEST_F(MainFormTest, AStoreThatCannotBeReadLeavesTheDefaultsInEffect) {
    UnreadableStore broken;
    kt::MainFormOptions options;
    options.store = &broken;
    options.programFolder = KT_BIN_DIR;
    window = std::make_unique<kt::TMainForm>(std::move(options));
    EXPECT_FALSE(window->linkActive());
    EXPECT_FALSE(window->working().use_settings);
    EXPECT_EQ(window->working().port, "COM1");
    EXPECT_TRUE(window->working().show_prompt);
    EXPECT_GT(broken.writes, 0); // it still tried to store
    EXPECT_TRUE(messages.empty());
}

TEST_F(MainFormTest, MenusCarryTheirNamesAndCaptions) {
    start();
    const std::pair<const char*, const char*> items[] = {
        {"OpenDatalog1", "Open Data Log..."},
        {"LiveTrend1", "Live Trend"},
        {"Exit1", "Exit"},
        {"ProgramSettings1", "Program Settings"},
        {"ZSCTRating1", "Earth-Fault CT"},
        {"VoltageSetting1", "Voltage Setting"},
        {"mnuSetDate", "Set Date/Time"},
        {"ResettoDefaults1", "Reset to Defaults"},
        {"mnuRemoteCal", "Remote Calibration"},
        {"DumpDiagnosticsFiletoSDCard1", "Dump Diagnostics File to SDCard"},
        {"Datalog_Settings", "Settings"},
        {"SetpointAssistant1", "Setpoint Assistant"},
        {"Help2", "Contents"},
        {"About1", "About"},
    };
    const std::pair<const char*, const char*> menus[] = {
        {"File1", "File"},
        {"Edit1", "Edit"},
        {"SystemParameters1", "System"},
        {"DataLogging1", "Data Logging"},
        {"Help1", "Help"},
    };
    // Menus carry a mnemonic (Alt+F opens File) that is not part of the caption shown.
    for (const auto& [name, caption] : menus) {
        EXPECT_EQ(child<QMenu>(name)->title().remove('&'), caption) << name;
        EXPECT_EQ(child<QMenu>(name)->title().count('&'), 1) << name;
    }
    // So do their items, each with a key of its own within its menu.
    for (const auto& [name, caption] : items) {
        auto* action = child<QAction>(name);
        ASSERT_NE(action, nullptr);
        EXPECT_EQ(action->text().remove('&'), caption) << name;
        EXPECT_EQ(action->text().count('&'), 1) << name;
    }
    for (const auto& [name, caption] : menus) {
        QSet<QChar> keys;
        for (QAction* a : child<QMenu>(name)->actions()) {
            const QString t = a->text();
            const qsizetype amp = t.indexOf('&');
            if (a->isSeparator() || amp < 0 || amp + 1 >= t.size()) continue;
            EXPECT_FALSE(keys.contains(t[amp + 1].toLower())) << name << ": " << t.toStdString();
            keys.insert(t[amp + 1].toLower());
        }
    }
    const std::pair<const char*, const char*> pages[] = {
        {"TabCommunication", "Communication"},
        {"Tab_Summary", "Summary"},
        {"TabSheet2", "Detailed Status and Config"},
        {"TabSheet4", "Detailed Status"},
        {"Config_Sheet", "Configuration"},
        {"TabSheet3", "Event Records"},
        {"TabSheet5", "Event Records"},
        {"Tab61850", "IEC 61850"},
    };
    auto* control = child<QTabWidget>("PageControl1");
    for (const auto& [name, caption] : pages)
        EXPECT_EQ(control->tabText(control->indexOf(child<QWidget>(name))), caption) << name;
    for (const char* panel :
         {"diagnostic_P", "version_P", "unit_P", "network_P", "trip_P", "netstatus_P", "datalog_P",
          "ct_primary_P", "ct_secondary_P", "ef_connection_P", "zsct_P", "voltage_P", "packetcount_P"})
        EXPECT_NE(window->findChild<QLabel*>(panel), nullptr) << panel;
    EXPECT_EQ(child<QWidget>("diagnostic_P")->parent(), child<QWidget>("Status_P"));
    EXPECT_EQ(child<QWidget>("zsct_P")->parent(), child<QWidget>("TopStatus_P"));
    EXPECT_EQ(text("com_L"), "Comport");
    EXPECT_EQ(text("ip_L"), "IP Address");
    EXPECT_EQ(child<QGroupBox>("Communications_GB")->title(), "Communications");
}

TEST_F(MainFormTest, AboutBoxShowsTheVersionAndTheWebPage) {
    start();
    QString version, note;
    kt::test::whenShown("AboutBox", [&](QWidget* box) {
        version = box->findChild<QLabel*>("Version_L")->text();
        note = box->findChild<QLabel*>("Comments_L")->text();
        box->findChild<QPushButton*>("OKButton")->click();
    });
    window->About1Click();
    EXPECT_EQ(version, "Version 4.1");
    EXPECT_TRUE(note.contains("href=\"https://www.corvane-relays.example/ktmon740\"")) << note.toStdString();
}

TEST_F(MainFormTest, AFolderWithoutTemplatesOrHelpStillStartsAndExplainsTheMissingHelp) {
    programFolder = QString::fromStdString(dir.path()); // no resources, no help documents
    kt::TMainForm& w = start();
    EXPECT_EQ(child<QComboBox>("DevTypeComboBox")->count(), 0);
    EXPECT_EQ(w.currentParser(), nullptr);
    EXPECT_TRUE(messages.empty());
    for (const char* item : {"Help2", "SetpointAssistant1"}) {
        SCOPED_TRACE(item);
        messages.clear();
        child<QAction>(item)->trigger();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].title, "Help File Open Error");
        EXPECT_TRUE(messages[0].text.contains("was not found")) << messages[0].text.toStdString();
    }
}

TEST_F(MainFormTest, TheStatusRefreshReadsTheUnitFromItsLabelledRegisters) {
    struct Case {
        const char* firmware;
        const char* modelType;
        const char* commCode;
        const char* vnLevel;
        const char* sensor;
        const char* version;
        const char* unit;
        bool iec61850;
        const char* voltage;
    } cases[] = {
        {"250", "0", "6", "5", "1", "Firmware Version: 2.50", "KT-740", true, "Vn Trip Level: 200 x 1 V"},
        {"33019", "3", "8", "5", "1", "Prototype Version: 2.51", "KT-740HV", true,
         "Vn Trip Level: 1000 x 2 V"},
        {"300", "3", "0", "0", "0", "Firmware Version: 3.00", "KT-740HV", false, "Vn Trip Level: 100 x 1 V"},
        {"300", "2", "5", "10", "0", "Firmware Version: 3.00", "KT-740AU", false,
         "Vn Trip Level: 2000 x 5 V"},
        {"300", "1", "9", "1", "1", "Firmware Version: 3.00", "KT-740", false, "Vn Trip Level: 60 x 1 V"},
        // What the codec gives for a value it could not read changes nothing and breaks nothing.
        {"--", "--", "--", "--", "--", "", "KT-740", false, "Voltage Trip Level"},
        {"", "x", "6.5", "", "7", "", "KT-740", false, "Voltage Trip Level"},
    };
    auto pass = std::make_shared<kt::PassSnapshot>();
    pass->tables = std::make_shared<kt::RegisterTables>();
    auto& values = pass->values;
    values[1].label = "DB_FIRMWARE_VERSION";
    values[4].label = "db_model_type"; // matched whatever its case
    values[5].label = "DB_COMM_CODE";
    values[23].label = "DB_VNLEVEL";
    values[24].label = "DB_SENSOR";
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.firmware << " " << c.modelType << " " << c.commCode);
        kt::TMainForm& w = start();
        values[1].value = c.firmware;
        values[4].value = c.modelType;
        values[5].value = c.commCode;
        values[23].value = c.vnLevel;
        values[24].value = c.sensor;
        w.UpdateUnitStatus(std::make_shared<kt::PassSnapshot>(*pass));
        EXPECT_EQ(text("version_P"), c.version);
        EXPECT_EQ(text("unit_P"), c.unit);
        EXPECT_EQ(pageShown("Tab61850"), c.iec61850);
        EXPECT_EQ(text("voltage_P"), c.voltage);
        EXPECT_EQ(text("netstatus_P"), "ONLINE");
        EXPECT_TRUE(w.passSinceLastTick());
        EXPECT_TRUE(pageShown("Tab_Summary"));
        window.reset();
    }
}

TEST_F(MainFormTest, LinkTypeShowsItsOwnControls) {
    kt::TMainForm& w = start();
    w.show();
    auto* link = child<QComboBox>("network_CB");
    ASSERT_EQ(link->count(), 2);
    EXPECT_EQ(link->itemText(0), "Serial/USB");
    EXPECT_EQ(link->itemText(1), "Modbus TCP");
    for (int index : {1, 0, 1}) {
        link->setCurrentIndex(index);
        const bool tcp = index == 1;
        EXPECT_EQ(child<QWidget>("ip_E")->isVisible(), tcp);
        EXPECT_EQ(child<QWidget>("ip_L")->isVisible(), tcp);
        EXPECT_EQ(child<QWidget>("comport_CB")->isVisible(), !tcp);
        EXPECT_EQ(child<QWidget>("com_L")->isVisible(), !tcp);
    }
}

TEST_F(MainFormTest, AnAddressThatIsNoIpv4AddressIsRefusedWithoutAConnection) {
    kt::TMainForm& w = start();
    child<QComboBox>("network_CB")->setCurrentIndex(1);
    for (const char* typed : {"abc", "", "256.1.1.1", "1.2.3", "1.2.3.4.5", "1.2.3.4:0", "1.2.3.4:70000",
                              "localhost:502", "1.2.3.-4"}) {
        SCOPED_TRACE(typed);
        messages.clear();
        child<QLineEdit>("ip_E")->setText(typed);
        child<QPushButton>("Comm_Button")->click();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text, QString::fromStdString(kt::notAnIpAddressText(typed)));
        EXPECT_EQ(messages[0].title, "error");
        EXPECT_EQ(messages[0].kind, kt::MessageOk);
        EXPECT_FALSE(w.linkActive());
        EXPECT_EQ(w.monitorThread(), nullptr);
        EXPECT_EQ(w.retiredThreadCount(), 0); // no thread was ever started
        EXPECT_EQ(text("Comm_Button"), "Enable");
        EXPECT_TRUE(child<QPushButton>("Comm_Button")->isEnabled());
        EXPECT_TRUE(child<QLineEdit>("ip_E")->isEnabled());
    }
    EXPECT_EQ(
        QString::fromStdString(kt::notAnIpAddressText("abc")),
        "\"abc\" is not an IP address. Enter four numbers 0-255 separated by dots, optionally followed by "
        ":PORT.");
}

TEST_F(MainFormTest, APortInUseIsMarkedAndCannotBeOpened) {
    BusyPort busy;
    ASSERT_FALSE(busy.device.isEmpty());
    ASSERT_TRUE(busy.holder.isOpen());
    kt::TMainForm& w = start();
    w.selectSerialPort(busy.device);
    EXPECT_TRUE(w.refreshPortList());
    auto* ports = child<QComboBox>("comport_CB");
    EXPECT_EQ(ports->currentText(), busy.device + "  (in use)");
    EXPECT_EQ(kt::portNameOfItem(ports->currentText()), busy.device);

    child<QPushButton>("Comm_Button")->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Cannot Open ComPort.");
    EXPECT_EQ(messages[0].title, "error");
    EXPECT_FALSE(w.linkActive());
    EXPECT_EQ(w.monitorThread(), nullptr);
    EXPECT_EQ(text("netstatus_P"), "OFFLINE");
    EXPECT_EQ(text("Comm_Button"), "Enable");
    // The list was rebuilt and still shows the mark.
    EXPECT_EQ(ports->currentText(), busy.device + "  (in use)");

    // Once the other program lets go, the mark goes with the next refresh.
    busy.holder.close();
    w.refreshPortList();
    EXPECT_EQ(ports->currentText(), busy.device);
}

TEST_F(MainFormTest, ClosingAfterAPortChangeAsksForTheProgramSettingsFirst) {
    struct Case {
        bool showPrompt;
        bool changePort;
        bool asked;
    } cases[] = {{true, true, true}, {false, true, false}, {true, false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "show_prompt " << c.showPrompt << " change " << c.changePort);
        iniName = std::to_string(c.showPrompt) + std::to_string(c.changePort) + ".ini";
        preset({{"show_prompt", c.showPrompt}});
        kt::TMainForm& w = start();
        w.show();
        if (c.changePort) {
            w.selectSerialPort("/dev/kt-test-port");
            child<QComboBox>("comport_CB")->setCurrentIndex(child<QComboBox>("comport_CB")->count() - 1);
            w.comport_CBChange();
            EXPECT_TRUE(w.portSelectionChanged());
        }
        bool asked = false;
        if (c.asked) {
            kt::test::whenShown("TSettings_F", [&](QWidget* dialog) {
                asked = true;
                dialog->findChild<QRadioButton*>("save_RB")->click();
                dialog->findChild<QPushButton*>("ok_B")->click();
            });
        }
        w.close();
        EXPECT_EQ(asked, c.asked);
        // The answer is stored by the close itself.
        EXPECT_EQ(stored("use_settings").toString(), c.asked ? "true" : "false");
        if (c.changePort) {
            EXPECT_EQ(stored("port").toString(), "/dev/kt-test-port");
        }
        window.reset();
        store.reset();
    }
}

TEST_F(MainFormTest, ProgramSettingsFromTheMenuAreStored) {
    kt::TMainForm& w = start();
    kt::test::whenShown("TSettings_F", [](QWidget* dialog) {
        dialog->findChild<QRadioButton*>("save_RB")->click();
        dialog->findChild<QPushButton*>("ok_B")->click();
    });
    w.ProgramSettings1Click();
    EXPECT_TRUE(w.working().use_settings);
    EXPECT_EQ(stored("use_settings").toString(), "true");
}

TEST_F(MainFormTest, UnitCommandsWithoutAModbusUnitAreRefused) {
    kt::TMainForm& w = start();
    const std::pair<const char*, void (kt::TMainForm::*)()> commands[] = {
        {"Set Date/Time", &kt::TMainForm::mnuSetDateClick},
        {"Reset to Defaults", &kt::TMainForm::ResettoDefaults1Click},
        {"Remote Calibration", &kt::TMainForm::mnuRemoteCalClick},
        {"Dump Diagnostics", &kt::TMainForm::DumpDiagnosticsFiletoSDCard1Click},
    };
    for (const auto& [name, command] : commands) {
        SCOPED_TRACE(name);
        messages.clear();
        (w.*command)();
        // One refusal, and neither the clock question nor "Done".
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].title, "Command Not Sent");
    }
}

TEST_F(MainFormTest, AFallbackWithoutAConnectionStartsNothing) {
    kt::TMainForm& w = start();
    auto* fallback = child<QTimer>("TerminateTimer");
    w.startFallbackTimer();
    EXPECT_TRUE(fallback->isActive());
    ASSERT_TRUE(waitFor([&] { return !fallback->isActive(); }, std::chrono::seconds(5)));
    QTest::qWait(100);
    // The fallback belongs to a connection; with none there is no listener and nothing to say.
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(w.linkActive());
    EXPECT_EQ(w.retiredThreadCount(), 0);
    EXPECT_EQ(text("netstatus_P"), "OFFLINE");
}

} // namespace
