#pragma once

#include "monitor/device_rules.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kt {

struct ProgramPreferences;

inline constexpr int32_t CtSeriesZsct = 0;  // "ZSCT" / "NRX-3000 series"
inline constexpr int32_t CtSeriesTr50 = 1;  // "KT-TR50 / VQ50" / "NRX-5000 series"
inline constexpr int32_t CtSeriesOther = 2; // "Other CT"
inline constexpr int32_t CtSeriesNrx2000 = 3;

inline constexpr int32_t CtPrimaryMin = 5;
inline constexpr int32_t CtPrimaryMax = 5000;

// What the program knows about the earth-fault CT and the voltage setting, and the amperes and
// volts they turn the unit's percentages into.
struct CtVoltageSelection {
    int32_t model_type = ModelKt740;
    bool siblingModel = false; // a QM-5740
    int32_t ct_series = CtSeriesZsct;
    int32_t ef_connection = 2; // 0 = 5 A input, 1 = 1 A input, 2 = sensitive (ZSCT) input
    int32_t ct_primary = 200;
    int32_t ct_secondary = 0; // 0 = 5 A, 1 = 1 A (a 0.05 A secondary is also stored as 1)
    int32_t effectiveCtPrimary = 0;
    bool ct_selected = false;
    int32_t voltage = 0; // index into the model's voltage list
    int32_t voltageValue = 0;
    bool voltage_selected = false;
    // Sensing-resistor multiplier; before any unit data the sensor bit counts as clear.
    int32_t voltageMultiplier = 5;
    std::string currentText = "0";
    std::string voltageText = "0";
};

// The model's eleven voltage trip levels in volts.
std::span<const int32_t> voltageLevels(int32_t model_type);
// The level at `index`, or nothing when the index is outside the list.
std::optional<int32_t> voltageLevel(int32_t model_type, int32_t index);
// Multiplier for the unit's sensor setting (register value 1 or legacy port A bit 2 set).
int32_t voltageMultiplierFor(int32_t model_type, bool sensorSet);
// Ratio of an "Other CT" by connection input and secondary; 0 for an unknown pair.
double otherCtRatio(int32_t ef_connection, int32_t ct_secondary);

// "KT-740", "KT-740HV", "KT-740AU", or "QM-5740" for the sibling model.
std::string_view modelName(int32_t model_type, bool siblingModel);
// The series caption shown on the dialog's radio button and in `zsct_P`.
std::string_view ctSeriesCaption(int32_t ct_series, bool siblingModel);

// Recomputes the current and voltage texts from the percentages (registers DB_NGRCURRENT and
// DB_NGRVOLTAGE). A voltage index outside the list gives "--"; an unknown CT series leaves the
// current text as it was.
void computeCurrentUnitAmpsVolts(CtVoltageSelection& sel, int32_t currentPercent, int32_t voltagePercent);
// The same from a legacy frame: bytes 5 and 6, and byte 19 (port A) whose bit 2 sets the
// voltage multiplier on every packet.
void computeLegacyAmpsVolts(CtVoltageSelection& sel, uint8_t currentPercent, uint8_t voltagePercent,
                            uint8_t portA);

// "0.00", independent of the system locale.
std::string formatTwoDecimals(double value);

// The effective CT primary as the CT dialog shows it.
struct EffectivePrimary {
    std::string text;    // "0.##": at most two decimals, no trailing zeros
    bool whole = true;   // the text is a whole number
    int32_t value = 0;   // what OK stores: the whole number, or the rounded one
    std::string warning; // empty when whole
};
// Connection and secondary in amperes (5, 1 or 0.05). On a KT-740AU the primary is taken as is.
double effectiveCtPrimary(int32_t model_type, double primary, double connectionAmps, double secondaryAmps);
EffectivePrimary describeEffectivePrimary(double effective);

// The status panels the selection is shown in; the main window implements this with its
// `TopStatus_P` panels.
enum class SelectionPanel { unit_P, voltage_P, zsct_P, ef_connection_P, ct_secondary_P, ct_primary_P };
std::string_view selectionPanelName(SelectionPanel panel);

class SelectionPanels {
public:
    virtual ~SelectionPanels() = default;
    virtual void setPanelText(SelectionPanel panel, std::string_view text) = 0;
};

// The panel texts as plain values, for the status views that hand them to the window.
struct SelectionPanelTexts : SelectionPanels {
    std::array<std::string, 6> text{};
    void setPanelText(SelectionPanel panel, std::string_view t) override { text[size_t(panel)] = t; }
    const std::string& of(SelectionPanel panel) const { return text[size_t(panel)]; }
};

// Rewrites the panels from the selection; drops a CT series the model cannot have.
void refreshSelectionPanels(CtVoltageSelection& sel, bool legacyUnit, SelectionPanels& panels);

// The selection's stored part.
void loadSelection(CtVoltageSelection& sel, const ProgramPreferences& prefs);
void saveSelection(const CtVoltageSelection& sel, ProgramPreferences& prefs);

} // namespace kt
