// Reading a data-log file back for the trend: columns found by their headings in every header
// block, clear errors for anything that is not a data log.
#include "monitor/datalog_reader.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <ctime>
#include <filesystem>

namespace {

kt::ClockFields today(int year, int month, int day) {
    kt::ClockFields c;
    c.year = year;
    c.month = month;
    c.day = day;
    c.hour = 12;
    return c;
}

int64_t localMs(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return int64_t(std::mktime(&tm)) * 1000;
}

std::string fixture(const char* name) {
    return kt::test::readFile(kt::test::sourcePath(std::string("tests/monitor/fixtures/") + name));
}

TEST(DatalogReader, DayFileWithTwoHeaderBlocks) {
    kt::test::TempDir dir;
    // The columns sit at other places in the second block; one line there was cut short.
    std::string path = dir.write("KT-740_12345_0312.txt", fixture("datalog_two_blocks.txt"));
    auto r = kt::readDatalogFile(path, today(2026, 3, 20));
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.headerBlocks, 2);
    EXPECT_EQ(r.skippedLines, 1u);
    ASSERT_EQ(r.samples.size(), 4u);

    EXPECT_EQ(r.samples[0].timeMs, localMs(2026, 3, 12, 23, 0, 0));
    EXPECT_EQ(r.samples[1].timeMs - r.samples[0].timeMs, 2000);
    EXPECT_EQ(r.samples[3].timeMs, localMs(2026, 3, 12, 23, 10, 4));

    EXPECT_EQ(r.samples[0].currentPercent, 45.0f);
    EXPECT_EQ(r.samples[0].voltagePercent, 12.0f);
    EXPECT_EQ(r.samples[0].amps, 2.25f);
    EXPECT_TRUE(std::isnan(r.samples[0].volts)); // "Not Configured"
    EXPECT_EQ(r.samples[2].currentPercent, 50.0f);
    EXPECT_EQ(r.samples[2].voltagePercent, 20.0f);
    EXPECT_EQ(r.samples[2].amps, 2.5f);
    EXPECT_EQ(r.samples[2].volts, 40.0f);
    EXPECT_EQ(r.samples[3].currentPercent, 52.0f);
    EXPECT_EQ(r.samples[3].volts, 44.0f);
}

TEST(DatalogReader, LegacyLayoutHasPercentOnly) {
    auto r = kt::parseDatalog(fixture("datalog_legacy.txt"), {2026, 3, 12});
    ASSERT_TRUE(r.ok()) << r.error;
    ASSERT_EQ(r.samples.size(), 2u);
    EXPECT_EQ(r.samples[0].currentPercent, 50.0f);
    EXPECT_EQ(r.samples[0].voltagePercent, 20.0f);
    EXPECT_TRUE(std::isnan(r.samples[0].amps));
    EXPECT_TRUE(std::isnan(r.samples[0].volts));
}

TEST(DatalogReader, DayFromTheFileName) {
    struct Case {
        const char* name;
        kt::ClockFields today;
        int year, month, day; // 0: no date in the name
    } cases[] = {
        {"KT-740_12345_0312.txt", today(2026, 3, 20), 2026, 3, 12},
        {"KT-740_0312.txt", today(2026, 3, 12), 2026, 3, 12},
        {"KT-740_1231.TXT", today(2026, 1, 2), 2025, 12, 31},
        {"KT-740_1332.txt", today(2026, 1, 2), 0, 0, 0},
        {"KT-740_03x2.txt", today(2026, 1, 2), 0, 0, 0},
        {"notes.txt", today(2026, 1, 2), 0, 0, 0},
    };
    for (const Case& c : cases) {
        auto d = kt::datalogFileDate(c.name, c.today);
        if (c.year == 0) {
            EXPECT_FALSE(d) << c.name;
            continue;
        }
        ASSERT_TRUE(d) << c.name;
        EXPECT_EQ(d->year, c.year) << c.name;
        EXPECT_EQ(d->month, c.month) << c.name;
        EXPECT_EQ(d->day, c.day) << c.name;
    }
}

TEST(DatalogReader, FilesThatAreNotDataLogs) {
    const std::string header = "\xEF\xBB\xBF"
                               "Data File for KT-740, Firmware Version: 3.20\r\nKT-MON740 version 4.1\r\n";
    struct Case {
        std::string text;
        const char* error;
    } cases[] = {
        {"", "the file is empty"},
        {"hello\r\nworld\r\n", "does not begin with a \"Data File for\" line"},
        {std::string("\x7f"
                     "ELF\x02\x01\x01\0\0\0",
                     10),
         "does not begin with a \"Data File for\" line"},
        {"\r\nData File for KT-740, x\r\n", "does not begin with a \"Data File for\" line"},
        {header, "has no line of column headings"},
        {header + "Time\t  GF Trip Level\tSerial\r\n\r\n01:00:00\t1\t2\r\n",
         "has no NGR current or voltage columns"},
    };
    kt::test::TempDir dir;
    int n = 0;
    for (const Case& c : cases) {
        std::string path = dir.write("case" + std::to_string(n++) + "_0312.txt", c.text);
        auto r = kt::readDatalogFile(path, today(2026, 3, 12));
        EXPECT_FALSE(r.ok()) << c.error;
        EXPECT_NE(r.error.find(c.error), std::string::npos) << r.error;
        EXPECT_TRUE(r.samples.empty()) << c.error;
    }

    // A file that never ends its first line is not read into memory without end.
    std::string endless = header + "Time\tNGR Current (A)\r\n" + std::string(3u << 20, 'x');
    auto r = kt::readDatalogFile(dir.write("endless_0312.txt", endless), today(2026, 3, 12));
    EXPECT_NE(r.error.find("longer than 1 MiB"), std::string::npos) << r.error;

    // Not files at all: a folder, a FIFO (an ordinary open would wait for a writer), nothing.
    std::filesystem::create_directory(dir.file("folder_0312.txt"));
    ASSERT_EQ(mkfifo(dir.file("fifo_0312.txt").c_str(), 0600), 0);
    struct Place {
        std::string path;
        const char* error;
    } places[] = {{dir.file("folder_0312.txt"), "it is a folder"},
                  {dir.file("fifo_0312.txt"), "not a file"},
                  {dir.file("missing_0312.txt"), "does not exist"}};
    for (const Place& p : places) {
        auto pr = kt::readDatalogFile(p.path, today(2026, 3, 12));
        EXPECT_NE(pr.error.find(p.error), std::string::npos) << pr.error;
    }
}

TEST(DatalogReader, LinesThatDoNotFitTheirHeadingsAreLeftOut) {
    const std::string text = "Data File for KT-740, v\r\nKT-MON740 version 4.1\r\n"
                             "Time\tNGR Current (A)\tNGR Voltage (V)\r\n\r\n"
                             "01:00:00\t1.00\t2.00\r\n"
                             "01:00:01\t1.00\r\n"               // a cell short
                             "01:00:02\t1.00\t2.00\t3\r\n"      // a cell too many
                             "1:00:03\t1.00\t2.00\r\n"          // not a time
                             "25:00:00\t1.00\t2.00\r\n"         // not a time of day
                             "01:00:04\t--\tNot Configured\r\n" // unknown values
                             "01:00:05\t1.50\t2.50";            // no line end: still a line
    auto r = kt::parseDatalog(text, {2026, 3, 12});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.skippedLines, 4u);
    ASSERT_EQ(r.samples.size(), 3u);
    EXPECT_TRUE(std::isnan(r.samples[1].amps));
    EXPECT_TRUE(std::isnan(r.samples[1].volts));
    EXPECT_TRUE(std::isnan(r.samples[1].currentPercent));
    EXPECT_EQ(r.samples[2].volts, 2.5f);
}

} // namespace
