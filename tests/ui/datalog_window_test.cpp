// The PC data log and the trend in the real main window against the simulated relay: the settings
// dialog from the menu, a line on every second refresh, a folder that goes away (said once,
// marked on `datalog_P`, lines kept and written when it is back), the live trend and a day's log
// opened from the File menu.
#include "monitor/datalog_reader.h"
#include "tests/support/sim_process.h"
#include "tests/ui/main_form_fixture.h"
#include "ui/datalog_component.h"
#include "ui/status_panel.h"
#include "ui/trend_view.h"

#include <QCheckBox>
#include <QDate>

#include <gmock/gmock.h>

#include <algorithm>
#include <filesystem>

namespace {

using kt::test::MainFormTest;
using kt::test::SimProcess;
using ::testing::HasSubstr;

class DatalogWindowTest : public MainFormTest {
protected:
    kt::DatalogComponent* datalog() { return window->datalogComponent(); }
    // Data Logging > Settings: the folder chosen with Browse, logging on, OK.
    void enableLogging(const std::string& folder) {
        datalog()->setFolderPicker(
            [folder](QWidget*, const QString&, const QString&) { return QString::fromStdString(folder); });
        kt::test::whenShown("TDatalog_SettingsF", [](QWidget* dialog) {
            dialog->findChild<QAbstractButton*>("Button1")->click();
            dialog->findChild<QCheckBox*>("Datalog_Enable")->setChecked(true);
            dialog->findChild<QAbstractButton*>("OK_B")->click();
        });
        child<QAction>("Datalog_Settings")->trigger();
    }
    static std::string today(const std::string& base) {
        const QDate d = QDate::currentDate();
        return base + QString::asprintf("_%02d%02d.txt", d.month(), d.day()).toStdString();
    }
    static size_t dataLines(const std::string& text) {
        size_t n = 0;
        for (const std::string& line : kt::test::splitLines(text))
            if (line.size() > 8 && line[2] == ':' && line[5] == ':') ++n;
        return n;
    }
    QColor datalogBackground() {
        return child<kt::StatusPanel>("datalog_P")->palette().color(QPalette::Window);
    }
};

TEST_F(DatalogWindowTest, LinesOnEverySecondRefreshAndAFolderThatGoesAwayIsToldOnce) {
    SimProcess sim({"--tcp", "127.0.0.1:0", "--firmware", "320", "--serial", "4711"});
    start();
    window->show();
    window->selectLink(*kt::parseLink(sim.tcpLink()));
    child<QPushButton>("Comm_Button")->click();
    ASSERT_TRUE(waitFor([&] { return text("netstatus_P") == "ONLINE"; }));

    const std::string folder = dir.file("logs");
    std::filesystem::create_directory(folder);
    enableLogging(folder);
    EXPECT_TRUE(child<QAction>("Datalog_Settings")->isChecked());
    EXPECT_EQ(stored("datalog_enable").toString(), "true");
    EXPECT_EQ(stored("save_rate").toInt(), 2);
    // The name follows the unit: its model and serial number (at least nine digits).
    EXPECT_EQ(stored("FileName").toString(), "KT-740_000004711");
    const std::string file = folder + "/" + today("KT-740_000004711");

    const int refreshes = window->refreshCount();
    ASSERT_TRUE(waitFor([&] { return dataLines(kt::test::readFile(file)) >= 2; }));
    EXPECT_LE(int(dataLines(kt::test::readFile(file))), (window->refreshCount() - refreshes + 1) / 2 + 1);
    const kt::DatalogReadResult read = kt::readDatalogFile(file, kt::systemLocalClock());
    ASSERT_TRUE(read.ok()) << read.error;
    EXPECT_EQ(read.skippedLines, 0u);
    EXPECT_EQ(read.headerBlocks, 1);
    ASSERT_GE(read.samples.size(), 2u);
    EXPECT_GE(read.samples[0].currentPercent, 1.0f); // the simulator's current moves within 1..7 %
    EXPECT_LE(read.samples[0].currentPercent, 7.0f);
    const std::string text = kt::test::readFile(file);
    EXPECT_TRUE(
        text.starts_with("\xEF\xBB\xBF"
                         "Data File for KT-740, Firmware Version: 3.20\r\nKT-MON740 version 4.1\r\nTime\t"))
        << text.substr(0, 200);
    EXPECT_THAT(text, HasSubstr("\tNGR Current (A)\tNGR Voltage (V)\r\n\r\n"));
    EXPECT_TRUE(messages.empty());

    // The folder goes away (a stick pulled out): one message, the panel marked, lines kept.
    std::filesystem::rename(folder, folder + ".away");
    ASSERT_TRUE(waitFor([&] { return !messages.empty(); }));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Cannot Open File");
    EXPECT_EQ(messages[0].title, "File Error 2");
    EXPECT_EQ(messages[0].kind, kt::MessageOk);
    EXPECT_TRUE(datalog()->failing());
    EXPECT_EQ(datalogBackground(), QColor(128, 0, 0));
    EXPECT_THAT(child<QWidget>("datalog_P")->toolTip().toStdString(), HasSubstr("cannot be written"));
    ASSERT_TRUE(waitFor([&] { return datalog()->recorder().writer().keptLines() >= 3; }));
    EXPECT_EQ(messages.size(), 1u); // still failing, nothing more said

    // Back again: the kept lines are written, in order, and the operator is told.
    std::filesystem::rename(folder + ".away", folder);
    ASSERT_TRUE(waitFor([&] { return messages.size() == 2; }));
    EXPECT_THAT(messages[1].text.toStdString(), HasSubstr("Data logging works again"));
    EXPECT_FALSE(datalog()->failing());
    EXPECT_EQ(datalogBackground(), QColor(0, 0, 0));
    const kt::DatalogReadResult after = kt::readDatalogFile(file, kt::systemLocalClock());
    ASSERT_TRUE(after.ok()) << after.error;
    EXPECT_EQ(after.skippedLines, 0u);
    EXPECT_GE(after.samples.size(), read.samples.size() + 4);
    EXPECT_TRUE(std::is_sorted(after.samples.begin(), after.samples.end(),
                               [](const auto& a, const auto& b) { return a.timeMs < b.timeMs; }));

    // The live trend has the session's refreshes; the log opens into a trend of its own.
    child<QAction>("LiveTrend1")->trigger();
    auto* live = kt::test::visibleTopLevel("LiveTrend_F");
    ASSERT_NE(live, nullptr);
    EXPECT_GE(int(datalog()->liveTrend()->data().size()), window->refreshCount() - 2);
    EXPECT_FALSE(std::isnan(datalog()->liveTrend()->data().samples().back().currentPercent));
    datalog()->setFilePicker([&](QWidget*, const QString& start) {
        EXPECT_EQ(start.toStdString(), folder + "/");
        return QString::fromStdString(file);
    });
    child<QAction>("OpenDatalog1")->trigger();
    auto* opened = kt::test::visibleTopLevel("DatalogTrend_F");
    ASSERT_NE(opened, nullptr);
    auto* trend = opened->findChild<kt::TrendView*>();
    ASSERT_NE(trend, nullptr);
    EXPECT_GE(trend->data().size(), after.samples.size());
    opened->close();

    // A file that is no data log is refused with the reader's words.
    const std::string notALog = dir.write("notes_0312.txt", "hello\r\n");
    EXPECT_EQ(datalog()->openDatalogFile(QString::fromStdString(notALog)), nullptr);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_THAT(messages[2].text.toStdString(), HasSubstr("not a KT-MON740 data log"));
}

// Cancelling the dialog still names the log after the unit (offline: the model and no serial
// number yet); the folder defaults to the program's.
TEST_F(DatalogWindowTest, CancelledSettingsStillRenameTheLog) {
    start();
    kt::test::clickWhenShown("TDatalog_SettingsF", "Cancel_B");
    window->Change_Datalog_Settings();
    EXPECT_EQ(stored("FileName").toString(), "KT-740_");
    EXPECT_EQ(stored("datalog_enable").toString(), "false");
    EXPECT_EQ(datalog()->settings().datalogFolder, programFolder.toStdString() + "/");
    EXPECT_FALSE(child<QAction>("Datalog_Settings")->isChecked());
}

// An older unit: the name is the model alone, a line every `save_rate` (2 after OK) accepted
// frames in the legacy layout, and `datalog_P` tells that logging is on.
TEST_F(DatalogWindowTest, LegacyUnitLogsEverySecondFrame) {
    SimProcess sim({"--legacy"});
    start();
    window->show();
    window->selectSerialPort(QString::fromStdString(sim.legacyDevice()));
    child<QPushButton>("Comm_Button")->click();
    ASSERT_TRUE(window->linkActive());
    window->startLegacyMonitor(); // no need to wait for the Modbus identification to fail
    ASSERT_TRUE(waitFor([&] { return text("netstatus_P") == "ONLINE" && window->legacyUnit(); }));

    const std::string folder = dir.file("legacy-logs");
    std::filesystem::create_directory(folder);
    enableLogging(folder);
    EXPECT_EQ(stored("FileName").toString(), "KT-740");
    EXPECT_EQ(text("datalog_P"), "PC Datalog ON");
    const int frames = window->legacyStatusState().packetCount;
    const std::string file = folder + "/" + today("KT-740");
    ASSERT_TRUE(waitFor([&] { return dataLines(kt::test::readFile(file)) >= 3; }));
    const int framesSince = window->legacyStatusState().packetCount - frames;
    const size_t lines = dataLines(kt::test::readFile(file));
    EXPECT_LE(int(lines), framesSince / 2 + 1) << framesSince << " frames";
    EXPECT_GE(int(lines), framesSince / 2 - 1) << framesSince << " frames";

    const std::string textOfFile = kt::test::readFile(file);
    EXPECT_TRUE(textOfFile.starts_with("\xEF\xBB\xBF"
                                       "Data File for KT-740, Firmware Version: 10\r\n"))
        << textOfFile.substr(0, 200);
    EXPECT_THAT(textOfFile, HasSubstr("\r\nTime\tGF Time (s)\tGF Setting (%)\t"));
    const kt::DatalogReadResult read = kt::readDatalogFile(file, kt::systemLocalClock());
    ASSERT_TRUE(read.ok()) << read.error;
    EXPECT_EQ(read.skippedLines, 0u);
    EXPECT_EQ(read.headerBlocks, 1);
    EXPECT_TRUE(messages.empty());

    // Logging off: no more lines, and the panel says so.
    kt::test::whenShown("TDatalog_SettingsF", [](QWidget* dialog) {
        dialog->findChild<QCheckBox*>("Datalog_Enable")->setChecked(false);
        dialog->findChild<QAbstractButton*>("OK_B")->click();
    });
    child<QAction>("Datalog_Settings")->trigger();
    EXPECT_EQ(text("datalog_P"), "PC Datalog OFF");
    const std::string frozen = kt::test::readFile(file);
    const int now = window->legacyStatusState().packetCount;
    ASSERT_TRUE(waitFor([&] { return window->legacyStatusState().packetCount >= now + 4; }));
    EXPECT_EQ(kt::test::readFile(file), frozen);
}

} // namespace
