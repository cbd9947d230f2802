// The rules of changing a setting, without widgets: editors by ACCESS code, lists, limits with the
// RANGE rule, what typed text becomes, and the setting write log.
#include "monitor/device_rules.h"
#include "monitor/setting_rules.h"
#include "monitor/setting_write.h"
#include "tests/monitor/regfile_test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using kt::SettingEditor;
using kt::SettingEntry;
using kt::SettingWrite;
using Outcome = kt::SettingEntry::Outcome;
using ::testing::HasSubstr;

// A register file with the rows the cases below need.
class SettingRulesTest : public ::testing::Test {
protected:
    void SetUp() override {
        using kt::test::registerRow;
        const std::vector<std::string> rows = {
            registerRow("Settings", 0, 16, "DB_GFSETTING_MEMORY", 1, 1, "ACCESS=\"1\""),
            registerRow("Settings", 0, 34, "DB_CT_NOMINAL", 1, 2, "ACCESS=\"10\""),
            registerRow(
                "Settings", 0, 20, "DB_NGR_NOMINAL", 1, 3,
                "ACCESS=\"11\" MIN=\"0\" MAX=\"0\" DEPENDENCY=\"23\" D_TYPE=\"RANGE\" D_LIST=\"RES\""),
            registerRow("Settings", 0, 21, "DB_RF_LEVEL", 1, 4, "ACCESS=\"11\" MIN=\"15\" MAX=\"2000\""),
            // A WARNING rule first, then a RANGE rule with no D_TYPE: the second gives the limits.
            registerRow(
                "Settings", 0, 22, "DB_TWO_RULES", 1, 5,
                "ACCESS=\"11\" MIN=\"0\" MAX=\"0\" DEPENDENCY=\"23\" D_TYPE=\"WARNING\" D_LIST=\"WARN\""),
            "REGISTER=\"22\" G_ORDER=\"999\" DEPENDENCY=\"24\" D_LIST=\"RES\"",
            registerRow("Settings", 0, 23, "DB_VNLEVEL", 1, 6, "ACCESS=\"1\""),
            registerRow("Settings", 0, 26, "DB_GF_LATCH", 1, 7, "ACCESS=\"1\""),
            registerRow("Settings", 0, 162, "DB_UTC_OFFSET", 16, 8, "ACCESS=\"16\""),
            registerRow("Settings", 0, 101, "DB_IP1", 7, 9, "ACCESS=\"7\""),
            registerRow("Settings", 0, 107, "DB_MAC1", 9, 10, "ACCESS=\"9\""),
            // Value lists: 0..4 ("FIVE"), one with a gap and an empty text ("GAPS").
            "TRANSLATIONTYPE=\"FIVE\" TRANSLATIONINDEX=\"0\" TRANSLATIONTEXT=\"Zero\" G_ORDER=\"999\"",
            "TRANSLATIONTYPE=\"FIVE\" TRANSLATIONINDEX=\"1\" TRANSLATIONTEXT=\"One\" G_ORDER=\"999\"",
            "TRANSLATIONTYPE=\"FIVE\" TRANSLATIONINDEX=\"2\" TRANSLATIONTEXT=\"Two\" G_ORDER=\"999\"",
            "TRANSLATIONTYPE=\"FIVE\" TRANSLATIONINDEX=\"3\" TRANSLATIONTEXT=\"Three\" G_ORDER=\"999\"",
            "TRANSLATIONTYPE=\"FIVE\" TRANSLATIONINDEX=\"4\" TRANSLATIONTEXT=\"Four\" G_ORDER=\"999\"",
            "TRANSLATIONTYPE=\"GAPS\" TRANSLATIONINDEX=\"0\" TRANSLATIONTEXT=\"\" G_ORDER=\"999\"",
            "TRANSLATIONTYPE=\"GAPS\" TRANSLATIONINDEX=\"2\" TRANSLATIONTEXT=\"Non Latching\" "
            "G_ORDER=\"999\"",
            "TRANSLATIONTYPE=\"GAPS\" TRANSLATIONINDEX=\"5\" TRANSLATIONTEXT=\"Latching\" G_ORDER=\"999\"",
            // Dependency list RES: limits by the Vn level; two rows for 5, the last wins.
            "D_LIST=\"RES\" D_VALUE=\"4\" MIN=\"10\" MAX=\"100\" G_ORDER=\"999\"",
            "D_LIST=\"RES\" D_VALUE=\"5\" MIN=\"20\" MAX=\"400\" G_ORDER=\"999\"",
            "D_LIST=\"RES\" D_VALUE=\"5\" MIN=\"25\" MAX=\"300\" G_ORDER=\"999\"",
            "D_LIST=\"WARN\" D_VALUE=\"5\" D_TEXT=\" (note)\" G_ORDER=\"999\"",
        };
        std::string error;
        ASSERT_TRUE(dataset.loadText(kt::test::dataPacket(kt::test::standardColumns(), rows), &error))
            << error;
        values.assign(kt::RegisterTableSize, "");
    }
    kt::SettingSource source() const { return {dataset, values}; }
    void set(int reg, std::string text) { values[static_cast<size_t>(reg)] = std::move(text); }

    kt::RegisterDataset dataset;
    std::vector<std::string> values;
};

TEST(SettingEditors, TheAccessCodeChoosesTheEditor) {
    const std::pair<int, SettingEditor> cases[] = {
        {0, SettingEditor::None},      {1, SettingEditor::List},       {3, SettingEditor::None},
        {7, SettingEditor::IpAddress}, {9, SettingEditor::MacAddress}, {10, SettingEditor::CtDialog},
        {11, SettingEditor::Number},   {16, SettingEditor::UtcOffset}, {12, SettingEditor::None},
        {-1, SettingEditor::None},
    };
    for (auto [access, editor] : cases) EXPECT_EQ(kt::editorForAccess(access), editor) << access;
}

TEST_F(SettingRulesTest, TheMemoryLevelListComesFromTheCtPrimary) {
    set(34, "5");
    set(16, "10");
    const kt::SettingList list = kt::settingList(source(), 16, "0");
    ASSERT_EQ(list.items.size(), 99u);
    EXPECT_EQ(list.items.front().text, "2%     0.10 A");
    EXPECT_EQ(list.items.back().text, "100%     5.00 A");
    EXPECT_EQ(list.selected, 8); // the ninth item: 10 %

    // The first item writes 2 into register 16, with the register-16 operation.
    const SettingEntry first = kt::listEntry(list, 16, 0, 10);
    ASSERT_EQ(first.outcome, Outcome::Write);
    EXPECT_EQ(first.write.kind, SettingWrite::Kind::Register16);
    EXPECT_EQ(first.write.value, 2);
    EXPECT_EQ(first.write.newText, "2%     0.10 A");
    // The item of the unit's value writes nothing.
    EXPECT_EQ(kt::listEntry(list, 16, 8, 10).outcome, Outcome::Unchanged);

    // A value above the list selects its last item; one below it selects none.
    set(16, "150");
    EXPECT_EQ(kt::settingList(source(), 16, "0").selected, 98);
    set(16, "1");
    EXPECT_EQ(kt::settingList(source(), 16, "0").selected, -1);
}

TEST_F(SettingRulesTest, ListsSelectTheUnitsValueAndWriteTheChosenIndex) {
    struct Case {
        int reg;
        const char* type;
        const char* value;
        size_t items;
        int selected;
    } cases[] = {
        {26, "FIVE", "2", 5, 2},
        {26, "FIVE", "7", 5, 4}, // beyond the last item: the fifth
        {26, "FIVE", "--", 5, -1},
        {26, "GAPS", "5", 2, 1}, // the empty text offers nothing; items keep their
                                 // own values
        {26, "GAPS", "3", 2, -1},
        {120, "0", "17", 64, 17},
        {120, "0", "99", 64, 63},
        {26, "NONE", "1", 0, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.type << " value " << c.value);
        set(c.reg, c.value);
        const kt::SettingList list = kt::settingList(source(), c.reg, c.type);
        EXPECT_EQ(list.items.size(), c.items);
        EXPECT_EQ(list.selected, c.selected);
    }
    set(26, "2");
    const kt::SettingList gaps = kt::settingList(source(), 26, "GAPS");
    const SettingEntry latching = kt::listEntry(gaps, 26, 1, 2);
    ASSERT_EQ(latching.outcome, Outcome::Write);
    EXPECT_EQ(latching.write.kind, SettingWrite::Kind::Value);
    EXPECT_EQ(latching.write.value, 5); // its TRANSLATIONINDEX, not its place in the list
    EXPECT_EQ(latching.write.newText, "Latching");
    EXPECT_EQ(kt::listEntry(gaps, 26, 0, 2).outcome, Outcome::Unchanged);
    EXPECT_EQ(kt::listEntry(gaps, 26, -1, 2).outcome, Outcome::Unchanged);
}

TEST_F(SettingRulesTest, UtcOffsetsAreWrittenAsMinutes) {
    set(162, "+10:00");
    struct Case {
        const char* chosen;
        int minutes;
    } cases[] = {{"-03:30", -210}, {"+05:45", 345}, {"+00:00", 0}, {"-12:00", -720}, {"+14:00", 840}};
    for (const Case& c : cases) {
        const SettingEntry e = kt::utcEntry(c.chosen, 162, values[162]);
        ASSERT_EQ(e.outcome, Outcome::Write) << c.chosen;
        EXPECT_EQ(e.write.kind, SettingWrite::Kind::Value);
        EXPECT_EQ(e.write.value, c.minutes) << c.chosen;
    }
    EXPECT_EQ(kt::utcEntry("+10:00", 162, values[162]).outcome, Outcome::Unchanged);
    EXPECT_EQ(kt::UtcOffsets.size(), 39u);
    EXPECT_EQ(kt::utcOffsetSelection("+05:45"), 23);
    EXPECT_EQ(kt::utcOffsetSelection("+01:15"), 0); // not offered: the first entry
}

TEST_F(SettingRulesTest, NumbersAreRoundedAndCheckedAgainstTheirLimits) {
    const kt::SettingLimits limits = *kt::numberLimits(source(), 21);
    EXPECT_EQ(limits, (kt::SettingLimits{15, 2000}));
    struct Case {
        const char* text;
        std::optional<int64_t> current;
        Outcome outcome;
        int64_t value; // written, or the limit the editor then holds
    } cases[] = {
        {"12.5", 10, Outcome::Refused, 15}, // 13 is below 15
        {"112.5", 10, Outcome::Write, 113},
        {"112.49", 10, Outcome::Write, 112},
        {" 100 ", 10, Outcome::Write, 100},
        {"113", 113, Outcome::Unchanged, 0},
        {"112.5", 113, Outcome::Unchanged, 0},
        {"10", 100, Outcome::Refused, 15},
        {"2500", 100, Outcome::Refused, 2000},
        {"2000.4", 100, Outcome::Write, 2000},
        {"99999999999999999999", 100, Outcome::Refused, 2000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const SettingEntry e = kt::numberEntry(c.text, 21, limits, c.current);
        EXPECT_EQ(e.outcome, c.outcome);
        if (c.outcome == Outcome::Write) {
            EXPECT_EQ(e.write.value, c.value);
        }
        if (c.outcome == Outcome::Refused) {
            EXPECT_EQ(e.text, "Value should be between 15  and 2000.");
            EXPECT_EQ(e.title, "Out Of Range Error");
            EXPECT_EQ(e.clampedTo, c.value);
        }
    }
    // Text that is no number is refused with the limits and leaves the editor's value alone.
    const SettingEntry text = kt::numberEntry("abc", 21, limits, 100);
    EXPECT_EQ(text.outcome, Outcome::Refused);
    EXPECT_FALSE(text.clampedTo);

    EXPECT_EQ(kt::roundTypedNumber("12.5"), 13);
    EXPECT_EQ(kt::roundTypedNumber("12.49"), 12);
    EXPECT_EQ(kt::roundTypedNumber("-2.5"), -2);
    EXPECT_EQ(kt::roundTypedNumber("12,5"), std::nullopt);
}

TEST_F(SettingRulesTest, TheRangeRuleTakesItsLimitsFromTheSourceRegister) {
    struct Case {
        const char* vnLevel;
        kt::SettingLimits limits;
    } cases[] = {{"4", {10, 100}}, {"5", {25, 300}}, {"9", {0, 0}}, {"--", {0, 0}}};
    for (const Case& c : cases) {
        set(23, c.vnLevel);
        EXPECT_EQ(kt::numberLimits(source(), 20), c.limits) << "register 23 = " << c.vnLevel;
    }
    // A WARNING rule is passed over; the rule after it without a kind counts as RANGE (register 24).
    set(24, "4");
    EXPECT_EQ(kt::numberLimits(source(), 22), (kt::SettingLimits{10, 100}));
    // A row without limits and without a match keeps 0..0, so everything but 0 is refused.
    set(23, "9");
    EXPECT_EQ(kt::numberEntry("5", 20, *kt::numberLimits(source(), 20), 0).outcome, Outcome::Refused);
    EXPECT_EQ(kt::numberLimits(source(), 77), std::nullopt); // no row for the register
}

TEST_F(SettingRulesTest, IpAddressesAreWrittenOnlyWhenTypedAndValid) {
    set(101, "192.168.001.100");
    struct Case {
        const char* text;
        bool typed;
        Outcome outcome;
        const char* written;
    } cases[] = {
        {"192.168.001.050", false, Outcome::Unchanged, ""}, // leaving without typing
        {"192.168.001.100", true, Outcome::Unchanged, ""},
        {"192.168.1  .100", true, Outcome::Unchanged, ""}, // the same address
        {"192.168.1  .50 ", true, Outcome::Write, "192.168.001.050"},
        {"256.168.001.050", true, Outcome::Refused, ""},
        {"192.168.   .050", true, Outcome::Refused, ""},
        {"192.168.001", true, Outcome::Refused, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const SettingEntry e = kt::ipEntry(c.text, 101, values[101], c.typed);
        EXPECT_EQ(e.outcome, c.outcome);
        if (c.outcome == Outcome::Write) {
            EXPECT_EQ(e.write.kind, SettingWrite::Kind::IpAddress);
            EXPECT_EQ(e.write.ipText, c.written);
        }
        if (c.outcome == Outcome::Refused) {
            EXPECT_EQ(e.text, "Not a valid IP address.");
            EXPECT_EQ(e.title, "IP Address Error");
        }
    }
}

TEST_F(SettingRulesTest, MacAddressesNameThePairThatIsWrong) {
    struct Case {
        const char* text;
        Outcome outcome;
        const char* says;
    } cases[] = {
        {"  :  :  :  :  :  ", Outcome::Unchanged, ""},
        {"02:4B:  :00:00:01", Outcome::Refused, "pair 3 is empty"},
        {"02:4B:54:G1:00:01", Outcome::Refused, "pair 4 (\"G1\") is not a hexadecimal number"},
        {"02:4B:54", Outcome::Refused, "pair 4 is empty"},
        {"02:4B:54:0 :A :01", Outcome::Write, "02:4B:54:00:0A:01"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const SettingEntry e = kt::macEntry(c.text, 116);
        EXPECT_EQ(e.outcome, c.outcome);
        if (c.outcome == Outcome::Refused) {
            EXPECT_THAT(e.text, HasSubstr(c.says));
            EXPECT_EQ(e.title, "MAC Address Error");
        }
        if (c.outcome == Outcome::Write) {
            EXPECT_EQ(e.write.kind, SettingWrite::Kind::MacAddress);
            EXPECT_EQ(e.write.reg, 116);
            EXPECT_EQ(e.write.newText, c.says);
            EXPECT_EQ(e.write.mac, (std::array<uint8_t, 6>{0x02, 0x4B, 0x54, 0x00, 0x0A, 0x01}));
        }
    }
}

TEST_F(SettingRulesTest, AValueTheRegisterCannotHoldIsRefused) {
    // An effective CT primary of 100000 A would reach a 16-bit register as 34464.
    EXPECT_EQ(kt::fitToRegister(source(), kt::ctEntry(100000, 34)).outcome, Outcome::Refused);
    const SettingEntry fits = kt::fitToRegister(source(), kt::ctEntry(30, 34));
    ASSERT_EQ(fits.outcome, Outcome::Write);
    EXPECT_EQ(fits.write.value, 30);
    // A UTC offset is a signed register.
    EXPECT_EQ(kt::fitToRegister(source(), kt::utcEntry("-12:00", 162, "+10:00")).outcome, Outcome::Write);
}

TEST_F(SettingRulesTest, TextFromTheCommandLineGoesThroughTheSameEntries) {
    set(26, "2");
    set(23, "5");
    set(101, "192.168.001.100");
    set(162, "+10:00");
    set(21, "100");
    struct Case {
        int reg;
        int access;
        const char* type;
        const char* text;
        Outcome outcome;
        int64_t value;
        const char* says; // the refusal's text, in part
    } cases[] = {
        {26, 1, "GAPS", "Latching", Outcome::Write, 5, ""},
        {26, 1, "GAPS", " latching ", Outcome::Write, 5, ""},
        {26, 1, "GAPS", "5", Outcome::Write, 5, ""},
        {26, 1, "GAPS", "Non Latching", Outcome::Unchanged, 0, ""},
        {26, 1, "GAPS", "Sometimes", Outcome::Refused, 0, "Non Latching (2), Latching (5)"},
        {26, 1, "GAPS", "3", Outcome::Refused, 0, "is not a value of"},
        {21, 11, "0", "12.5", Outcome::Refused, 0, "Value should be between 15  and 2000."},
        {21, 11, "0", "250.5", Outcome::Write, 251, ""},
        {20, 11, "0", "350", Outcome::Refused, 0, "between 25  and 300"},
        {162, 16, "0", "-03:30", Outcome::Write, -210, ""},
        {162, 16, "0", "5:45", Outcome::Write, 345, ""},
        {162, 16, "0", "+05:40", Outcome::Refused, 0, "is not one of the UTC offsets"},
        {34, 10, "0", "30", Outcome::Write, 30, ""},
        {34, 10, "0", "70000", Outcome::Refused, 0, "between 0  and 65535"},
        {8, 0, "0", "1", Outcome::Refused, 0, "is read-only"},
        {8, 3, "0", "1", Outcome::Refused, 0, "is read-only"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "register " << c.reg << " \"" << c.text << "\"");
        const kt::SettingRow row{c.reg, "Setting", "", c.access, c.type};
        const SettingEntry e = kt::entryFromText(source(), row, c.text);
        EXPECT_EQ(e.outcome, c.outcome) << e.text;
        if (c.outcome == Outcome::Write) {
            EXPECT_EQ(e.write.value, c.value);
        }
        if (c.outcome == Outcome::Refused) {
            EXPECT_THAT(e.text, HasSubstr(c.says));
        }
    }
    const kt::SettingRow ip{101, "Port 1 IP Address", "", 7, "0"};
    const SettingEntry address = kt::entryFromText(source(), ip, "10.0.0.5");
    ASSERT_EQ(address.outcome, Outcome::Write);
    EXPECT_EQ(address.write.ipText, "010.000.000.005");
    EXPECT_EQ(kt::entryFromText(source(), ip, "10.0.0.256").text, "Not a valid IP address.");
    EXPECT_EQ(kt::entryFromText(source(), ip, "10.0.0").text, "Not a valid IP address.");
    const kt::SettingRow mac{107, "Port 1 MAC Address", "", 9, "0"};
    const SettingEntry m = kt::entryFromText(source(), mac, "2-4b-54-0-a-1");
    ASSERT_EQ(m.outcome, Outcome::Write);
    EXPECT_EQ(m.write.newText, "02:4B:54:00:0A:01");
}

TEST(SettingHelp, TheWarningIsSplitAtTheStoredLineBreaks) {
    EXPECT_THAT(kt::warningLines("First.\\r\\nSecond.\\r\\nThird."),
                ::testing::ElementsAre("First.", "Second.", "Third."));
    EXPECT_THAT(kt::warningLines("One line\\r\\n"), ::testing::ElementsAre("One line", ""));
    EXPECT_THAT(kt::warningLines("A backslash \\ alone\r\n"),
                ::testing::ElementsAre("A backslash \\ alone\r\n"));
}

// ---- the setting write log ----

std::string readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

kt::SettingLogEntry entry(int hour, int reg, std::string result) {
    kt::SettingLogEntry e;
    e.time = {2024, 3, 12, hour, 5, 41, 0};
    e.reg = reg;
    e.parameter = "RF Trip\tLevel (% change)";
    e.oldText = "20";
    e.newText = "13";
    e.result = std::move(result);
    return e;
}

TEST(SettingWriteLog, LinesGoIntoTheUnitsFileOfTheDayUnderTheirSessionsHeading) {
    kt::test::TempDir dir;
    kt::SettingWriteLog log;
    log.setFolder(dir.str());
    kt::SettingLogSession session{
        "KT-740", "000012345", "Firmware Version: 3.20", "127.0.0.1:1502", {2024, 3, 12, 14, 0, 0, 0}};
    log.startSession(session, kt::ModelKt740);
    EXPECT_TRUE(log.append(entry(14, 21, "Written")).written);
    EXPECT_TRUE(log.append(entry(15, 162, "Failed: no answer")).written);
    session.started.hour = 16;
    log.startSession(session, kt::ModelKt740);
    EXPECT_TRUE(log.append(entry(16, 101, "Written")).written);

    const std::filesystem::path file =
        std::filesystem::path(dir.path()) / "KT-740_000012345_settings_20240312.txt";
    EXPECT_EQ(readAll(file),
              "\xEF\xBB\xBFKT-MON740 version 4.1 setting write log\r\n"
              "\r\nSession 2024-03-12 14:00:00, KT-740, serial 000012345, Firmware Version: 3.20, "
              "127.0.0.1:1502\r\n"
              "Time\tRegister\tParameter\tOld Value\tNew Value\tResult\r\n"
              "2024-03-12 14:05:41\t21\tRF Trip Level (% change)\t20\t13\tWritten\r\n"
              "2024-03-12 15:05:41\t162\tRF Trip Level (% change)\t20\t13\tFailed: no answer\r\n"
              "\r\nSession 2024-03-12 16:00:00, KT-740, serial 000012345, Firmware Version: 3.20, "
              "127.0.0.1:1502\r\n"
              "Time\tRegister\tParameter\tOld Value\tNew Value\tResult\r\n"
              "2024-03-12 16:05:41\t101\tRF Trip Level (% change)\t20\t13\tWritten\r\n");
}

TEST(SettingWriteLog, LinesThatCannotBeWrittenAreKeptAndWrittenLater) {
    kt::test::TempDir dir;
    const std::filesystem::path folder = std::filesystem::path(dir.path()) / "later";
    kt::SettingWriteLog log;
    log.setFolder(folder.string());
    log.startSession({"KT-740AU", "7", "Firmware Version: 3.00", "/dev/ttyUSB0", {2024, 3, 12, 9, 0, 0, 0}},
                     kt::ModelKt740AU);

    const kt::SettingLogWriteResult first = log.append(entry(9, 21, "Written"));
    EXPECT_FALSE(first.written);
    EXPECT_TRUE(first.kept);
    EXPECT_TRUE(first.failedNow); // tell the operator once
    EXPECT_THAT(first.reason, HasSubstr("later"));
    const kt::SettingLogWriteResult second = log.append(entry(10, 22, "Written"));
    EXPECT_FALSE(second.failedNow);
    EXPECT_EQ(log.keptLines(), 2u);

    std::filesystem::create_directories(folder);
    const kt::SettingLogWriteResult third = log.append(entry(11, 23, "Written"));
    EXPECT_TRUE(third.written);
    EXPECT_TRUE(third.recoveredNow);
    EXPECT_EQ(log.keptLines(), 0u);
    const std::string text = readAll(folder / "KT-740AU_7_settings_20240312.txt");
    // One heading, the three lines in the order they were asked for.
    EXPECT_EQ(text.find("Session"), text.rfind("Session"));
    const size_t a = text.find("09:05:41\t21"), b = text.find("10:05:41\t22"), c = text.find("11:05:41\t23");
    ASSERT_NE(a, std::string::npos);
    ASSERT_NE(b, std::string::npos);
    ASSERT_NE(c, std::string::npos);
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
}

} // namespace
