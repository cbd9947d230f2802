// The status views of register-file units, without widgets: device rules, value translation and
// dependency rules, the grids, the trip and device status, and the refresh after a pass.
#include "monitor/device_rules.h"
#include "monitor/status_decoding.h"

#include "regfile_test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace kt;
using namespace kt::test;
using ::testing::ElementsAre;
using ::testing::Pair;

namespace {

using VC = ValueControl;

// A register row with the columns the status views read.
struct Row {
    std::string group;
    int g = 0;
    int reg = 0;
    std::string label;
    int type = 1;
    std::string translation = "0";
    int sOrder = 1;
    std::string extra = "";

    std::string text() const {
        const std::string nameIndex = group == "Status"     ? "status"
                                      : group == "Metering" ? "metering"
                                      : group == "System"   ? "system"
                                                            : group;
        return "GROUP=\"" + group + "\" REGISTER=\"" + std::to_string(reg) + "\" LABEL=\"" + label +
               "\" SETTING=\"" + label.substr(std::min<size_t>(3, label.size())) + "\" TYPE=\"" +
               std::to_string(type) + "\" TRANSLATIONTYPE=\"" + translation + "\" ACCESS=\"" +
               (group == "Status" ? "0" : "1") + "\" S_ORDER=\"" + std::to_string(sOrder) + "\" G_ORDER=\"" +
               std::to_string(g) + "\" MAIN=\"" + group + "\" NAMEINDEX=\"" + nameIndex + "\" TITLE=\"" +
               group + " title\" DISPLAY=\"YES\" " + extra;
    }
};

std::string listRow(const std::string& type, int index, const std::string& text) {
    return "TRANSLATIONTYPE=\"" + type + "\" TRANSLATIONINDEX=\"" + std::to_string(index) +
           "\" TRANSLATIONTEXT=\"" + text + "\" G_ORDER=\"999\"";
}

// A unit such as the shipped files describe, reduced to what the status views react to.
std::vector<std::string> unitRows() {
    std::vector<Row> rows = {
        {"Status", 0, 8, "DB_TRIPSTATUS", 1, "0", 1},
        {"Status", 0, 9, "DB_SETPOINTSTATUS", 1, "0", 2},
        {"Status", 0, 10, "DB_DIAGNOSTIC", 1, "DIAG", 3},
        {"Status", 0, 12, "DB_GFTIME", 1, "GFTIME", 4},
        {"Status", 0, 13, "DB_GFSETTING_DETENT", 1, "GFLEVEL", 5},
        {"Status", 0, 14, "DB_PULSETIME", 1, "0", 6},
        {"Metering", 1, 40, "DB_NGRCURRENT", 1, "0", 2},
        {"Metering", 1, 41, "DB_NGRVOLTAGE", 1, "0", 1},
        {"System", 2, 1, "DB_FIRMWARE_VERSION", 1, "0", 1},
        {"System", 2, 4, "DB_MODEL_TYPE", 1, "0", 2},
        {"System", 2, 5, "DB_COMM_CODE", 1, "0", 3},
        {"System", 2, 60, "DB_RECORDHEAD", 1, "0", 4},
        {"System", 2, 61, "DB_RECORDCOUNT", 1, "0", 5},
        {"System", 2, 62, "DB_EVENT_SELECT", 1, "0", 99},
        {"GF Settings", 3, 16, "DB_GFSETTING_MEMORY", 1, "0", 1, R"(ESSENTIAL="YES")"},
        {"GF Settings", 3, 34, "DB_CT_NOMINAL", 1, "0", 2, R"(ESSENTIAL="YES")"},
        {"GF Settings", 3, 24, "DB_SENSOR", 1, "0", 3},
        {"GF Settings", 3, 23, "DB_VNLEVEL", 1, "VNLVL", 4, R"(ESSENTIAL="YES")"},
        {"Network", 4, 90, "DB_IP1", 7, "0", 1, R"(DISPLAY="NO")"},
        {"Spare", 5, 95, "DB_SPARE", 1, "0", 99},
    };
    std::vector<std::string> out;
    for (const Row& r : rows) out.push_back(r.text());
    const char* levels[] = {"2", "4", "6", "8", "10", "20", "40", "60", "80", "100", "MEM"};
    for (int i = 0; i <= 10; ++i) out.push_back(listRow("GFLEVEL", i, levels[i]));
    out.push_back(listRow("GFTIME", 3, "0.4"));
    out.push_back(listRow("DIAG", 0, "OK"));
    out.push_back(listRow("DIAG", 1, "Calibration Error"));
    out.push_back(listRow("VNLVL", 2, "100"));
    out.push_back(listRow("VNLVL2", 2, "500"));
    return out;
}

// A unit of the file above, one pass at a time.
class UnitStatus : public ::testing::Test {
protected:
    void load(const std::vector<std::string>& rows, int firmware = 270) {
        auto t = std::make_shared<RegisterTables>();
        TempDir dir;
        std::string failure;
        ASSERT_TRUE(loadRegisterFile(dir.write("registers_270.xml", dataPacket(standardColumns(), rows)), *t,
                                     &failure))
            << failure;
        t->firmwareVersion = firmware;
        tables = t;
        pass.tables = tables;
        for (int r = 0; r < RegisterTableSize; ++r) {
            const RegisterDescriptor& d = tables->RegisterTable[static_cast<size_t>(r)];
            if (d.type > 0)
                pass.values[static_cast<size_t>(r)] = {d.translationType, d.label, "0", d.access, d.warning};
        }
        set(1, std::to_string(firmware));
        pass.cache[199] = 1;
    }
    void SetUp() override { load(unitRows()); }

    void set(int reg, const std::string& value) { pass.values[static_cast<size_t>(reg)].value = value; }
    const UnitStatusView& refresh(UnitStatusInputs inputs = {}) {
        UpdateUnitStatus(pass, state, sel, view, inputs);
        return view;
    }
    std::string field(ValueControl c) const { return view.values[controlIndex(c)]; }
    // The SetpointsGrid row whose name column (0 trip, 2 device) reads `name`, or -1.
    int setpointRow(int column, const std::string& name) const {
        for (int r = 0; r < SetpointsRows; ++r)
            if (view.setpoints[static_cast<size_t>(r)][static_cast<size_t>(column)] == name) return r;
        return -1;
    }
    std::string setpoint(int column, int row) const {
        return row < 0 ? "(no row)" : view.setpoints[static_cast<size_t>(row)][static_cast<size_t>(column)];
    }
    static std::vector<std::pair<int, std::string>> rowsOf(const std::vector<GridRow>& grid) {
        std::vector<std::pair<int, std::string>> out;
        for (const GridRow& r : grid) out.emplace_back(r.reg, r.isTitle() ? r.parameter : r.value);
        return out;
    }

    std::shared_ptr<RegisterTables> tables;
    PassSnapshot pass;
    UnitStatusState state;
    CtVoltageSelection sel;
    UnitStatusView view;
};

} // namespace

// ---- device rules ----

TEST(DeviceRules, FirmwareThresholdsIgnoreThePrototypeFlag) {
    struct Case {
        int firmware;
        bool remoteCal, dump, extended, essential;
    } cases[] = {
        {229, false, false, false, false},
        {230, true, false, false, false},
        {269, true, false, false, false},
        {270, true, true, true, false},
        {299, true, true, true, false},
        {300, true, true, true, true},
        {0x8000 | 229, false, false, false, false},
        {0x8000 | 270, true, true, true, false},
    };
    for (const Case& c : cases) {
        const FirmwareFeatures f = firmwareFeatures(c.firmware);
        EXPECT_EQ(f.remoteCalibration, c.remoteCal) << c.firmware;
        EXPECT_EQ(f.diagnosticsDump, c.dump) << c.firmware;
        EXPECT_EQ(f.extendedStatusBits, c.extended) << c.firmware;
        EXPECT_EQ(f.essentialSettingsFlag, c.essential) << c.firmware;
    }
    EXPECT_EQ(registerFileVersion(0x8000 | 251), 250);
    EXPECT_TRUE(register199Flag(299, "0"));
    EXPECT_FALSE(register199Flag(300, "0"));
    EXPECT_TRUE(register199Flag(300, "1"));
}

TEST(DeviceRules, ModelTypeAndCommunicationOption) {
    EXPECT_EQ(modelFromModelType(1), ModelKt740);
    EXPECT_EQ(modelFromModelType(2), ModelKt740AU);
    EXPECT_EQ(modelFromModelType(3), ModelKt740HV);
    EXPECT_EQ(modelFromModelTypeText("--"), std::nullopt);
    EXPECT_EQ(registerFileSuffixFor(2), "AU");
    EXPECT_EQ(registerFileSuffixFor(3), "HV");
    EXPECT_EQ(registerFileSuffixFor(1), "");
    EXPECT_EQ(unitName(ModelKt740, true), "QM-5740");
    EXPECT_EQ(unitName(ModelKt740HV, true), "KT-740HV");

    for (auto [option, iec] : {std::pair{5, false}, {6, true}, {8, true}, {9, false}})
        EXPECT_EQ(isIec61850Option(option), iec) << option;

    // Network and SNTP groups need an Ethernet option (3 and up); option 1 is DeviceNet.
    EXPECT_FALSE(groupDisplayed("network", true, 2));
    EXPECT_TRUE(groupDisplayed("network", true, 3));
    EXPECT_FALSE(groupDisplayed("sntp settings", true, 0));
    EXPECT_TRUE(groupDisplayed("devicenet", false, 1));
    EXPECT_FALSE(groupDisplayed("devicenet", false, 2));
    EXPECT_FALSE(groupDisplayed("status", false, 1));
}

TEST(DeviceRules, FirmwareVersionText) {
    EXPECT_EQ(firmwareVersionText("230"), "Firmware Version: 2.30");
    EXPECT_EQ(firmwareVersionText(std::to_string(0x80E6)), "Prototype Version: 2.30");
    EXPECT_EQ(firmwareVersionText("--"), std::nullopt);
}

// ---- translation and dependency rules ----

TEST(ValueTranslation, ListsDependencyRulesAndEarthFaultAmperes) {
    RegisterDataset ds;
    ASSERT_TRUE(ds.loadText(dataPacket(
        standardColumns(),
        {
            Row{"S", 0, 30, "DB_RELAY_TAG", 11, "0", 1, R"(DEPENDENCY="31" D_TYPE="PREFIX")"}.text(),
            Row{"S", 0, 32, "DB_VN_TIME", 1, "0", 2, R"(DEPENDENCY="33" D_LIST="VNWARN" D_TYPE="WARNING")"}
                .text(),
            Row{"S", 0, 35, "DB_GFSETTING_DETENT", 1, "EFLEVEL", 3}.text(),
            R"x(D_LIST="VNWARN" D_VALUE="1" D_TEXT=" (check Vn)" G_ORDER="999")x",
            listRow("EFLEVEL", 5, "20"),
            listRow("EFLEVEL", 10, "MEM"),
            listRow("BLANK", 1, ""),
        })));
    RegisterTexts values{};
    values[31] = "2";
    values[33] = "0";
    TranslationContext kt740{ds, values, ModelKt740, 100};
    EXPECT_EQ(TranslateValue(kt740, 30, "0", "0.5"), "20.5"); // PREFIX with the source's value
    EXPECT_EQ(TranslateValue(kt740, 32, "0", "5"), "5");      // WARNING: no row for 0
    values[33] = "1";
    EXPECT_EQ(TranslateValue(kt740, 32, "0", "5"), "5 (check Vn)");
    values[33] = "x";
    EXPECT_EQ(TranslateValue(kt740, 32, "0", "5"), "5"); // not a number matches nothing
    EXPECT_EQ(TranslateValue(kt740, 35, "EFLEVEL", "5"), "20");
    EXPECT_EQ(TranslateValue(kt740, 35, "EFLEVEL", "7"), "7"); // no row: the raw value
    EXPECT_EQ(TranslateValue(kt740, 35, "BLANK", "1"), "");    // rows with empty texts
    TranslationContext au{ds, values, ModelKt740AU, 100};
    EXPECT_EQ(TranslateValue(au, 35, "EFLEVEL", "5"), "400"); // 20 % of a 100 A CT, per 5 A
    EXPECT_EQ(TranslateValue(au, 35, "EFLEVEL", "10"), "MEM");
}

// ---- grids ----

TEST_F(UnitStatus, GridsFollowTheDisplayedGroupsAndTheEssentialSettings) {
    set(16, "35");
    set(34, "100");
    set(23, "2");
    refresh();
    // Status: the status group by S_ORDER, metering (41 before 40), system without S_ORDER 99.
    // The undisplayed network group and the group whose rows are all hidden give nothing.
    std::vector<int> statusRegs;
    for (const GridRow& r : view.statusGrid) statusRegs.push_back(r.reg);
    EXPECT_THAT(statusRegs, ElementsAre(-1, 8, 9, 10, 12, 13, 14, -1, 41, 40, -1, 1, 4, 5, 60, 61));
    EXPECT_THAT(rowsOf(view.configGrid), ElementsAre(Pair(-1, "GF Settings title"), Pair(16, "35"),
                                                     Pair(34, "100"), Pair(24, "0"), Pair(23, "100")));
    EXPECT_EQ(view.configGrid[1].cell(1), "  GFSETTING_MEMORY");
    EXPECT_EQ(view.configGrid[1].cell(3), "1");
    EXPECT_EQ(view.configGrid[0].cell(0), "-1");
    EXPECT_EQ(view.configGrid[0].cell(3), "");

    // Firmware 3.00 with essential settings not verified: only the essential rows, by register,
    // and only the configuration page.
    load(unitRows(), 300);
    pass.cache[199] = 0;
    set(23, "2");
    refresh();
    EXPECT_TRUE(view.laidOut);
    EXPECT_TRUE(view.richEdit1Visible);
    EXPECT_EQ(view.activePage, StatusPage::Config_Sheet);
    EXPECT_EQ(pageShown(view.pages, StatusPage::Tab_Summary), false);
    std::vector<int> essential;
    for (const GridRow& r : view.configGrid) essential.push_back(r.reg);
    EXPECT_THAT(essential, ElementsAre(-1, 16, 23, 34));

    // Verified on the unit: the pages are laid out again with everything.
    pass.cache[199] = 1;
    refresh();
    EXPECT_TRUE(view.laidOut);
    EXPECT_FALSE(view.richEdit1Visible);
    EXPECT_EQ(view.configGrid.size(), 5u);
    refresh();
    EXPECT_FALSE(view.laidOut);
}

// A re-layout that falls due while an editor is open waits until it has closed: the grids keep
// their rows (and go on refreshing their values) meanwhile.
TEST_F(UnitStatus, ALayoutDueWhileAnEditorIsOpenWaitsForIt) {
    load(unitRows(), 300);
    set(16, "35");
    // The first layout of a connection never waits: there is nothing to edit yet.
    refresh({.editorOpen = true});
    EXPECT_TRUE(view.laidOut);
    EXPECT_FALSE(view.layoutDeferred);
    const size_t fullRows = view.configGrid.size();

    pass.cache[199] = 0; // the essential settings are no longer verified
    set(16, "36");
    for (int tick = 0; tick < 3; ++tick) {
        refresh({.editorOpen = true});
        EXPECT_FALSE(view.laidOut) << tick;
        EXPECT_TRUE(view.layoutDeferred) << tick;
        EXPECT_FALSE(state.unitConfigured);
        EXPECT_EQ(view.configGrid.size(), fullRows);
        EXPECT_EQ(view.configGrid[1].value, "36"); // values still follow the unit
    }
    refresh();
    EXPECT_TRUE(view.laidOut);
    EXPECT_FALSE(view.layoutDeferred);
    EXPECT_TRUE(view.richEdit1Visible);
    EXPECT_LT(view.configGrid.size(), fullRows);
    refresh();
    EXPECT_FALSE(view.laidOut);

    // Back and forth while the editor stays open: one layout, once it closes, for the state the
    // unit is in then.
    pass.cache[199] = 1;
    refresh({.editorOpen = true});
    pass.cache[199] = 0;
    refresh({.editorOpen = true});
    EXPECT_TRUE(view.layoutDeferred);
    refresh();
    EXPECT_TRUE(view.laidOut);
    EXPECT_TRUE(view.richEdit1Visible);

    // A new connection forgets a layout its predecessor left pending.
    pass.cache[199] = 1;
    refresh({.editorOpen = true});
    EXPECT_TRUE(state.layoutPending);
    state.connectionStarted();
    EXPECT_FALSE(state.layoutPending);
}

TEST_F(UnitStatus, SecondVoltageListAndTheMemoryPosition) {
    set(23, "2");
    set(13, "10"); // the detent at MEM
    set(16, "35");
    refresh();
    auto valueOf = [&](int reg) {
        for (const GridRow& r : view.statusGrid)
            if (r.reg == reg) return r.value;
        for (const GridRow& r : view.configGrid)
            if (r.reg == reg) return r.value;
        return std::string("(none)");
    };
    EXPECT_EQ(valueOf(23), "100");
    EXPECT_EQ(valueOf(13), "35%"); // the memory register's level, not "MEM"
    set(24, "1");                  // the sensing resistor selects the second list
    refresh();
    EXPECT_EQ(valueOf(23), "500");
    for (const GridRow& r : view.configGrid)
        if (r.reg == 23) {
            EXPECT_EQ(r.translationType, "VNLVL2");
        }
}

TEST_F(UnitStatus, ValueTypeWiderThanTheRegistersReadShowsADash) {
    // A MAC address (three registers) at 248: the pass reads 0..249 only.
    std::vector<std::string> rows = unitRows();
    rows.push_back(Row{"System", 2, 248, "DB_MAC1", 9, "0", 6}.text());
    load(rows);
    EXPECT_EQ(tables->pollCount, 250);
    set(248, "00:00:00:00:12:34");
    refresh();
    EXPECT_EQ(view.statusGrid.back().reg, 248);
    EXPECT_EQ(view.statusGrid.back().value, "-");
}

// ---- trip and device status ----

TEST_F(UnitStatus, TripStatusByFirmware) {
    struct Case {
        int firmware;
        int bits;
        const char* tripstat0;
        const char* tripstat1;
        PanelText trip;
        const char* row4Name;
        const char* row4State;
    } cases[] = {
        {270, 0, "No Trip", "No Trip", {"No Trip", TextColour::Lime}, "  NGR Short", "No Trip"},
        {270, 1, "GF Trip", "No Trip", {"GF Trip", TextColour::Red}, "  NGR Short", "No Trip"},
        {270, 2, "No Trip", "RF Trip", {"RF Trip", TextColour::Red}, "  NGR Short", "No Trip"},
        {270, 0x400, "No Trip", "RF Trip", {"RF Trip", TextColour::Red}, "  NGR Short", "NGR Short Trip"},
        {260, 0x400, "No Trip", "No Trip", {"No Trip", TextColour::Lime}, "  Cal", "No Error"},
        {269, 0x800, "No Trip", "No Trip", {"No Trip", TextColour::Lime}, "  Cal", "No Error"},
    };
    for (const Case& c : cases) {
        load(unitRows(), c.firmware);
        set(8, std::to_string(c.bits));
        refresh();
        SCOPED_TRACE(std::to_string(c.firmware) + " " + std::to_string(c.bits));
        EXPECT_EQ(field(VC::main_tripstat0), c.tripstat0);
        EXPECT_EQ(field(VC::main_tripstat1), c.tripstat1);
        EXPECT_EQ(view.trip_P, c.trip);
        EXPECT_EQ(setpoint(1, 1), "Trip Status");
        EXPECT_EQ(setpoint(0, 4), c.row4Name);
        EXPECT_EQ(setpoint(1, 4), c.row4State);
        EXPECT_EQ(setpoint(4, 2), (c.bits & 1) ? "1" : "0");
        EXPECT_EQ(view.dumpDiagnosticsVisible, c.firmware >= 270);
    }
    // Earth-fault wording on the KT-740AU.
    set(4, "2");
    set(8, "1");
    refresh();
    EXPECT_EQ(view.trip_P.text, "EF Trip");
    EXPECT_EQ(setpoint(0, 2), "  EF");
    EXPECT_EQ(setpoint(1, 2), "Earth Fault Trip");
}

TEST_F(UnitStatus, DeviceStatusCtDetected) {
    for (auto [firmware, bits, expected] :
         {std::tuple{270, 0x40, "No"}, {270, 0, "Yes"}, {260, 0x40, "No"}}) {
        load(unitRows(), firmware);
        set(9, std::to_string(bits));
        refresh();
        const int row = setpointRow(2, " CT Detected");
        EXPECT_EQ(row, firmware >= 270 ? 10 : 8);
        EXPECT_EQ(setpoint(3, row), expected) << firmware << " " << bits;
        EXPECT_EQ(setpoint(5, row), bits ? "1" : "0");
    }
    set(9, "128");
    refresh();
    EXPECT_EQ(field(VC::main_S7), "1");
    EXPECT_EQ(setpoint(3, setpointRow(2, " CT Status")), "CT Trip");
}

// ---- the label pass ----

TEST_F(UnitStatus, DetentAtTheMemoryPositionShowsTheMemoryLevel) {
    struct Case {
        const char* modelType;
        const char* detent;
        const char* summary;
        const char* grid;
    } cases[] = {
        {"1", "10", "35", "35%"},    {"3", "10", "35", "35%"},
        {"2", "10", "35 A", "35 A"},                             // percent of a 100 A CT
        {"1", "5", "20", "20"},      {"2", "5", "400 A", "400"}, // the level list's 20 % of 100 A, per 5 A
    };
    for (const Case& c : cases) {
        load(unitRows());
        set(4, c.modelType);
        set(34, "100"); // CT nominal, a register after the memory one
        set(13, c.detent);
        set(16, "35");
        refresh();
        SCOPED_TRACE(std::string(c.modelType) + " at " + c.detent);
        EXPECT_EQ(field(VC::main_gfsetting), c.summary);
        EXPECT_EQ(view.statusGrid[5].reg, 13);
        EXPECT_EQ(view.statusGrid[5].value, c.grid);
    }
}

TEST_F(UnitStatus, SummaryStatusBarAndWording) {
    set(1, std::to_string(0x8000 | 271));
    set(4, "db"); // not a number: the model stays
    set(5, "7");
    set(10, "1");
    set(12, "3");
    set(14, "11");
    set(40, "50");
    set(41, "25");
    set(24, "0");
    set(23, "2");
    sel.ct_series = CtSeriesTr50;
    sel.ct_selected = true;
    refresh();
    EXPECT_EQ(view.version_P.text, "Prototype Version: 2.71");
    EXPECT_EQ(view.tab61850Visible, true);
    EXPECT_EQ(pageShown(view.pages, StatusPage::Tab61850), true);
    EXPECT_EQ(view.diagnostic_P, (PanelText{"Calibration Error", TextColour::Red}));
    EXPECT_EQ(field(VC::main_gftime), "0.4");
    EXPECT_EQ(view.registerValues[12], "0.4"); // the decoded text replaces the value
    EXPECT_EQ(field(VC::main_pulsetime), "Error");
    EXPECT_EQ(field(VC::main_config2), "100");
    EXPECT_EQ(sel.voltageMultiplier, 5);
    EXPECT_EQ(field(VC::main_current), "15.00");  // 50 % of a TR50's 30 A
    EXPECT_EQ(field(VC::main_voltage), "125.00"); // 25 % of 100 V x 5 with the 100 K resistor
    EXPECT_EQ(view.captions.captionOf(VC::main_config4), "K1 Mode");
    EXPECT_FALSE(view.captions.isShown(VC::main_current));
    EXPECT_FALSE(view.topStatusVisible);
    EXPECT_EQ(view.selectionPanels.of(SelectionPanel::unit_P), "KT-740");
    EXPECT_EQ(view.activePage, StatusPage::Config_Sheet);

    // The model register in lower case, as older files spell it; 5 and 9 have no 61850.
    pass.values[4].label = "db_model_type";
    for (auto [option, shown] : {std::pair{"5", false}, {"6", true}, {"8", true}, {"9", false}}) {
        set(4, "2");
        set(5, option);
        refresh();
        EXPECT_EQ(pageShown(view.pages, StatusPage::Tab61850), shown) << option;
    }
    EXPECT_EQ(view.captions.captionOf(VC::main_gftime), "EF Trip Time (s)");
    EXPECT_EQ(view.captions.captionOf(VC::main_voltage), "NER Voltage (V)");
    EXPECT_EQ(accessibleName(view.captions, VC::main_ngrcurrent), "NER Current (% FS)");
    set(4, "3");
    refresh();
    EXPECT_EQ(sel.model_type, ModelKt740HV);
    EXPECT_EQ(view.captions.captionOf(VC::main_voltage), "*NGR Voltage (V)");
    EXPECT_FALSE(view.captions.isShown(VC::main_pulsetime));
    EXPECT_EQ(field(VC::main_voltage), "125.00"); // 25 % of the HV list's 500 V x 1 (sensor 0)
}

TEST_F(UnitStatus, VoltageLevelOutsideTheListShowsNoVolts) {
    // 50 % of the last level, 2000 V x 5; beyond the list there are no volts to show.
    for (auto [level, volts] : {std::pair{"10", "5000.00"}, {"11", "--"}, {"-1", "--"}}) {
        set(23, level);
        set(41, "50");
        refresh();
        EXPECT_TRUE(sel.voltage_selected);
        EXPECT_EQ(field(VC::main_voltage), volts) << level;
    }
    EXPECT_EQ(view.selectionPanels.of(SelectionPanel::voltage_P), "Voltage Trip Level");
}

TEST_F(UnitStatus, NewEventsNoticeAndDataLogEverySecondRefresh) {
    state.connectionStarted();
    set(60, "4");
    set(61, "5");
    UnitStatusInputs logging{.datalogEnabled = true};
    refresh(logging);
    EXPECT_TRUE(view.newEventsNotice); // the first refresh of a connection always
    EXPECT_EQ(view.recordCountText, "5");
    EXPECT_TRUE(view.writeDatalogLine);
    EXPECT_TRUE(view.enableStatusPanels);
    refresh(logging);
    EXPECT_FALSE(view.newEventsNotice);
    EXPECT_FALSE(view.writeDatalogLine);
    EXPECT_FALSE(view.enableStatusPanels);
    set(60, "5");
    refresh(logging);
    EXPECT_TRUE(view.newEventsNotice);
    EXPECT_TRUE(view.writeDatalogLine);
    set(61, "--"); // a count that could not be read changes nothing
    refresh();
    EXPECT_FALSE(view.newEventsNotice);
    EXPECT_EQ(view.recordCountText, "5");
}

TEST_F(UnitStatus, ALabelTheFileLacksLeavesItsField) {
    view.values[controlIndex(VC::main_ngrchange)] = "7";
    refresh();
    EXPECT_EQ(field(VC::main_ngrchange), "7"); // no DB_DELTAOHMS in this file
    EXPECT_EQ(field(VC::main_ngrcurrent), "0");
}
