// The Event Records pages on the real main window against the simulated relay: the ring read
// newest first and saved as text, no records, Clear Records, a count that cannot be read, Cancel,
// and Disable or closing the window while records are still arriving; the legacy page with its
// "d" and "c" requests.
#include "tests/support/sim_process.h"
#include "tests/ui/main_form_fixture.h"
#include "ui/datalog_component.h"
#include "ui/pages/event_records_page.h"

#include <QHeaderView>
#include <QProgressBar>
#include <QTableView>

#include <gmock/gmock.h>

#include <algorithm>

namespace {

using kt::EventReadResult;
using kt::test::MainFormTest;
using kt::test::SimProcess;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr std::string_view Bom = "\xEF\xBB\xBF";

class EventPageTest : public MainFormTest {
protected:
    std::vector<std::string> simArgs(std::vector<std::string> extra) {
        std::vector<std::string> args{"--tcp", "127.0.0.1:0", "--firmware",
                                      "320",   "--log",       dir.file("sim.log")};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
    void connectTo(const SimProcess& sim) {
        window->show();
        window->selectLink(*kt::parseLink(sim.tcpLink()));
        child<QPushButton>("Comm_Button")->click();
        ASSERT_TRUE(window->linkActive());
        ASSERT_TRUE(waitFor([&] { return text("netstatus_P") == "ONLINE" && pageShown("TabSheet5"); }));
    }
    kt::EventRecordsPage* page() { return window->eventRecordsPage(); }
    // Shows the page, which reads the records, and waits for the read to end.
    void showPage() {
        child<QTabWidget>("PageControl1")->setCurrentWidget(page());
        ASSERT_TRUE(waitFor([&] { return !page()->reading(); }));
    }
    QString cell(int row, int column) {
        return page()->model().data(page()->model().index(row, column), Qt::DisplayRole).toString();
    }
    int rows() { return page()->model().rowCount(); }
    bool saveEnabled() { return child<QPushButton>("cmdSave")->isEnabled(); }
    QString status() { return child<QLabel>("eventStatus_L")->text(); }
    bool logged(const SimProcess& sim, const std::string& line) {
        auto lines = sim.logLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    // Lines of a saved file without their CR LF.
    static std::vector<std::string> crlfLines(const std::string& text) {
        std::vector<std::string> lines;
        size_t pos = text.starts_with(Bom) ? Bom.size() : 0;
        while (pos < text.size()) {
            size_t end = text.find("\r\n", pos);
            if (end == std::string::npos) {
                lines.push_back("UNTERMINATED:" + text.substr(pos));
                break;
            }
            lines.push_back(text.substr(pos, end - pos));
            pos = end + 2;
        }
        return lines;
    }
};

// Five records with the newest at index 2 come as 2, 1, 0, 4, 3 (record k: NGR current 10 + k,
// voltage 20 + k, change k - 50, causes ground fault, resistor fault, voltage trip, remote trip).
TEST_F(EventPageTest, TheRingIsShownNewestFirstAndSavedAsText) {
    SimProcess sim(simArgs({"--events", "5", "--newest", "2"}));
    start();
    connectTo(sim);
    EXPECT_FALSE(child<QLabel>("new_events_P")->isHidden()); // the first refresh shows it
    EXPECT_EQ(text("txtRecordcount"), "5");
    showPage();

    EXPECT_TRUE(child<QLabel>("new_events_P")->isHidden());
    ASSERT_EQ(rows(), 5);
    const char* currents[] = {"12", "11", "10", "14", "13"};
    for (int r = 0; r < 5; ++r) {
        EXPECT_EQ(cell(r, 0), QString::number(r));
        EXPECT_EQ(cell(r, 3), currents[r]) << r;
    }
    EXPECT_EQ(cell(0, 4), "22");
    EXPECT_EQ(cell(0, 5), "-48");
    EXPECT_EQ(cell(0, 6), "Voltage Trip");
    EXPECT_EQ(cell(0, 7), "Voltage > Setting");
    EXPECT_EQ(cell(1, 6), "Resistor Fault");
    EXPECT_EQ(cell(3, 7), "Ground Fault"); // record 4 is a ground fault again
    EXPECT_EQ(cell(4, 6), "Remote Trip");  // record 3 a remote trip, with no setpoint cause
    EXPECT_EQ(cell(4, 7), "None");
    EXPECT_TRUE(saveEnabled());
    EXPECT_THAT(status().toStdString(), HasSubstr("5 records read"));
    // The grid is laid out from its width: the record number hidden, the rest shown.
    auto* grid = child<QTableView>("StrgdEvents");
    EXPECT_TRUE(grid->isColumnHidden(0));
    for (int c = 1; c < 8; ++c) EXPECT_GT(grid->columnWidth(c), 0) << c;
    EXPECT_EQ(grid->horizontalHeader()->height(), 40);

    // Save as Text: the header, then the header row and the five rows, tab-terminated cells.
    const std::string path = dir.file("events.txt");
    page()->setSavePicker([&](QWidget*) { return QString::fromStdString(path); });
    child<QPushButton>("cmdSave")->click();
    EXPECT_TRUE(messages.empty());
    const std::string saved = kt::test::readFile(path);
    EXPECT_TRUE(saved.starts_with(Bom));
    const auto lines = crlfLines(saved);
    ASSERT_EQ(lines.size(), 4u + 1u + 5u) << saved;
    EXPECT_THAT(lines[0], StartsWith("Halvorn CORVANE Event Records \t"));
    EXPECT_EQ(lines[1], "Unit Type \tKT-740");
    EXPECT_EQ(lines[2], "Firmware Version: 3.20");
    EXPECT_EQ(lines[3], "");
    EXPECT_EQ(lines[4], "Record #\tDate (D/M/Y)\tTime\tNGR Current (% FS)\tNGR Voltage (% Setting)\t"
                        "NGR Change (ohms)\tTrip Status\tSetpoint Status\t");
    EXPECT_EQ(lines[5], "0\t" + cell(0, 1).toStdString() + "\t" + cell(0, 2).toStdString() +
                            "\t12\t22\t-48\tVoltage Trip\tVoltage > Setting\t");
    EXPECT_EQ(lines[9], "4\t" + cell(4, 1).toStdString() + "\t" + cell(4, 2).toStdString() +
                            "\t13\t23\t-47\tRemote Trip\tNone\t");

    // Refresh reads them all again; the next visit of the page only the count.
    const auto selects = [&] {
        auto l = sim.logLines();
        return std::count_if(l.begin(), l.end(),
                             [](const std::string& s) { return s.starts_with("fc=16 start=62 "); });
    };
    const auto before = selects();
    child<QPushButton>("cmdRefresh")->click();
    ASSERT_TRUE(waitFor([&] { return !page()->reading(); }));
    EXPECT_EQ(selects(), before + 5);
    child<QTabWidget>("PageControl1")->setCurrentWidget(child<QWidget>("Tab_Summary"));
    showPage();
    EXPECT_EQ(selects(), before + 5);
    EXPECT_EQ(rows(), 5);
    EXPECT_TRUE(saveEnabled());
}

TEST_F(EventPageTest, NoRecordsLeaveOnlyTheHeaderAndClearReadsAgain) {
    struct Case {
        const char* events;
        bool clear;
    } cases[] = {{"0", false}, {"3", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.events);
        iniName = std::string("events") + c.events + ".ini";
        SimProcess sim(simArgs({"--events", c.events}));
        start();
        connectTo(sim);
        showPage();
        if (c.clear) {
            ASSERT_EQ(rows(), 3);
            child<QPushButton>("cmdClear")->click();
            EXPECT_TRUE(page()->reading());
            ASSERT_TRUE(waitFor([&] { return !page()->reading(); }));
            EXPECT_TRUE(logged(sim, "fc=16 start=6 count=1 values=2"));
        }
        EXPECT_EQ(rows(), 0);
        EXPECT_TRUE(saveEnabled());
        EXPECT_EQ(status(), "The unit holds no event records.");
        EXPECT_TRUE(messages.empty());
        window.reset();
        store.reset();
    }
}

// The count (registers 60..71) could not be read: the rows of the last read stay, and so does
// the offer to save them; the page says what failed.
TEST_F(EventPageTest, ACountThatCannotBeReadKeepsTheList) {
    SimProcess sim(simArgs({"--events", "2"}));
    start();
    connectTo(sim);
    showPage();
    ASSERT_EQ(rows(), 2);
    EventReadResult unreadable;
    unreadable.kind = EventReadResult::Kind::CountUnreadable;
    unreadable.link = kt::LinkResult::failure(kt::LinkStatus::NoAnswer);
    page()->UpdateEventList(unreadable);
    EXPECT_EQ(rows(), 2);
    EXPECT_TRUE(saveEnabled());
    EXPECT_THAT(status().toStdString(), HasSubstr("The number of records could not be read"));
    EXPECT_TRUE(child<QPushButton>("cmdRefresh")->isEnabled());
}

// A slow unit with many records: the rows arrive one by one with a progress bar, the window stays
// usable, and Cancel stops the read with a list that says it is incomplete.
TEST_F(EventPageTest, CancelStopsTheReadAndTheListSaysItIsIncomplete) {
    SimProcess sim(simArgs({"--events", "100", "--delay-ms", "20"}));
    start();
    connectTo(sim);
    child<QTabWidget>("PageControl1")->setCurrentWidget(page());
    ASSERT_TRUE(waitFor([&] { return rows() >= 3; }));
    EXPECT_TRUE(page()->reading());
    EXPECT_TRUE(child<QProgressBar>("eventProgress_PB")->isVisible());
    EXPECT_EQ(child<QProgressBar>("eventProgress_PB")->maximum(), 100);
    EXPECT_FALSE(saveEnabled());
    EXPECT_FALSE(child<QPushButton>("cmdRefresh")->isEnabled());
    // Other pages can be visited meanwhile.
    EXPECT_TRUE(child<QTabWidget>("PageControl1")->isEnabled());
    child<QPushButton>("cmdCancel")->click();
    ASSERT_TRUE(waitFor([&] { return !page()->reading(); }));
    const int got = rows();
    EXPECT_LT(got, 100);
    EXPECT_FALSE(saveEnabled());
    EXPECT_FALSE(page()->listComplete());
    EXPECT_THAT(status().toStdString(), HasSubstr("cancelled"));
    EXPECT_THAT(status().toStdString(), HasSubstr("incomplete"));
    EXPECT_FALSE(child<QProgressBar>("eventProgress_PB")->isVisible());
    EXPECT_TRUE(child<QPushButton>("cmdRefresh")->isEnabled());

    // The next visit reads the whole list again, not just the count.
    child<QTabWidget>("PageControl1")->setCurrentWidget(child<QWidget>("Tab_Summary"));
    child<QTabWidget>("PageControl1")->setCurrentWidget(page());
    EXPECT_TRUE(page()->reading());
    ASSERT_TRUE(waitFor([&] { return rows() == 1; })); // the old rows give way
    child<QPushButton>("cmdCancel")->click();
    ASSERT_TRUE(waitFor([&] { return !page()->reading(); }));
    EXPECT_TRUE(messages.empty());
}

// Disable, and closing the window, while records still arrive: the read ends as cancelled, never
// as complete, and nothing of the ended connection reaches the page afterwards.
TEST_F(EventPageTest, DisableOrClosingDuringTheReadEndCleanly) {
    SimProcess sim(simArgs({"--events", "100", "--delay-ms", "20"}));
    start();
    connectTo(sim);
    child<QTabWidget>("PageControl1")->setCurrentWidget(page());
    ASSERT_TRUE(waitFor([&] { return rows() >= 2; }));
    child<QPushButton>("Comm_Button")->click(); // Disable
    EXPECT_FALSE(window->linkActive());
    EXPECT_FALSE(page()->reading());
    EXPECT_FALSE(page()->listComplete());
    EXPECT_FALSE(saveEnabled());
    EXPECT_THAT(status().toStdString(), HasSubstr("the connection ended"));
    const int got = rows();
    ASSERT_TRUE(waitFor([&] { return window->retiredThreadCount() == 0; }));
    QTest::qWait(200); // a record or result still on its way would arrive now
    EXPECT_EQ(rows(), got);
    EXPECT_FALSE(saveEnabled());
    EXPECT_THAT(status().toStdString(), HasSubstr("the connection ended"));

    // Connected again: a new read starts, and the window is closed while it runs.
    connectTo(sim);
    child<QTabWidget>("PageControl1")->setCurrentWidget(page());
    ASSERT_TRUE(waitFor([&] { return page()->reading() && rows() == 1; }));
    window->close();
    EXPECT_FALSE(window->linkActive());
    EXPECT_FALSE(page()->reading());
    EXPECT_FALSE(page()->listComplete());
    EXPECT_FALSE(saveEnabled());
    EXPECT_THAT(status().toStdString(), HasSubstr("the connection ended"));
    window.reset(); // joins what still runs
    EXPECT_TRUE(messages.empty());
}

// An older unit on its own serial line: "d" fetches the ten records (in spite of the noise bytes
// between frames), "c" clears them and the block is fetched again, all zero.
TEST_F(EventPageTest, LegacyRecordsAreFetchedClearedAndSaved) {
    SimProcess sim({"--legacy", "--events", "3", "--noise-every", "5", "--log", dir.file("sim.log")});
    start();
    window->show();
    window->selectSerialPort(QString::fromStdString(sim.legacyDevice()));
    child<QPushButton>("Comm_Button")->click();
    ASSERT_TRUE(window->linkActive());
    window->startLegacyMonitor(); // no need to wait for the Modbus identification to fail
    ASSERT_TRUE(waitFor([&] { return text("netstatus_P") == "ONLINE" && pageShown("TabSheet3"); }));
    auto* legacy = window->legacyEventsPage();
    child<QTabWidget>("PageControl1")->setCurrentWidget(legacy);
    ASSERT_TRUE(waitFor([&] { return !legacy->waiting(); }));
    auto at = [&](int row, int column) {
        return legacy->model().data(legacy->model().index(row, column), Qt::DisplayRole).toString();
    };
    EXPECT_EQ(at(0, 0), "0");
    EXPECT_EQ(at(0, 1), "Voltage Trip");
    EXPECT_EQ(at(0, 2), "12");
    EXPECT_EQ(at(0, 3), "22");
    EXPECT_EQ(at(0, 4), "-48");
    EXPECT_EQ(at(2, 1), "GF Trip");
    EXPECT_EQ(at(9, 1), "0");
    EXPECT_TRUE(child<QPushButton>("Refresh_B")->isEnabled());

    const std::string path = dir.file("legacy.txt");
    legacy->setSavePicker([&](QWidget*) { return QString::fromStdString(path); });
    child<QPushButton>("Save_B")->click();
    EXPECT_TRUE(window->datalogComponent()->settings().datalogHeaderPending);
    const auto lines = crlfLines(kt::test::readFile(path));
    ASSERT_EQ(lines.size(), 4u + 2u + 11u);
    EXPECT_EQ(lines[1], "Unit Type \tKT-740");
    EXPECT_EQ(lines[2], "Firmware Version: 10");
    EXPECT_EQ(lines[4], "Record 0 is the newest record, and Record 9 is the oldest");
    EXPECT_EQ(lines[6],
              "Record #\tTrip Status\tNGR Current (% FS)\tNGR Voltage (% Setting)\tNGR Change (ohms)\t");
    EXPECT_EQ(lines[7], "0\tVoltage Trip\t12\t22\t-48\t");

    child<QPushButton>("clear_B")->click();
    EXPECT_FALSE(child<QPushButton>("Refresh_B")->isEnabled());
    ASSERT_TRUE(waitFor([&] { return !legacy->waiting() && child<QPushButton>("Refresh_B")->isEnabled(); }));
    for (int r = 0; r < 10; ++r) {
        EXPECT_EQ(at(r, 0), QString::number(r));
        for (int c = 1; c < 5; ++c) EXPECT_EQ(at(r, c), "0") << r << "," << c;
    }
    EXPECT_TRUE(logged(sim, "legacy request=c"));
    EXPECT_TRUE(messages.empty());
}

} // namespace
