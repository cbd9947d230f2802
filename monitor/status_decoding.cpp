#include "monitor/status_decoding.h"

#include "monitor/number_text.h"
#include "monitor/register_codec.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace kt {

namespace {

using VC = ValueControl;

// ---- switch positions ----

constexpr std::array<std::string_view, SwitchPositions> GfTimes{"0.1", "0.2", "0.3", "0.4", "0.5", "0.7",
                                                                "1.0", "2.0", "3.0", "5.0", "10.0"};
constexpr std::array<std::string_view, SwitchPositions> EfTimes{
    "0.10", "0.12", "0.14", "0.16", "0.18", "0.20", "0.25", "0.30", "0.35", "0.40", "0.50"};
constexpr std::array<std::string_view, SwitchPositions> PulseTimes{"1.0", "1.2", "1.4", "1.6", "1.8", "2.0",
                                                                   "2.2", "2.4", "2.6", "2.8", "3.0"};
// Percent of the CT rating. Register-file units have a memory position (10) instead of 15 %.
constexpr std::array<std::string_view, SwitchPositions> GfLevelsLegacy{"2",  "4",  "6",  "8",  "10", "15",
                                                                       "20", "40", "60", "80", "100"};
constexpr std::array<std::string_view, SwitchPositions> GfLevelsRegisterFile{
    "2", "4", "6", "8", "10", "20", "40", "60", "80", "100", "0"};
// Amperes on the KT-740AU's ZSCT input; a TR50 series CT gives six times as much.
constexpr std::array<double, SwitchPositions> EfLevels{0.125, 0.25, 0.3, 0.4, 0.5, 0.75, 1, 2, 3, 4, 5};
constexpr double Tr50Factor = 6;

bool validPosition(int64_t position) {
    return position >= 0 && position < SwitchPositions;
}

DecodedText fromList(const std::array<std::string_view, SwitchPositions>& list, int64_t position) {
    if (!validPosition(position)) return {std::string(SwitchErrorText), false};
    return {std::string(list[static_cast<size_t>(position)]), true};
}

// ---- the label pass ----

enum class LabelRule : uint8_t {
    None,
    ModelType,
    CommCode,
    SerialNumber,
    FirmwareVersion,
    GfTime,
    GfSettingMemory,
    GfSettingDetent,
    PulseTime,
    VnLevel,
    Pulsing,
    K1Failsafe,
    GfLatch,
    RfLatch,
    Sensor,
    Frequency,
    CtNominal,
    NgrCurrent,
    NgrVoltage,
    DeltaOhms,
    Healthy,
    Diagnostic,
    TripStatus,
    SetpointStatus,
    RecordHead,
    RecordCount,
    Time,
    Date,
};

struct LabelEntry {
    std::string_view label;
    LabelRule rule;
};

constexpr LabelEntry LabelRules[] = {
    {"DB_COMM_CODE", LabelRule::CommCode},
    {"DB_SERIAL_NUMBER", LabelRule::SerialNumber},
    {"DB_FIRMWARE_VERSION", LabelRule::FirmwareVersion},
    {"DB_GFTIME", LabelRule::GfTime},
    {"DB_GFSETTING_MEMORY", LabelRule::GfSettingMemory},
    {"DB_GFSETTING_DETENT", LabelRule::GfSettingDetent},
    {"DB_PULSETIME", LabelRule::PulseTime},
    {"DB_VNLEVEL", LabelRule::VnLevel},
    {"DB_PULSING", LabelRule::Pulsing},
    {"DB_K1_FAILSAFE", LabelRule::K1Failsafe},
    {"DB_GF_LATCH", LabelRule::GfLatch},
    {"DB_RF_LATCH", LabelRule::RfLatch},
    {"DB_SENSOR", LabelRule::Sensor},
    {"DB_FREQUENCY", LabelRule::Frequency},
    {"DB_CT_NOMINAL", LabelRule::CtNominal},
    {"DB_NGRCURRENT", LabelRule::NgrCurrent},
    {"DB_NGRVOLTAGE", LabelRule::NgrVoltage},
    {"DB_DELTAOHMS", LabelRule::DeltaOhms},
    {"DB_HEALTHY", LabelRule::Healthy},
    {"DB_DIAGNOSTIC", LabelRule::Diagnostic},
    {"DB_TRIPSTATUS", LabelRule::TripStatus},
    {"DB_SETPOINTSTATUS", LabelRule::SetpointStatus},
    {"DB_RECORDHEAD", LabelRule::RecordHead},
    {"DB_RECORDCOUNT", LabelRule::RecordCount},
    {"DB_TIME", LabelRule::Time},
    {"DB_DATE", LabelRule::Date},
};

constexpr std::string_view ModelTypeLabel = "DB_MODEL_TYPE";
constexpr std::string_view DetentLabel = "DB_GFSETTING_DETENT";
constexpr std::string_view MemoryLabel = "DB_GFSETTING_MEMORY";
constexpr int LabelPassLastRegister = 99;
constexpr int VoltageListRegister = 24; // "1" selects the second Vn trip level list

bool equalsUpper(std::string_view label, std::string_view upper) {
    return label.size() == upper.size() &&
           std::equal(label.begin(), label.end(), upper.begin(), [](char a, char b) {
               return std::toupper(static_cast<unsigned char>(a)) == static_cast<unsigned char>(b);
           });
}

LabelRule ruleFor(std::string_view label) {
    if (label.size() < 3 || !equalsUpper(label.substr(0, 3), "DB_")) return LabelRule::None;
    // Older files spell the model type label in lower case.
    if (equalsUpper(label, ModelTypeLabel)) return LabelRule::ModelType;
    for (const LabelEntry& e : LabelRules)
        if (e.label == label) return e.rule;
    return LabelRule::None;
}

// A 0/1 switch register shown as words; anything else cannot be read.
std::string_view switchText(std::string_view v, std::string_view one, std::string_view zero) {
    if (v == "1") return one;
    if (v == "0") return zero;
    return "--";
}

std::string bitText(int64_t bits, int bit) {
    return ((bits >> bit) & 1) ? "1" : "0";
}

// The memory register of the GF trip level (the detent's position 10), or -1.
int memoryRegister(const PassSnapshot& pass) {
    for (int r = 0; r < RegisterTableSize; ++r)
        if (pass.values[static_cast<size_t>(r)].label == MemoryLabel) return r;
    return -1;
}

// The memory position's level as the Summary shows it: percent of the CT, in amperes on the
// KT-740AU.
std::string memoryLevelText(std::string_view value, int32_t model, int32_t effectiveCtPrimary,
                            bool percentSign) {
    if (model == ModelKt740AU) {
        if (auto f = textToDouble(value)) return formatGeneral(*f * effectiveCtPrimary / 100.0) + " A";
        return "--";
    }
    std::string text(value);
    if (percentSign) text += '%';
    return text;
}

std::string_view effectiveTranslationType(const PassSnapshot& pass, std::span<const std::string> values,
                                          int reg) {
    const std::string& type = pass.values[static_cast<size_t>(reg)].translationType;
    if (type == "VNLVL" && values.size() > VoltageListRegister && values[VoltageListRegister] == "1")
        return "VNLVL2";
    return type;
}

// ---- SetpointsGrid rows ----

struct BitRow {
    std::string_view name;
    int bit;
    std::string_view set;
    std::string_view clear;
};

constexpr BitRow TripRows[] = {
    {"  Cal", 2, "Calibration Error", "No Error"},
    {"  ADC", 3, "A/D Error", "No Error"},
    {"  Vn", 4, "Voltage Trip", "No Trip"},
    {"  NVRAM", 5, "NVRAM Error", "No Error"},
    {"  Watchdog", 6, "Internal Fault", "No Internal Fault"},
    {"  RMT", 7, "Remote Trip", "No Remote Trip"},
    {"  Hardware", 8, "Internal Fault", "No Internal Fault"},
};

constexpr BitRow DeviceRows[] = {
    {" Cal", 2, "Calibration Error", "No Error"},
    {" ADC", 3, "A/D Error", "No Error"},
    {" Vn", 4, "NGR Voltage >= Vn Trip Setting", "NGR Voltage < Vn Trip Setting"},
    {" NVRAM", 5, "NVRAM Error", "No Error"},
    {" CT Detected", 6, "No", "Yes"},
    {" CT Status", 7, "CT Trip", "No CT Trip"},
    {" SD Card", 8, "SDCard Error/Full", "No Error"},
    {" Upgrade", 9, "Upgrade Error", "No Error"},
};

constexpr int TripName = 0, TripState = 1, DeviceName = 2, DeviceState = 3, TripBit = 4, DeviceBit = 5;

// Rows below the headings are rewritten whole, so a unit without the extended bits does not keep
// rows an earlier unit left.
void clearColumns(SetpointsCells& cells, std::initializer_list<int> columns) {
    for (int row = 2; row < SetpointsRows; ++row)
        for (int c : columns) cells[static_cast<size_t>(row)][static_cast<size_t>(c)].clear();
}

void putRow(SetpointsCells& cells, int row, int nameCol, int stateCol, int bitCol, std::string_view name,
            std::string_view state, const std::string& bit) {
    if (row < 0 || row >= SetpointsRows) return;
    auto& cells_ = cells[static_cast<size_t>(row)];
    cells_[static_cast<size_t>(nameCol)] = name;
    cells_[static_cast<size_t>(stateCol)] = state;
    cells_[static_cast<size_t>(bitCol)] = bit;
}

} // namespace

// ---- decoders ----

DecodedText DecodeGfTime(int64_t position, int32_t model) {
    return fromList(model == ModelKt740AU ? EfTimes : GfTimes, position);
}

DecodedText DecodeGfLevel(int64_t position, int32_t model, bool legacyUnit, int32_t ctSeries) {
    if (!validPosition(position)) return {std::string(SwitchErrorText), false};
    if (model == ModelKt740AU) {
        double amps = EfLevels[static_cast<size_t>(position)];
        if (ctSeries != CtSeriesZsct) amps *= Tr50Factor;
        return {formatGeneral(amps) + " A", true};
    }
    return fromList(legacyUnit ? GfLevelsLegacy : GfLevelsRegisterFile, position);
}

DecodedText DecodePulseTime(int64_t position) {
    return fromList(PulseTimes, position);
}

// ---- translation ----

std::string TranslateValue(const TranslationContext& context, int reg, std::string_view translationType,
                           std::string_view valueText) {
    std::string result(valueText);
    if (translationType.compare("0") > 0 && !valueText.empty()) {
        RowView rows = context.dataset.translationRows(translationType, valueText);
        if (!rows.empty()) {
            result.clear();
            for (DatasetRow row : rows) {
                std::string_view text = row.text("TRANSLATIONTEXT");
                if (!text.empty()) {
                    result = text;
                    break;
                }
            }
            if (context.model == ModelKt740AU &&
                (translationType == "EFLEVEL" || translationType == "GFLEVEL") && result != "MEM") {
                // Percent of the CT to amperes; a text that is no number stays as the file has it.
                if (auto f = textToDouble(result))
                    result = formatGeneral(*f * context.effectiveCtPrimary / 5.0);
            }
        }
    }
    return ApplyDependencyRules(context.dataset, context.values, reg, std::move(result));
}

std::string ApplyDependencyRules(const RegisterDataset& dataset, std::span<const std::string> values, int reg,
                                 std::string text) {
    auto valueOf = [&](int64_t r) -> std::string_view {
        return r >= 0 && static_cast<size_t>(r) < values.size()
                   ? std::string_view(values[static_cast<size_t>(r)])
                   : std::string_view();
    };
    for (DatasetRow row : dataset.rowsOfRegister(static_cast<int64_t>(reg))) {
        const int64_t source = row.number("DEPENDENCY").value_or(0);
        // A source outside the register table has no value to take.
        if (source <= 0 || source >= RegisterTableSize) continue;
        const std::string_view kind = row.text("D_TYPE");
        if (kind == "WARNING") {
            std::string_view found;
            if (auto v = textToInt(valueOf(source))) {
                for (DatasetRow item : dataset.dependencyList(row.text("D_LIST")))
                    if (item.number("D_VALUE") == *v) found = item.text("D_TEXT");
            }
            text += found;
            break; // the list walk ends the register's rules
        }
        if (kind == "PREFIX") text.insert(0, valueOf(source));
    }
    return text;
}

std::string_view passValueText(const PassSnapshot& pass, int reg) {
    if (reg < 0 || reg >= RegisterTableSize) return {};
    if (pass.tables) {
        const int type = pass.tables->RegisterTable[static_cast<size_t>(reg)].type;
        const int read = pass.tables->pollCount > 0 ? std::min(pass.tables->pollCount, RegisterTableSize)
                                                    : RegisterTableSize;
        const int width = valueTypeRegisterCount(type);
        // Registers past those the pass read would be shown as whatever the cache held.
        if (width > 0 && reg + width > read) return NoConversionText;
    }
    return pass.values[static_cast<size_t>(reg)].value;
}

void passValueTexts(const PassSnapshot& pass, RegisterTexts& out) {
    for (int r = 0; r < RegisterTableSize; ++r) out[static_cast<size_t>(r)].assign(passValueText(pass, r));
}

// ---- grids ----

std::string GridRow::cell(int column) const {
    switch (column) {
    case 0:
        return std::to_string(reg);
    case 1:
        return parameter;
    case 2:
        return value;
    case 3:
        return isTitle() ? std::string() : std::to_string(access);
    case 4:
        return isTitle() ? std::string() : translationType;
    default:
        return {};
    }
}

StatusGrids buildStatusGrids(const PassSnapshot& pass, bool unitConfigured) {
    StatusGrids grids;
    if (!pass.tables) return grids;
    const RegisterTables& tables = *pass.tables;
    const RegisterDataset& dataset = tables.dataset;
    const int last = std::min(tables.lastGroupIndex, RegisterGroupCount - 1);
    for (int g = 0; g <= last; ++g) {
        const RegisterGroup& group = tables.RegisterGroups[static_cast<size_t>(g)];
        if (!group.display) continue;
        const bool status = isStatusGridGroup(group.nameIndex);
        std::vector<GridRow>& rows = status ? grids.status : grids.config;
        RowView selected =
            status || unitConfigured
                ? dataset.select({equals("GROUP", group.main), differs("S_ORDER", "99")}, "S_ORDER")
                : dataset.select(
                      {equals("GROUP", group.main), differs("S_ORDER", "99"), equals("ESSENTIAL", "YES")},
                      "REGISTER");
        bool titled = false;
        for (DatasetRow row : selected) {
            auto reg = row.number("REGISTER");
            // A row that names no register of the table has no value to show.
            if (!reg || *reg < 0 || *reg >= RegisterTableSize) continue;
            if (!titled) {
                GridRow title;
                title.parameter = group.title;
                rows.push_back(std::move(title));
                titled = true;
            }
            const RegisterValue& value = pass.values[static_cast<size_t>(*reg)];
            GridRow r;
            r.reg = static_cast<int>(*reg);
            r.parameter = "  ";
            r.parameter += row.text("SETTING");
            r.access = value.access;
            r.translationType = value.translationType;
            rows.push_back(std::move(r));
        }
    }
    return grids;
}

void refreshGridValues(std::vector<GridRow>& rows, const PassSnapshot& pass,
                       const TranslationContext& context) {
    int memory = -2; // looked up once, when a memory position is shown
    for (GridRow& row : rows) {
        if (row.isTitle() || row.reg >= RegisterTableSize) {
            row.value.clear();
            continue;
        }
        const std::string_view type = effectiveTranslationType(pass, context.values, row.reg);
        row.translationType.assign(type);
        row.value = TranslateValue(context, row.reg, type, context.values[static_cast<size_t>(row.reg)]);
        // The detent's memory position shows the level held in the memory register.
        if (row.value == "MEM" && pass.values[static_cast<size_t>(row.reg)].label == DetentLabel) {
            if (memory == -2) memory = memoryRegister(pass);
            if (memory >= 0)
                row.value = memoryLevelText(context.values[static_cast<size_t>(memory)], context.model,
                                            context.effectiveCtPrimary, true);
        }
    }
}

// ---- SetpointsGrid ----

void writeSetpointsHeader(SetpointsCells& cells) {
    cells[0][0] = GridHeaderParameter;
    cells[0][1] = GridHeaderValue;
    cells[0][2] = GridHeaderParameter;
    cells[0][3] = GridHeaderValue;
}

TripStatusTexts decodeTripStatus(int64_t t, int32_t model, bool extendedStatusBits, SetpointsCells& cells) {
    const bool ef = earthFaultWording(model);
    const std::string_view ngr = resistorAbbreviation(model);
    TripStatusTexts out;
    clearColumns(cells, {TripName, TripState, TripBit});
    cells[1][TripState] = "Trip Status";

    const bool gf = (t & 1) != 0;
    cells[2][TripName] = ef ? "  EF" : "  GF";
    cells[2][TripBit] = bitText(t, 0);
    if (gf) {
        cells[2][TripState] = ef ? "Earth Fault Trip" : "Ground Fault Trip";
        out.tripstat0 = ef ? "EF Trip" : "GF Trip";
        out.trip_P = {out.tripstat0, TextColour::Red};
    } else {
        cells[2][TripState] = "No Trip";
        out.tripstat0 = "No Trip";
        out.trip_P = {out.tripstat0, TextColour::Lime};
    }

    auto resistorTrip = [&] {
        out.tripstat1 = "RF Trip";
        out.trip_P = {"RF Trip", TextColour::Red};
    };
    const bool rf = (t & 2) != 0;
    out.tripstat1 = "No Trip";
    putRow(cells, 3, TripName, TripState, TripBit, "  RF", rf ? "Resistor Fault Trip" : "No Trip",
           bitText(t, 1));
    if (rf) resistorTrip();

    int row = 4;
    if (extendedStatusBits) {
        const std::string shortName = "  " + std::string(ngr) + " Short";
        const std::string openName = "  " + std::string(ngr) + " Open";
        const bool shorted = (t >> 10) & 1;
        const bool open = (t >> 11) & 1;
        putRow(cells, row++, TripName, TripState, TripBit, shortName,
               shorted ? std::string(ngr) + " Short Trip" : "No Trip", bitText(t, 10));
        putRow(cells, row++, TripName, TripState, TripBit, openName,
               open ? std::string(ngr) + " Open Trip" : "No Trip", bitText(t, 11));
        if (shorted || open) resistorTrip();
    }
    for (const BitRow& r : TripRows) {
        const bool set = (t >> r.bit) & 1;
        putRow(cells, row++, TripName, TripState, TripBit, r.name, set ? r.set : r.clear, bitText(t, r.bit));
    }
    return out;
}

std::string decodeDeviceStatus(int64_t s, int32_t model, bool extendedStatusBits, SetpointsCells& cells) {
    const bool ef = earthFaultWording(model);
    const std::string ngr(resistorAbbreviation(model));
    clearColumns(cells, {DeviceName, DeviceState, DeviceBit});
    cells[1][DeviceState] = "Device Status";

    const bool gf = s & 1;
    putRow(cells, 2, DeviceName, DeviceState, DeviceBit, ef ? " EF" : " Standard GF",
           ef ? (gf ? "Earth Fault Current >= Setting" : "Earth Fault Current < Setting")
              : (gf ? "Ground Fault Current >= Setting" : "Ground Fault Current < Setting"),
           bitText(s, 0));
    putRow(cells, 3, DeviceName, DeviceState, DeviceBit, " Standard RF",
           (s & 2) ? "Resistance >= Trip Level" : "Resistance < Trip Level", bitText(s, 1));
    int row = 4;
    if (extendedStatusBits) {
        putRow(cells, row++, DeviceName, DeviceState, DeviceBit, " " + ngr + " Short",
               ((s >> 10) & 1) ? ngr + " Resistance < Trip Level" : ngr + " Resistance >= Trip Level",
               bitText(s, 10));
        putRow(cells, row++, DeviceName, DeviceState, DeviceBit, " " + ngr + " Open",
               ((s >> 11) & 1) ? ngr + " Resistance > Trip Level" : ngr + " Resistance <= Trip Level",
               bitText(s, 11));
    }
    for (const BitRow& r : DeviceRows) {
        const bool set = (s >> r.bit) & 1;
        putRow(cells, row++, DeviceName, DeviceState, DeviceBit, r.name, set ? r.set : r.clear,
               bitText(s, r.bit));
    }
    return bitText(s, 7);
}

// ---- the refresh ----

void UnitStatusState::connectionStarted() {
    refreshCount = 0;
    packetCount = 0;
    layoutPending = false;
    lastRecordHead = -1;
    lastRecordCount = -1;
}

void UnitStatusState::disconnected() {
    refreshCount = 0;
    packetCount = 0;
    layoutPending = false;
}

namespace {

void layOutPages(UnitStatusView& view, bool unitConfigured, bool communicationPageActive) {
    view.laidOut = true;
    for (StatusPage p :
         {StatusPage::Tab_Summary, StatusPage::TabSheet4, StatusPage::TabSheet5, StatusPage::Config_Sheet})
        setPage(view.pages, p, true);
    for (StatusPage p : {StatusPage::TabSheet2, StatusPage::TabSheet3}) setPage(view.pages, p, false);
    view.topStatusVisible = false;
    view.voltageSetting1Visible = false;
    view.selectionPanels.setPanelText(SelectionPanel::ef_connection_P, "");
    if (unitConfigured) {
        view.activePage = communicationPageActive ? StatusPage::Tab_Summary : StatusPage::Config_Sheet;
        view.richEdit1Visible = false;
    } else {
        // Only the essential settings until the operator has verified them.
        view.activePage = StatusPage::Config_Sheet;
        view.richEdit1Visible = true;
        for (StatusPage p :
             {StatusPage::Tab_Summary, StatusPage::TabSheet4, StatusPage::TabSheet5, StatusPage::Tab61850})
            setPage(view.pages, p, false);
    }
}

struct LabelPass {
    LabelPass(const PassSnapshot& p, UnitStatusState& st, CtVoltageSelection& s, UnitStatusView& v)
        : pass(p), state(st), sel(s), view(v) {}

    const PassSnapshot& pass;
    UnitStatusState& state;
    CtVoltageSelection& sel;
    UnitStatusView& view;
    std::array<LabelRule, LabelPassLastRegister + 1> rules{};
    bool newEvents = false;
    std::optional<bool> tab61850; // from DB_COMM_CODE, when the pass has it

    TranslationContext context() const {
        return {pass.tables->dataset, view.registerValues, sel.model_type, sel.effectiveCtPrimary};
    }
    std::string& value(int r) { return view.registerValues[static_cast<size_t>(r)]; }
    std::string& field(ValueControl c) { return view.values[controlIndex(c)]; }

    void classify() {
        for (int r = 0; r <= LabelPassLastRegister && r < RegisterTableSize; ++r)
            rules[static_cast<size_t>(r)] = ruleFor(pass.values[static_cast<size_t>(r)].label);
    }

    // The model and the CT rating decide how this pass's levels read (EF amperes), in the grids
    // as on the Summary, so they are taken from the pass before anything is decoded.
    void takeModelAndCt() {
        for (int r = 0; r <= LabelPassLastRegister; ++r) {
            const LabelRule rule = rules[static_cast<size_t>(r)];
            if (rule == LabelRule::ModelType) {
                if (auto m = modelFromModelTypeText(value(r))) sel.model_type = *m;
            } else if (rule == LabelRule::CtNominal) {
                if (auto n = textToInt(value(r))) sel.effectiveCtPrimary = static_cast<int32_t>(*n);
            }
        }
    }

    void run() {
        bool gfMemoryPending = false;
        for (int r = 0; r <= LabelPassLastRegister; ++r) {
            const LabelRule rule = rules[static_cast<size_t>(r)];
            if (rule == LabelRule::None) continue;
            std::string& v = value(r);
            const std::optional<int64_t> n = textToInt(v);
            switch (rule) {
            case LabelRule::None:
            case LabelRule::ModelType:
            case LabelRule::CtNominal:
                break; // taken before the grids
            case LabelRule::CommCode:
                tab61850 = isIec61850OptionText(v);
                break;
            case LabelRule::SerialNumber:
                state.serialNumberText = v;
                break;
            case LabelRule::FirmwareVersion:
                if (auto text = firmwareVersionText(v)) view.version_P.text = *text;
                break;
            case LabelRule::GfTime:
                v = n ? DecodeGfTime(*n, sel.model_type).text : "--";
                field(VC::main_gftime) = v;
                break;
            case LabelRule::GfSettingMemory:
                if (gfMemoryPending)
                    field(VC::main_gfsetting) =
                        memoryLevelText(v, sel.model_type, sel.effectiveCtPrimary, false);
                break;
            case LabelRule::GfSettingDetent:
                gfMemoryPending = n && *n == 10;
                if (!n) {
                    field(VC::main_gfsetting) = "--";
                } else if (sel.model_type == ModelKt740AU) {
                    if (!gfMemoryPending)
                        field(VC::main_gfsetting) =
                            TranslateValue(context(), r, pass.values[static_cast<size_t>(r)].translationType,
                                           v) +
                            " A";
                } else {
                    field(VC::main_gfsetting) = DecodeGfLevel(*n, sel.model_type, false, sel.ct_series).text;
                }
                break;
            case LabelRule::PulseTime:
                field(VC::main_pulsetime) = n ? DecodePulseTime(*n).text : "--";
                break;
            case LabelRule::VnLevel:
                if (n) {
                    // Kept as reported; an index beyond the level list shows "--" volts.
                    sel.voltage = static_cast<int32_t>(std::clamp<int64_t>(
                        *n, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
                    sel.voltage_selected = true;
                }
                break;
            case LabelRule::Pulsing:
                v = switchText(v, "Trip", "Pulsing");
                field(VC::main_config5) = v;
                break;
            case LabelRule::K1Failsafe:
                v = switchText(v, "Failsafe", "Non Failsafe");
                field(VC::main_config4) = v;
                break;
            case LabelRule::GfLatch:
                v = switchText(v, "Latching", "Non Latching");
                field(VC::main_config1) = v;
                break;
            case LabelRule::RfLatch:
                v = switchText(v, "Latching", "Non Latching");
                field(VC::main_config0) = v;
                break;
            case LabelRule::Sensor: {
                const bool hv = sel.model_type == ModelKt740HV;
                if (v == "1" || v == "0") {
                    const bool set = v == "1";
                    sel.voltageMultiplier = voltageMultiplierFor(sel.model_type, set);
                    v = set ? (hv ? "200" : "20") : "100";
                } else {
                    v = "--";
                }
                field(VC::main_config2) = v;
                break;
            }
            case LabelRule::Frequency:
                v = switchText(v, "50", "60");
                field(VC::main_config3) = v;
                break;
            case LabelRule::NgrCurrent:
                if (n) state.ngrCurrentPercent = static_cast<int32_t>(*n);
                field(VC::main_ngrcurrent) = v;
                break;
            case LabelRule::NgrVoltage:
                if (n) state.ngrVoltagePercent = static_cast<int32_t>(*n);
                field(VC::main_ngrvoltage) = v;
                break;
            case LabelRule::DeltaOhms:
                field(VC::main_ngrchange) = v;
                break;
            case LabelRule::Healthy:
                field(VC::main_portH5) = v;
                break;
            case LabelRule::Diagnostic:
                view.diagnostic_P = {
                    TranslateValue(context(), r, pass.values[static_cast<size_t>(r)].translationType, v),
                    v == "0" ? TextColour::Lime : TextColour::Red};
                break;
            case LabelRule::TripStatus:
                if (n) {
                    TripStatusTexts t =
                        decodeTripStatus(*n, sel.model_type, view.extendedStatusBits, view.setpoints);
                    field(VC::main_tripstat0) = std::move(t.tripstat0);
                    field(VC::main_tripstat1) = std::move(t.tripstat1);
                    view.trip_P = std::move(t.trip_P);
                }
                break;
            case LabelRule::SetpointStatus:
                if (n)
                    field(VC::main_S7) =
                        decodeDeviceStatus(*n, sel.model_type, view.extendedStatusBits, view.setpoints);
                break;
            case LabelRule::RecordHead:
                if (n && *n != state.lastRecordHead) {
                    state.lastRecordHead = *n;
                    newEvents = true;
                }
                break;
            case LabelRule::RecordCount:
                if (n && *n != state.lastRecordCount) {
                    state.lastRecordCount = *n;
                    view.recordCountText = std::to_string(*n);
                    newEvents = true;
                }
                break;
            case LabelRule::Time:
                view.datalog_P = {v, TextColour::Aqua};
                break;
            case LabelRule::Date:
                view.datalogHint = v;
                break;
            }
        }
    }
};

} // namespace

void UpdateUnitStatus(const PassSnapshot& pass, UnitStatusState& state, CtVoltageSelection& sel,
                      UnitStatusView& view, const UnitStatusInputs& inputs) {
    // 1. The unit answered.
    view.passSinceLastTick = true;
    view.netstatus_P = {std::string(NetStatusOnlineText), TextColour::Lime};
    ++state.refreshCount;
    ++state.packetCount;
    view.enableStatusPanels = state.refreshCount == 1;

    // 2. Menus by firmware.
    const FirmwareFeatures features = firmwareFeatures(pass.firmwareVersion());
    view.mnuRemoteCalVisible = features.remoteCalibration;
    view.dumpDiagnosticsVisible = features.diagnosticsDump;
    view.extendedStatusBits = features.extendedStatusBits;

    // 3. Into or out of the essential-settings view: lay the pages out again.
    const bool configured = pass.register199Flag();
    if (configured != state.unitConfigured) {
        state.packetCount = 1;
        state.unitConfigured = configured;
    }
    bool layOut = state.packetCount == 1 || state.layoutPending;
    // An open editor keeps its grid until it closes; the first layout of a connection has no rows
    // anyone could be editing, so it never waits.
    view.layoutDeferred = layOut && inputs.editorOpen && state.refreshCount > 1;
    if (view.layoutDeferred) layOut = false;
    state.layoutPending = view.layoutDeferred;

    view.laidOut = false;
    view.pages = {};
    view.activePage.reset();
    view.newEventsNotice = false;
    view.writeDatalogLine = false;
    if (!pass.tables) {
        // A pass always carries its tables; nothing to decode or lay out without them.
        state.layoutPending = state.layoutPending || layOut;
        return;
    }

    passValueTexts(pass, view.registerValues);
    LabelPass labels{pass, state, sel, view};
    labels.classify();
    labels.takeModelAndCt();

    // 4. Layout and grid construction.
    if (layOut) {
        layOutPages(view, state.unitConfigured, inputs.communicationPageActive);
        StatusGrids grids = buildStatusGrids(pass, state.unitConfigured);
        view.statusGrid = std::move(grids.status);
        view.configGrid = std::move(grids.config);
        writeSetpointsHeader(view.setpoints);
    }

    // 5. Grid values.
    const TranslationContext context = labels.context();
    refreshGridValues(view.statusGrid, pass, context);
    refreshGridValues(view.configGrid, pass, context);

    // 6. The DB_ labels.
    labels.run();
    if (labels.tab61850) {
        view.tab61850Visible = labels.tab61850;
        setPage(view.pages, StatusPage::Tab61850, *labels.tab61850);
    }

    // 7. Amperes and volts, captions, the selection panels.
    computeCurrentUnitAmpsVolts(sel, state.ngrCurrentPercent, state.ngrVoltagePercent);
    view.captions = ApplyModelCaptions(sel.model_type, UnitKind::RegisterFile);
    refreshSelectionPanels(sel, false, view.selectionPanels);

    // 8. The Summary's amperes and volts.
    view.values[controlIndex(VC::main_current)] =
        sel.ct_selected ? sel.currentText : std::string(NotConfiguredText);
    view.values[controlIndex(VC::main_voltage)] =
        sel.voltage_selected ? sel.voltageText : std::string(NotConfiguredText);

    // 9. A data-log line on every second refresh.
    if (inputs.datalogEnabled) {
        view.writeDatalogLine = state.datalogLineToggle;
        state.datalogLineToggle = !state.datalogLineToggle;
    }

    // 10. New event records.
    view.newEventsNotice = labels.newEvents;
}

} // namespace kt
