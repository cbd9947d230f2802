// The main window and an older unit that pushes 24-byte frames (the simulator's --legacy unit on a
// pseudo-terminal): the Modbus identification fails, the fallback starts the listener on the port
// the failed engine has let go of, and the legacy pages show the frames. Also the faults on such a
// line (noise, cut frames, silence) and that no listener is ever started for a TCP link.
#include "tests/support/sim_process.h"
#include "tests/ui/main_form_fixture.h"

#include <QElapsedTimer>

#include <gmock/gmock.h>

#include <csignal>
#include <optional>

namespace {

using kt::test::MainFormTest;
using kt::test::SimProcess;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const QColor Lime(0, 255, 0);

class LegacyWindowTest : public MainFormTest {
protected:
    void SetUp() override {
        MainFormTest::SetUp();
        // A unit that pushes frames never lets the line go quiet: the Modbus side gives up on
        // each attempt after the drain limit. Short waits keep the identification to a second.
        kt::LinkTimings& t = baseOptions.monitor.link.timings;
        t.serialReadTotalMs = 100;
        t.lateAnswerQuiet = std::chrono::milliseconds(20);
        t.lateAnswerDrainMax = std::chrono::milliseconds(100);
        t.settle = std::chrono::milliseconds(20);
        baseOptions.legacy.openSettle = std::chrono::milliseconds(50);
    }

    std::vector<std::string> legacySim(std::vector<std::string> extra) {
        std::vector<std::string> args{"--legacy", "--log", dir.file("sim.log")};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
    void enableSerial(const std::string& device) {
        window->selectSerialPort(QString::fromStdString(device));
        child<QPushButton>("Comm_Button")->click();
        ASSERT_TRUE(window->linkActive());
    }
    int packets() {
        const QString t = text("packetcount_P");
        return t.startsWith("Packets: ") ? t.mid(9).toInt() : -1;
    }
    bool visible(const char* name) { return child<QWidget>(name)->isVisibleTo(window.get()); }
};

TEST_F(LegacyWindowTest, AUnitThatPushesFramesIsRecognisedAndShownOnTheLegacyPages) {
    struct Case {
        const char* modelType;
        const char* version;
        bool sibling;
        bool eventPage;
        const char* unit;
        const char* gfTime;    // switch position 3
        const char* gfLevel;   // switch position 4
        const char* gfCaption; // main_gftime_L
        bool pulseShown;
    } cases[] = {
        {"0", "10", false, true, "KT-740", "0.4", "10", "GF Trip Time (s)", true},
        {"0", "9", true, false, "QM-5740", "0.4", "10", "GF Trip Time (s)", true},
        {"2", "4", false, true, "KT-740AU", "0.16", "0.5 A", "EF Trip Time (s)", false},
        {"3", "3", false, false, "KT-740HV", "0.4", "10", "GF Trip Time (s)", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "model type " << c.modelType << " version " << c.version);
        iniName = std::string("legacy") + c.modelType + c.version + ".ini";
        messages.clear();
        std::vector<std::string> extra{"--model-type", c.modelType, "--legacy-version", c.version};
        if (c.sibling) extra.push_back("--sibling");
        SimProcess sim(legacySim(extra));
        kt::TMainForm& w = start();
        w.show();
        enableSerial(sim.legacyDevice());

        // The first frame only sets the version the next one is checked against.
        ASSERT_TRUE(waitFor([&] { return text("netstatus_P") == "ONLINE" && !text("version_P").isEmpty(); }))
            << text("netstatus_P").toStdString() << " "
            << (messages.empty() ? "" : messages[0].text.toStdString());
        EXPECT_TRUE(w.legacyUnit());
        EXPECT_EQ(netStatusColour(), Lime);
        EXPECT_EQ(w.monitorThread(), nullptr) << "the Modbus engine has let go of the port";
        for (const char* page : {"Tab_Summary", "TabSheet2"}) EXPECT_TRUE(pageShown(page)) << page;
        for (const char* page : {"TabSheet4", "Config_Sheet", "TabSheet5", "Tab61850"})
            EXPECT_FALSE(pageShown(page)) << page;
        EXPECT_EQ(pageShown("TabSheet3"), c.eventPage);
        EXPECT_EQ(child<QTabWidget>("PageControl1")->currentWidget(), child<QWidget>("Tab_Summary"));
        EXPECT_TRUE(child<QWidget>("TopStatus_P")->isVisible());
        EXPECT_TRUE(child<QAction>("VoltageSetting1")->isVisible());

        EXPECT_EQ(text("version_P"), QString("Firmware Version: ") + c.version);
        EXPECT_EQ(text("unit_P"), c.unit);
        EXPECT_EQ(text("main_gftime_E"), c.gfTime);
        EXPECT_EQ(text("detail_gftime_E"), c.gfTime);
        EXPECT_EQ(text("main_gfsetting_E"), c.gfLevel);
        EXPECT_EQ(text("main_gftime_L"), c.gfCaption);
        EXPECT_EQ(visible("main_pulsetime_E"), c.pulseShown);
        if (c.pulseShown) {
            EXPECT_EQ(text("main_pulsetime_E"), "1.4"); // position 2
        }
        // No CT or voltage chosen: the computed values say so, under their asterisked captions.
        EXPECT_EQ(text("main_current_E"), "Not Configured");
        EXPECT_TRUE(visible("main_current_E"));
        EXPECT_TRUE(text("main_voltage_L").startsWith("*N")) << text("main_voltage_L").toStdString();
        EXPECT_EQ(text("ef_connection_P"), "CT Selection");
        // The measurements are numbers from the frame, the bits are words.
        bool number = false;
        text("main_ngrcurrent_E").toInt(&number);
        EXPECT_TRUE(number) << text("main_ngrcurrent_E").toStdString();
        EXPECT_EQ(text("T0_E"), "No Trip");
        EXPECT_THAT(text("datalog_P").toStdString(), StartsWith("PC Datalog"));

        // Every frame counts.
        const int first = packets();
        EXPECT_GE(first, 0);
        EXPECT_TRUE(waitFor([&] { return packets() >= first + 3; }, std::chrono::seconds(10)));
        EXPECT_TRUE(messages.empty());

        child<QPushButton>("Comm_Button")->click(); // Disable
        EXPECT_FALSE(w.linkActive());
        EXPECT_FALSE(w.legacyUnit());
        EXPECT_FALSE(child<QWidget>("TopStatus_P")->isVisible());
        EXPECT_EQ(text("main_gftime_E"), "-----");
        for (const char* page : {"Tab_Summary", "TabSheet2", "TabSheet3"})
            EXPECT_FALSE(pageShown(page)) << page;
        EXPECT_TRUE(waitFor([&] { return w.retiredThreadCount() == 0; }));
        window.reset();
        store.reset();
    }
}

TEST_F(LegacyWindowTest, NoiseAndCutFramesAreDroppedAndOnlyWholeFramesShown) {
    SimProcess sim(legacySim({"--noise-every", "3", "--partial-every", "4"}));
    kt::TMainForm& w = start();
    enableSerial(sim.legacyDevice());
    ASSERT_TRUE(waitFor([&] { return text("netstatus_P") == "ONLINE"; }));
    // Whatever arrives, the Summary shows a whole frame's values or, for a frame it could not
    // trust, none: never a value read out of step.
    int shown = packets();
    for (int i = 0; i < 40; ++i) {
        QTest::qWait(25);
        const QString time = text("main_gftime_E"), pulse = text("main_pulsetime_E");
        EXPECT_TRUE((time == "0.4" && pulse == "1.4") || (time == "-----" && pulse == "-----"))
            << time.toStdString() << " " << pulse.toStdString();
    }
    EXPECT_TRUE(waitFor([&] { return packets() >= shown + 5; }, std::chrono::seconds(10)));
    // The line was spoiled, and the window went on.
    bool noise = false, partial = false;
    for (const std::string& l : sim.logLines()) {
        noise = noise || l.find(" noise") != std::string::npos;
        partial = partial || l.find(" partial=") != std::string::npos;
    }
    EXPECT_TRUE(noise);
    EXPECT_TRUE(partial);
    EXPECT_TRUE(w.linkActive());
    EXPECT_TRUE(messages.empty());
}

// Once a unit has been seen, a quiet line is the silence watch's business: the values are blanked
// on each silent tick and the window stays connected until the limit.
TEST_F(LegacyWindowTest, SilenceAfterTheFirstFramesBlanksTheValuesButKeepsTheLink) {
    SimProcess sim(legacySim({"--silence-after", "100"}));
    kt::TMainForm& w = start();
    enableSerial(sim.legacyDevice());
    ASSERT_TRUE(waitFor([&] { return text("netstatus_P") == "ONLINE"; }));
    child<QTimer>("status_Timer")->stop();
    ASSERT_TRUE(waitFor([&] {
        for (const std::string& l : sim.logLines())
            if (l == "legacy frame=100") return true;
        return false;
    }));
    QTest::qWait(300);     // the last frame has reached the window
    w.status_TimerTimer(); // the tick after the last frame
    w.status_TimerTimer(); // a silent one
    EXPECT_EQ(text("netstatus_P"), "Connecting");
    EXPECT_EQ(text("main_gftime_E"), "-----");
    EXPECT_EQ(text("T0_E"), "-----");
    EXPECT_TRUE(w.linkActive());
    EXPECT_NE(w.connection().legacy(), nullptr);
    EXPECT_TRUE(messages.empty());
}

TEST_F(LegacyWindowTest, ASilentLineIsGivenUpAfterTenEmptyCycles) {
    // The listener's own timing, as the window uses it.
    baseOptions.legacy = kt::LegacyTimings{};
    SimProcess sim(legacySim({"--silent"}));
    kt::TMainForm& w = start();
    w.show();
    enableSerial(sim.legacyDevice());
    ASSERT_TRUE(waitFor([&] { return w.connection().legacy() != nullptr || !messages.empty(); }));
    QElapsedTimer listening;
    listening.start();
    ASSERT_TRUE(waitFor([&] { return !messages.empty(); }));
    const qint64 ms = listening.elapsed();
    // Ten reads of up to 200 ms each after the port has settled: about two seconds.
    EXPECT_GE(ms, 2000);
    EXPECT_LE(ms, 15000);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Error connecting to the KT-740");
    EXPECT_EQ(messages[0].title, "Cannot Connect");
    EXPECT_EQ(messages[0].kind, kt::MessageOk);
    EXPECT_FALSE(w.linkActive());
    EXPECT_EQ(text("netstatus_P"), "OFFLINE");
    EXPECT_EQ(text("Comm_Button"), "Enable");
    EXPECT_FALSE(pageShown("Tab_Summary"));
    EXPECT_TRUE(waitFor([&] { return w.retiredThreadCount() == 0; }));
}

// Behind an IP address there is no line a legacy unit could push frames on: after a failed
// identification over TCP no listener is started, not even on the serial port used before.
TEST_F(LegacyWindowTest, ATcpLinkNeverStartsTheListener) {
    SimProcess legacy(legacySim({}));
    SimProcess silent({"--tcp", "127.0.0.1:0", "--silent"});
    kt::TMainForm& w = start();
    enableSerial(legacy.legacyDevice());
    ASSERT_TRUE(waitFor([&] { return text("netstatus_P") == "ONLINE" && w.legacyUnit(); }));
    child<QPushButton>("Comm_Button")->click(); // Disable

    w.selectLink(*kt::parseLink(silent.tcpLink()));
    child<QPushButton>("Comm_Button")->click();
    ASSERT_TRUE(w.linkActive());
    bool listenerSeen = false;
    ASSERT_TRUE(waitFor(
        [&] {
            listenerSeen = listenerSeen || w.connection().legacy() != nullptr;
            return !messages.empty();
        },
        std::chrono::seconds(40)));
    EXPECT_FALSE(listenerSeen);
    EXPECT_TRUE(saw("Error connecting to the KT-740", "Cannot Connect"));
    EXPECT_FALSE(w.linkActive());
    EXPECT_FALSE(w.legacyUnit());
}

} // namespace
