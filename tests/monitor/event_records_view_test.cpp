// The event records as the pages show and save them: cause lists, grid rows, the legacy block,
// and Save as Text byte for byte.
#include "monitor/event_file.h"
#include "monitor/event_texts.h"
#include "tests/support/process.h"
#include "ui/ct_voltage.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <array>
#include <filesystem>
#include <vector>

namespace {

using kt::EventReadResult;
using kt::EventRecord;

std::string fixture(const char* name) {
    std::string text =
        kt::test::readFile(kt::test::sourcePath(std::string("tests/monitor/fixtures/") + name));
    EXPECT_FALSE(text.empty()) << name;
    return text;
}

EventRecord record(int number, std::array<std::string, 7> texts, bool read = true) {
    EventRecord r;
    r.number = number;
    r.index = number;
    r.read = read;
    r.texts = std::move(texts);
    return r;
}

EventRecord unreadRecord(int number) {
    return record(number, {"--", "--", "--", "--", "--", "--", "--"}, false);
}

TEST(EventTexts, CauseLists) {
    struct Case {
        int64_t value;
        int32_t model;
        const char* trip;
        const char* setpoint;
    } cases[] = {
        {0, kt::ModelKt740, "None\n", "None\n"},
        {3, kt::ModelKt740, "Ground Fault\nResistor Fault\n", "Ground Fault\nResistor Fault\n"},
        {1, kt::ModelKt740AU, "Earth Fault\n", "Earth Fault\n"},
        {0x200, kt::ModelKt740, "", "Upgrade Error\n"},
        {0x10, kt::ModelKt740HV, "Voltage Trip\n", "Voltage > Setting\n"},
        {0xC0, kt::ModelKt740, "Internal Fault\nRemote Trip\n", "CT Error\nCT Trip\n"},
        {0x100, kt::ModelKt740, "Hardware Trip\n", "SD-Card Error\n"},
        {0xC00, kt::ModelKt740, "NGR Short Trip\nNGR Open Trip\n", "NGR Short Trip\nNGR Open Trip\n"},
        // Bits the tables do not name add nothing.
        {0x1000, kt::ModelKt740, "", ""},
        {0xFFF, kt::ModelKt740,
         "Ground Fault\nResistor Fault\nCal Error\nA/D Error\nVoltage Trip\nEEPROM Error\nInternal Fault\n"
         "Remote Trip\nHardware Trip\nNGR Short Trip\nNGR Open Trip\n",
         "Ground Fault\nResistor Fault\nCal Error\nA/D Error\nVoltage > Setting\nEEPROM Error\nCT Error\n"
         "CT Trip\nSD-Card Error\nUpgrade Error\nNGR Short Trip\nNGR Open Trip\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "value " << c.value << " model " << c.model);
        EXPECT_EQ(kt::TripCauseText(c.value, c.model), c.trip);
        EXPECT_EQ(kt::SetpointCauseText(c.value, c.model), c.setpoint);
    }
}

TEST(EventTexts, GridRowsAndTheirHeight) {
    // Trip 3 and setpoint 0: two cause lines, 36 pixels on a 20-pixel grid.
    auto row =
        kt::eventGridRow(record(0, {"12/03/26", "10:15:02", "45", "12", "3", "3", "0"}), kt::ModelKt740);
    EXPECT_EQ(row.cells[0], "0");
    EXPECT_EQ(row.cells[5], "3");
    EXPECT_EQ(row.cells[6], "Ground Fault\nResistor Fault\n");
    EXPECT_EQ(row.cells[7], "None\n");
    EXPECT_EQ(kt::eventRowHeight(row, 20), 36);

    // "--" anywhere in the trip status, or a status that is not a number: no causes.
    for (auto texts : {std::array<std::string, 7>{"d", "t", "1", "2", "3", "1--", "0"},
                       std::array<std::string, 7>{"d", "t", "1", "2", "3", "1", "x"},
                       std::array<std::string, 7>{"d", "t", "1", "2", "3", "", "0"}}) {
        auto r = kt::eventGridRow(record(4, texts), kt::ModelKt740);
        EXPECT_EQ(r.cells[6], "--");
        EXPECT_EQ(r.cells[7], "--");
        EXPECT_EQ(kt::eventRowHeight(r, 20), 20);
    }

    // Bits without a text in both registers leave both lists empty; the row keeps one line
    // instead of shrinking below the grid's row height.
    auto empty = kt::eventGridRow(record(1, {"d", "t", "1", "2", "3", "512", "4096"}), kt::ModelKt740);
    EXPECT_EQ(empty.cells[6], "");
    EXPECT_EQ(empty.cells[7], "");
    EXPECT_EQ(kt::eventRowHeight(empty, 20), 20);
}

TEST(EventTexts, ColumnWidths) {
    // r = 800 - 75 - 75 = 650: 97, 130, 162, 162; the current gets what is left.
    EXPECT_EQ(kt::eventGridColumnWidths(800, 70, 25), (std::array<int, 8>{0, 75, 75, 90, 97, 130, 162, 162}));
}

TEST(EventTexts, UpdateEventListByKindOfAnswer) {
    kt::EventGrid grid;
    EventReadResult all;
    all.kind = EventReadResult::Kind::Records;
    all.count = 3;
    // The reader delivers the records newest first, each with its number.
    all.records = {record(0, {"a", "t", "1", "1", "1", "1", "0"}), unreadRecord(1),
                   record(2, {"c", "t", "3", "3", "3", "0", "2"})};
    kt::UpdateEventList(grid, all, kt::ModelKt740);
    ASSERT_EQ(grid.rows.size(), 3u);
    EXPECT_EQ(grid.rows[0].cells[1], "a");
    EXPECT_EQ(grid.rows[1].cells[0], "1");
    EXPECT_EQ(grid.rows[1].cells[6], "--");
    EXPECT_EQ(grid.rows[2].cells[7], "Resistor Fault\n");

    // Only the count was refreshed, or it could not be read: the rows stay.
    for (auto kind : {EventReadResult::Kind::CountOnly, EventReadResult::Kind::CountUnreadable,
                      EventReadResult::Kind::Cancelled}) {
        EventReadResult r;
        r.kind = kind;
        kt::UpdateEventList(grid, r, kt::ModelKt740);
        EXPECT_EQ(grid.rows.size(), 3u);
    }

    EventReadResult none;
    none.kind = EventReadResult::Kind::NoRecords;
    kt::UpdateEventList(grid, none, kt::ModelKt740);
    EXPECT_TRUE(grid.rows.empty());
}

// Records stream in one by one: each takes its row and the rows of the last read after it give
// way, so the grid never shows an old record under a new number.
TEST(EventTexts, StreamedRecordsReplaceTheLastRead) {
    kt::EventGrid grid;
    for (int n = 0; n < 4; ++n)
        kt::applyEventRecord(grid, record(n, {"old", "t", "1", "1", "1", "0", "0"}), kt::ModelKt740);
    ASSERT_EQ(grid.rows.size(), 4u);
    kt::applyEventRecord(grid, record(0, {"new", "t", "1", "1", "1", "1", "0"}), kt::ModelKt740);
    ASSERT_EQ(grid.rows.size(), 1u);
    EXPECT_EQ(grid.rows[0].cells[1], "new");
    EXPECT_EQ(grid.rows[0].cells[6], "Ground Fault\n");
    kt::applyEventRecord(grid, unreadRecord(1), kt::ModelKt740);
    ASSERT_EQ(grid.rows.size(), 2u);
    EXPECT_EQ(grid.rows[1].cells[7], "--");
}

TEST(EventTexts, LegacyBlock) {
    std::vector<uint8_t> block(kt::LegacyEventBlockSize, 0);
    const uint8_t r0[] = {0x10, 0x32, 0x14, 0xFF, 0xF6}; // voltage trip, 50 %, 20 %, -10 ohms
    const uint8_t r1[] = {0x03, 0xFF, 0x00, 0x7F, 0xFF}; // two bits set: noise, not a cause
    const uint8_t r2[] = {0x01, 0x01, 0x02, 0x80, 0x00};
    const uint8_t r9[] = {0x80, 0x00, 0x00, 0x00, 0x01};
    std::copy(std::begin(r0), std::end(r0), block.begin());
    std::copy(std::begin(r1), std::end(r1), block.begin() + 5);
    std::copy(std::begin(r2), std::end(r2), block.begin() + 10);
    std::copy(std::begin(r9), std::end(r9), block.begin() + 45);

    kt::LegacyEventGrid grid;
    kt::blankLegacyEventGrid(grid);
    EXPECT_EQ(grid.cells[0][2], "NGR Current (% FS)");
    EXPECT_EQ(grid.cells[5][1], "----");
    EXPECT_EQ(grid.cells[10][4], "----");

    // A short or long block is not taken: the grid keeps waiting.
    EXPECT_FALSE(kt::UpdateLegacyEventList(grid, std::span(block).first(49)));
    std::vector<uint8_t> longer = block;
    longer.push_back(0);
    EXPECT_FALSE(kt::UpdateLegacyEventList(grid, longer));
    EXPECT_EQ(grid.cells[1][1], "----");

    ASSERT_TRUE(kt::UpdateLegacyEventList(grid, block));
    EXPECT_EQ(grid.cells[1], (std::array<std::string, 5>{"0", "Voltage Trip", "50", "20", "-10"}));
    EXPECT_EQ(grid.cells[2], (std::array<std::string, 5>{"1", "0", "255", "0", "32767"}));
    EXPECT_EQ(grid.cells[3], (std::array<std::string, 5>{"2", "GF Trip", "1", "2", "-32768"}));
    EXPECT_EQ(grid.cells[10], (std::array<std::string, 5>{"9", "Remote Trip", "0", "0", "1"}));

    // An all-zero block (a unit with no events) shows ten empty records.
    std::vector<uint8_t> zeros(kt::LegacyEventBlockSize, 0);
    ASSERT_TRUE(kt::UpdateLegacyEventList(grid, zeros));
    for (int r = 1; r <= 10; ++r)
        EXPECT_EQ(grid.cells[size_t(r)],
                  (std::array<std::string, 5>{std::to_string(r - 1), "0", "0", "0", "0"}));

    struct Code {
        int code;
        const char* text;
    } codes[] = {{1, "GF Trip"},
                 {2, "RF Trip"},
                 {4, "Calibration Error"},
                 {8, "ADC Error"},
                 {16, "Voltage Trip"},
                 {32, "EEPROM Error"},
                 {64, "System Error"},
                 {128, "Remote Trip"},
                 {0, "0"},
                 {3, "0"},
                 {255, "0"}};
    for (const Code& c : codes) EXPECT_EQ(kt::LegacyTripCauseText(c.code), c.text) << c.code;
}

TEST(EventFile, CellCleaning) {
    EXPECT_EQ(kt::cleanEventCell("NGR Current\n(% FS)"), "NGR Current (% FS)");
    EXPECT_EQ(kt::cleanEventCell("Ground Fault\nResistor Fault\n"), "Ground Fault\nResistor Fault");
    EXPECT_EQ(kt::cleanEventCell("None\n"), "None");
    EXPECT_EQ(kt::cleanEventCell("  \t 12 \r"), "12");
    EXPECT_EQ(kt::cleanEventCell(""), "");
}

kt::EventFileHeader header(const char* unit, const char* version) {
    return {"12/03/2026", unit, version};
}

TEST(EventFile, RegisterFileUnitByteForByte) {
    kt::EventGrid grid;
    EventReadResult all;
    all.kind = EventReadResult::Kind::Records;
    all.records = {record(0, {"12/03/26", "10:15:02", "45", "12", "3", "3", "0"}), unreadRecord(1),
                   record(2, {"11/03/26", "23:59:58", "0", "0", "-4", "512", "512"})};
    kt::UpdateEventList(grid, all, kt::ModelKt740);
    std::string text = kt::eventFileText(header("KT-740", "Firmware Version: 3.20"), grid);
    EXPECT_EQ(text, fixture("events_register_file.txt"));

    kt::test::TempDir dir;
    auto result = kt::saveEventFile(dir.file("events.txt"), text);
    EXPECT_EQ(result.status, kt::EventFileStatus::Saved) << result.reason;
    EXPECT_EQ(kt::test::readFile(dir.file("events.txt")), fixture("events_register_file.txt"));

    // Saving again replaces the file instead of appending to it.
    kt::EventGrid empty;
    std::string headerOnly = kt::eventFileText(header("KT-740", "Firmware Version: 3.20"), empty);
    ASSERT_EQ(kt::saveEventFile(dir.file("events.txt"), headerOnly).status, kt::EventFileStatus::Saved);
    EXPECT_EQ(kt::test::readFile(dir.file("events.txt")), headerOnly);
}

TEST(EventFile, LegacyUnitByteForByte) {
    std::vector<uint8_t> block(kt::LegacyEventBlockSize, 0);
    const uint8_t bytes[][5] = {
        {0x10, 0x32, 0x14, 0xFF, 0xF6}, {0x03, 0xFF, 0x00, 0x7F, 0xFF}, {0x01, 0x01, 0x02, 0x80, 0x00}};
    for (size_t r = 0; r < 3; ++r) std::copy(bytes[r], bytes[r] + 5, block.begin() + long(5 * r));
    block[45] = 0x80;
    block[49] = 0x01;
    kt::LegacyEventGrid grid;
    kt::blankLegacyEventGrid(grid);
    ASSERT_TRUE(kt::UpdateLegacyEventList(grid, block));
    EXPECT_EQ(kt::legacyEventFileText(header("KT-740HV", "Firmware Version: 10"), grid),
              fixture("events_legacy.txt"));
}

TEST(EventFile, PlacesThatCannotBeWritten) {
    kt::test::TempDir dir;
    const std::string content = "x";
    // A folder that does not exist, a folder given as the file, and a FIFO (which would block an
    // ordinary open until something reads it).
    std::filesystem::create_directory(dir.file("folder"));
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    for (const std::string& path : {dir.file("missing/events.txt"), dir.file("folder"), dir.file("fifo")}) {
        auto r = kt::saveEventFile(path, content);
        EXPECT_EQ(r.status, kt::EventFileStatus::CannotOpen) << path;
        EXPECT_FALSE(r.reason.empty()) << path;
    }
    EXPECT_TRUE(std::filesystem::is_fifo(dir.file("fifo")));
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("folder")));
}

} // namespace
