#include "ui/ct_voltage.h"

#include "monitor/number_text.h"
#include "prefs/preferences.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace kt {

namespace {

constexpr std::array<int32_t, 11> LevelsKt740{20, 60, 100, 130, 170, 200, 340, 800, 1200, 1700, 2000};
constexpr std::array<int32_t, 11> LevelsKt740HV{100, 300, 500, 650, 850, 1000, 1700, 4000, 6000, 8500, 10000};

struct SeriesCaption {
    std::string_view family;
    std::string_view sibling;
};
constexpr std::array<SeriesCaption, 4> SeriesCaptions{{
    {"ZSCT", "NRX-3000 series"},
    {"KT-TR50 / VQ50", "NRX-5000 series"},
    {"Other CT", "Other CT"},
    {"", "NRX-2000 series"},
}};

constexpr std::array<std::string_view, 6> PanelNames{"unit_P",          "voltage_P",      "zsct_P",
                                                     "ef_connection_P", "ct_secondary_P", "ct_primary_P"};

void computeAmpsVolts(CtVoltageSelection& sel, double currentPercent, double voltagePercent) {
    auto level = voltageLevel(sel.model_type, sel.voltage);
    if (level) {
        sel.voltageValue = *level;
        sel.voltageText =
            formatTwoDecimals(voltagePercent / 100.0 * (double(*level) * sel.voltageMultiplier));
    } else {
        // A level the list does not have (a unit or store reporting an index beyond it) cannot
        // be turned into volts.
        sel.voltageValue = 0;
        sel.voltageText = "--";
    }
    double fraction = currentPercent / 100.0;
    switch (sel.ct_series) {
    case CtSeriesZsct:
        sel.currentText = formatTwoDecimals(fraction * 5);
        break;
    case CtSeriesTr50:
        sel.currentText = formatTwoDecimals(fraction * 30);
        break;
    case CtSeriesNrx2000:
        sel.currentText = formatTwoDecimals(fraction * 200);
        break;
    case CtSeriesOther:
        sel.currentText =
            formatTwoDecimals(otherCtRatio(sel.ef_connection, sel.ct_secondary) * fraction * sel.ct_primary);
        break;
    default:
        break;
    }
}

} // namespace

std::span<const int32_t> voltageLevels(int32_t model_type) {
    if (model_type == ModelKt740HV) return LevelsKt740HV;
    return LevelsKt740;
}

std::optional<int32_t> voltageLevel(int32_t model_type, int32_t index) {
    auto levels = voltageLevels(model_type);
    if (index < 0 || size_t(index) >= levels.size()) return std::nullopt;
    return levels[size_t(index)];
}

int32_t voltageMultiplierFor(int32_t model_type, bool sensorSet) {
    if (model_type == ModelKt740HV) return sensorSet ? 2 : 1;
    return sensorSet ? 1 : 5;
}

double otherCtRatio(int32_t ef_connection, int32_t ct_secondary) {
    struct Ratio {
        int32_t connection, secondary;
        double ratio;
    };
    constexpr std::array<Ratio, 6> Ratios{{
        {0, 0, 1.0},
        {0, 1, 0.2},
        {1, 0, 5.0},
        {1, 1, 1.0},
        {2, 0, 0.25},
        {2, 1, 0.05},
    }};
    for (const Ratio& r : Ratios)
        if (r.connection == ef_connection && r.secondary == ct_secondary) return r.ratio;
    return 0.0;
}

std::string_view modelName(int32_t model_type, bool siblingModel) {
    return unitName(model_type, siblingModel);
}

std::string_view ctSeriesCaption(int32_t ct_series, bool siblingModel) {
    if (ct_series < 0 || size_t(ct_series) >= SeriesCaptions.size()) return "";
    return siblingModel ? SeriesCaptions[size_t(ct_series)].sibling
                        : SeriesCaptions[size_t(ct_series)].family;
}

std::string formatTwoDecimals(double value) {
    return formatFixed(value, 2);
}

void computeCurrentUnitAmpsVolts(CtVoltageSelection& sel, int32_t currentPercent, int32_t voltagePercent) {
    computeAmpsVolts(sel, currentPercent, voltagePercent);
}

void computeLegacyAmpsVolts(CtVoltageSelection& sel, uint8_t currentPercent, uint8_t voltagePercent,
                            uint8_t portA) {
    sel.voltageMultiplier = voltageMultiplierFor(sel.model_type, (portA & 0x04) != 0);
    computeAmpsVolts(sel, currentPercent, voltagePercent);
}

double effectiveCtPrimary(int32_t model_type, double primary, double connectionAmps, double secondaryAmps) {
    if (model_type == ModelKt740AU) return primary;
    return primary * connectionAmps / secondaryAmps;
}

EffectivePrimary describeEffectivePrimary(double effective) {
    EffectivePrimary e;
    e.text = formatFixed(effective, 2);
    if (auto dot = e.text.find('.'); dot != std::string::npos) {
        while (e.text.back() == '0') e.text.pop_back();
        if (e.text.back() == '.') e.text.pop_back();
    }
    double x = 0;
    std::from_chars(e.text.data(), e.text.data() + e.text.size(), x);
    e.whole = e.text.find('.') == std::string::npos;
    if (e.whole) {
        e.value = int32_t(std::llround(x));
        return e;
    }
    // A CT cannot have a fractional primary: the unit gets the nearest whole ampere, and at
    // least one.
    e.value = x < 1 ? 1 : int32_t(std::llround(x));
    std::array<char, 160> buf{};
    std::snprintf(buf.data(), buf.size(), "Effective CT Primary of %s will be rounded to %d.",
                  formatFixed(x, 2).c_str(), int(e.value));
    e.warning = buf.data();
    return e;
}

std::string_view selectionPanelName(SelectionPanel panel) {
    return PanelNames[size_t(panel)];
}

void refreshSelectionPanels(CtVoltageSelection& sel, bool legacyUnit, SelectionPanels& panels) {
    panels.setPanelText(SelectionPanel::unit_P, modelName(sel.model_type, sel.siblingModel));

    auto level = voltageLevel(sel.model_type, sel.voltage);
    if (sel.voltage_selected && level) {
        sel.voltageValue = *level;
        std::array<char, 80> buf{};
        std::snprintf(buf.data(), buf.size(), "Vn Trip Level: %i x %i V", int(sel.voltageValue),
                      int(sel.voltageMultiplier));
        panels.setPanelText(SelectionPanel::voltage_P, buf.data());
    } else {
        // An index beyond the list is shown as no selection rather than a level the unit lacks.
        panels.setPanelText(SelectionPanel::voltage_P, "Voltage Trip Level");
    }

    bool auOther = sel.model_type == ModelKt740AU && sel.ct_series == CtSeriesOther;
    bool nrxWithoutSibling = !sel.siblingModel && sel.ct_series == CtSeriesNrx2000;
    bool unknownSeries = sel.ct_series < CtSeriesZsct || sel.ct_series > CtSeriesNrx2000;
    if (auOther || nrxWithoutSibling || unknownSeries) {
        sel.ct_series = CtSeriesZsct;
        sel.ct_selected = false;
    }

    if (sel.ct_selected && legacyUnit) {
        panels.setPanelText(SelectionPanel::zsct_P, ctSeriesCaption(sel.ct_series, sel.siblingModel));
        if (sel.ct_series == CtSeriesOther) {
            std::string connection = "CT Connection: ";
            connection += sel.ef_connection == 0 ? "5A" : sel.ef_connection == 1 ? "1A" : "Sensitive/ZSCT";
            panels.setPanelText(SelectionPanel::ef_connection_P, connection);
            panels.setPanelText(SelectionPanel::ct_secondary_P,
                                sel.ct_secondary ? "CT Secondary: 1A" : "CT Secondary: 5A");
            std::array<char, 40> buf{};
            std::snprintf(buf.data(), buf.size(), "CT Primary: %iA", int(sel.ct_primary));
            panels.setPanelText(SelectionPanel::ct_primary_P, buf.data());
        } else {
            panels.setPanelText(SelectionPanel::ef_connection_P, "");
            panels.setPanelText(SelectionPanel::ct_secondary_P, "");
            panels.setPanelText(SelectionPanel::ct_primary_P, "");
        }
        return;
    }
    panels.setPanelText(SelectionPanel::zsct_P, "");
    panels.setPanelText(SelectionPanel::ct_secondary_P, "");
    panels.setPanelText(SelectionPanel::ct_primary_P, "");
    if (legacyUnit) panels.setPanelText(SelectionPanel::ef_connection_P, "CT Selection");
}

void loadSelection(CtVoltageSelection& sel, const ProgramPreferences& prefs) {
    sel.model_type = prefs.model_type;
    sel.ct_series = prefs.ct_series;
    sel.ef_connection = prefs.ef_connection;
    sel.ct_primary = prefs.ct_primary;
    sel.ct_secondary = prefs.ct_secondary;
    sel.ct_selected = prefs.ct_selected;
    sel.voltage = prefs.voltage;
    sel.voltage_selected = prefs.voltage_selected;
}

void saveSelection(const CtVoltageSelection& sel, ProgramPreferences& prefs) {
    prefs.model_type = sel.model_type;
    prefs.ct_series = sel.ct_series;
    prefs.ef_connection = sel.ef_connection;
    prefs.ct_primary = sel.ct_primary;
    prefs.ct_secondary = sel.ct_secondary;
    prefs.ct_selected = sel.ct_selected;
    prefs.voltage = sel.voltage;
    prefs.voltage_selected = sel.voltage_selected;
}

} // namespace kt
