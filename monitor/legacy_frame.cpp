#include "monitor/legacy_frame.h"

#include "monitor/status_decoding.h"

#include <bit>
#include <cstdio>

namespace kt {

namespace {

using VC = ValueControl;

struct BitPair {
    std::string_view set;
    std::string_view clear;
};
using BitTable = std::array<BitPair, 8>;

constexpr BitTable TripBits{{{"Trip", "No Trip"},
                             {"Trip", "No Trip"},
                             {"Error", "OK"},
                             {"Error", "OK"},
                             {"Trip", "No Trip"},
                             {"Error", "OK"},
                             {"Internal Fault", "OK"},
                             {"Trip", "No Trip"}}};
constexpr BitTable SetpointBits{{{"Detected", "None"},
                                 {"Detected", "None"},
                                 {"1", "0"},
                                 {"1", "0"},
                                 {"Detected", "None"},
                                 {"1", "0"},
                                 {"Detected", "None"},
                                 {"Trip", "No Trip"}}};
// Bit 2 (the sensing resistor) depends on the model: see SensorBit.
constexpr BitTable PortABits{{{"Latching", "Non Latching"},
                              {"Latching", "Non Latching"},
                              {"20 K", "100 K"},
                              {"50 Hz", "60 Hz"},
                              {"Fail Safe", "Non Fail Safe"},
                              {"Trip", "Pulsing"},
                              {"1", "0"},
                              {"1", "0"}}};
constexpr BitPair SensorBitHV{"200 K", "100 K"};
constexpr BitTable SpareBits{
    {{"1", "0"}, {"1", "0"}, {"1", "0"}, {"1", "0"}, {"1", "0"}, {"1", "0"}, {"1", "0"}, {"1", "0"}}};
constexpr BitTable PortGBits{{{"Negative", "Positive"},
                              {"On", "Off"},
                              {"On", "Off"},
                              {"On", "Off"},
                              {"Open", "Closed"},
                              {"Open", "Closed"},
                              {"Off", "On"},
                              {"1", "0"}}};
constexpr BitTable PortHBits{{{"1", "0"},
                              {"On", "Off"},
                              {"On", "Off"},
                              {"On", "Off"},
                              {"1", "0"},
                              {"Healthy", "Fault"},
                              {"1", "0"},
                              {"1", "0"}}};

constexpr std::array<const BitTable*, LegacyBitRowCount> BitTables{&TripBits,  &SetpointBits, &PortABits,
                                                                   &SpareBits, &PortGBits,    &PortHBits};
constexpr std::array<size_t, LegacyBitRowCount> BitRowBytes{
    LegacyByte::TripStatus, LegacyByte::SetpointStatus, LegacyByte::PortA,
    LegacyByte::Spare,      LegacyByte::PortG,          LegacyByte::PortH};

// The bit rows the pages show, bit 0 first.
struct BitRowField {
    LegacyBitRow row;
    ValueControl bit0;
};
constexpr BitRowField BitRowFields[] = {
    {LegacyBitRow::Trip, VC::T0},   {LegacyBitRow::Setpoint, VC::S0}, {LegacyBitRow::PortA, VC::PA0},
    {LegacyBitRow::PortG, VC::PG0}, {LegacyBitRow::PortH, VC::PH0},
};

// The numbers of the frame, by field.
struct NumberField {
    ValueControl control;
    size_t position;
    bool word; // two bytes, signed, high byte first
};
constexpr NumberField NumberFields[] = {
    {VC::main_ngrcurrent, LegacyByte::NgrCurrent, false},
    {VC::main_ngrvoltage, LegacyByte::NgrVoltage, false},
    {VC::main_ngrchange, LegacyByte::ResistanceChange, true},
    {VC::detail_ngrcal, LegacyByte::Calibration, true},
    {VC::detail_ngrcurrent, LegacyByte::NgrCurrent, false},
    {VC::detail_ngrvoltage, LegacyByte::NgrVoltage, false},
    {VC::detail_ngrchange, LegacyByte::ResistanceChange, true},
    {VC::detail_relaystatus, LegacyByte::RelayStatus, false},
    {VC::detail_switches, LegacyByte::Switches, false},
    {VC::detail_recordhead, LegacyByte::RecordHead, false},
    {VC::detail_netmode, LegacyByte::NetMode, false},
    {VC::detail_netgftime, LegacyByte::NetGfTime, false},
    {VC::detail_netgfsetting, LegacyByte::NetGfSetting, false},
    {VC::detail_netpulsetime, LegacyByte::NetPulseTime, false},
    {VC::detail_netswitches, LegacyByte::NetSwitches, false},
};

// The Summary's copies of bits.
struct BitField {
    ValueControl control;
    LegacyBitRow row;
    int bit;
};
constexpr BitField SummaryBits[] = {
    {VC::main_config0, LegacyBitRow::PortA, 0},  {VC::main_config1, LegacyBitRow::PortA, 1},
    {VC::main_config2, LegacyBitRow::PortA, 2},  {VC::main_config3, LegacyBitRow::PortA, 3},
    {VC::main_config4, LegacyBitRow::PortA, 4},  {VC::main_config5, LegacyBitRow::PortA, 5},
    {VC::main_tripstat0, LegacyBitRow::Trip, 0}, {VC::main_tripstat1, LegacyBitRow::Trip, 1},
    {VC::main_portH5, LegacyBitRow::PortH, 5},   {VC::main_S7, LegacyBitRow::Setpoint, 7},
};

int variantCode(const LegacyIdentity& id) {
    return 1 + id.model + 3 * (id.siblingModel ? 1 : 0);
}

} // namespace

int16_t legacyWordAt(const LegacyFrame& frame, size_t position) {
    return legacyWord(frame[position], frame[position + 1]);
}

void putLegacyWord(LegacyFrame& frame, size_t position, int16_t value) {
    const auto u = static_cast<uint16_t>(value);
    frame[position] = static_cast<uint8_t>(u >> 8);
    frame[position + 1] = static_cast<uint8_t>(u & 0xFF);
}

LegacyIdentity decodeLegacyIdentity(uint8_t identification) {
    LegacyIdentity id;
    id.siblingModel = (identification & 0x20) != 0;
    id.model = (identification & 0x80) ? ModelKt740HV : (identification & 0x40) ? ModelKt740AU : ModelKt740;
    id.version = identification & LegacyVersionMask;
    return id;
}

uint8_t encodeLegacyIdentity(const LegacyIdentity& id) {
    uint8_t b = static_cast<uint8_t>(id.version & LegacyVersionMask);
    if (id.model == ModelKt740HV) b |= 0x80;
    if (id.model == ModelKt740AU) b |= 0x40;
    if (id.siblingModel) b |= 0x20;
    return b;
}

LegacyIdentityMemory::Check LegacyIdentityMemory::check(uint8_t identification) {
    Check c;
    c.identity = decodeLegacyIdentity(identification);
    const int variant = variantCode(c.identity);
    c.variantChanged = rememberedVariant_ != 0 && rememberedVariant_ != variant;
    rememberedVariant_ = variant;
    c.versionStable = c.identity.version == storedVersion_;
    storedVersion_ = c.identity.version;
    return c;
}

size_t legacyBitRowByte(LegacyBitRow row) {
    return BitRowBytes[static_cast<size_t>(row)];
}

std::string_view legacyBitText(LegacyBitRow row, int bit, bool set, int32_t model) {
    if (bit < 0 || bit > 7 || static_cast<size_t>(row) >= LegacyBitRowCount) return {};
    BitPair pair = (*BitTables[static_cast<size_t>(row)])[static_cast<size_t>(bit)];
    if (row == LegacyBitRow::PortA && bit == 2 && model == ModelKt740HV) pair = SensorBitHV;
    return set ? pair.set : pair.clear;
}

LegacyBitTexts legacyBitTexts(LegacyBitRow row, uint8_t bits, int32_t model) {
    LegacyBitTexts texts{};
    for (int bit = 0; bit < 8; ++bit)
        texts[static_cast<size_t>(bit)] = legacyBitText(row, bit, (bits >> bit) & 1, model);
    return texts;
}

LegacyEventBlock buildLegacyEventBlock(std::span<const LegacyEventRecord> records) {
    LegacyEventBlock block{};
    for (size_t i = 0; i < records.size() && i < static_cast<size_t>(LegacyEventRecordCount); ++i) {
        uint8_t* b = block.data() + i * LegacyEventRecordSize;
        const auto change = static_cast<uint16_t>(records[i].resistanceChange);
        b[0] = records[i].tripCause;
        b[1] = records[i].currentPercent;
        b[2] = records[i].voltagePercent;
        b[3] = static_cast<uint8_t>(change >> 8);
        b[4] = static_cast<uint8_t>(change & 0xFF);
    }
    return block;
}

bool legacyEventPageShown(int32_t model, int version) {
    if (model == ModelKt740AU) return version >= 4;
    return version >= 10;
}

std::string legacyVersionText(int version) {
    return "Firmware Version: " + std::to_string(version);
}

std::string packetCountText(int count) {
    std::array<char, 40> buf{};
    std::snprintf(buf.data(), buf.size(), "Packets: %07d", count);
    return buf.data();
}

void LegacyStatusState::connectionStarted() {
    refreshCount = 0;
    packetCount = 0;
    legacyLineCounter = 0;
    legacyUnit = false;
}

void UpdateLegacyStatus(const LegacyFrame& frame, LegacyStatusState& state, LegacyIdentityMemory& memory,
                        CtVoltageSelection& sel, LegacyStatusView& view, const LegacyStatusInputs& inputs) {
    view.laidOut = false;
    view.pages = {};
    view.activePage.reset();
    view.enableStatusPanels = false;
    view.settingsChanged = false;
    view.writeLegacyLine = false;

    // 1. The first frame of the connection lays out the legacy pages.
    if (state.refreshCount == 0) {
        view.laidOut = true;
        for (StatusPage p : {StatusPage::Tab_Summary, StatusPage::TabSheet2}) setPage(view.pages, p, true);
        for (StatusPage p :
             {StatusPage::TabSheet4, StatusPage::Config_Sheet, StatusPage::TabSheet5, StatusPage::Tab61850})
            setPage(view.pages, p, false);
        view.activePage = StatusPage::Tab_Summary;
        view.topStatusVisible = true;
        state.legacyUnit = true;
    }

    // 2. The unit is talking.
    view.passSinceLastTick = true;
    view.enableStatusPanels = true;

    // 3, 4. Identification, then the three switch positions, each only after the one before passed.
    const LegacyIdentityMemory::Check id = memory.check(frame[LegacyByte::Identification]);
    view.identity = id.identity;
    sel.siblingModel = id.identity.siblingModel;
    sel.model_type = id.identity.model;
    if (id.variantChanged) {
        // Another kind of unit on the line: its CT and voltage must be chosen again.
        sel.ct_selected = false;
        sel.voltage_selected = false;
        view.settingsChanged = true;
    }
    const int32_t model = id.identity.model;
    DecodedText gfTime, gfLevel, pulseTime;
    view.rejection = LegacyRejection::None;
    if (!id.versionStable) {
        view.rejection = LegacyRejection::VersionChanged;
    } else if (gfTime = DecodeGfTime(frame[LegacyByte::GfTime], model); !gfTime.ok) {
        view.rejection = LegacyRejection::GfTime;
    } else if (gfLevel = DecodeGfLevel(frame[LegacyByte::GfLevel], model, true, sel.ct_series); !gfLevel.ok) {
        view.rejection = LegacyRejection::GfLevel;
    } else if (pulseTime = DecodePulseTime(frame[LegacyByte::PulseTime]); !pulseTime.ok) {
        view.rejection = LegacyRejection::PulseTime;
    }
    view.accepted = view.rejection == LegacyRejection::None;

    // 5. Decode and fill.
    if (view.accepted) {
        for (size_t r = 0; r < LegacyBitRowCount; ++r) {
            const auto row = static_cast<LegacyBitRow>(r);
            view.bits[r] = legacyBitTexts(row, frame[legacyBitRowByte(row)], model);
        }
        computeLegacyAmpsVolts(sel, frame[LegacyByte::NgrCurrent], frame[LegacyByte::NgrVoltage],
                               frame[LegacyByte::PortA]);
        view.captions = ApplyModelCaptions(model, UnitKind::Legacy);
        refreshSelectionPanels(sel, true, view.selectionPanels);

        auto field = [&](ValueControl c) -> std::string& { return view.values[controlIndex(c)]; };
        for (ValueControl c : {VC::main_gftime, VC::detail_gftime}) field(c) = gfTime.text;
        for (ValueControl c : {VC::main_gfsetting, VC::detail_gfsetting}) field(c) = gfLevel.text;
        for (ValueControl c : {VC::main_pulsetime, VC::detail_pulsetime}) field(c) = pulseTime.text;
        for (const NumberField& f : NumberFields)
            field(f.control) =
                std::to_string(f.word ? int{legacyWordAt(frame, f.position)} : int{frame[f.position]});
        const std::string current = sel.ct_selected ? sel.currentText : std::string(NotConfiguredText);
        const std::string voltage = sel.voltage_selected ? sel.voltageText : std::string(NotConfiguredText);
        for (ValueControl c : {VC::main_current, VC::detail_current}) field(c) = current;
        for (ValueControl c : {VC::main_voltage, VC::detail_voltage}) field(c) = voltage;
        for (const BitField& f : SummaryBits)
            field(f.control) = view.bits[static_cast<size_t>(f.row)][static_cast<size_t>(f.bit)];
        for (const BitRowField& f : BitRowFields)
            for (int bit = 0; bit < 8; ++bit)
                field(bitControl(f.bit0, bit)) =
                    view.bits[static_cast<size_t>(f.row)][static_cast<size_t>(bit)];

        view.version_P = {legacyVersionText(id.identity.version), TextColour::Default};
        view.packetcount_P = {packetCountText(state.packetCount), TextColour::Default};
        if (++state.refreshCount == 1) {
            view.enableStatusPanels = true;
            setPage(view.pages, StatusPage::TabSheet3, legacyEventPageShown(model, id.identity.version));
        }
    }

    // 6. Counters, the data log, the status bar.
    if (view.accepted) {
        ++state.packetCount;
        ++state.legacyLineCounter;
        view.writeLegacyLine = inputs.datalogEnabled && state.legacyLineCounter >= inputs.saveRate;
    } else {
        ClearStatusDisplay(view.values);
    }
    view.netstatus_P = {std::string(NetStatusOnlineText), TextColour::Lime};
    if (state.packetCount > PacketCountWrap) state.packetCount = 1;
    view.datalog_P = inputs.datalogEnabled ? PanelText{std::string(DatalogOnText), TextColour::Lime}
                                           : PanelText{std::string(DatalogOffText), TextColour::Red};
}

} // namespace kt
