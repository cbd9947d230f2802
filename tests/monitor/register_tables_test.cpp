#include "monitor/register_tables.h"

#include "regfile_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

using namespace kt;
using namespace kt::test;

namespace {

// A small but complete register file: two shown groups, the Events group and a value list.
std::vector<std::string> smallFileRows(int highestRegister = 100) {
    return {
        registerRow("Status", 0, 8, "DB_TRIPSTATUS", 1, 1),
        registerRow("Status", 0, 9, "DB_SETPOINTSTATUS", 1, 2),
        registerRow("Settings", 1, 23, "DB_VNLEVEL", 1, 1, R"(ACCESS="1" WARNING="line 1\r\nline 2")"),
        registerRow("Settings", 1, highestRegister, "DB_LAST", 1, 2),
        registerRow("Events", 2, 63, "DB_EVENT_DATE", 3, 1, R"(DISPLAY="NO")"),
        R"(TRANSLATIONTYPE="VNLVL" TRANSLATIONINDEX="0" TRANSLATIONTEXT="100" G_ORDER="999")",
    };
}

struct Loader {
    TempDir dir;
    RecordingSink sink;
    RegisterTables tables;
    bool stop = false;
    std::string failure;

    bool load(const std::string& version, const std::string& modelType) {
        RegisterLoadOptions options;
        options.tables = &tables;
        options.resourcesFolder = dir.str();
        options.messages = &sink;
        options.stopRequested = [this] { return stop; };
        options.failure = &failure;
        return loadRegisterTables(version, modelType, options);
    }
    // A usable file named as the program names them, e.g. "registersAU_250.xml".
    void addFile(const std::string& name, const std::string& marker = "DB_LAST") {
        auto rows = smallFileRows();
        rows.push_back(registerRow("Settings", 1, 120, marker, 1, 3));
        dir.write(name, dataPacket(standardColumns(), rows));
    }
    std::string loadedName() const {
        return std::filesystem::path(tables.dataset.fileName()).filename().string();
    }
};

bool loadText(RegisterTables& t, const std::string& xml, std::string* failure = nullptr) {
    TempDir dir;
    return loadRegisterFile(dir.write("registers_300.xml", xml), t, failure);
}

} // namespace

TEST(RegisterFileChoice, FallsBackByTensWithinTheModelFamily) {
    const std::string fallback250to230 = "No file found for Version 2.50, using Version 2.30 instead.\n"
                                         "Some items might not be displayed properly.\n"
                                         "Please check https://www.corvane-relays.example/ktmon740 for a new "
                                         "version of KT-MON740.";
    struct Case {
        const char* what;
        const char* version;
        const char* modelType;
        std::vector<std::string> files;
        bool ok;
        const char* loaded; // file name, when ok
        int firmwareVersion;
        std::vector<std::string> messages;
    } cases[] = {
        {"exact file",
         "250",
         "0",
         {"registers_250.xml", "registers_240.xml"},
         true,
         "registers_250.xml",
         250,
         {}},
        {"older file", "250", "0", {"registers_230.xml"}, true, "registers_230.xml", 230, {fallback250to230}},
        {"nearest older file",
         "250",
         "0",
         {"registers_200.xml", "registers_230.xml", "registers_260.xml"},
         true,
         "registers_230.xml",
         230,
         {fallback250to230}},
        {"no file at all", "210", "0", {}, false, "", 0, {NoRegisterFileText}},
        {"only newer files", "250", "0", {"registers_260.xml"}, false, "", 0, {NoRegisterFileText}},
        {"below 200 only the version itself",
         "190",
         "0",
         {"registers_180.xml"},
         false,
         "",
         0,
         {NoRegisterFileText}},
        {"below 200 exact file", "190", "0", {"registers_190.xml"}, true, "registers_190.xml", 190, {}},
        {"down to 200",
         "300",
         "0",
         {"registers_200.xml"},
         true,
         "registers_200.xml",
         200,
         {"No file found for Version 3.00, using Version 2.00 instead.\nSome items might not be displayed "
          "properly.\nPlease check https://www.corvane-relays.example/ktmon740 for a new version of "
          "KT-MON740."}},
        {"model type 2 reads AU files",
         "250",
         "2",
         {"registers_250.xml", "registersAU_250.xml"},
         true,
         "registersAU_250.xml",
         250,
         {}},
        {"model type 3 reads HV files",
         "250",
         "3",
         {"registersAU_250.xml", "registersHV_250.xml"},
         true,
         "registersHV_250.xml",
         250,
         {}},
        {"AU never takes a plain file",
         "250",
         "2",
         {"registers_250.xml", "registersHV_250.xml"},
         false,
         "",
         0,
         {NoRegisterFileText}},
        {"HV never takes an AU file",
         "250",
         "3",
         {"registersAU_240.xml"},
         false,
         "",
         0,
         {NoRegisterFileText}},
        {"plain never takes a family file",
         "250",
         "0",
         {"registersAU_250.xml", "registersHV_250.xml"},
         false,
         "",
         0,
         {NoRegisterFileText}},
        {"other model types are plain",
         "250",
         "1",
         {"registers_250.xml"},
         true,
         "registers_250.xml",
         250,
         {}},
        {"unknown model type is plain",
         "250",
         "x",
         {"registers_250.xml"},
         true,
         "registers_250.xml",
         250,
         {}},
        {"version that is no number", "2.50", "0", {"registers_250.xml"}, false, "", 0, {NoRegisterFileText}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Loader l;
        for (const std::string& f : c.files) l.addFile(f);
        EXPECT_EQ(l.load(c.version, c.modelType), c.ok) << l.failure;
        std::vector<std::string> texts;
        for (auto& [text, title] : l.sink.shown) {
            texts.push_back(text);
            EXPECT_EQ(title, "Cannot Open File");
        }
        EXPECT_EQ(texts, c.messages);
        if (c.ok) {
            EXPECT_EQ(l.loadedName(), c.loaded);
            EXPECT_EQ(l.tables.firmwareVersion, c.firmwareVersion);
            EXPECT_EQ(l.tables.pollCount, 124);
        } else {
            EXPECT_FALSE(l.failure.empty());
            EXPECT_EQ(l.tables.pollCount, 0);
            EXPECT_EQ(l.tables.lastGroupIndex, -1);
        }
    }
}

TEST(RegisterFileChoice, MessagesOnlyWhileNotToldToStop) {
    for (bool stop : {false, true}) {
        SCOPED_TRACE(stop);
        Loader fallback;
        fallback.addFile("registers_230.xml");
        fallback.stop = stop;
        EXPECT_TRUE(fallback.load("250", "0"));
        EXPECT_EQ(fallback.sink.shown.size(), stop ? 0u : 1u);

        Loader none;
        none.stop = stop;
        EXPECT_FALSE(none.load("250", "0"));
        EXPECT_EQ(none.sink.shown.size(), stop ? 0u : 1u);
        EXPECT_NE(none.failure.find("registers_250.xml"), std::string::npos) << none.failure;
    }
}

TEST(RegisterFileChoice, NamesFilesAsTheProgramDoes) {
    EXPECT_EQ(registerFileSuffix("2"), "AU");
    EXPECT_EQ(registerFileSuffix("3"), "HV");
    EXPECT_EQ(registerFileSuffix("0"), "");
    EXPECT_EQ(registerFileSuffix("23"), "");
    EXPECT_EQ(registerFilePath("res", "AU", 250),
              (std::filesystem::path("res") / "registersAU_250.xml").string());
    EXPECT_EQ(std::filesystem::path(resourcesFolderBesideProgram()).filename(), "resources");
}

TEST(RegisterTables, PollCountIsTheHighestRegisterPlusFourUpTo250) {
    struct Case {
        int highest;
        int pollCount;
    } cases[] = {{100, 104}, {245, 249}, {246, 250}, {248, 250}, {249, 250}, {23, 67}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.highest);
        RegisterTables t;
        ASSERT_TRUE(loadText(t, dataPacket(standardColumns(), smallFileRows(c.highest))));
        EXPECT_EQ(t.pollCount, c.pollCount); // 23 + 4 < 63 + 4 (the event register)
    }
}

TEST(RegisterTables, FillsGroupsEventsAndDescriptors) {
    RegisterTables t;
    auto rows = smallFileRows();
    rows.push_back(registerRow("Events", 2, 65, "DB_EVENT_TIME", 4, 2, R"(DISPLAY="NO")"));
    rows.push_back(registerRow("Events", 2, 71, "DB_EVENT_SETPOINT", 1, 10, R"(DISPLAY="NO")")); // 10 after 2
    rows.push_back(registerRow("Events", 2, 70, "DB_EVENT_TRIP", 1, 9, R"(DISPLAY="NO")"));
    std::string failure;
    ASSERT_TRUE(loadText(t, dataPacket(standardColumns(), rows), &failure)) << failure;

    EXPECT_EQ(t.lastGroupIndex, 2);
    EXPECT_EQ(t.RegisterGroups[0].main, "Status");
    EXPECT_EQ(t.RegisterGroups[0].title, "Status title");
    EXPECT_EQ(t.RegisterGroups[0].nameIndex, "Status");
    EXPECT_TRUE(t.RegisterGroups[0].display);
    EXPECT_FALSE(t.RegisterGroups[2].display);
    EXPECT_EQ(t.RegisterGroups[3].main, "");

    EXPECT_EQ(t.EventRegisters, (std::vector<int32_t>{63, 65, 70, 71}));
    EXPECT_EQ(t.eventRegisterCount, 4);

    const RegisterDescriptor& vn = t.RegisterTable[23];
    EXPECT_EQ(vn.label, "DB_VNLEVEL");
    EXPECT_EQ(vn.type, 1);
    EXPECT_EQ(vn.translationType, "0");
    EXPECT_EQ(vn.warning, "line 1\\r\\nline 2"); // kept as stored: backslash r backslash n
    EXPECT_EQ(vn.access, 1);
    EXPECT_EQ(t.RegisterTable[65].type, 4);
    EXPECT_TRUE(t.skippedRows.empty());

    // Registers 0..4 keep their presets unless the file describes them.
    EXPECT_EQ(t.RegisterTable[0].label, "DB_MODEL_CODE");
    EXPECT_EQ(t.RegisterTable[2].type, 2);
    EXPECT_EQ(t.RegisterTable[3].type, 0);
    EXPECT_EQ(t.RegisterTable[4].translationType, "0");
    EXPECT_EQ(t.RegisterTable[4].warning, "0");
    EXPECT_EQ(t.RegisterTable[5].label, "");

    rows.push_back(registerRow("Status", 0, 4, "DB_MODEL_TYPE", 1, 3, R"(TRANSLATIONTYPE="MODELTYPE")"));
    ASSERT_TRUE(loadText(t, dataPacket(standardColumns(), rows)));
    EXPECT_EQ(t.RegisterTable[4].translationType, "MODELTYPE");
    EXPECT_EQ(t.RegisterTable[4].warning, "");
}

TEST(RegisterTables, GroupScanLastRowWinsAndRowsOfNoGroupAreIgnored) {
    RegisterTables t;
    std::vector<std::string> rows = {
        registerRow("A", 1, 10, "DB_A", 1, 1, R"(TITLE="first")"),
        R"(G_ORDER="999" TRANSLATIONTYPE="X" TRANSLATIONINDEX="0" TRANSLATIONTEXT="x")",
        registerRow("A", 1, 11, "DB_A2", 1, 2, R"(TITLE="last" DISPLAY="yes")"),
        R"(G_ORDER="1000" D_LIST="L" D_VALUE="0")",
        registerRow("B", 4, 12, "DB_B", 1, 1),
        R"(D_LIST="M" D_VALUE="0")", // no G_ORDER at all: no group either
    };
    ASSERT_TRUE(loadText(t, dataPacket(standardColumns(), rows)));
    EXPECT_EQ(t.lastGroupIndex, 4);
    EXPECT_EQ(t.RegisterGroups[1].title, "last");
    EXPECT_FALSE(t.RegisterGroups[1].display); // only "YES" shows a group
    EXPECT_EQ(t.RegisterGroups[0].main, "");   // the empty G_ORDER did not make a group 0
    EXPECT_EQ(t.RegisterTable[12].label, "DB_B");
    EXPECT_TRUE(t.skippedRows.empty());
}

TEST(RegisterTables, ARegisterInTwoGroupsKeepsTheGroupScannedLast) {
    RegisterTables t;
    std::vector<std::string> rows = {
        registerRow("Late", 5, 30, "DB_LATE", 6, 1), // first in the file, but the later group
        registerRow("Early", 2, 30, "DB_EARLY", 1, 1),
        registerRow("Orphan", 3, 31, "DB_ORPHAN", 1, 1, R"(MAIN="NotOrphan")"), // GROUP names no group
    };
    ASSERT_TRUE(loadText(t, dataPacket(standardColumns(), rows)));
    EXPECT_EQ(t.RegisterTable[30].label, "DB_LATE");
    EXPECT_EQ(t.RegisterTable[30].type, 6);
    EXPECT_EQ(t.RegisterTable[31].label, "");
    EXPECT_EQ(t.pollCount, 34);
}

TEST(RegisterTables, OptionalTitleAndWarningColumns) {
    auto rows = smallFileRows();
    for (const char* column : {"TITLE", "WARNING"}) {
        SCOPED_TRACE(column);
        RegisterTables t;
        std::string failure;
        ASSERT_TRUE(loadText(t, dataPacket(without(standardColumns(), column), rows), &failure)) << failure;
        if (std::string(column) == "TITLE") {
            EXPECT_EQ(t.RegisterGroups[0].title, "Status"); // MAIN stands in
            EXPECT_EQ(t.RegisterGroups[1].title, "Settings");
            EXPECT_EQ(t.RegisterTable[23].warning, "line 1\\r\\nline 2");
        } else {
            EXPECT_EQ(t.RegisterGroups[0].title, "Status title");
            for (int r : {8, 9, 23, 63, 100}) EXPECT_EQ(t.RegisterTable[r].warning, "");
        }
    }
}

TEST(RegisterTables, MissingRequiredColumnFailsWithTheMessage) {
    for (const char* column : {"GROUP", "REGISTER", "LABEL", "TYPE", "TRANSLATIONTYPE", "ACCESS", "S_ORDER",
                               "G_ORDER", "MAIN", "NAMEINDEX", "DISPLAY"}) {
        SCOPED_TRACE(column);
        Loader l;
        l.dir.write("registers_250.xml", dataPacket(without(standardColumns(), column), smallFileRows()));
        EXPECT_FALSE(l.load("250", "0"));
        ASSERT_EQ(l.sink.shown.size(), 1u);
        EXPECT_EQ(l.sink.shown[0].first, "No xml display files found aborting connection.");
        EXPECT_NE(l.failure.find(std::string("missing column ") + column), std::string::npos) << l.failure;
        EXPECT_EQ(l.tables.pollCount, 0);
        EXPECT_EQ(l.tables.RegisterTable[8].label, "");
    }
}

TEST(RegisterTables, UnreadableFilesFailWithTheMessage) {
    struct Case {
        const char* what;
        std::string content;
        const char* reason;
    } cases[] = {
        {"empty file", "", "not well-formed"},
        {"truncated", dataPacket(standardColumns(), smallFileRows()).substr(0, 300), "not well-formed"},
        {"binary", std::string("\x89PNG\r\n\x1a\n\0\0\0", 11), "not well-formed"},
        {"another XML", "<SCL><Header/></SCL>", "DATAPACKET"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Loader l;
        l.dir.write("registers_250.xml", c.content);
        EXPECT_FALSE(l.load("250", "0"));
        ASSERT_EQ(l.sink.shown.size(), 1u);
        EXPECT_EQ(l.sink.shown[0].first, NoRegisterFileText);
        EXPECT_NE(l.failure.find(c.reason), std::string::npos) << l.failure;
    }
    // A folder named like the file exists but is no file: the search goes on.
    Loader l;
    std::filesystem::create_directory(l.dir.path() / "registers_250.xml");
    l.addFile("registers_240.xml");
    EXPECT_TRUE(l.load("250", "0"));
    EXPECT_EQ(l.loadedName(), "registers_240.xml");
}

// Rows the tables cannot hold are skipped and counted; nothing is written outside a table.
TEST(RegisterTables, RowsOutsideTheTablesAreSkippedAndCounted) {
    struct Case {
        const char* what;
        std::string row;
        const char* reason;
    } cases[] = {
        {"REGISTER not a number", R"(GROUP="Settings" REGISTER="x1" TYPE="1" G_ORDER="1" MAIN="Settings")",
         "REGISTER \"x1\" is not a number"},
        {"REGISTER empty",
         R"(GROUP="Settings" REGISTER="" LABEL="DB_X" TYPE="1" S_ORDER="3" G_ORDER="1" MAIN="Settings")",
         "REGISTER is empty"},
        {"REGISTER 250", registerRow("Settings", 1, 250, "DB_X", 1, 3), "REGISTER 250 lies outside"},
        {"REGISTER -1", registerRow("Settings", 1, -1, "DB_X", 1, 3), "REGISTER -1 lies outside"},
        {"REGISTER huge",
         R"(GROUP="Settings" REGISTER="99999999999999999999" TYPE="1" G_ORDER="1" MAIN="Settings")",
         "not a number"},
        {"REGISTER of an event", registerRow("Events", 2, 4000, "DB_X", 1, 3), "REGISTER 4000 lies outside"},
        {"TYPE not a number", R"(GROUP="Settings" REGISTER="40" TYPE="one" G_ORDER="1" MAIN="Settings")",
         "TYPE \"one\" is not a number"},
        {"ACCESS not a number",
         R"(GROUP="Settings" REGISTER="40" TYPE="1" ACCESS="rw" G_ORDER="1" MAIN="Settings")",
         "ACCESS \"rw\" is not a number"},
        {"TYPE beyond 32 bits",
         R"(GROUP="Settings" REGISTER="40" TYPE="4294967297" G_ORDER="1" MAIN="Settings")", "not a number"},
        {"G_ORDER 100", registerRow("Big", 100, 40, "DB_X", 1, 1), "G_ORDER 100 lies outside"},
        {"G_ORDER 998", registerRow("Big", 998, 40, "DB_X", 1, 1), "G_ORDER 998 lies outside"},
        {"G_ORDER -1", registerRow("Big", -1, 40, "DB_X", 1, 1), "G_ORDER -1 lies outside"},
        {"G_ORDER not a number", R"(GROUP="Big" REGISTER="40" TYPE="1" G_ORDER="first" MAIN="Big")",
         "G_ORDER \"first\" is not a number"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RegisterTables t;
        auto rows = smallFileRows();
        rows.push_back(c.row);
        std::string failure;
        ASSERT_TRUE(loadText(t, dataPacket(standardColumns(), rows), &failure)) << failure;
        ASSERT_EQ(t.skippedRows.size(), 1u);
        EXPECT_EQ(t.skippedRows[0].row, rows.size() - 1);
        EXPECT_NE(t.skippedRows[0].reason.find(c.reason), std::string::npos) << t.skippedRows[0].reason;
        // The good rows are all there.
        EXPECT_EQ(t.RegisterTable[23].label, "DB_VNLEVEL");
        EXPECT_EQ(t.RegisterTable[100].label, "DB_LAST");
        EXPECT_EQ(t.RegisterTable[40].label, "");
        EXPECT_EQ(t.lastGroupIndex, 2);
        EXPECT_EQ(t.EventRegisters, std::vector<int32_t>{63});
        EXPECT_EQ(t.pollCount, 104);
    }
}

TEST(RegisterTables, EventListHoldsAtMost148Registers) {
    RegisterTables t;
    std::vector<std::string> rows;
    for (int i = 0; i < 150; ++i) rows.push_back(registerRow("Events", 0, i % 250, "DB_E", 1, i));
    ASSERT_TRUE(loadText(t, dataPacket(standardColumns(), rows)));
    EXPECT_EQ(t.eventRegisterCount, 148);
    EXPECT_EQ(t.EventRegisters.size(), 148u);
    EXPECT_EQ(t.EventRegisters.back(), 147);
    ASSERT_EQ(t.skippedRows.size(), 2u);
    EXPECT_EQ(t.skippedRows[0].row, 148u);
}

TEST(RegisterTables, EachLoadStartsFromCleanTablesButKeepsTheCache) {
    RegisterTables t;
    t.RegisterCache[7] = 0xBEEF;
    auto rows = smallFileRows(200);
    rows.push_back(registerRow("Extra", 7, 150, "DB_EXTRA", 1, 1));
    ASSERT_TRUE(loadText(t, dataPacket(standardColumns(), rows)));
    ASSERT_EQ(t.RegisterTable[150].label, "DB_EXTRA");
    t.RegisterValues[150].value = "old";

    ASSERT_TRUE(loadText(t, dataPacket(standardColumns(), smallFileRows())));
    EXPECT_EQ(t.RegisterTable[150].label, "");
    EXPECT_EQ(t.RegisterTable[200].type, 0);
    EXPECT_EQ(t.RegisterValues[150].value, "");
    EXPECT_EQ(t.RegisterGroups[7].main, "");
    EXPECT_EQ(t.lastGroupIndex, 2);
    EXPECT_EQ(t.pollCount, 104);
    EXPECT_EQ(t.RegisterCache[7], 0xBEEF);

    // A failed load leaves no description of the previous unit behind either.
    std::string failure;
    EXPECT_FALSE(loadText(t, "not xml", &failure));
    EXPECT_EQ(t.RegisterTable[23].label, "");
    EXPECT_EQ(t.pollCount, 0);
    EXPECT_EQ(t.lastGroupIndex, -1);
    EXPECT_EQ(t.RegisterCache[7], 0xBEEF);
}

TEST(RegisterTables, ProcessTablesServeRegisterText) {
    registerTables().RegisterCache[42] = 0xFFFF;
    EXPECT_EQ(registerText(42, ValueType::Signed16), "-1");
    EXPECT_EQ(&registerTables(), &registerTables());
}

// Damaged copies of a shipped file: whatever the bytes, loading either fails with a reason or
// leaves tables whose counts stay inside their bounds (ASan watches the writes).
TEST(RegisterTables, DamagedFilesNeverBreakTheTables) {
    std::ifstream in(std::string(KT_SOURCE_DIR) + "/resources/registers_320.xml", std::ios::binary);
    const std::string original((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(original.size(), 1000u);
    const char* values[] = {"-1",          "250",        "999",  "998", "100",
                            "99",          "",           " 5",   "abc", "99999999999999999999",
                            "-2147483649", "2147483647", "0x10", "1e3", "12"};
    std::mt19937 rng(740);
    TempDir dir;
    RegisterTables t;
    int loaded = 0;
    for (int i = 0; i < 300; ++i) {
        std::string text = original;
        if (i % 3 == 0) {
            // Byte damage: flips, cuts and inserted markup characters.
            for (int k = 0; k < 1 + i % 7; ++k) {
                size_t at = rng() % text.size();
                switch (rng() % 4) {
                case 0:
                    text[at] = static_cast<char>(rng());
                    break;
                case 1:
                    text.resize(at);
                    break;
                case 2:
                    text.insert(at, 1, "<>\"&="[rng() % 5]);
                    break;
                default:
                    text.erase(at, rng() % 40);
                    break;
                }
                if (text.empty()) break;
            }
        } else {
            // Value damage: numeric attributes get values the tables cannot hold.
            for (int k = 0; k < 1 + i % 11; ++k) {
                const char* attrs[] = {"REGISTER=\"", "G_ORDER=\"", "TYPE=\"", "ACCESS=\"", "S_ORDER=\""};
                std::string attr = attrs[rng() % 5];
                size_t at = text.find(attr, rng() % text.size());
                if (at == std::string::npos) continue;
                size_t start = at + attr.size(), end = text.find('"', start);
                text.replace(start, end - start, values[rng() % std::size(values)]);
            }
        }
        SCOPED_TRACE(i);
        std::string failure;
        if (!loadRegisterFile(dir.write("damaged.xml", text), t, &failure)) {
            EXPECT_FALSE(failure.empty());
            continue;
        }
        ++loaded;
        EXPECT_LE(t.pollCount, MaxPollCount);
        EXPECT_LT(t.lastGroupIndex, RegisterGroupCount);
        EXPECT_LE(t.eventRegisterCount, EventRegisterCapacity);
        for (int32_t r : t.EventRegisters) EXPECT_TRUE(r >= 0 && r < RegisterTableSize);
    }
    EXPECT_GT(loaded, 150); // value damage keeps the file readable: rows are skipped, not the file
}
