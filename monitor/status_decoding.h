#pragma once

// The status views of a unit described by a register file, as pure functions: what the window
// shows after a poll pass (Summary page, status and configuration grids, trip/device-status grid,
// status-bar panels, new-events notice), computed from the pass snapshot and the CT and voltage
// selection. The window only copies the result into its widgets.

#include "monitor/pass_snapshot.h"
#include "monitor/register_dataset.h"
#include "monitor/status_captions.h"
#include "ui/ct_voltage.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kt {

// ---- Switch-position decoders ----

struct DecodedText {
    std::string text;
    bool ok = true;
    bool operator==(const DecodedText&) const = default;
};
inline constexpr std::string_view SwitchErrorText = "Error";
inline constexpr int SwitchPositions = 11; // 0..10

// GF trip time in seconds; "Error" (not ok) outside 0..10.
DecodedText DecodeGfTime(int64_t position, int32_t model);
// GF trip level: % of the CT rating on the KT-740 and KT-740HV (legacy units and register-file
// units have different lists; position 10 of a register-file unit is the memory position), amperes
// with " A" on the KT-740AU (times 6 when a CT series other than the ZSCT is selected).
DecodedText DecodeGfLevel(int64_t position, int32_t model, bool legacyUnit, int32_t ctSeries);
// Pulse period in seconds.
DecodedText DecodePulseTime(int64_t position);

// ---- Value translation ----

// The value text of every register as the views read it (RegisterValues' value, by register).
using RegisterTexts = std::array<std::string, RegisterTableSize>;

struct TranslationContext {
    const RegisterDataset& dataset;      // the connection's register description table
    std::span<const std::string> values; // value text by register, for the dependency rules
    int32_t model = ModelKt740;
    int32_t effectiveCtPrimary = 0;
};

// Display text of a register value through its value list (TRANSLATIONTYPE/TRANSLATIONINDEX rows)
// and then its dependency rules. A type that is empty or "0", or a value without a row, keeps the
// raw text; rows whose texts are all empty give "". On the KT-740AU the EFLEVEL and GFLEVEL lists
// (percent of the CT) become amperes: times effectiveCtPrimary / 5.
std::string TranslateValue(const TranslationContext& context, int reg, std::string_view translationType,
                           std::string_view valueText);
// The register's DEPENDENCY rules applied to `text`: PREFIX puts the source register's value in
// front, WARNING appends the D_LIST text whose D_VALUE is the source register's value (nothing when
// no row has it) and ends the rules of the register; other kinds change nothing.
std::string ApplyDependencyRules(const RegisterDataset& dataset, std::span<const std::string> values, int reg,
                                 std::string text);

// The value of `reg` in a pass as the views show it: "-" when the register's value type reaches
// past the registers the pass read (a three-register type at 248 or 249), else its text.
std::string_view passValueText(const PassSnapshot& pass, int reg);
// Every register's text of the pass (passValueText), for TranslationContext::values.
void passValueTexts(const PassSnapshot& pass, RegisterTexts& out);

// ---- Status and configuration grids ----

// One row of Status_Grid or Config_Grid (columns 0..4: register, parameter, value, access,
// translation type). A group title row has register -1, the title as parameter and nothing else.
struct GridRow {
    int reg = -1;
    std::string parameter; // "  " + SETTING, or the group title
    std::string value;     // display value; empty on a title row
    int32_t access = 0;
    std::string translationType; // the register's, VNLVL2 when register 24 selects the second list
    bool isTitle() const { return reg < 0; }
    // The grid cell as text: column 0 "-1" on a title row, columns 3 and 4 empty there.
    std::string cell(int column) const;
};

inline constexpr int GridColumns = 5;
inline constexpr std::string_view GridHeaderParameter = "Parameter"; // row 0, column 1
inline constexpr std::string_view GridHeaderValue = "Value";         // row 0, column 2

struct StatusGrids {
    std::vector<GridRow> status; // metering, status and system groups
    std::vector<GridRow> config; // every other displayed group
};

// The grids' rows from the register description table: each displayed group in order, its title
// and then its registers (S_ORDER 99 left out) ordered by S_ORDER; the configuration grid of a unit
// whose essential settings are not yet verified lists only ESSENTIAL rows, ordered by register.
// Values are left empty (refreshGridValues fills them).
StatusGrids buildStatusGrids(const PassSnapshot& pass, bool unitConfigured);

// The value cells of the rows from the pass, as on every refresh.
void refreshGridValues(std::vector<GridRow>& rows, const PassSnapshot& pass,
                       const TranslationContext& context);

// ---- Trip and device status (SetpointsGrid) ----

inline constexpr int SetpointsRows = 15;
inline constexpr int SetpointsColumns = 6;
// Cells by [row][column]: trip item, trip state, device item, device state, trip bit, device bit.
using SetpointsCells = std::array<std::array<std::string, SetpointsColumns>, SetpointsRows>;
// Row 0: "Parameter", "Value", "Parameter", "Value".
void writeSetpointsHeader(SetpointsCells& cells);

struct TripStatusTexts {
    std::string tripstat0; // main_tripstat0_E
    std::string tripstat1; // main_tripstat1_E
    PanelText trip_P;
};
// Trip status bits into columns 0, 1 and 4 and the Summary's trip texts. Bits 10 and 11 (NGR short
// and open) only with extended status bits.
TripStatusTexts decodeTripStatus(int64_t bits, int32_t model, bool extendedStatusBits, SetpointsCells& cells);
// Device status bits into columns 2, 3 and 5; returns main_S7_E (bit 7, "0"/"1").
std::string decodeDeviceStatus(int64_t bits, int32_t model, bool extendedStatusBits, SetpointsCells& cells);

// ---- The refresh after a poll pass ----

// The display state the window keeps between refreshes.
struct UnitStatusState {
    int refreshCount = 0; // refreshes since the connection was made
    int packetCount = 0;  // 1 lays the pages out again
    // A layout that fell due while an editor was open: it runs on the first refresh after the
    // editor has closed.
    bool layoutPending = false;
    // Whether the unit shows its full view (register199Flag). Kept across connections.
    bool unitConfigured = true;
    int64_t lastRecordHead = -1;
    int64_t lastRecordCount = -1;
    int32_t ngrCurrentPercent = 0;
    int32_t ngrVoltagePercent = 0;
    std::string serialNumberText;
    // A data-log line on the first refresh with logging on, then on every second. Kept across
    // connections.
    bool datalogLineToggle = true;

    // Enable: counters to 0, record head and count unknown (the first refresh raises the notice).
    void connectionStarted();
    // Disable: counters to 0.
    void disconnected();
};

struct UnitStatusInputs {
    bool datalogEnabled = false;
    // The page shown when the pages are laid out: from the Communication page the window goes to
    // the Summary, from elsewhere to the Configuration page.
    bool communicationPageActive = false;
    // An editor is open over the grids (a cell being edited, a dialog opened from a page): a
    // layout that falls due waits for it, so no grid is rebuilt under the operator's hands.
    bool editorOpen = false;
};

// Everything one refresh shows. The window keeps one and hands it to every refresh: texts that a
// pass does not give (a DB_ label the register file lacks) stay as they were.
struct UnitStatusView {
    // Connection
    PanelText netstatus_P;           // "ONLINE" in lime green
    bool passSinceLastTick = false;  // for the silence watch
    bool enableStatusPanels = false; // first refresh of the connection

    // Menus by firmware
    bool mnuRemoteCalVisible = false;
    bool dumpDiagnosticsVisible = false;
    bool extendedStatusBits = false;

    // Page layout (on the first refresh, and when the unit enters or leaves the essential
    // settings); `pages` holds only this refresh's changes.
    bool laidOut = false;
    bool layoutDeferred = false; // due, but an editor is open: the grids keep their rows
    PageVisibility pages{};
    std::optional<StatusPage> activePage;
    bool richEdit1Visible = false;
    // The CT and voltage selection row (TopStatus_P) is for legacy units: a register-file unit
    // reports its own CT and voltage settings in the grids.
    bool topStatusVisible = false;
    bool voltageSetting1Visible = false; // the menu item: legacy units only

    // Grids
    std::vector<GridRow> statusGrid;
    std::vector<GridRow> configGrid;
    SetpointsCells setpoints;

    // Summary page and status bar
    ValueTexts values;
    CaptionSet captions = SetDefaultCaptions();
    SelectionPanelTexts selectionPanels;
    PanelText trip_P;
    PanelText diagnostic_P;
    PanelText version_P;
    PanelText datalog_P;     // the unit's time, in aqua
    std::string datalogHint; // the unit's date
    std::optional<bool> tab61850Visible;

    // Event records: the notice shows when the unit's record head or count changed.
    bool newEventsNotice = false;
    std::string recordCountText; // txtRecordcount

    // Data log: write a line after this refresh.
    bool writeDatalogLine = false;

    // The register values as this refresh left them: the pass's texts, with the decoded switch
    // settings in place of their raw values (DB_GFTIME, DB_PULSING, DB_SENSOR, ...).
    RegisterTexts registerValues;
};

// One refresh after a successful poll pass: layout (when due), grid values, the DB_ label pass,
// amperes and volts, captions, the data-log decision and the new-events notice.
void UpdateUnitStatus(const PassSnapshot& pass, UnitStatusState& state, CtVoltageSelection& selection,
                      UnitStatusView& view, const UnitStatusInputs& inputs = {});

} // namespace kt
