// Every register description file that ships beside the program: it loads cleanly, holds what its
// model family and firmware version should hold (the product history in docs/register-files.md),
// and the description table's index lookups give what the plain queries give.
#include "monitor/register_tables.h"

#include "regfile_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>

using namespace kt;

namespace {

struct Shipped {
    const char* suffix;
    int modelType;
    int version;
};

const Shipped ShippedFiles[] = {
    {"", 0, 200},   {"", 0, 230},   {"", 0, 270},   {"", 0, 300},   {"", 0, 320},
    {"AU", 2, 200}, {"AU", 2, 230}, {"AU", 2, 270}, {"AU", 2, 300}, {"HV", 3, 200},
    {"HV", 3, 250}, {"HV", 3, 280}, {"HV", 3, 300},
};

std::string fileName(const Shipped& s) {
    return "registers" + std::string(s.suffix) + "_" + std::to_string(s.version) + ".xml";
}

const std::string Resources = std::string(KT_BIN_DIR) + "/resources";

struct Loaded {
    RegisterTables tables;
    kt::test::RecordingSink sink;
    std::string failure;
    bool ok = false;
    explicit Loaded(const Shipped& s) {
        RegisterLoadOptions options;
        options.tables = &tables;
        options.resourcesFolder = Resources;
        options.messages = &sink;
        options.failure = &failure;
        ok = loadRegisterTables(std::to_string(s.version), std::to_string(s.modelType), options);
    }
    // Register of a label among the described registers, -1 when absent.
    int registerOf(std::string_view label) const {
        for (int r = 0; r < RegisterTableSize; ++r)
            if (tables.RegisterTable[r].label == label && tables.RegisterTable[r].type > 0) return r;
        return -1;
    }
    const RegisterGroup* group(std::string_view nameIndex) const {
        for (int g = 0; g <= tables.lastGroupIndex; ++g)
            if (tables.RegisterGroups[g].nameIndex == nameIndex) return &tables.RegisterGroups[g];
        return nullptr;
    }
};

// The DB_ labels the status views act on, with the value type they need: the views read most of
// them as decimal integers.
const std::map<std::string, int> StatusLabels = {
    {"DB_MODEL_TYPE", 1},       {"DB_COMM_CODE", 1},      {"DB_SERIAL_NUMBER", 2},
    {"DB_FIRMWARE_VERSION", 1}, {"DB_GFTIME", 1},         {"DB_GFSETTING_MEMORY", 1},
    {"DB_GFSETTING_DETENT", 1}, {"DB_PULSETIME", 1},      {"DB_VNLEVEL", 1},
    {"DB_PULSING", 1},          {"DB_K1_FAILSAFE", 1},    {"DB_GF_LATCH", 1},
    {"DB_RF_LATCH", 1},         {"DB_SENSOR", 1},         {"DB_FREQUENCY", 1},
    {"DB_CT_NOMINAL", 1},       {"DB_NGRCURRENT", 1},     {"DB_NGRVOLTAGE", 1},
    {"DB_DELTAOHMS", 6},        {"DB_HEALTHY", 1},        {"DB_DIAGNOSTIC", 1},
    {"DB_TRIPSTATUS", 1},       {"DB_SETPOINTSTATUS", 1}, {"DB_RECORDHEAD", 1},
    {"DB_RECORDCOUNT", 1},      {"DB_TIME", 4},           {"DB_DATE", 3},
    {"DB_MODEL_CODE", 1},
};

// Labels a family lacks: the KT-740HV has no pulsing, the KT-740AU neither pulsing nor K1 mode.
std::set<std::string> absentLabels(const Shipped& s) {
    if (std::string(s.suffix) == "HV") return {"DB_PULSETIME", "DB_PULSING"};
    if (std::string(s.suffix) == "AU") return {"DB_PULSETIME", "DB_PULSING", "DB_K1_FAILSAFE"};
    return {};
}

// The entries of a value list (the register rows naming the list have no index and no text).
RowView listEntries(const RegisterDataset& ds, std::string_view type) {
    return ds.select({equals("TRANSLATIONTYPE", type), differs("TRANSLATIONINDEX", "")}, "TRANSLATIONINDEX");
}

class ShippedRegisterFile : public ::testing::TestWithParam<Shipped> {};

std::string paramName(const ::testing::TestParamInfo<Shipped>& info) {
    return std::string(info.param.suffix[0] ? info.param.suffix : "Plain") + "_" +
           std::to_string(info.param.version);
}

} // namespace

TEST(ShippedRegisterFiles, TheResourcesHoldExactlyTheListedFiles) {
    std::set<std::string> expected, found;
    for (const Shipped& s : ShippedFiles) expected.insert(fileName(s));
    for (auto& entry : std::filesystem::directory_iterator(std::string(KT_SOURCE_DIR) + "/resources")) {
        std::string name = entry.path().filename().string();
        if (name.starts_with("registers")) found.insert(name);
    }
    EXPECT_EQ(found, expected);
}

TEST_P(ShippedRegisterFile, LoadsWithoutSkippingAnyRow) {
    const Shipped& s = GetParam();
    Loaded l(s);
    ASSERT_TRUE(l.ok) << l.failure;
    EXPECT_TRUE(l.sink.shown.empty());
    EXPECT_EQ(std::filesystem::path(l.tables.dataset.fileName()).filename(), fileName(s));
    EXPECT_EQ(l.tables.firmwareVersion, s.version);
    for (const SkippedRow& row : l.tables.skippedRows)
        ADD_FAILURE() << "ROW " << row.row + 1 << ": " << row.reason;

    int highest = 0;
    for (int r = 0; r < RegisterTableSize; ++r)
        if (l.tables.RegisterTable[r].type > 0) highest = r;
    EXPECT_EQ(l.tables.pollCount, std::min(highest + 4, 250));
}

TEST_P(ShippedRegisterFile, HasTheStatusLabelsWhereTheViewsLook) {
    const Shipped& s = GetParam();
    Loaded l(s);
    ASSERT_TRUE(l.ok) << l.failure;
    const auto absent = absentLabels(s);
    for (const auto& [label, type] : StatusLabels) {
        SCOPED_TRACE(label);
        int r = l.registerOf(label);
        if (absent.count(label)) {
            EXPECT_EQ(r, -1);
            continue;
        }
        ASSERT_GE(r, 0);
        EXPECT_LT(r, 100); // the label pass visits registers 0..99
        EXPECT_EQ(l.tables.RegisterTable[r].type, type);
    }
    // Registers the program names itself.
    const std::map<std::string, int> fixed = {
        {"DB_MODEL_CODE", 0},  {"DB_FIRMWARE_VERSION", 1},  {"DB_SERIAL_NUMBER", 2}, {"DB_MODEL_TYPE", 4},
        {"DB_COMM_CODE", 5},   {"DB_GFSETTING_MEMORY", 16}, {"DB_SENSOR", 24},       {"DB_CT_NOMINAL", 34},
        {"DB_RECORDHEAD", 60}, {"DB_RECORDCOUNT", 61},      {"DB_DN_MACID", 120},    {"DB_IP1", 101},
        {"DB_MASK1", 103},     {"DB_GATEWAY1", 105},        {"DB_MAC1", 107},
    };
    for (const auto& [label, reg] : fixed) EXPECT_EQ(l.registerOf(label), reg) << label;
    // The memory setting must come after the detent switch, so the label pass sees the switch first.
    EXPECT_GT(l.registerOf("DB_GFSETTING_MEMORY"), l.registerOf("DB_GFSETTING_DETENT"));
    EXPECT_EQ(l.tables.RegisterTable[16].access, 1);  // built-in percent list
    EXPECT_EQ(l.tables.RegisterTable[120].access, 1); // built-in 0..63 list
    EXPECT_EQ(l.tables.RegisterTable[34].access, 10); // the CT dialog
}

TEST_P(ShippedRegisterFile, HoldsWhatItsFirmwareVersionHas) {
    const Shipped& s = GetParam();
    Loaded l(s);
    ASSERT_TRUE(l.ok) << l.failure;
    const RegisterDataset& ds = l.tables.dataset;
    const int v = s.version;
    // 2.30: TITLE/WARNING columns, remote calibration, SNTP.
    EXPECT_EQ(ds.hasColumn("TITLE"), v >= 230);
    EXPECT_EQ(ds.hasColumn("WARNING"), v >= 230);
    EXPECT_EQ(l.registerOf("DB_CAL_STATUS") >= 0, v >= 230);
    EXPECT_EQ(l.group("sntp settings") != nullptr, v >= 230);
    EXPECT_EQ(l.registerOf("DB_UTC_OFFSET") >= 0, v >= 230);
    if (v >= 230) {
        const std::string& help = l.tables.RegisterTable[20].warning;
        EXPECT_NE(help.find("\\r\\n"), std::string::npos) << help;
        EXPECT_EQ(help.find_first_of("\r\n"), std::string::npos);
    }
    // 2.70: diagnostics dump, trip bits 10/11 settings, second Ethernet port, IEC 61850 options.
    for (const char* label :
         {"DB_DUMP_STATUS", "DB_SD_FREE", "DB_SHORT_LEVEL", "DB_OPEN_LEVEL", "DB_IP2", "DB_MAC2"})
        EXPECT_EQ(l.registerOf(label) >= 0, v >= 270) << label;
    EXPECT_EQ(!ds.translationRows("COMMOPT", "6").empty(), v >= 270);
    EXPECT_EQ(!ds.translationRows("DIAG", "8").empty(), v >= 270);
    EXPECT_FALSE(ds.translationRows("COMMOPT", "5").empty());
    // 3.00: essential settings.
    EXPECT_EQ(l.registerOf("DB_ESSENTIAL_VERIFIED"), v >= 300 ? 199 : -1);
    auto essential = ds.select({equals("ESSENTIAL", "YES")}, "REGISTER");
    if (v >= 300) {
        std::vector<int64_t> regs;
        for (DatasetRow row : essential) regs.push_back(*row.number("REGISTER"));
        EXPECT_EQ(regs, (std::vector<int64_t>{20, 23, 24, 25, 34, 199}));
        EXPECT_EQ(l.tables.RegisterTable[199].type, 1);
        EXPECT_EQ(l.tables.RegisterTable[199].access, 1);
        EXPECT_EQ(l.tables.RegisterTable[199].translationType, "YESNO");
    } else {
        EXPECT_TRUE(essential.empty());
    }
    EXPECT_EQ(l.registerOf("DB_RELAY_TAG") >= 0, v >= 300);
    EXPECT_EQ(l.registerOf("DB_SITE_DESCRIPTION") >= 0, v >= 320);
}

TEST_P(ShippedRegisterFile, GroupsAndTheEventRecord) {
    Loaded l(GetParam());
    ASSERT_TRUE(l.ok) << l.failure;
    for (int g = 0; g <= l.tables.lastGroupIndex; ++g) {
        SCOPED_TRACE(g);
        EXPECT_FALSE(l.tables.RegisterGroups[g].main.empty()); // numbered without gaps
        EXPECT_FALSE(l.tables.RegisterGroups[g].nameIndex.empty());
        EXPECT_FALSE(l.tables.RegisterGroups[g].title.empty());
    }
    struct Expect {
        const char* nameIndex;
        bool display;
    } groups[] = {{"status", true},     {"metering", true}, {"system", true},      {"network", true},
                  {"devicenet", false}, {"events", false},  {"gf settings", true}, {"modbus", true}};
    for (const Expect& e : groups) {
        SCOPED_TRACE(e.nameIndex);
        const RegisterGroup* g = l.group(e.nameIndex);
        ASSERT_TRUE(g);
        EXPECT_EQ(g->display, e.display);
    }
    EXPECT_EQ(l.group("events")->main, "Events");
    EXPECT_EQ(l.tables.EventRegisters, (std::vector<int32_t>{63, 65, 67, 68, 69, 70, 71}));
    const int types[] = {3, 4, 1, 1, 6, 1, 1}; // date, time, current, voltage, change, trip, setpoint
    for (size_t k = 0; k < 7; ++k)
        EXPECT_EQ(l.tables.RegisterTable[l.tables.EventRegisters[k]].type, types[k]);
}

TEST_P(ShippedRegisterFile, RowsStayWithinTheTablesAndRulesHold) {
    const Shipped& s = GetParam();
    Loaded l(s);
    ASSERT_TRUE(l.ok) << l.failure;
    const RegisterDataset& ds = l.tables.dataset;
    const std::set<int64_t> accessCodes{0, 1, 7, 9, 10, 11, 16};
    const std::map<int64_t, int64_t> typeOfAccess{{7, 7}, {9, 9}, {16, 16}, {10, 1}, {11, 1}, {1, 1}};
    for (DatasetRow row : ds.all()) {
        SCOPED_TRACE("ROW " + std::to_string(row.index() + 1));
        auto g = row.number("G_ORDER");
        ASSERT_TRUE(g);
        EXPECT_TRUE((*g >= 0 && *g < 100) || *g >= 999) << *g;
        if (row.text("REGISTER").empty()) continue;
        auto r = row.number("REGISTER");
        ASSERT_TRUE(r);
        EXPECT_TRUE(*r >= 0 && *r < 250) << *r;
        auto type = row.number("TYPE");
        ASSERT_TRUE(type);
        EXPECT_TRUE(isConvertibleValueType(static_cast<int>(*type))) << *type;
        auto access = row.number("ACCESS");
        ASSERT_TRUE(access);
        EXPECT_TRUE(accessCodes.count(*access)) << *access;
        if (typeOfAccess.count(*access)) {
            EXPECT_EQ(*type, typeOfAccess.at(*access));
        }
        EXPECT_TRUE(row.text("LABEL").starts_with("DB_")) << row.text("LABEL");
        EXPECT_NE(row.text("SETTING"), "");
    }

    // No described register overlaps the words of another.
    std::map<int, int> owner;
    for (int r = 0; r < RegisterTableSize; ++r) {
        const RegisterDescriptor& d = l.tables.RegisterTable[r];
        if (d.type <= 0) continue;
        for (int k = 0; k < valueTypeRegisterCount(d.type); ++k) {
            auto [it, fresh] = owner.emplace(r + k, r);
            EXPECT_TRUE(fresh) << "register " << r << " overlaps register " << it->second;
        }
    }

    // Value lists: every named list exists; a list edited by position runs 0..n-1 without gaps.
    for (int r = 0; r < RegisterTableSize; ++r) {
        const RegisterDescriptor& d = l.tables.RegisterTable[r];
        if (d.type <= 0 || d.translationType == "0" || d.translationType.empty()) continue;
        SCOPED_TRACE("register " + std::to_string(r) + " list " + d.translationType);
        RowView list = listEntries(ds, d.translationType);
        ASSERT_FALSE(list.empty());
        if (d.access == 1) {
            for (size_t i = 0; i < list.size(); ++i) {
                EXPECT_EQ(list[i].number("TRANSLATIONINDEX"), static_cast<int64_t>(i));
                EXPECT_NE(list[i].text("TRANSLATIONTEXT"), "");
            }
        }
    }
    EXPECT_EQ(listEntries(ds, "VNLVL").size(), 11u);
    EXPECT_EQ(listEntries(ds, "VNLVL2").size(), 11u);
    const char* level = std::string(s.suffix) == "AU" ? "EFLEVEL" : "GFLEVEL";
    EXPECT_EQ(l.tables.RegisterTable[l.registerOf("DB_GFSETTING_DETENT")].translationType, level);
    ASSERT_TRUE(ds.translationRows(level, "10").first());
    EXPECT_EQ(ds.translationRows(level, "10").first()->text("TRANSLATIONTEXT"), "MEM");

    // Dependency rules name described source registers and lists that exist.
    for (DatasetRow row : ds.select({differs("DEPENDENCY", "")})) {
        SCOPED_TRACE("register " + std::string(row.text("REGISTER")));
        auto source = row.number("DEPENDENCY");
        ASSERT_TRUE(source);
        ASSERT_TRUE(*source > 0 && *source < 250);
        EXPECT_GT(l.tables.RegisterTable[*source].type, 0);
        std::string_view kind = row.text("D_TYPE");
        ASSERT_TRUE(kind == "WARNING" || kind == "PREFIX" || kind == "RANGE") << kind;
        if (kind == "PREFIX") continue;
        RowView list = ds.select({equals("D_LIST", row.text("D_LIST")), differs("D_VALUE", "")}, "D_VALUE");
        ASSERT_FALSE(list.empty());
        if (kind == "RANGE") {
            EXPECT_EQ(row.number("MIN"), 0);
            EXPECT_EQ(row.number("MAX"), 0);
            // One range per value of the source register.
            RowView values = listEntries(ds, l.tables.RegisterTable[*source].translationType);
            ASSERT_EQ(list.size(), values.size());
            for (size_t i = 0; i < list.size(); ++i) {
                EXPECT_EQ(list[i].number("D_VALUE"), values[i].number("TRANSLATIONINDEX"));
                EXPECT_LT(*list[i].number("MIN"), *list[i].number("MAX"));
            }
        }
    }
}

TEST_P(ShippedRegisterFile, SpeaksTheWordingOfItsFamily) {
    const Shipped& s = GetParam();
    Loaded l(s);
    ASSERT_TRUE(l.ok) << l.failure;
    const bool au = std::string(s.suffix) == "AU";
    const std::regex wrong(au ? R"(\b(GF|NGR|Ground)\b)" : R"(\b(EF|NER|Earth)\b)");
    for (DatasetRow row : l.tables.dataset.all())
        for (const char* column : {"SETTING", "MAIN", "TITLE", "TRANSLATIONTEXT", "WARNING", "D_TEXT"}) {
            std::string text(row.text(column));
            EXPECT_FALSE(std::regex_search(text, wrong)) << column << ": " << text;
        }
}

// The lookups the status refresh makes on every poll must see exactly the rows, in the order, of
// the plain filter and order.
TEST_P(ShippedRegisterFile, IndexLookupsEqualThePlainQueries) {
    Loaded l(GetParam());
    ASSERT_TRUE(l.ok) << l.failure;
    const RegisterDataset& ds = l.tables.dataset;
    auto rows = [](const RowView& v) {
        return std::vector<uint32_t>(v.rowIndexes().begin(), v.rowIndexes().end());
    };
    std::set<std::string> registers{"", "-1", "250", "abc"}, types{"", "0", "NOPE"}, lists{"", "NOPE"};
    std::set<std::pair<std::string, std::string>> pairs{{"VNLVL", "99"}, {"VNLVL", "x"}, {"VNLVL", ""}};
    for (DatasetRow row : ds.all()) {
        registers.emplace(row.text("REGISTER"));
        types.emplace(row.text("TRANSLATIONTYPE"));
        lists.emplace(row.text("D_LIST"));
        pairs.emplace(row.text("TRANSLATIONTYPE"), row.text("TRANSLATIONINDEX"));
    }
    for (int r = 0; r < RegisterTableSize; ++r) registers.insert(std::to_string(r));
    size_t compared = 0;
    for (const std::string& r : registers) {
        ASSERT_EQ(rows(ds.rowsOfRegister(r)), rows(ds.select({equals("REGISTER", r)}, "REGISTER"))) << r;
        ++compared;
    }
    for (const std::string& t : types)
        ASSERT_EQ(rows(ds.translationList(t)),
                  rows(ds.select({equals("TRANSLATIONTYPE", t)}, "TRANSLATIONINDEX")))
            << t;
    for (const auto& [t, i] : pairs)
        ASSERT_EQ(rows(ds.translationRows(t, i)),
                  rows(ds.select({equals("TRANSLATIONTYPE", t), equals("TRANSLATIONINDEX", i)})))
            << t << " " << i;
    for (const std::string& list : lists)
        ASSERT_EQ(rows(ds.dependencyList(list)), rows(ds.select({equals("D_LIST", list)}, "D_VALUE")))
            << list;
    EXPECT_GE(compared, 250u);
}

INSTANTIATE_TEST_SUITE_P(AllFiles, ShippedRegisterFile, ::testing::ValuesIn(ShippedFiles), paramName);

TEST(ShippedRegisterFiles, TogetherTheyUseEveryTypeAccessCodeAndRuleKind) {
    std::set<int64_t> types, access;
    std::set<std::string> kinds, lists;
    bool hiddenRow = false, hiddenGroup = false, essential = false, minMax = false;
    for (const Shipped& s : ShippedFiles) {
        Loaded l(s);
        ASSERT_TRUE(l.ok) << l.failure;
        for (DatasetRow row : l.tables.dataset.all()) {
            if (auto t = row.number("TYPE")) types.insert(*t);
            if (auto a = row.number("ACCESS")) access.insert(*a);
            if (!row.text("D_TYPE").empty()) kinds.emplace(row.text("D_TYPE"));
            if (!row.text("TRANSLATIONTYPE").empty()) lists.emplace(row.text("TRANSLATIONTYPE"));
            hiddenRow |= row.number("S_ORDER") == 99;
            essential |= row.text("ESSENTIAL") == "YES";
            minMax |= !row.text("REGISTER").empty() && row.numberOr("MAX", 0) > 0;
        }
        for (int g = 0; g <= l.tables.lastGroupIndex; ++g) hiddenGroup |= !l.tables.RegisterGroups[g].display;
    }
    EXPECT_EQ(types, (std::set<int64_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 14, 15, 16, 17, 18, 19}));
    EXPECT_EQ(access, (std::set<int64_t>{0, 1, 7, 9, 10, 11, 16}));
    EXPECT_EQ(kinds, (std::set<std::string>{"PREFIX", "RANGE", "WARNING"}));
    for (const char* list : {"VNLVL", "VNLVL2", "EFLEVEL", "GFLEVEL"}) EXPECT_TRUE(lists.count(list)) << list;
    EXPECT_TRUE(hiddenRow);
    EXPECT_TRUE(hiddenGroup);
    EXPECT_TRUE(essential);
    EXPECT_TRUE(minMax);
}

TEST(ShippedRegisterFiles, UnitsBetweenVersionsGetTheOlderFile) {
    struct Case {
        const char* version;
        const char* modelType;
        const char* file;
        const char* message; // start of the fallback message, "" for none
    } cases[] = {
        {"250", "0", "registers_230.xml", "No file found for Version 2.50, using Version 2.30 instead."},
        {"230", "3", "registersHV_200.xml", "No file found for Version 2.30, using Version 2.00 instead."},
        {"290", "2", "registersAU_270.xml", "No file found for Version 2.90, using Version 2.70 instead."},
        {"400", "0", "registers_320.xml", "No file found for Version 4.00, using Version 3.20 instead."},
        {"300", "3", "registersHV_300.xml", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        RegisterTables t;
        kt::test::RecordingSink sink;
        RegisterLoadOptions options;
        options.tables = &t;
        options.resourcesFolder = Resources;
        options.messages = &sink;
        ASSERT_TRUE(loadRegisterTables(c.version, c.modelType, options));
        EXPECT_EQ(std::filesystem::path(t.dataset.fileName()).filename(), c.file);
        if (*c.message) {
            ASSERT_EQ(sink.shown.size(), 1u);
            EXPECT_TRUE(sink.shown[0].first.starts_with(c.message)) << sink.shown[0].first;
        } else {
            EXPECT_TRUE(sink.shown.empty());
        }
    }
}
