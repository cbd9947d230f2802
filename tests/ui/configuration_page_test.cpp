// The Configuration page of the real window against the simulated relay: every editor writes
// exactly the registers its entry asks for (checked in the simulator's request log), a write is a
// request that never changes the grid by itself, failures say "Write Failed" with the reason, the
// essential-settings view edits the same way, and every write lands in the setting write log.
#include "components/kt_spin_edit.h"
#include "tests/support/sim_process.h"
#include "tests/ui/main_form_fixture.h"
#include "ui/pages/configuration_page.h"
#include "ui/pages/grid_view.h"

#include <QComboBox>
#include <QLineEdit>
#include <QScrollBar>
#include <QTextEdit>

#include <gmock/gmock.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>

namespace {

using kt::MessageResult;
using kt::test::SimProcess;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

class ConfigPageTest : public kt::test::MainFormTest {
protected:
    void SetUp() override {
        MainFormTest::SetUp();
        // The shipped 3.20 file, with two rows changed to ACCESS 3 and ACCESS 0 (read-only).
        std::string xml = kt::test::readFile(std::string(KT_BIN_DIR) + "/resources/registers_320.xml");
        ASSERT_FALSE(xml.empty());
        xml = std::regex_replace(xml, std::regex("(REGISTER=\"35\"[^>]*ACCESS=\")1\""), "$013\"");
        xml = std::regex_replace(xml, std::regex("(REGISTER=\"33\"[^>]*ACCESS=\")1\""), "$010\"");
        std::filesystem::create_directories(resources());
        std::ofstream(resources() + "/registers_320.xml") << xml;
        std::filesystem::create_directories(logFolder());
    }
    std::string resources() const { return dir.file("resources"); }
    std::string logFolder() const { return dir.file("logs"); }

    SimProcess& startSim(std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"--tcp",         "127.0.0.1:0", "--log",       dir.file("sim.log"),
                                      "--firmware",    "320",         "--resources", resources(),
                                      "--comm-option", "3",           "--set",       "34=5",
                                      "--set",         "16=10"};
        args.insert(args.end(), extra.begin(), extra.end());
        sim = std::make_unique<SimProcess>(args);
        return *sim;
    }

    // The window on the changed register files, with short link waits so a silent unit fails fast.
    kt::TMainForm& startWindow() {
        store = std::make_unique<kt::QSettingsPreferencesStore>(iniPath());
        kt::MainFormOptions options;
        options.store = store.get();
        options.programFolder = programFolder;
        options.monitor.resourcesFolder = resources();
        options.monitor.link.timings.tcpReadMs = 300;
        options.monitor.link.timings.commandAnswerWait = 600ms;
        window = std::make_unique<kt::TMainForm>(std::move(options));
        page()->setWriteLogFolder(QString::fromStdString(logFolder()));
        return *window;
    }

    void connect() {
        kt::TMainForm& w = startWindow();
        w.show();
        w.selectLink(*kt::parseLink(sim->tcpLink()));
        child<QPushButton>("Comm_Button")->click();
        ASSERT_TRUE(waitFor([&] { return text("netstatus_P") == "ONLINE"; }));
        child<QTabWidget>("PageControl1")->setCurrentWidget(page());
        w.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    }

    kt::ConfigurationPage* page() { return window->configurationPage(); }
    QTableView* grid() { return page()->Config_Grid; }
    int rowOf(int reg) { return page()->configModel().rowOf(reg); }
    QString cell(int reg) {
        const int row = rowOf(reg);
        return row < 0 ? QString() : grid()->model()->index(row, 2).data().toString();
    }
    // A click on the value cell of `reg`.
    void click(int reg, int column = 2) {
        const int row = rowOf(reg);
        ASSERT_GE(row, 0) << "register " << reg << " is not in the grid";
        const QModelIndex index = grid()->model()->index(row, column);
        grid()->scrollTo(index);
        QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, grid()->visualRect(index).center());
    }
    void waitForPasses(int n = 2) {
        const int start = window->refreshCount();
        ASSERT_TRUE(waitFor([&] { return window->refreshCount() >= start + n; }));
    }
    bool logged(const std::string& line) {
        const auto lines = sim->logLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    int loggedCount(const std::string& prefix) {
        int n = 0;
        for (const std::string& l : sim->logLines()) n += l.starts_with(prefix);
        return n;
    }
    bool waitLogged(const std::string& line) {
        return waitFor([&] { return logged(line); }, 10s);
    }
    // Makes the running unit fall silent (or answer again) and waits until it has.
    void setSilent(bool silent) {
        const std::string said = silent ? "kt740sim: silent:" : "kt740sim: answering again";
        auto times = [&] {
            const std::string err = sim->stderrText();
            int n = 0;
            for (size_t at = err.find(said); at != std::string::npos; at = err.find(said, at + 1)) ++n;
            return n;
        };
        const int before = times();
        ::kill(sim->pid(), SIGUSR2);
        ASSERT_TRUE(waitFor([&] { return times() > before; }, 10s));
    }
    QWidget* visibleEditor() {
        for (QWidget* e : std::initializer_list<QWidget*>{page()->cmbEdit, page()->spinEdit,
                                                          page()->txtIPMask, page()->MaskMac, page()->utc_CB})
            if (e->isVisible()) return e;
        return nullptr;
    }
    // Types into the spin edit of `reg` and presses Enter.
    void enterNumber(int reg, const QString& typed) {
        click(reg);
        QLineEdit* field = page()->spinEdit->editField();
        ASSERT_TRUE(page()->spinEdit->isVisible());
        field->selectAll();
        QTest::keyClicks(field, typed);
        QTest::keyClick(field, Qt::Key_Return);
    }
    void choose(QComboBox* combo, const QString& item) {
        const int index = combo->findText(item);
        ASSERT_GE(index, 0) << item.toStdString();
        combo->setCurrentIndex(index);
        QTest::keyClick(combo, Qt::Key_Return);
    }
    std::string writeLogText() {
        for (const auto& e : std::filesystem::directory_iterator(logFolder()))
            if (e.path().filename().string().find("_settings_") != std::string::npos)
                return kt::test::readFile(e.path().string());
        return {};
    }

    std::unique_ptr<SimProcess> sim;
};

TEST_F(ConfigPageTest, EachEditorWritesExactlyTheRegistersOfItsEntry) {
    startSim();
    connect();
    kt::ConfigurationPage* p = page();

    // Numbers: rounded halves up; the unit's own value writes nothing.
    struct Number {
        int reg;
        const char* typed;
        const char* line; // nullptr: nothing written
    } numbers[] = {
        {21, "12.5", "fc=16 start=21 count=1 values=13"},
        {22, "12.49", "fc=16 start=22 count=1 values=12"},
        {36, "10", nullptr}, // the unit holds 10
        {39, "1999.5", "fc=16 start=39 count=1 values=2000"},
    };
    for (const Number& n : numbers) {
        SCOPED_TRACE(n.typed);
        enterNumber(n.reg, n.typed);
        EXPECT_EQ(visibleEditor(), nullptr); // the editor closes at once
        if (n.line) {
            EXPECT_TRUE(waitLogged(n.line));
        }
    }
    waitForPasses();
    EXPECT_EQ(loggedCount("fc=16 start=36 "), 0);

    // Lists: the chosen item's value; register 16 from register 34's CT primary.
    click(16);
    ASSERT_TRUE(p->cmbEdit->isVisible());
    ASSERT_EQ(p->cmbEdit->count(), 99);
    EXPECT_EQ(p->cmbEdit->itemText(0), "2%     0.10 A");
    EXPECT_EQ(p->cmbEdit->itemText(98), "100%     5.00 A");
    EXPECT_EQ(p->cmbEdit->currentIndex(), 8); // 10 %, the ninth item
    p->cmbEdit->setCurrentIndex(0);
    QTest::keyClick(p->cmbEdit, Qt::Key_Return);
    EXPECT_TRUE(waitLogged("fc=16 start=16 count=1 values=2"));
    click(26);
    choose(p->cmbEdit, "Latching");
    EXPECT_TRUE(waitLogged("fc=16 start=26 count=1 values=1"));

    // UTC offsets in minutes, one register.
    struct Utc {
        const char* offset;
        const char* line;
    } offsets[] = {{"-03:30", "fc=16 start=162 count=1 values=65326"},
                   {"+05:45", "fc=16 start=162 count=1 values=345"},
                   {"+00:00", "fc=16 start=162 count=1 values=0"}};
    for (const Utc& u : offsets) {
        SCOPED_TRACE(u.offset);
        waitForPasses(1);
        click(162);
        ASSERT_TRUE(p->utc_CB->isVisible());
        EXPECT_EQ(p->utc_CB->count(), 39);
        choose(p->utc_CB, u.offset);
        EXPECT_TRUE(waitLogged(u.line));
    }

    // The IP address: typed octets into two registers.
    click(101);
    ASSERT_TRUE(p->txtIPMask->isVisible());
    EXPECT_EQ(p->txtIPMask->displayText(), "192.168.001.100");
    p->txtIPMask->setCursorPosition(0);
    QTest::keyClicks(p->txtIPMask, "192168001050");
    QTest::keyClick(p->txtIPMask, Qt::Key_Return);
    EXPECT_TRUE(waitLogged("fc=16 start=101 count=2 values=306,49320"));

    // The MAC address: three registers, then command 6 for the first port.
    click(107);
    ASSERT_TRUE(p->MaskMac->isVisible());
    p->MaskMac->setCursorPosition(0);
    QTest::keyClicks(p->MaskMac, "024B54000009");
    QTest::keyClick(p->MaskMac, Qt::Key_Return);
    EXPECT_TRUE(waitLogged("fc=16 start=156 count=3 values=9,21504,587"));
    EXPECT_TRUE(waitLogged("fc=16 start=6 count=1 values=6"));

    // The grid shows what the unit holds once a pass has read it back.
    EXPECT_TRUE(waitFor([&] { return cell(21) == "13" && cell(101) == "192.168.001.050"; }));
    EXPECT_TRUE(waitFor([&] { return cell(26) == "Latching" && cell(162) == "+00:00"; }));
    EXPECT_TRUE(messages.empty()) << messages.front().text.toStdString();
}

TEST_F(ConfigPageTest, RefusedEntriesSayWhyAndWriteNothing) {
    startSim();
    connect();
    kt::ConfigurationPage* p = page();
    const size_t before = sim->logLines().size();

    // Limits 15..2000: the message, and the editor keeps the focus with the nearest limit.
    struct Case {
        int reg;
        const char* typed;
        const char* message;
        const char* holds;
    } cases[] = {
        {39, "10", "Value should be between 15  and 2000.", "15"},
        {39, "2500", "Value should be between 15  and 2000.", "2000"},
        // The RANGE rule: the nominal resistance's limits follow the Vn trip level (register 23).
        {20, "10", "Value should be between 20  and 400.", "20"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        messages.clear();
        enterNumber(c.reg, c.typed);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text, c.message);
        EXPECT_EQ(messages[0].title, "Out Of Range Error");
        EXPECT_EQ(messages[0].kind, kt::MessageOkCancel);
        EXPECT_TRUE(p->spinEdit->isVisible());
        EXPECT_EQ(p->spinEdit->editField()->text(), c.holds);
        QTest::keyClick(p->spinEdit->editField(), Qt::Key_Escape);
        EXPECT_EQ(visibleEditor(), nullptr);
    }
    // Another Vn trip level (register 23, position 4: 850 V on a 100 kilohm sensor) changes them.
    click(23);
    choose(p->cmbEdit, "850");
    EXPECT_TRUE(waitLogged("fc=16 start=23 count=1 values=4"));
    EXPECT_TRUE(waitFor([&] { return cell(23) == "850"; }));
    messages.clear();
    enterNumber(20, "10");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Value should be between 17  and 340.");
    QTest::keyClick(p->spinEdit->editField(), Qt::Key_Escape);

    // An octet above 255 never reaches the unit.
    messages.clear();
    click(101);
    p->txtIPMask->setCursorPosition(0);
    QTest::keyClicks(p->txtIPMask, "256168001050");
    QTest::keyClick(p->txtIPMask, Qt::Key_Return);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Not a valid IP address.");
    EXPECT_EQ(messages[0].title, "IP Address Error");
    EXPECT_TRUE(p->txtIPMask->hasFocus());
    QTest::keyClick(p->txtIPMask, Qt::Key_Escape);

    // Leaving the IP editor without typing writes nothing, even when its text differs.
    click(103);
    p->txtIPMask->setText("010.000.000.001");
    click(22, 1); // another cell takes the focus: the exit runs
    EXPECT_FALSE(p->txtIPMask->isVisible());
    EXPECT_FALSE(p->ipTyped());

    // A MAC pair that is not complete: the operator is told which one.
    messages.clear();
    click(116);
    p->MaskMac->setCursorPosition(0);
    QTest::keyClicks(p->MaskMac, "024B");
    QTest::keyClicks(p->MaskMac, "ab"); // lower case is not taken
    QTest::keyClick(p->MaskMac, Qt::Key_Return);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Not a valid MAC address: pair 3 is empty.");
    EXPECT_EQ(messages[0].title, "MAC Address Error");
    EXPECT_TRUE(p->MaskMac->isVisible());
    QTest::keyClick(p->MaskMac, Qt::Key_Escape);

    waitForPasses();
    const std::vector<std::string> lines = sim->logLines();
    for (size_t i = before; i < lines.size(); ++i) {
        if (lines[i].starts_with("fc=16")) {
            EXPECT_EQ(lines[i], "fc=16 start=23 count=1 values=4");
        }
    }
}

TEST_F(ConfigPageTest, ReadOnlyRowsOpenNothing) {
    startSim();
    connect();
    // ACCESS 0 (register 33 here) and ACCESS 3 (register 35) open no editor; 3 is drawn white.
    for (int reg : {33, 35}) {
        SCOPED_TRACE(reg);
        click(reg);
        EXPECT_EQ(visibleEditor(), nullptr);
        EXPECT_EQ(page()->editRegister(), reg);
    }
    auto background = [&](int reg) {
        return grid()->model()->index(rowOf(reg), 2).data(Qt::BackgroundRole).value<QBrush>().color();
    };
    EXPECT_EQ(background(35), QColor(Qt::white));
    EXPECT_EQ(background(33), QApplication::palette().color(QPalette::Button));
    // A click on the parameter opens nothing either.
    click(21, 1);
    EXPECT_EQ(visibleEditor(), nullptr);
    waitForPasses();
    EXPECT_EQ(loggedCount("fc=16"), 0);
}

TEST_F(ConfigPageTest, ScrollingMovesTheEditorWithItsCellAndClosesItOutOfSight) {
    startSim();
    connect();
    kt::ConfigurationPage* p = page();
    window->resize(900, 420); // fewer rows than the grid holds
    QScrollBar* bar = grid()->verticalScrollBar();
    ASSERT_TRUE(waitFor([&] { return bar->maximum() > 2; }));
    bar->setValue(0);

    click(21);
    ASSERT_TRUE(p->spinEdit->isVisible());
    p->spinEdit->editField()->selectAll();
    QTest::keyClicks(p->spinEdit->editField(), "33");
    const QModelIndex valueCell = grid()->model()->index(rowOf(21), 2);
    auto onCell = [&] {
        const QRect r = grid()->visualRect(valueCell);
        return p->spinEdit->geometry().topLeft() == grid()->viewport()->mapTo(p, r.topLeft());
    };
    EXPECT_TRUE(onCell());

    // One row down: the editor follows its cell and keeps what was typed.
    if (grid()->rowAt(0) < rowOf(21)) {
        bar->setValue(bar->value() + 1);
        EXPECT_TRUE(p->spinEdit->isVisible());
        EXPECT_TRUE(onCell());
        EXPECT_EQ(p->spinEdit->editField()->text(), "33");
    }
    // Out of sight: the editor goes and nothing is written.
    bar->setValue(bar->maximum());
    ASSERT_GT(grid()->rowAt(0), rowOf(21));
    EXPECT_EQ(visibleEditor(), nullptr);
    EXPECT_FALSE(p->editorOpen());
    waitForPasses();
    EXPECT_EQ(loggedCount("fc=16"), 0);
    EXPECT_EQ(cell(21), "20");
}

TEST_F(ConfigPageTest, TheHelpPaneShowsTheSettingsGuidance) {
    startSim();
    connect();
    QTextEdit* help = page()->help_E;
    EXPECT_FALSE(help->isVisible());
    click(20);
    ASSERT_TRUE(help->isVisible());
    EXPECT_EQ(help->toPlainText(), "Guidance for Nominal NGR Resistance (ohms) Setting\n\n"
                                   "Enter the resistance stamped on the NGR nameplate, in ohms.\n"
                                   "The allowed range follows the Vn trip level: a higher trip level needs a "
                                   "higher resistance.\n"
                                   "After commissioning, compare it with the Measured NGR Resistance under "
                                   "Metered Values.");
    QTextCursor heading(help->document());
    heading.setPosition(1);
    EXPECT_EQ(heading.charFormat().foreground().color(), QColor(255, 0, 0));
    EXPECT_EQ(heading.charFormat().fontWeight(), QFont::Bold);
    // Leaving the editor hides it.
    QTest::keyClick(page()->spinEdit->editField(), Qt::Key_Return);
    EXPECT_FALSE(help->isVisible());
}

TEST_F(ConfigPageTest, AWriteIsARequestAndTheGridShowsOnlyTheUnitsValue) {
    startSim({"--delay-ms", "150"});
    connect();
    kt::ConfigurationPage* p = page();
    ASSERT_EQ(cell(21), "20");

    enterNumber(21, "33");
    // At once: the editor is gone, the row is marked and still shows the unit's value.
    EXPECT_EQ(visibleEditor(), nullptr);
    EXPECT_TRUE(p->writePending(21));
    EXPECT_EQ(cell(21), "20");
    const QModelIndex value = grid()->model()->index(rowOf(21), 2);
    EXPECT_TRUE(value.data(Qt::FontRole).value<QFont>().italic());
    EXPECT_EQ(value.data(Qt::ToolTipRole).toString(), "Writing 33 to the unit");

    // Picking another cell meanwhile keeps the write.
    click(22);
    EXPECT_TRUE(p->spinEdit->isVisible());
    EXPECT_TRUE(p->writePending(21));
    QTest::keyClick(p->spinEdit->editField(), Qt::Key_Escape);

    EXPECT_TRUE(waitLogged("fc=16 start=21 count=1 values=33"));
    EXPECT_TRUE(waitFor([&] { return cell(21) == "33" && !p->writePending(21); }));
    EXPECT_EQ(p->pendingWrites(), 0);

    // An open editor is left alone by the passes: its text stays as typed, other rows go on.
    click(22);
    QLineEdit* field = p->spinEdit->editField();
    field->selectAll();
    QTest::keyClicks(field, "45");
    EXPECT_TRUE(p->editorOpen());
    QTest::qWait(10);
    waitForPasses(3);
    EXPECT_TRUE(p->spinEdit->isVisible());
    EXPECT_EQ(field->text(), "45");
    EXPECT_TRUE(field->hasFocus());
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_TRUE(waitLogged("fc=16 start=22 count=1 values=45"));
    EXPECT_TRUE(messages.empty());
}

TEST_F(ConfigPageTest, AWriteToASilentUnitSaysWriteFailedAndTheGridKeepsTheUnitsValue) {
    startSim();
    connect();
    ASSERT_EQ(cell(21), "20");
    setSilent(true);
    enterNumber(21, "33");
    ASSERT_TRUE(waitFor([&] { return !messages.empty(); }, 30s));
    EXPECT_THAT(messages[0].text.toStdString(), ::testing::StartsWith("Write Failed\n"));
    EXPECT_THAT(messages[0].text.toStdString(), HasSubstr("no answer"));
    EXPECT_EQ(messages[0].title, "Write Failed");
    EXPECT_FALSE(page()->writePending(21));
    EXPECT_TRUE(logged("fc=16 start=21 count=1 values=33")); // asked, never answered

    setSilent(false);
    const int start = window->refreshCount();
    ASSERT_TRUE(waitFor([&] { return window->refreshCount() > start + 1; }, 30s));
    EXPECT_EQ(cell(21), "20");
    EXPECT_THAT(writeLogText(), HasSubstr("\t21\tRF Trip Level (% change)\t20\t33\tFailed: no answer"));
}

TEST_F(ConfigPageTest, UnitCommandsOnASilentUnitSayWhyAndNeverDone) {
    startSim();
    connect();
    answer = MessageResult::Yes; // Set Date/Time asks first
    struct Command {
        const char* name;
        void (kt::TMainForm::*click)();
        const char* sent; // the request the unit received and never answered
    } commands[] = {
        {"Reset to Defaults", &kt::TMainForm::ResettoDefaults1Click, "fc=16 start=6 count=1 values=5"},
        {"Set Date/Time", &kt::TMainForm::mnuSetDateClick, "fc=16 start=152 count=2 "},
        {"Remote Calibration", &kt::TMainForm::mnuRemoteCalClick, "fc=16 start=6 count=1 values=16"},
        {"Dump Diagnostics File to SDCard", &kt::TMainForm::DumpDiagnosticsFiletoSDCard1Click,
         "fc=16 start=6 count=1 values=18"},
    };
    for (const Command& c : commands) {
        SCOPED_TRACE(c.name);
        messages.clear();
        setSilent(true);
        (window.get()->*c.click)();
        const auto isFailure = [](const auto& m) { return m.title == "Command Failed"; };
        ASSERT_TRUE(waitFor([&] { return std::any_of(messages.begin(), messages.end(), isFailure); }, 30s));
        const auto failed = std::find_if(messages.begin(), messages.end(), isFailure);
        EXPECT_THAT(failed->text.toStdString(), ::testing::StartsWith(std::string(c.name) + " failed:\n"));
        EXPECT_THAT(failed->text.toStdString(), HasSubstr("no answer"));
        EXPECT_FALSE(saw("Done", "Finished Command"));
        EXPECT_GE(loggedCount(c.sent), 1);
        setSilent(false); // answering again before the window gives up on the unit
        waitForPasses(1);
    }
    // Answered, Reset to Defaults says so.
    messages.clear();
    window->ResettoDefaults1Click();
    EXPECT_TRUE(waitFor([&] { return saw("Done", "Finished Command"); }, 10s));
}

TEST_F(ConfigPageTest, TheCtRatingRowWritesTheEffectiveCtPrimary) {
    startSim();
    connect();
    kt::test::whenShown("TZSCT_F", [](QWidget* dialog) {
        dialog->findChild<QAbstractButton*>("ct_1_RB")->click(); // KT-TR50: primary 30
        dialog->findChild<QPushButton*>("OK_Button")->click();
    });
    click(34);
    EXPECT_TRUE(waitLogged("fc=16 start=34 count=1 values=30"));
    EXPECT_TRUE(window->selection().ct_selected);
    EXPECT_TRUE(window->portSelectionChanged());
    EXPECT_TRUE(waitFor([&] { return cell(34) == "30"; }));
    EXPECT_THAT(writeLogText(), HasSubstr("\t34\tCT Primary Rating (A)\t5\t30\tWritten"));
}

TEST_F(ConfigPageTest, TheEssentialSettingsViewEditsTheSameWay) {
    startSim({"--unverified"});
    connect();
    kt::ConfigurationPage* p = page();
    EXPECT_TRUE(p->RichEdit1->isVisible());
    EXPECT_LT(rowOf(21), 0); // only the essential rows
    ASSERT_GE(rowOf(199), 0);
    enterNumber(20, "250");
    EXPECT_TRUE(waitLogged("fc=16 start=20 count=1 values=250"));
    click(199);
    choose(p->cmbEdit, "Yes");
    EXPECT_TRUE(waitLogged("fc=16 start=199 count=1 values=1"));
    // The unit is verified now: the full view comes with the next passes.
    EXPECT_TRUE(waitFor([&] { return rowOf(21) >= 0; }));
    EXPECT_FALSE(p->RichEdit1->isVisible());
    EXPECT_EQ(cell(20), "250");
}

// The unit leaving its verified state (another tool cleared register 199) re-lays the pages out,
// but never under an open editor: the grid keeps its rows and the typed text until it closes.
TEST_F(ConfigPageTest, ARelayoutWaitsForTheOpenEditor) {
    startSim();
    connect();
    kt::ConfigurationPage* p = page();
    ASSERT_GE(rowOf(21), 0);
    ASSERT_FALSE(p->RichEdit1->isVisible());
    const int rows = grid()->model()->rowCount();
    click(22);
    QLineEdit* field = p->spinEdit->editField();
    ASSERT_TRUE(p->spinEdit->isVisible());
    field->selectAll();
    QTest::keyClicks(field, "45");

    const kt::test::CommandResult r =
        kt::test::runCommand({kt::test::binPath("ktmon740-cli"), "write", sim->tcpLink(), "199", "0"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    waitForPasses(3);
    EXPECT_TRUE(p->spinEdit->isVisible());
    EXPECT_EQ(field->text(), "45");
    EXPECT_EQ(grid()->model()->rowCount(), rows);
    EXPECT_FALSE(p->RichEdit1->isVisible());
    EXPECT_TRUE(pageShown("Tab_Summary"));

    // Closed without a write: the essential settings view comes with the next pass.
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_TRUE(waitFor([&] { return p->RichEdit1->isVisible(); }));
    EXPECT_LT(rowOf(21), 0);
    EXPECT_GE(rowOf(199), 0);
    EXPECT_FALSE(pageShown("Tab_Summary"));
    EXPECT_EQ(loggedCount("fc=16 start=22 "), 0);
    EXPECT_TRUE(messages.empty());
}

TEST_F(ConfigPageTest, EverySettingWrittenIsInTheWriteLog) {
    startSim();
    connect();
    enterNumber(21, "13");
    EXPECT_TRUE(waitLogged("fc=16 start=21 count=1 values=13"));
    click(162);
    choose(page()->utc_CB, "-03:30");
    EXPECT_TRUE(waitLogged("fc=16 start=162 count=1 values=65326"));
    EXPECT_TRUE(waitFor([&] { return page()->pendingWrites() == 0; }));

    const std::string log = writeLogText();
    EXPECT_THAT(log, ::testing::StartsWith("\xEF\xBB\xBFKT-MON740 version 4.1 setting write log\r\n"));
    EXPECT_THAT(log, HasSubstr(", KT-740, serial 000000001, Firmware Version: 3.20, " + sim->tcpEndpoint()));
    EXPECT_THAT(log, HasSubstr("Time\tRegister\tParameter\tOld Value\tNew Value\tResult\r\n"));
    EXPECT_THAT(log, HasSubstr("\t21\tRF Trip Level (% change)\t20\t13\tWritten\r\n"));
    EXPECT_THAT(log, HasSubstr("\t162\tUTC Offset (h:m)\t+10:00\t-03:30\tWritten\r\n"));
}

} // namespace
