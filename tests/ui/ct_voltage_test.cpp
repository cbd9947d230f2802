#include "prefs/preferences.h"
#include "ui/ct_voltage.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using kt::CtVoltageSelection;
using kt::SelectionPanel;

TEST(CtVoltage, VoltageListsAndMultipliers) {
    EXPECT_EQ(kt::voltageLevels(kt::ModelKt740).size(), 11u);
    EXPECT_EQ(kt::voltageLevel(kt::ModelKt740, 0), 20);
    EXPECT_EQ(kt::voltageLevel(kt::ModelKt740AU, 10), 2000);
    EXPECT_EQ(kt::voltageLevel(kt::ModelKt740HV, 0), 100);
    EXPECT_EQ(kt::voltageLevel(kt::ModelKt740HV, 10), 10000);
    EXPECT_FALSE(kt::voltageLevel(kt::ModelKt740, 11));
    EXPECT_FALSE(kt::voltageLevel(kt::ModelKt740, -1));

    EXPECT_EQ(kt::voltageMultiplierFor(kt::ModelKt740HV, true), 2);
    EXPECT_EQ(kt::voltageMultiplierFor(kt::ModelKt740HV, false), 1);
    EXPECT_EQ(kt::voltageMultiplierFor(kt::ModelKt740, true), 1);
    EXPECT_EQ(kt::voltageMultiplierFor(kt::ModelKt740AU, false), 5);
}

TEST(CtVoltage, AmpsByCtSeries) {
    struct Case {
        int series, connection, secondary, primary, percent;
        const char* text;
    } cases[] = {
        {0, 2, 0, 200, 50, "2.50"},   {1, 2, 0, 200, 50, "15.00"}, {3, 2, 0, 200, 50, "100.00"},
        {2, 0, 0, 200, 50, "100.00"}, {2, 0, 1, 200, 50, "20.00"}, {2, 1, 0, 200, 50, "500.00"},
        {2, 2, 1, 200, 100, "10.00"}, {2, 2, 0, 400, 1, "1.00"},   {2, 5, 0, 200, 50, "0.00"},
        {0, 2, 0, 200, 0, "0.00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "series " << c.series << " conn " << c.connection << " sec "
                                          << c.secondary << " prim " << c.primary << " pct " << c.percent);
        CtVoltageSelection sel;
        sel.ct_series = c.series;
        sel.ef_connection = c.connection;
        sel.ct_secondary = c.secondary;
        sel.ct_primary = c.primary;
        kt::computeCurrentUnitAmpsVolts(sel, c.percent, 0);
        EXPECT_EQ(sel.currentText, c.text);
    }
}

TEST(CtVoltage, VoltsFromLevelAndMultiplier) {
    CtVoltageSelection sel;
    sel.voltage = 2; // 100 V
    sel.voltageMultiplier = 5;
    kt::computeCurrentUnitAmpsVolts(sel, 0, 50);
    EXPECT_EQ(sel.voltageText, "250.00");
    EXPECT_EQ(sel.voltageValue, 100);

    sel.model_type = kt::ModelKt740HV;
    sel.voltageMultiplier = 2;
    sel.voltage = 10;
    kt::computeCurrentUnitAmpsVolts(sel, 0, 33);
    EXPECT_EQ(sel.voltageText, "6600.00");

    sel.voltage = 11; // a level the list does not have
    kt::computeCurrentUnitAmpsVolts(sel, 0, 33);
    EXPECT_EQ(sel.voltageText, "--");
}

TEST(CtVoltage, UnknownSeriesLeavesCurrentText) {
    CtVoltageSelection sel;
    sel.ct_series = 7;
    sel.currentText = "12.00";
    kt::computeCurrentUnitAmpsVolts(sel, 80, 0);
    EXPECT_EQ(sel.currentText, "12.00");
}

TEST(CtVoltage, LegacyFrameSetsTheMultiplierFromPortA) {
    CtVoltageSelection sel;
    sel.voltage = 0; // 20 V
    kt::computeLegacyAmpsVolts(sel, 40, 100, 0x04);
    EXPECT_EQ(sel.voltageMultiplier, 1);
    EXPECT_EQ(sel.voltageText, "20.00");
    EXPECT_EQ(sel.currentText, "2.00");
    kt::computeLegacyAmpsVolts(sel, 255, 255, 0xFB);
    EXPECT_EQ(sel.voltageMultiplier, 5);
    EXPECT_EQ(sel.voltageText, "255.00");
    EXPECT_EQ(sel.currentText, "12.75");

    sel.model_type = kt::ModelKt740HV;
    kt::computeLegacyAmpsVolts(sel, 0, 100, 0x04);
    EXPECT_EQ(sel.voltageMultiplier, 2);
    EXPECT_EQ(sel.voltageText, "200.00");
}

TEST(CtVoltage, EffectivePrimaryTextWarningAndRounding) {
    struct Case {
        int model;
        double primary, connection, secondary;
        const char* text;
        int value;
        const char* warning;
    } cases[] = {
        {0, 200, 5, 5, "200", 200, ""},
        {0, 200, 5, 1, "1000", 1000, ""},
        {0, 7, 0.05, 5, "0.07", 1, "Effective CT Primary of 0.07 will be rounded to 1."},
        {0, 12, 1, 5, "2.4", 2, "Effective CT Primary of 2.40 will be rounded to 2."},
        {0, 25, 0.05, 0.5, "2.5", 3, "Effective CT Primary of 2.50 will be rounded to 3."},
        {0, 5, 0.05, 0.05, "5", 5, ""},
        {0, 5000, 5, 0.05, "500000", 500000, ""},
        {0, 13, 0.05, 1, "0.65", 1, "Effective CT Primary of 0.65 will be rounded to 1."},
        {2, 37, 0.05, 5, "37", 37, ""},
        {2, 30, 1, 1, "30", 30, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        auto e = kt::describeEffectivePrimary(
            kt::effectiveCtPrimary(c.model, c.primary, c.connection, c.secondary));
        EXPECT_EQ(e.text, c.text);
        EXPECT_EQ(e.value, c.value);
        EXPECT_EQ(e.warning, c.warning);
        EXPECT_EQ(e.whole, e.warning.empty());
    }
}

class RecordingPanels : public kt::SelectionPanels {
public:
    std::map<std::string, std::string> texts;
    void setPanelText(SelectionPanel p, std::string_view text) override {
        texts[std::string(kt::selectionPanelName(p))] = std::string(text);
    }
};

TEST(CtVoltage, PanelsOfALegacyOtherCt) {
    CtVoltageSelection sel;
    sel.ct_selected = true;
    sel.ct_series = kt::CtSeriesOther;
    sel.ef_connection = 2;
    sel.ct_secondary = 1;
    sel.ct_primary = 150;
    sel.voltage_selected = true;
    sel.voltage = 3;
    sel.voltageMultiplier = 5;
    RecordingPanels panels;
    kt::refreshSelectionPanels(sel, true, panels);
    EXPECT_EQ(panels.texts, (std::map<std::string, std::string>{
                                {"unit_P", "KT-740"},
                                {"voltage_P", "Vn Trip Level: 130 x 5 V"},
                                {"zsct_P", "Other CT"},
                                {"ef_connection_P", "CT Connection: Sensitive/ZSCT"},
                                {"ct_secondary_P", "CT Secondary: 1A"},
                                {"ct_primary_P", "CT Primary: 150A"},
                            }));
    sel.ef_connection = 0;
    sel.ct_secondary = 0;
    kt::refreshSelectionPanels(sel, true, panels);
    EXPECT_EQ(panels.texts["ef_connection_P"], "CT Connection: 5A");
    EXPECT_EQ(panels.texts["ct_secondary_P"], "CT Secondary: 5A");
}

TEST(CtVoltage, PanelsOfOtherSelections) {
    RecordingPanels panels;
    CtVoltageSelection sel;
    sel.siblingModel = true;
    sel.ct_selected = true;
    sel.ct_series = kt::CtSeriesNrx2000;
    kt::refreshSelectionPanels(sel, true, panels);
    EXPECT_EQ(panels.texts["unit_P"], "QM-5740");
    EXPECT_EQ(panels.texts["zsct_P"], "NRX-2000 series");
    EXPECT_EQ(panels.texts["ct_primary_P"], "");
    EXPECT_EQ(panels.texts["voltage_P"], "Voltage Trip Level");

    // A current unit shows no CT panels and leaves the connection panel alone.
    panels.texts.clear();
    sel.siblingModel = false;
    sel.ct_series = kt::CtSeriesTr50;
    sel.model_type = kt::ModelKt740HV;
    kt::refreshSelectionPanels(sel, false, panels);
    EXPECT_EQ(panels.texts["unit_P"], "KT-740HV");
    EXPECT_EQ(panels.texts["zsct_P"], "");
    EXPECT_FALSE(panels.texts.contains("ef_connection_P"));

    // Unselected on a legacy unit: the connection panel invites a selection.
    sel.ct_selected = false;
    kt::refreshSelectionPanels(sel, true, panels);
    EXPECT_EQ(panels.texts["ef_connection_P"], "CT Selection");
    EXPECT_EQ(panels.texts["zsct_P"], "");
}

TEST(CtVoltage, SeriesTheModelCannotHaveIsDropped) {
    struct Case {
        int model;
        bool sibling;
        int series;
        bool kept;
    } cases[] = {
        {kt::ModelKt740, false, kt::CtSeriesNrx2000, false},
        {kt::ModelKt740, true, kt::CtSeriesNrx2000, true},
        {kt::ModelKt740AU, false, kt::CtSeriesOther, false},
        {kt::ModelKt740HV, false, kt::CtSeriesOther, true},
        {kt::ModelKt740, false, 9, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.model << " " << c.sibling << " " << c.series);
        CtVoltageSelection sel;
        sel.model_type = c.model;
        sel.siblingModel = c.sibling;
        sel.ct_series = c.series;
        sel.ct_selected = true;
        RecordingPanels panels;
        kt::refreshSelectionPanels(sel, true, panels);
        EXPECT_EQ(sel.ct_selected, c.kept);
        EXPECT_EQ(sel.ct_series, c.kept ? c.series : 0);
        if (!c.kept) {
            EXPECT_EQ(panels.texts["ef_connection_P"], "CT Selection");
        }
    }
}

TEST(CtVoltage, SelectionTravelsThroughThePreferences) {
    CtVoltageSelection sel;
    sel.model_type = 1;
    sel.ct_series = 2;
    sel.ef_connection = 1;
    sel.ct_primary = 600;
    sel.ct_secondary = 1;
    sel.ct_selected = true;
    sel.voltage = 9;
    sel.voltage_selected = true;
    kt::ProgramPreferences prefs;
    kt::saveSelection(sel, prefs);
    EXPECT_EQ(prefs.ct_primary, 600);
    CtVoltageSelection back;
    kt::loadSelection(back, prefs);
    EXPECT_EQ(back.model_type, 1);
    EXPECT_EQ(back.ct_series, 2);
    EXPECT_EQ(back.ef_connection, 1);
    EXPECT_EQ(back.ct_primary, 600);
    EXPECT_EQ(back.ct_secondary, 1);
    EXPECT_TRUE(back.ct_selected);
    EXPECT_EQ(back.voltage, 9);
    EXPECT_TRUE(back.voltage_selected);
}

} // namespace
