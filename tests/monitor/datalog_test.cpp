// The PC data log: byte-exact files of both layouts, the day's file at midnight, header blocks
// for new connections and new column sets, and what happens when the file cannot be written.
#include "monitor/datalog.h"
#include "monitor/datalog_reader.h"
#include "monitor/datalog_recorder.h"
#include "tests/support/process.h"
#include "ui/ct_voltage.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <vector>

namespace {

using kt::DatalogGridRow;
using kt::DatalogNotice;
using kt::DatalogSettings;
using kt::DatalogWriter;

constexpr std::string_view Bom = "\xEF\xBB\xBF";

std::string fixture(const char* name) {
    std::string text =
        kt::test::readFile(kt::test::sourcePath(std::string("tests/monitor/fixtures/") + name));
    EXPECT_FALSE(text.empty()) << name;
    return text;
}

kt::ClockFields at(int month, int day, int hour, int minute, int second) {
    kt::ClockFields c;
    c.year = 2026;
    c.month = month;
    c.day = day;
    c.hour = hour;
    c.minute = minute;
    c.second = second;
    return c;
}

// A clock the test sets before each line.
struct TestClock {
    kt::ClockFields now = at(3, 12, 9, 0, 0);
    kt::DatalogClock fn() {
        return [this] { return now; };
    }
};

DatalogSettings enabledSettings(const kt::test::TempDir& dir, std::string name = "KT-740_12345") {
    DatalogSettings s;
    s.datalog_enable = true;
    s.datalogFolder = dir.str() + "/";
    s.FileName = std::move(name);
    s.datalogHeaderPending = true; // a connection was just made
    return s;
}

const kt::DatalogUnitTexts Unit{"KT-740", "Firmware Version: 3.20"};

// Lines of a file without their CR LF; a line that is not ended by CR LF is reported as such.
std::vector<std::string> crlfLines(const std::string& text) {
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

size_t count(const std::string& text, std::string_view what) {
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

// Every data line has as many cells as the heading line above it.
void expectColumnsMatchHeadings(const std::string& text) {
    size_t headingCells = 0;
    for (const std::string& line : crlfLines(text)) {
        size_t cells = size_t(std::count(line.begin(), line.end(), '\t')) + 1;
        if (line.starts_with("Time")) {
            headingCells = cells;
        } else if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) {
            ASSERT_NE(headingCells, 0u) << "data before any heading: " << line;
            EXPECT_EQ(cells, headingCells) << line;
        }
    }
}

TEST(Datalog, CurrentUnitFileByteForByte) {
    kt::test::TempDir dir;
    TestClock clock;
    DatalogWriter writer(clock.fn());
    DatalogSettings s = enabledSettings(dir);
    const DatalogGridRow status[] = {
        {"Metered Values", ""}, {"  NGR Current (% FS)", "45"}, {"  NGR Voltage (% Setting)", "12"}};
    const DatalogGridRow config[] = {{"Settings", ""}, {"  GF Trip Level", "4"}};

    clock.now = at(3, 12, 9, 5, 7);
    auto r = writer.currentUnitRefresh(s, Unit, {status, config, "2.25", "Not Configured"});
    EXPECT_TRUE(r.written);
    EXPECT_EQ(r.path, dir.str() + "/KT-740_12345_0312.txt");
    EXPECT_FALSE(s.datalogHeaderPending);

    // Every second refresh only.
    clock.now = at(3, 12, 9, 5, 8);
    r = writer.currentUnitRefresh(s, Unit, {status, config, "2.25", "Not Configured"});
    EXPECT_FALSE(r.due);

    const DatalogGridRow status2[] = {
        {"Metered Values", ""}, {"  NGR Current (% FS)", "46"}, {"  NGR Voltage (% Setting)", "12"}};
    clock.now = at(3, 12, 9, 5, 9);
    r = writer.currentUnitRefresh(s, Unit, {status2, config, "2.30", "Not Configured"});
    EXPECT_TRUE(r.written);
    EXPECT_EQ(kt::test::readFile(r.path), fixture("datalog_current_unit.txt"));

    // Logging off: nothing is written and the alternation stands still.
    s.datalog_enable = false;
    const bool toggle = s.datalogLineToggle;
    EXPECT_FALSE(writer.currentUnitRefresh(s, Unit, {status2, config, "2.30", "Not Configured"}).due);
    EXPECT_EQ(s.datalogLineToggle, toggle);
    EXPECT_EQ(kt::test::readFile(r.path), fixture("datalog_current_unit.txt"));
}

TEST(Datalog, EmptyGridsLogTimeCurrentAndVoltage) {
    kt::DatalogColumns c;
    kt::currentUnitColumns({{}, {}, "1.00", "2.00"}, c);
    EXPECT_EQ(c.headings, "\tNGR Current (A)\tNGR Voltage (V)");
    EXPECT_EQ(c.values, "\t1.00\t2.00");

    // A tab or line end inside a cell would shift every column after it.
    const DatalogGridRow rows[] = {{"  Name\twith tab", "a\r\nb"}};
    kt::currentUnitColumns({rows, {}, "1.00", "2.00"}, c);
    EXPECT_EQ(c.headings, "\t  Name with tab\tNGR Current (A)\tNGR Voltage (V)");
    EXPECT_EQ(c.values, "\ta  b\t1.00\t2.00");
}

// A legacy frame whose every field is recognisable in the line.
std::vector<uint8_t> legacyFrame() {
    return {5, 3, 2, 0xFF, 0xFE, 50, 20, 0xFF, 0xF6, 0x01, 0x0A, 3,
            7, 4, 1, 2,    3,    4,  5,  0x2C, 0xAA, 0x0F, 0xB0, 0x0A};
}

TEST(Datalog, LegacyFilesByteForByte) {
    kt::test::TempDir dir;
    TestClock clock;
    DatalogWriter writer(clock.fn());
    const kt::DatalogUnitTexts unit{"KT-740", "Firmware Version: 10"};
    const auto values = kt::legacyLogValues(legacyFrame(), "0.7", "8", "1.4");
    EXPECT_EQ(values.ngrCal, -2);

    DatalogSettings s = enabledSettings(dir, "KT-740");
    s.save_rate = 2;
    std::vector<bool> due;
    for (int second = 1; second <= 4; ++second) {
        clock.now = at(3, 12, 10, 0, second);
        auto r = writer.legacyPacket(s, unit, values, kt::ModelKt740);
        due.push_back(r.due);
        if (r.due) {
            EXPECT_TRUE(r.written);
        }
    }
    EXPECT_EQ(due, (std::vector<bool>{false, true, false, true}));
    EXPECT_EQ(s.legacyLineCounter, 0);
    EXPECT_EQ(kt::test::readFile(dir.file("KT-740_0312.txt")), fixture("datalog_legacy.txt"));

    // KT-740HV: the pulse columns read "00" and "0" whatever the frame holds.
    DatalogSettings hv = enabledSettings(dir, "KT-740HV");
    hv.save_rate = 1;
    clock.now = at(3, 12, 10, 0, 2);
    ASSERT_TRUE(
        writer.legacyPacket(hv, {"KT-740HV", "Firmware Version: 10"}, values, kt::ModelKt740HV).written);
    EXPECT_EQ(kt::test::readFile(dir.file("KT-740HV_0312.txt")), fixture("datalog_legacy_hv.txt"));

    // An unknown model logs only the five hex columns.
    kt::DatalogColumns c;
    kt::legacyColumns(values, 7, c);
    EXPECT_EQ(c.headings,
              "\tTrip Status (hex)\tSetPoint Status (hex)\tPort A (hex)\tPort G (hex)\tPort H (hex)");
    EXPECT_EQ(c.values, "\t01\t0A\t2C\t0F\tB0");
}

TEST(Datalog, HeaderBlockForEveryConnectionButOneByteOrderMark) {
    kt::test::TempDir dir;
    TestClock clock;
    const DatalogGridRow status[] = {{"  NGR Current (% FS)", "45"}};
    {
        DatalogWriter writer(clock.fn());
        DatalogSettings s = enabledSettings(dir);
        ASSERT_TRUE(writer.writeCurrentUnitLine(s, Unit, {status, {}, "1", "2"}).written);
        ASSERT_TRUE(writer.writeCurrentUnitLine(s, Unit, {status, {}, "1", "2"}).written);
        // A new connection with the same writer.
        s.datalogHeaderPending = true;
        ASSERT_TRUE(writer.writeCurrentUnitLine(s, Unit, {status, {}, "1", "2"}).written);
    }
    // The next start of the program appends to the day's file.
    DatalogWriter writer(clock.fn());
    DatalogSettings s = enabledSettings(dir);
    ASSERT_TRUE(writer.writeCurrentUnitLine(s, Unit, {status, {}, "1", "2"}).written);

    std::string text = kt::test::readFile(dir.file("KT-740_12345_0312.txt"));
    EXPECT_TRUE(text.starts_with(Bom));
    EXPECT_EQ(count(text, Bom), 1u);
    EXPECT_EQ(count(text, "Data File for KT-740, Firmware Version: 3.20\r\n"), 3u);
    EXPECT_EQ(count(text, "09:00:00\t45\t1\t2\r\n"), 4u);
}

TEST(Datalog, MidnightStartsTheNextDaysFile) {
    kt::test::TempDir dir;
    TestClock clock;
    DatalogWriter writer(clock.fn());
    DatalogSettings s = enabledSettings(dir);
    const DatalogGridRow status[] = {{"  NGR Current (% FS)", "45"}};

    clock.now = at(3, 12, 23, 59, 59);
    ASSERT_TRUE(writer.writeCurrentUnitLine(s, Unit, {status, {}, "1", "2"}).written);
    clock.now = at(3, 13, 0, 0, 1);
    auto r = writer.writeCurrentUnitLine(s, Unit, {status, {}, "1", "2"});
    ASSERT_TRUE(r.written);
    EXPECT_EQ(r.path, dir.file("KT-740_12345_0313.txt"));

    const std::string header = "Data File for KT-740, Firmware Version: 3.20\r\nKT-MON740 version 4.1\r\n"
                               "Time\t  NGR Current (% FS)\tNGR Current (A)\tNGR Voltage (V)\r\n\r\n";
    EXPECT_EQ(kt::test::readFile(dir.file("KT-740_12345_0312.txt")),
              std::string(Bom) + header + "23:59:59\t45\t1\t2\r\n");
    EXPECT_EQ(kt::test::readFile(dir.file("KT-740_12345_0313.txt")),
              std::string(Bom) + header + "00:00:01\t45\t1\t2\r\n");
}

TEST(Datalog, NewColumnSetGetsItsOwnHeader) {
    kt::test::TempDir dir;
    TestClock clock;
    DatalogWriter writer(clock.fn());
    DatalogSettings s = enabledSettings(dir);
    const DatalogGridRow before[] = {
        {"  NGR Current (% FS)", "45"}, {"  Serial", ""}, {"  NGR Voltage (% Setting)", "12"}};
    const DatalogGridRow appeared[] = {
        {"  NGR Current (% FS)", "46"}, {"  Serial", "12345"}, {"  NGR Voltage (% Setting)", "13"}};
    const DatalogGridRow vanished[] = {
        {"  NGR Current (% FS)", "47"}, {"  Serial", ""}, {"  NGR Voltage (% Setting)", ""}};

    int second = 0;
    auto line = [&](std::span<const DatalogGridRow> rows) {
        clock.now = at(3, 12, 9, 0, second++);
        ASSERT_TRUE(writer.writeCurrentUnitLine(s, Unit, {rows, {}, "2.30", "40.00"}).written);
    };
    line(before);
    line(before);
    line(appeared);
    line(appeared);
    line(vanished);
    line(before);

    std::string text = kt::test::readFile(dir.file("KT-740_12345_0312.txt"));
    expectColumnsMatchHeadings(text);
    EXPECT_EQ(count(text, "Data File for "), 4u);
    EXPECT_EQ(count(text, "\r\nTime\t  NGR Current (% FS)\t  Serial\t  NGR Voltage (% Setting)\t"), 1u);

    // The reader takes the file as one day of samples.
    auto read = kt::readDatalogFile(dir.file("KT-740_12345_0312.txt"), at(3, 12, 12, 0, 0));
    ASSERT_TRUE(read.ok()) << read.error;
    EXPECT_EQ(read.headerBlocks, 4);
    EXPECT_EQ(read.skippedLines, 0u);
    ASSERT_EQ(read.samples.size(), 6u);
    EXPECT_EQ(read.samples[2].currentPercent, 46.0f);
    EXPECT_EQ(read.samples[2].voltagePercent, 13.0f);
    EXPECT_TRUE(std::isnan(read.samples[4].voltagePercent));
    EXPECT_EQ(read.samples[5].amps, 2.3f);
}

TEST(Datalog, UnwritableFolderIsReportedOnceAndLosesNoLine) {
    kt::test::TempDir dir;
    TestClock clock;
    DatalogWriter writer(clock.fn());
    DatalogSettings s = enabledSettings(dir);
    s.datalogFolder = dir.file("stick") + "/"; // a folder that has gone away
    const DatalogGridRow status[] = {{"  NGR Current (% FS)", "45"}};

    clock.now = at(3, 12, 9, 0, 1);
    auto r = writer.writeCurrentUnitLine(s, Unit, {status, {}, "1", "2"});
    EXPECT_FALSE(r.written);
    EXPECT_TRUE(r.kept);
    EXPECT_EQ(r.notice, DatalogNotice::Failed);
    EXPECT_FALSE(r.reason.empty());
    EXPECT_FALSE(s.datalogHeaderPending);

    // Still failing: no second message, the lines wait in order.
    clock.now = at(3, 12, 9, 0, 2);
    r = writer.writeCurrentUnitLine(s, Unit, {status, {}, "1", "2"});
    EXPECT_TRUE(r.kept);
    EXPECT_EQ(r.notice, DatalogNotice::None);
    EXPECT_EQ(r.keptLines, 2u);
    EXPECT_TRUE(writer.failing());
    EXPECT_EQ(writer.retryKeptLines(s).notice, DatalogNotice::None);

    std::filesystem::create_directory(dir.file("stick"));
    clock.now = at(3, 12, 9, 0, 3);
    r = writer.writeCurrentUnitLine(s, Unit, {status, {}, "1", "2"});
    EXPECT_TRUE(r.written);
    EXPECT_EQ(r.notice, DatalogNotice::Recovered);
    EXPECT_EQ(r.keptLines, 0u);
    EXPECT_EQ(r.droppedLines, 0u);
    EXPECT_FALSE(writer.failing());

    std::string text = kt::test::readFile(dir.file("stick/KT-740_12345_0312.txt"));
    EXPECT_TRUE(text.starts_with(Bom));
    EXPECT_EQ(count(text, "Data File for "), 1u);
    EXPECT_NE(text.find("09:00:01\t45\t1\t2\r\n09:00:02\t45\t1\t2\r\n09:00:03\t45\t1\t2\r\n"),
              std::string::npos);
}

// Places the day's file cannot go: a folder that is gone, a file where the folder should be, and
// (for a user the permissions apply to) a folder that is read-only. Each is told once, and the
// lines wait for the folder the operator chooses next.
TEST(Datalog, UnwritablePlacesAreToldOnceAndTheLinesFollowTheNextFolder) {
    kt::test::TempDir dir;
    dir.write("plain", "not a folder");
    std::filesystem::create_directory(dir.file("readonly"));
    ::chmod(dir.file("readonly").c_str(), 0555);
    const bool permissionsApply = ::geteuid() != 0;
    struct Place {
        const char* name;
        std::string folder;
        bool applies;
    } places[] = {{"gone", dir.file("gone") + "/", true},
                  {"a file", dir.file("plain") + "/", true},
                  {"read-only", dir.file("readonly") + "/", permissionsApply}};
    int n = 0;
    for (const Place& p : places) {
        if (!p.applies) continue;
        SCOPED_TRACE(p.name);
        TestClock clock;
        DatalogWriter writer(clock.fn());
        DatalogSettings s = enabledSettings(dir, "unit" + std::to_string(n++));
        s.datalogFolder = p.folder;
        const DatalogGridRow status[] = {{"  NGR Current (% FS)", "45"}};
        std::vector<DatalogNotice> notices;
        for (int second = 1; second <= 3; ++second) {
            clock.now = at(3, 12, 9, 0, second);
            auto r = writer.writeCurrentUnitLine(s, Unit, {status, {}, "1", "2"});
            EXPECT_TRUE(r.kept);
            notices.push_back(r.notice);
            if (second == 1) {
                EXPECT_NE(r.reason.find(p.folder.substr(0, p.folder.size() - 1)), std::string::npos)
                    << r.reason;
            }
        }
        EXPECT_EQ(notices, (std::vector<DatalogNotice>{DatalogNotice::Failed, DatalogNotice::None,
                                                       DatalogNotice::None}));

        // The operator picks another folder: the kept lines go there, first, under one header.
        const std::string other = dir.file("other" + std::to_string(n));
        std::filesystem::create_directory(other);
        s.datalogFolder = other + "/";
        auto r = writer.retryKeptLines(s);
        EXPECT_EQ(r.notice, DatalogNotice::Recovered);
        clock.now = at(3, 12, 9, 0, 4);
        ASSERT_TRUE(writer.writeCurrentUnitLine(s, Unit, {status, {}, "1", "2"}).written);
        const std::string text = kt::test::readFile(other + "/" + s.FileName + "_0312.txt");
        EXPECT_TRUE(text.starts_with(Bom));
        EXPECT_EQ(count(text, "Data File for "), 1u);
        EXPECT_TRUE(text.ends_with("09:00:01\t45\t1\t2\r\n09:00:02\t45\t1\t2\r\n09:00:03\t45\t1\t2\r\n"
                                   "09:00:04\t45\t1\t2\r\n"))
            << text;
    }
    ::chmod(dir.file("readonly").c_str(), 0755);
}

TEST(Datalog, LegacyRateGoesOnWhileTheFileCannotBeWritten) {
    kt::test::TempDir dir;
    TestClock clock;
    DatalogWriter writer(clock.fn());
    DatalogSettings s = enabledSettings(dir, "KT-740");
    s.datalogFolder = dir.file("stick") + "/";
    s.save_rate = 2;
    const auto values = kt::legacyLogValues(legacyFrame(), "0.7", "8", "1.4");
    int lines = 0;
    for (int second = 1; second <= 6; ++second) {
        clock.now = at(3, 12, 10, 0, second);
        auto r = writer.legacyPacket(s, {"KT-740", "Firmware Version: 10"}, values, kt::ModelKt740);
        if (r.due) ++lines;
    }
    EXPECT_EQ(lines, 3);
    EXPECT_EQ(writer.keptLines(), 3u);
    std::filesystem::create_directory(dir.file("stick"));
    EXPECT_EQ(writer.retryKeptLines(s).notice, DatalogNotice::Recovered);
    std::string text = kt::test::readFile(dir.file("stick/KT-740_0312.txt"));
    EXPECT_EQ(crlfLines(text).size(), 3u + 3u);
    EXPECT_TRUE(text.ends_with(
        "10:00:06\t0.7\t8\t1.4\t-2\t50\t20\t-10\t3\t7\t4\t1\t2\t3\t4\t5\t01\t0A\t2C\t0F\tB0\r\n"));
}

TEST(Datalog, KeptLinesAreBoundedOldestFirst) {
    kt::test::TempDir dir;
    TestClock clock;
    // Room for about three lines of this size.
    DatalogWriter writer(clock.fn(), 3 * (dir.file("stick/KT-740_12345_0312.txt").size() + 20));
    DatalogSettings s = enabledSettings(dir);
    s.datalogFolder = dir.file("stick") + "/";
    const DatalogGridRow status[] = {{"  NGR Current (% FS)", "45"}};
    for (int second = 0; second < 10; ++second) {
        clock.now = at(3, 12, 9, 0, second);
        writer.writeCurrentUnitLine(s, Unit, {status, {}, "1", "2"});
    }
    const size_t kept = writer.keptLines();
    EXPECT_GE(kept, 1u);
    EXPECT_LT(kept, 10u);

    std::filesystem::create_directory(dir.file("stick"));
    auto r = writer.retryKeptLines(s);
    EXPECT_EQ(r.notice, DatalogNotice::Recovered);
    EXPECT_EQ(r.droppedLines, 10u - kept);
    std::string text = kt::test::readFile(dir.file("stick/KT-740_12345_0312.txt"));
    // The newest lines, in order, under the header the connection asked for.
    EXPECT_EQ(count(text, "Data File for "), 1u);
    EXPECT_TRUE(text.ends_with("09:00:09\t45\t1\t2\r\n"));
    EXPECT_EQ(text.find("09:00:00\t"), std::string::npos);
}

TEST(Datalog, OnlyRegularFilesAreWritten) {
    kt::test::TempDir dir;
    TestClock clock;
    DatalogWriter writer(clock.fn());
    DatalogSettings s = enabledSettings(dir);
    const DatalogGridRow status[] = {{"  NGR Current (% FS)", "45"}};
    // A FIFO would block an ordinary open until something reads it; a folder cannot take lines.
    ASSERT_EQ(mkfifo(dir.file("KT-740_12345_0312.txt").c_str(), 0600), 0);
    std::filesystem::create_directory(dir.file("KT-740_12345_0313.txt"));

    auto r = writer.writeCurrentUnitLine(s, Unit, {status, {}, "1", "2"});
    EXPECT_EQ(r.notice, DatalogNotice::Failed);
    EXPECT_TRUE(std::filesystem::is_fifo(dir.file("KT-740_12345_0312.txt")));

    clock.now = at(3, 13, 9, 0, 0);
    r = writer.writeCurrentUnitLine(s, Unit, {status, {}, "1", "2"});
    EXPECT_TRUE(r.kept);
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("KT-740_12345_0313.txt")));
}

// A write the system cuts short (here a file-size limit; a full disk does the same) leaves
// whole lines only, and the line is written whole later.
TEST(Datalog, AWriteCutShortLeavesNoTornLine) {
    kt::test::TempDir dir;
    TestClock clock;
    DatalogWriter writer(clock.fn());
    DatalogSettings s = enabledSettings(dir);
    const DatalogGridRow status[] = {{"  NGR Current (% FS)", "45"}};
    clock.now = at(3, 12, 9, 0, 0);
    ASSERT_TRUE(writer.writeCurrentUnitLine(s, Unit, {status, {}, "1", "2"}).written);
    const std::string path = dir.file("KT-740_12345_0312.txt");
    const auto size = std::filesystem::file_size(path);

    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = old;
    limit.rlim_cur = rlim_t(size + 5);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    clock.now = at(3, 12, 9, 0, 1);
    auto r = writer.writeCurrentUnitLine(s, Unit, {status, {}, "1", "2"});
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(r.written);
    EXPECT_EQ(r.notice, DatalogNotice::Failed);
    EXPECT_EQ(std::filesystem::file_size(path), size);

    clock.now = at(3, 12, 9, 0, 2);
    r = writer.writeCurrentUnitLine(s, Unit, {status, {}, "1", "2"});
    EXPECT_EQ(r.notice, DatalogNotice::Recovered);
    std::string text = kt::test::readFile(path);
    EXPECT_TRUE(text.ends_with("\r\n09:00:00\t45\t1\t2\r\n09:00:01\t45\t1\t2\r\n09:00:02\t45\t1\t2\r\n"))
        << text;
    expectColumnsMatchHeadings(text);
}

TEST(Datalog, SettingsDialogSteps) {
    EXPECT_EQ(kt::datalogFilePath("C:\\logs\\KT-740_7", 3, 9), "C:\\logs\\KT-740_7_0309.txt");
    EXPECT_EQ(kt::datalogFileName(kt::ModelKt740, false, "12345"), "KT-740_12345");
    EXPECT_EQ(kt::datalogFileName(kt::ModelKt740HV, true, "12345"), "KT-740HV");
    EXPECT_EQ(kt::datalogFileName(5, false, "A1"), "KT-740AU_A1");
    // A serial number from the unit never leads the file into another folder.
    EXPECT_EQ(kt::datalogFileName(kt::ModelKt740, false, "12/34\\5:6"), "KT-740_12_34_5_6");

    DatalogSettings s;
    kt::prepareDatalogSettingsDialog(s, "/opt/ktmon740", kt::ModelKt740AU, false, "99");
    EXPECT_EQ(s.datalogFolder, "/opt/ktmon740/");
    EXPECT_EQ(s.FileName, "KT-740AU_99");
    // A folder chosen earlier stays.
    s.datalogFolder = "/media/stick/";
    kt::prepareDatalogSettingsDialog(s, "/opt/ktmon740/", kt::ModelKt740, true, "99");
    EXPECT_EQ(s.datalogFolder, "/media/stick/");
    EXPECT_EQ(s.FileName, "KT-740");

    s.save_rate = 7;
    kt::acceptDatalogSettingsDialog(s, true);
    EXPECT_TRUE(s.datalog_enable);
    EXPECT_EQ(s.save_rate, 2);
    EXPECT_TRUE(s.datalogHeaderPending);
}

} // namespace

namespace {

using kt::controlIndex;
using kt::ValueControl;

// The recorder writes what the status views show: the grids' rows with a value, the summary's
// amperes and volts, and the panels' texts in the header; only when the view says a line is due.
TEST(DatalogRecorder, CurrentUnitLinesComeFromTheStatusView) {
    kt::test::TempDir dir;
    TestClock clock;
    kt::DatalogRecorder recorder(clock.fn());
    DatalogSettings s = enabledSettings(dir);
    kt::UnitStatusView view;
    view.statusGrid = {{-1, "Metered Values", "", 0, ""}, {10, "  NGR Current (% FS)", "45", 0, ""}};
    view.configGrid = {
        {-1, "Settings", "", 0, ""}, {20, "  GF Trip Level", "4", 2, ""}, {21, "  Spare", "", 2, ""}};
    view.values[controlIndex(ValueControl::main_ngrcurrent)] = "45";
    view.values[controlIndex(ValueControl::main_ngrvoltage)] = "12";
    view.values[controlIndex(ValueControl::main_current)] = "2.25";
    view.values[controlIndex(ValueControl::main_voltage)] = "Not Configured";
    view.selectionPanels.setPanelText(kt::SelectionPanel::unit_P, "KT-740");
    view.version_P.text = "Firmware Version: 3.20";

    clock.now = at(3, 12, 9, 5, 7);
    view.writeDatalogLine = false;
    EXPECT_FALSE(recorder.unitRefresh(s, view).due);
    EXPECT_FALSE(std::filesystem::exists(dir.file("KT-740_12345_0312.txt")));
    view.writeDatalogLine = true;
    ASSERT_TRUE(recorder.unitRefresh(s, view).written);
    EXPECT_EQ(kt::test::readFile(dir.file("KT-740_12345_0312.txt")),
              std::string(Bom) +
                  "Data File for KT-740, Firmware Version: 3.20\r\nKT-MON740 version 4.1\r\n"
                  "Time\t  NGR Current (% FS)\t  GF Trip Level\tNGR Current (A)\tNGR Voltage (V)\r\n\r\n"
                  "09:05:07\t45\t4\t2.25\tNot Configured\r\n");

    // The trend's sample of the same refresh: amperes known, volts not.
    const kt::DatalogSample sample = kt::trendSample(view.values, 1234);
    EXPECT_EQ(sample.timeMs, 1234);
    EXPECT_EQ(sample.currentPercent, 45.0f);
    EXPECT_EQ(sample.voltagePercent, 12.0f);
    EXPECT_EQ(sample.amps, 2.25f);
    EXPECT_TRUE(std::isnan(sample.volts));
}

TEST(DatalogRecorder, LegacyLinesFollowTheDecodedFrame) {
    kt::test::TempDir dir;
    TestClock clock;
    kt::DatalogRecorder recorder(clock.fn());
    DatalogSettings s = enabledSettings(dir, "KT-740");
    kt::LegacyFrame frame{};
    const std::vector<uint8_t> bytes = legacyFrame(); // identification 0x0A: a KT-740, version 10
    std::copy(bytes.begin(), bytes.end(), frame.begin());

    kt::LegacyStatusState state;
    kt::LegacyIdentityMemory memory;
    kt::CtVoltageSelection selection;
    kt::LegacyStatusView view;
    const kt::LegacyStatusInputs inputs{true, 2};
    std::vector<bool> due;
    for (int second = 0; second < 5; ++second) {
        clock.now = at(3, 12, 10, 0, second);
        kt::UpdateLegacyStatus(frame, state, memory, selection, view, inputs);
        const kt::DatalogWriteResult r = recorder.legacyRefresh(s, frame, view);
        due.push_back(r.due);
        if (r.written) state.lineWritten();
    }
    // The first frame only shows the version; then a line every second good frame.
    EXPECT_EQ(due, (std::vector<bool>{false, false, true, false, true}));
    const std::string text = kt::test::readFile(dir.file("KT-740_0312.txt"));
    const std::string values = kt::DecodeGfTime(5, kt::ModelKt740).text + "\t" +
                               kt::DecodeGfLevel(3, kt::ModelKt740, true, selection.ct_series).text + "\t" +
                               kt::DecodePulseTime(2).text +
                               "\t-2\t50\t20\t-10\t3\t7\t4\t1\t2\t3\t4\t5\t01\t0A\t2C\t0F\tB0\r\n";
    EXPECT_TRUE(text.starts_with(std::string(Bom) + "Data File for KT-740, Firmware Version: 10\r\n"))
        << text;
    EXPECT_TRUE(text.ends_with("\r\n10:00:02\t" + values + "10:00:04\t" + values)) << text;
}

} // namespace
