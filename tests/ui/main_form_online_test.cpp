// The main window against the simulated relay: connecting, the online pages, the silence watch,
// the fallback for a unit that does not answer, reconnecting, the CT write and the unit commands.
#include "tests/support/sim_process.h"
#include "tests/ui/main_form_fixture.h"

#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTextEdit>

#include <gmock/gmock.h>

#include <algorithm>
#include <signal.h>
#include <thread>

namespace {

using kt::MessageResult;
using kt::test::MainFormTest;
using kt::test::SimProcess;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

const QColor Lime(0, 255, 0);
const QColor Yellow(255, 255, 0);
const QColor Red(255, 0, 0);

class OnlineTest : public MainFormTest {
protected:
    std::vector<std::string> simArgs(std::vector<std::string> extra) {
        std::vector<std::string> args{"--tcp", "127.0.0.1:0", "--log", dir.file("sim.log")};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
    kt::ConnectionSettings tcpLink(const SimProcess& sim) { return *kt::parseLink(sim.tcpLink()); }

    // Enable on the link, then the first status refresh.
    void connectTo(const kt::ConnectionSettings& link) {
        window->selectLink(link);
        child<QPushButton>("Comm_Button")->click();
        ASSERT_TRUE(window->linkActive());
        ASSERT_TRUE(waitFor([&] { return text("netstatus_P") == "ONLINE"; }))
            << text("netstatus_P").toStdString();
    }
    bool logged(const SimProcess& sim, const std::string& line) {
        auto lines = sim.logLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    bool loggedStart(const SimProcess& sim, const std::string& prefix) {
        for (const std::string& l : sim.logLines())
            if (l.starts_with(prefix)) return true;
        return false;
    }
    // A Disable and the end of the thread it retired.
    void disable() {
        child<QPushButton>("Comm_Button")->click();
        EXPECT_FALSE(window->linkActive());
        EXPECT_TRUE(waitFor([&] { return window->retiredThreadCount() == 0; }));
    }
};

TEST_F(OnlineTest, EnableConnectsAndTheUnitPagesFollowItsType) {
    struct Case {
        const char* firmware;
        const char* modelType;
        const char* option;
        bool iec61850;
        const char* version;
        const char* unit;
        bool remoteCal;
        bool dump;
    } cases[] = {
        {"300", "0", "6", true, "Firmware Version: 3.00", "KT-740", true, true},
        {"300", "0", "0", false, "Firmware Version: 3.00", "KT-740", true, true},
        {"33068", "3", "8", true, "Prototype Version: 3.00", "KT-740HV", true, true},
        {"200", "2", "0", false, "Firmware Version: 2.00", "KT-740AU", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "firmware " << c.firmware << " option " << c.option);
        iniName = std::string(c.firmware) + c.option + ".ini";
        SimProcess sim(simArgs({"--firmware", c.firmware, "--model-type", c.modelType, "--comm-option",
                                c.option, "--set", "199=1"}));
        kt::TMainForm& w = start();
        w.show();
        w.selectLink(tcpLink(sim));
        child<QPushButton>("Comm_Button")->click();

        // Connecting: the controls are locked and the panels grey until the unit answers.
        EXPECT_TRUE(w.linkActive());
        EXPECT_EQ(text("Comm_Button"), "Disable");
        EXPECT_FALSE(child<QWidget>("network_CB")->isEnabled());
        EXPECT_FALSE(child<QWidget>("ip_E")->isEnabled());
        EXPECT_EQ(text("netstatus_P"), "Connecting");
        EXPECT_EQ(netStatusColour(), Yellow);
        EXPECT_FALSE(child<QWidget>("diagnostic_P")->isEnabled());
        EXPECT_FALSE(child<QMenu>("SystemParameters1")->menuAction()->isEnabled());
        for (const char* menu : {"Edit1", "SystemParameters1", "DataLogging1"})
            EXPECT_TRUE(menuShown(menu)) << menu;
        EXPECT_TRUE(child<QTimer>("status_Timer")->isActive());
        EXPECT_EQ(text("network_P"), QString::fromStdString(sim.tcpEndpoint()));

        ASSERT_TRUE(waitFor([&] { return text("netstatus_P") == "ONLINE"; }));
        EXPECT_EQ(netStatusColour(), Lime);
        EXPECT_TRUE(w.passSinceLastTick());
        EXPECT_TRUE(child<QWidget>("diagnostic_P")->isEnabled());
        EXPECT_TRUE(child<QMenu>("SystemParameters1")->menuAction()->isEnabled());
        // A register-file unit reports its CT and voltage in the grids: no selection row.
        EXPECT_FALSE(child<QWidget>("TopStatus_P")->isVisible());
        EXPECT_EQ(text("version_P"), c.version);
        EXPECT_EQ(text("unit_P"), c.unit);
        for (const char* page : {"Tab_Summary", "TabSheet4", "TabSheet5", "Config_Sheet"})
            EXPECT_TRUE(pageShown(page)) << page;
        for (const char* page : {"TabSheet2", "TabSheet3"}) EXPECT_FALSE(pageShown(page)) << page;
        EXPECT_EQ(pageShown("Tab61850"), c.iec61850);
        EXPECT_EQ(child<QTabWidget>("PageControl1")->currentWidget(), child<QWidget>("Tab_Summary"));
        EXPECT_FALSE(child<QTextEdit>("RichEdit1")->isVisibleTo(&w));
        EXPECT_FALSE(child<QAction>("VoltageSetting1")->isVisible());
        EXPECT_EQ(child<QAction>("mnuRemoteCal")->isVisible(), c.remoteCal);
        EXPECT_EQ(child<QAction>("DumpDiagnosticsFiletoSDCard1")->isVisible(), c.dump);
        EXPECT_TRUE(messages.empty()) << messages.front().text.toStdString();

        disable();
        EXPECT_EQ(text("Comm_Button"), "Enable");
        EXPECT_EQ(text("netstatus_P"), "OFFLINE");
        EXPECT_TRUE(child<QWidget>("ip_E")->isEnabled());
        EXPECT_FALSE(child<QWidget>("TopStatus_P")->isVisible());
        EXPECT_TRUE(child<QAction>("mnuRemoteCal")->isVisible());
        EXPECT_TRUE(child<QAction>("VoltageSetting1")->isVisible());
        for (const char* page : {"Tab_Summary", "TabSheet4", "TabSheet5", "Config_Sheet"})
            EXPECT_FALSE(pageShown(page)) << page;
        EXPECT_TRUE(pageShown("Tab61850"));
        EXPECT_EQ(stored("running").toString(), "false");
        window.reset();
        store.reset();
    }
}

TEST_F(OnlineTest, AUnitWithoutVerifiedEssentialSettingsOpensOnTheNotice) {
    SimProcess sim(simArgs({"--firmware", "300", "--comm-option", "6", "--set", "199=0"}));
    kt::TMainForm& w = start();
    w.show();
    connectTo(tcpLink(sim));
    EXPECT_FALSE(w.unitConfigured());
    EXPECT_EQ(child<QTabWidget>("PageControl1")->currentWidget(), child<QWidget>("Config_Sheet"));
    EXPECT_TRUE(child<QTextEdit>("RichEdit1")->isVisible());
    EXPECT_TRUE(pageShown("Config_Sheet"));
    for (const char* page : {"Tab_Summary", "TabSheet4", "TabSheet5"}) EXPECT_FALSE(pageShown(page)) << page;
    EXPECT_TRUE(pageShown("Tab61850")); // the communication option decides, as on every refresh
}

// A trip on the unit reaches every place that shows it: the status bar, the Summary page, the
// set-point grid (name, state and bit) and the event notice with the record count.
TEST_F(OnlineTest, ATripReachesTheStatusBarTheSummaryAndTheSetpointsGrid) {
    SimProcess sim(simArgs({"--firmware", "300", "--set", "199=1", "--events", "2"}));
    kt::TMainForm& w = start();
    w.show();
    connectTo(tcpLink(sim));
    QAbstractItemModel* grid = child<QTableView>("SetpointsGrid")->model();
    auto cell = [&](int row, int column) { return grid->index(row, column).data().toString(); };
    auto summary = [&](const char* name) {
        QWidget* field = child<QWidget>("Tab_Summary")->findChild<QWidget*>(name);
        EXPECT_NE(field, nullptr) << name;
        return field ? field->property("text").toString() : QString();
    };
    auto tripColour = [&] {
        return child<QLabel>("trip_P")->palette().color(QPalette::Active, QPalette::WindowText);
    };
    auto* notice = child<QLabel>("new_events_P");
    auto* pages = child<QTabWidget>("PageControl1");

    EXPECT_EQ(text("trip_P"), "No Trip");
    EXPECT_EQ(tripColour(), Lime);
    EXPECT_EQ(summary("main_tripstat0_E"), "No Trip");
    EXPECT_EQ(cell(2, 0), "  GF");
    EXPECT_EQ(cell(2, 1), "No Trip");
    EXPECT_EQ(cell(2, 4), "0");
    EXPECT_EQ(text("txtRecordcount"), "2");
    // Looking at the records takes the notice down.
    pages->setCurrentWidget(child<QWidget>("TabSheet5"));
    ASSERT_TRUE(waitFor([&] { return notice->isHidden(); }));
    pages->setCurrentWidget(child<QWidget>("Tab_Summary"));

    ASSERT_EQ(::kill(sim.pid(), SIGUSR1), 0);
    ASSERT_TRUE(waitFor([&] { return text("trip_P") == "GF Trip"; }));
    EXPECT_EQ(tripColour(), Red);
    EXPECT_EQ(summary("main_tripstat0_E"), "GF Trip");
    EXPECT_EQ(summary("main_tripstat1_E"), "No Trip");
    EXPECT_EQ(cell(2, 1), "Ground Fault Trip");
    EXPECT_EQ(cell(2, 4), "1");
    EXPECT_TRUE(waitFor([&] { return text("txtRecordcount") == "3"; }));
    EXPECT_FALSE(notice->isHidden());
    EXPECT_TRUE(messages.empty());
}

TEST_F(OnlineTest, TwelveSilentTicksDisconnectElevenDoNot) {
    SimProcess sim(simArgs({"--firmware", "300", "--set", "199=1"}));
    kt::TMainForm& w = start();
    connectTo(tcpLink(sim));
    // The handler is driven here; the timer itself would take 48 s.
    child<QTimer>("status_Timer")->stop();
    w.status_TimerTimer(); // the tick after the refresh that made it ONLINE
    EXPECT_EQ(w.silenceMs(), 0);

    for (int tick = 1; tick <= 11; ++tick) w.status_TimerTimer();
    EXPECT_EQ(w.silenceMs(), 44000);
    EXPECT_TRUE(w.linkActive());
    EXPECT_EQ(text("netstatus_P"), "Connecting");
    EXPECT_TRUE(messages.empty());

    // An update arrives: the count starts again.
    ASSERT_TRUE(waitFor([&] { return w.passSinceLastTick(); }));
    EXPECT_EQ(text("netstatus_P"), "ONLINE");
    w.status_TimerTimer();
    EXPECT_EQ(w.silenceMs(), 0);
    EXPECT_TRUE(w.linkActive());

    for (int tick = 1; tick <= 11; ++tick) w.status_TimerTimer();
    EXPECT_TRUE(w.linkActive());
    w.status_TimerTimer(); // the twelfth
    EXPECT_FALSE(w.linkActive());
    EXPECT_EQ(w.silenceMs(), 0);
    EXPECT_FALSE(child<QTimer>("status_Timer")->isActive());
    EXPECT_EQ(text("netstatus_P"), "OFFLINE");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text,
              "There were no communications for 45 seconds.\nThe unit has been disconnected.");
    EXPECT_EQ(messages[0].title, "Communications Error");
    EXPECT_EQ(messages[0].kind, kt::MessageOk);
    EXPECT_TRUE(waitFor([&] { return w.retiredThreadCount() == 0; }));
}

TEST_F(OnlineTest, ASettingsTransferIsNoSilence) {
    SimProcess sim(simArgs({"--firmware", "300", "--set", "199=1"}));
    kt::TMainForm& w = start();
    connectTo(tcpLink(sim));
    child<QTimer>("status_Timer")->stop();
    struct Transfer {
        Transfer() { kt::transferInProgress = true; }
        ~Transfer() { kt::transferInProgress = false; }
    } transfer;
    for (int tick = 1; tick <= 13; ++tick) {
        w.status_TimerTimer();
        EXPECT_EQ(w.silenceMs(), 0) << tick;
    }
    EXPECT_TRUE(w.linkActive());
    EXPECT_TRUE(messages.empty());
}

TEST_F(OnlineTest, AUnitThatCannotBeIdentifiedStartsTheFallback) {
    struct Case {
        const char* name;
        bool silent;
    } cases[] = {{"a unit that never answers", true}, {"nothing listening", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        iniName = std::string(c.silent ? "silent" : "closed") + ".ini";
        messages.clear();
        SimProcess sim(simArgs({"--silent"}));
        kt::ConnectionSettings link = tcpLink(sim);
        if (!c.silent) sim.stop(); // the port is closed now
        kt::TMainForm& w = start();
        w.selectLink(link);
        child<QPushButton>("Comm_Button")->click();
        ASSERT_TRUE(w.linkActive());
        auto* fallback = child<QTimer>("TerminateTimer");
        ASSERT_TRUE(
            waitFor([&] { return fallback->isActive() || !messages.empty(); }, std::chrono::seconds(40)));
        EXPECT_EQ(text("netstatus_P"), "Connecting"); // nothing has been shown from the unit
        ASSERT_TRUE(waitFor([&] { return !messages.empty(); }, std::chrono::seconds(5)));
        EXPECT_TRUE(saw("Error connecting to the KT-740", "Cannot Connect"));
        EXPECT_FALSE(w.linkActive());
        EXPECT_EQ(text("netstatus_P"), "OFFLINE");
        EXPECT_TRUE(waitFor([&] { return w.retiredThreadCount() == 0; }));
        window.reset();
        store.reset();
    }
}

TEST_F(OnlineTest, StoredRunningReconnectsAtStartOverTheStoredPort) {
    SimProcess sim({"--rtu", "--firmware", "300", "--set", "199=1"});
    preset({{"use_settings", true}, {"running", true}, {"port", QString::fromStdString(sim.rtuDevice())}});
    kt::TMainForm& w = start();
    // The reconnect waits until the window is shown, so nothing can stop it from showing.
    EXPECT_FALSE(w.linkActive());
    w.show();
    ASSERT_TRUE(waitFor([&] { return w.linkActive(); }));
    EXPECT_EQ(w.connectionSettings().linkType, kt::LinkSerialRtu);
    EXPECT_EQ(w.connectionSettings().portName, sim.rtuDevice());
    EXPECT_EQ(w.connectionSettings().baudRate, 115200);
    ASSERT_TRUE(waitFor([&] { return text("netstatus_P") == "ONLINE"; }));
    EXPECT_EQ(stored("running").toString(), "true");

    disable();
    EXPECT_EQ(stored("running").toString(), "false");
    w.close();
    EXPECT_EQ(stored("running").toString(), "false");
}

TEST_F(OnlineTest, ClosingWhileConnectedRemembersToReconnect) {
    SimProcess sim(simArgs({"--firmware", "300", "--set", "199=1"}));
    kt::TMainForm& w = start();
    connectTo(tcpLink(sim));
    w.close();
    EXPECT_FALSE(w.linkActive());
    EXPECT_EQ(stored("running").toString(), "true");
    EXPECT_EQ(stored("network").toString(), "1");
    EXPECT_EQ(stored("ip_address").toString().toStdString(), sim.tcpEndpoint());
}

// A remembered Modbus TCP connection comes back over TCP, not as the stored serial port.
TEST_F(OnlineTest, StoredRunningReconnectsAtStartOverTheStoredAddress) {
    SimProcess sim(simArgs({"--firmware", "300", "--set", "199=1"}));
    preset({{"use_settings", true},
            {"running", true},
            {"network", 1},
            {"ip_address", QString::fromStdString(sim.tcpEndpoint())}});
    kt::TMainForm& w = start();
    w.show();
    ASSERT_TRUE(waitFor([&] { return w.linkActive(); }));
    EXPECT_EQ(w.connectionSettings().linkType, kt::LinkModbusTcp);
    EXPECT_EQ(text("ip_E").toStdString(), sim.tcpEndpoint());
    ASSERT_TRUE(waitFor([&] { return text("netstatus_P") == "ONLINE"; }));
}

TEST_F(OnlineTest, ANewConnectionStartsWhileTheLastOneStillEnds) {
    SimProcess sim(simArgs({"--firmware", "300", "--set", "199=1"}));
    kt::TMainForm& w = start();
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        connectTo(tcpLink(sim));
        child<QPushButton>("Comm_Button")->click(); // Disable
        EXPECT_FALSE(w.linkActive());
    }
    // Enable at once: the old threads end by themselves and the new one takes over.
    connectTo(tcpLink(sim));
    EXPECT_TRUE(waitFor([&] { return w.retiredThreadCount() == 0; }));
    EXPECT_TRUE(w.linkActive());
    const int refreshes = w.refreshCount();
    EXPECT_TRUE(waitFor([&] { return w.refreshCount() > refreshes; }));
    EXPECT_TRUE(messages.empty());
}

TEST_F(OnlineTest, TheCtDialogWritesTheEffectivePrimaryToTheUnit) {
    SimProcess sim(simArgs({"--firmware", "300", "--set", "199=1"}));
    kt::TMainForm& w = start();
    connectTo(tcpLink(sim));
    kt::test::whenShown("TZSCT_F", [](QWidget* dialog) {
        dialog->findChild<QAbstractButton*>("ct_1_RB")->click(); // KT-TR50: primary 30
        dialog->findChild<QPushButton*>("OK_Button")->click();
    });
    // A click on a CT panel opens the dialog like the menu item.
    QTest::mouseClick(child<QWidget>("zsct_P"), Qt::LeftButton);
    EXPECT_TRUE(
        waitFor([&] { return logged(sim, "fc=16 start=34 count=1 values=30"); }, std::chrono::seconds(5)))
        << ::testing::PrintToString(sim.logLines());
    EXPECT_TRUE(w.selection().ct_selected);
    EXPECT_EQ(w.selection().ct_series, 1);
    EXPECT_TRUE(w.portSelectionChanged());
    EXPECT_EQ(stored("ct_selected").toString(), "true");
    EXPECT_TRUE(messages.empty());
}

TEST_F(OnlineTest, UnitCommandsReachTheUnit) {
    SimProcess sim(simArgs({"--firmware", "300", "--set", "199=1"}));
    kt::TMainForm& w = start();
    connectTo(tcpLink(sim));

    // Set Date/Time answered with No sends nothing.
    answer = MessageResult::No;
    w.mnuSetDateClick();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Use the time and date on this computer to set the KT-740 clock?");
    EXPECT_EQ(messages[0].title, "Set Date//Time");
    EXPECT_EQ(messages[0].kind, kt::MessageYesNo);
    EXPECT_FALSE(loggedStart(sim, "fc=16 start=152"));

    // The commands are requests to the connection's thread: the window goes on at once and
    // hears of their results later.
    answer = MessageResult::Yes;
    w.mnuSetDateClick();
    EXPECT_TRUE(waitFor([&] { return logged(sim, "fc=16 start=6 count=1 values=3"); }));
    EXPECT_TRUE(loggedStart(sim, "fc=16 start=152 count=2 values="));
    EXPECT_TRUE(loggedStart(sim, "fc=16 start=150 count=2 values="));

    messages.clear();
    answer = MessageResult::Ok;
    w.ResettoDefaults1Click();
    EXPECT_TRUE(waitFor([&] { return !messages.empty(); }));
    EXPECT_TRUE(logged(sim, "fc=16 start=6 count=1 values=5"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Done");
    EXPECT_EQ(messages[0].title, "Finished Command");

    w.mnuRemoteCalClick();
    w.DumpDiagnosticsFiletoSDCard1Click();
    EXPECT_TRUE(waitFor([&] { return logged(sim, "fc=16 start=6 count=1 values=18"); }));
    EXPECT_TRUE(logged(sim, "fc=16 start=6 count=1 values=16"));
    QTest::qWait(100); // a result still on its way would arrive now
    EXPECT_EQ(messages.size(), 1u); // nothing more was said
}

TEST_F(OnlineTest, TheProgramConnectsToTheLinkGivenOnItsCommandLine) {
    SimProcess sim(simArgs({"--firmware", "300", "--comm-option", "6", "--set", "199=1"}));
    const std::string picture = dir.file("online.png");
    // The child inherits the offscreen platform and the temporary settings folder of this test.
    auto run = kt::test::runCommand({kt::test::binPath("ktmon740"), "--connect", sim.tcpLink(),
                                     "--screenshot", picture, "--after", "4000"},
                                    std::chrono::seconds(60));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(QFile::exists(QString::fromStdString(picture)));
    // It identified the unit and polled it.
    EXPECT_TRUE(loggedStart(sim, "fc=3 start=0 count=50"));
    const auto lines = sim.logLines();
    EXPECT_GE(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.starts_with("fc=3 start=0 count="); }),
              2);
}

} // namespace
