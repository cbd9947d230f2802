#include "monitor/status_captions.h"

#include <initializer_list>

namespace kt {

namespace {

using VC = ValueControl;

constexpr std::array<std::string_view, ValueControlCount> BaseNames{
    "main_gftime",
    "main_gfsetting",
    "main_pulsetime",
    "main_ngrcurrent",
    "main_ngrvoltage",
    "main_ngrchange",
    "main_current",
    "main_voltage",
    "main_config0",
    "main_config1",
    "main_config2",
    "main_config3",
    "main_config4",
    "main_config5",
    "main_tripstat0",
    "main_tripstat1",
    "main_portH5",
    "main_S7",
    "detail_gftime",
    "detail_gfsetting",
    "detail_pulsetime",
    "detail_ngrcal",
    "detail_ngrcurrent",
    "detail_ngrvoltage",
    "detail_ngrchange",
    "detail_relaystatus",
    "detail_current",
    "detail_voltage",
    "detail_switches",
    "detail_recordhead",
    "detail_netmode",
    "detail_netgftime",
    "detail_netgfsetting",
    "detail_netpulsetime",
    "detail_netswitches",
    "T0",
    "T1",
    "T2",
    "T3",
    "T4",
    "T5",
    "T6",
    "T7",
    "S0",
    "S1",
    "S2",
    "S3",
    "S4",
    "S5",
    "S6",
    "S7",
    "PA0",
    "PA1",
    "PA2",
    "PA3",
    "PA4",
    "PA5",
    "PA6",
    "PA7",
    "PG0",
    "PG1",
    "PG2",
    "PG3",
    "PG4",
    "PG5",
    "PG6",
    "PG7",
    "PH0",
    "PH1",
    "PH2",
    "PH3",
    "PH4",
    "PH5",
    "PH6",
    "PH7",
};
static_assert(BaseNames.back() == "PH7", "one base name per value control");

struct Caption {
    ValueControl control;
    std::string_view text;
};

// The start-up captions. main_voltage depends on the kind of unit and is set apart.
constexpr Caption DefaultCaptions[] = {
    {VC::main_gftime, "GF Trip Time (s)"},
    {VC::detail_gftime, "GF Trip Time (s)"},
    {VC::main_gfsetting, "GF Trip Level (% CT Rating)"},
    {VC::detail_gfsetting, "GF Trip Level (% CT Rating)"},
    {VC::main_pulsetime, "Pulse Period (s)"},
    {VC::detail_pulsetime, "Pulse Period (s)"},
    {VC::main_ngrcurrent, "NGR Current (% FS)"},
    {VC::detail_ngrcurrent, "NGR Current (% FS)"},
    {VC::main_ngrvoltage, "NGR Voltage (% Setting)"},
    {VC::detail_ngrvoltage, "NGR Voltage (% Setting)"},
    {VC::main_ngrchange, "Resistance Change (ohms)"},
    {VC::detail_ngrchange, "Resistance Change (ohms)"},
    {VC::main_current, "*NGR Current (A)"},
    {VC::detail_current, "*NGR Current (A)"},
    {VC::main_voltage, "NGR Voltage (V)"},
    {VC::detail_voltage, "*NGR Voltage (V)"},
    {VC::main_config0, "RF-Trip Latch"},
    {VC::main_config1, "GF-Trip Latch"},
    {VC::main_config2, "Sensing-Resistor (kilohms)"},
    {VC::main_config3, "Frequency (Hz)"},
    {VC::main_config4, "Trip-Relay Mode"},
    {VC::main_config5, "Relay K1 Function"},
    {VC::main_tripstat0, "Ground Fault"},
    {VC::main_tripstat1, "Resistor Fault"},
    {VC::main_portH5, "K4, Unit Healthy"},
    {VC::main_S7, "CT Latch"},
    {VC::detail_ngrcal, "Calibration Value"},
    {VC::detail_relaystatus, "Relay Status"},
    {VC::detail_switches, "Switches"},
    {VC::detail_recordhead, "Record Head"},
    {VC::detail_netmode, "Net Mode"},
    {VC::detail_netgftime, "Net GF Time"},
    {VC::detail_netgfsetting, "Net GF Setting"},
    {VC::detail_netpulsetime, "Net Pulse Time"},
    {VC::detail_netswitches, "Net Switches"},
};

// Captions of the bit rows, bit 0 first.
struct BitCaptions {
    ValueControl bit0;
    std::array<std::string_view, 8> text;
};
constexpr BitCaptions DefaultBitCaptions[] = {
    {VC::T0,
     {"Ground Fault", "Resistor Fault", "Calibration", "ADC", "Voltage", "EEPROM", "Trap", "Remote Trip"}},
    {VC::S0, {"Ground Fault", "Resistor Fault", "", "", "Voltage", "", "CT Trip", "CT Latch"}},
    {VC::PA0,
     {"RF-Trip Latch", "GF-Trip Latch", "Sensing Resistor", "Frequency", "Trip-Relay Mode",
      "Relay K1 Function", "", ""}},
    {VC::PG0,
     {"Polarity", "Diagnostic LED", "Calibration LED", "Flag Reset", "Reset Switch", "Cal Switch",
      "Pulse Input", ""}},
    {VC::PH0, {"", "K3, RF LED", "K2, GF LED", "K1, K1 LED", "", "K4, Unit Healthy", "", ""}},
};

// Fields that no unit shows (their bits have no meaning on any model).
constexpr ValueControl NeverShown[] = {VC::PA6, VC::PA7, VC::PG7, VC::PH0, VC::PH4,
                                       VC::PH6, VC::PH7, VC::S2,  VC::S3,  VC::S5};

// Fields shown only on some models: KT-740, KT-740HV, KT-740AU.
struct ModelVisibility {
    std::initializer_list<ValueControl> controls;
    std::array<bool, ModelCount> shown;
};
const ModelVisibility ModelFields[] = {
    {{VC::main_pulsetime, VC::detail_pulsetime, VC::detail_netpulsetime}, {true, false, false}},
    {{VC::main_config5}, {true, false, false}},
    {{VC::main_config4}, {true, true, false}},
    {{VC::main_S7, VC::S6, VC::S7}, {false, false, true}},
    {{VC::PA4}, {true, true, false}},
    {{VC::PA5, VC::PG6}, {true, false, false}},
};

// The earth-fault wording of the KT-740AU; the other models keep the start-up captions.
constexpr Caption EarthFaultCaptions[] = {
    {VC::main_gftime, "EF Trip Time (s)"},
    {VC::detail_gftime, "EF Trip Time (s)"},
    {VC::main_gfsetting, "EF Trip Level"},
    {VC::detail_gfsetting, "EF Trip Level"},
    {VC::main_ngrcurrent, "NER Current (% FS)"},
    {VC::detail_ngrcurrent, "NER Current (% FS)"},
    {VC::main_ngrvoltage, "NER Voltage (% Setting)"},
    {VC::detail_ngrvoltage, "NER Voltage (% Setting)"},
    {VC::main_current, "*NER Current (A)"},
    {VC::detail_current, "*NER Current (A)"},
    {VC::detail_voltage, "*NER Voltage (V)"},
    {VC::main_config1, "EF-Trip Latch"},
    {VC::PA1, "EF-Trip Latch"},
    {VC::main_tripstat0, "Earth Fault"},
    {VC::T0, "Earth Fault"},
    {VC::S0, "Earth Fault"},
    {VC::detail_netgftime, "Net EF Time"},
    {VC::detail_netgfsetting, "Net EF Setting"},
    {VC::PH2, "K2, EF LED"},
};

// The Summary's computed voltage: the asterisk marks a value the program works out from the
// operator's voltage selection (legacy units, and always on the KT-740HV).
std::string_view mainVoltageCaption(int32_t model, UnitKind kind) {
    const bool asterisk = kind == UnitKind::Legacy || model == ModelKt740HV;
    if (earthFaultWording(model)) return asterisk ? "*NER Voltage (V)" : "NER Voltage (V)";
    return asterisk ? "*NGR Voltage (V)" : "NGR Voltage (V)";
}

CaptionSet startUpCaptions(UnitKind kind) {
    CaptionSet set;
    set.shown.fill(true);
    for (const Caption& c : DefaultCaptions) set.caption[controlIndex(c.control)] = c.text;
    for (const BitCaptions& row : DefaultBitCaptions)
        for (int bit = 0; bit < 8; ++bit)
            set.caption[controlIndex(bitControl(row.bit0, bit))] = row.text[bit];
    for (ValueControl c : NeverShown) set.shown[controlIndex(c)] = false;
    // Hidden until a model that has them is seen.
    for (ValueControl c : {VC::main_S7, VC::S6, VC::S7}) set.shown[controlIndex(c)] = false;
    set.caption[controlIndex(VC::main_voltage)] = mainVoltageCaption(ModelKt740, kind);
    return set;
}

// Section contents, top to bottom.
constexpr ValueControl SetPoints[] = {VC::main_gftime, VC::main_gfsetting, VC::main_pulsetime};
constexpr ValueControl Metered[] = {VC::main_ngrcurrent, VC::main_ngrvoltage, VC::main_ngrchange,
                                    VC::main_current, VC::main_voltage};
constexpr ValueControl ConfigSwitches[] = {VC::main_config5, VC::main_config4, VC::main_config1,
                                           VC::main_config0, VC::main_config2, VC::main_config3};
constexpr ValueControl SummaryTrip[] = {VC::main_tripstat0, VC::main_tripstat1, VC::main_portH5, VC::main_S7};
constexpr ValueControl DetailMain[] = {VC::detail_gftime,    VC::detail_gfsetting,  VC::detail_pulsetime,
                                       VC::detail_ngrcal,    VC::detail_ngrcurrent, VC::detail_ngrvoltage,
                                       VC::detail_ngrchange, VC::detail_relaystatus};
constexpr ValueControl DetailMeter[] = {VC::detail_current, VC::detail_voltage};
constexpr ValueControl DetailNetwork[] = {
    VC::detail_switches,     VC::detail_recordhead,   VC::detail_netmode,    VC::detail_netgftime,
    VC::detail_netgfsetting, VC::detail_netpulsetime, VC::detail_netswitches};
constexpr ValueControl DetailPortA[] = {VC::PA5, VC::PA4, VC::PA1, VC::PA0,
                                        VC::PA2, VC::PA3, VC::PA6, VC::PA7};
constexpr ValueControl DetailTrip[] = {VC::T0, VC::T1, VC::T2, VC::T3, VC::T4, VC::T5, VC::T6, VC::T7};
constexpr ValueControl DetailPortG[] = {VC::PG0, VC::PG1, VC::PG2, VC::PG3,
                                        VC::PG4, VC::PG5, VC::PG6, VC::PG7};
constexpr ValueControl DetailSetpoint[] = {VC::S0, VC::S1, VC::S4, VC::S6, VC::S7, VC::S5, VC::S2, VC::S3};
constexpr ValueControl DetailPortH[] = {VC::PH3, VC::PH2, VC::PH1, VC::PH5,
                                        VC::PH0, VC::PH4, VC::PH6, VC::PH7};

constexpr std::array<StatusPanelLayout, 6> Panels{{
    {"Main_1_P",
     "Tab_Summary",
     {{{"main_setpoints_L", "Set Points", "", SetPoints},
       {"main_metered_L", "Metered Values", "", Metered}}}},
    {"Main_2_P",
     "Tab_Summary",
     {{{"main_config_L", "Configuration Switches", "", ConfigSwitches},
       {"main_trip_L", "Trip Status", "", SummaryTrip}}}},
    {"Details_1_P",
     "TabSheet2",
     {{{"detail_main_L", "Main", "detail_main_I", DetailMain},
       {"detail_meter_L", "Meter Values", "", DetailMeter}}}},
    {"Details_2_P",
     "TabSheet2",
     {{{"detail_network_L", "Network", "detail_network_I", DetailNetwork},
       {"detail_portA_L", "Port A", "detail_portA_I", DetailPortA}}}},
    {"Details_3_P",
     "TabSheet2",
     {{{"detail_trip_L", "Trip Status", "detail_trip_I", DetailTrip},
       {"detail_portG_L", "Port G", "detail_portG_I", DetailPortG}}}},
    {"Details_4_P",
     "TabSheet2",
     {{{"detail_setpoint_L", "Set Point Status", "detail_setpoint_I", DetailSetpoint},
       {"detail_portH_L", "Port H", "detail_portH_I", DetailPortH}}}},
}};

} // namespace

std::string_view baseName(ValueControl c) {
    return controlIndex(c) < ValueControlCount ? BaseNames[controlIndex(c)] : std::string_view();
}

std::string valueControlName(ValueControl c) {
    return std::string(baseName(c)) + "_E";
}

std::string captionControlName(ValueControl c) {
    return std::string(baseName(c)) + "_L";
}

void ClearStatusDisplay(ValueTexts& values) {
    for (std::string& v : values) v.assign(NoValueText);
}

CaptionSet SetDefaultCaptions() {
    return startUpCaptions(UnitKind::None);
}

CaptionSet ApplyModelCaptions(int32_t model, UnitKind kind) {
    if (model < 0 || model >= ModelCount) model = ModelKt740;
    CaptionSet set = startUpCaptions(kind);
    for (const ModelVisibility& row : ModelFields)
        for (ValueControl c : row.controls)
            set.shown[controlIndex(c)] = row.shown[static_cast<size_t>(model)];
    if (earthFaultWording(model))
        for (const Caption& c : EarthFaultCaptions) set.caption[controlIndex(c.control)] = c.text;
    set.caption[controlIndex(VC::main_voltage)] = mainVoltageCaption(model, kind);
    if (kind == UnitKind::RegisterFile) {
        // These units report the K1 relay's settings rather than two DIP switches, and their
        // Summary has no unit-healthy LED and no computed amperes.
        set.caption[controlIndex(VC::main_config4)] = "K1 Mode";
        set.caption[controlIndex(VC::main_config5)] = "K1 Operation";
        for (ValueControl c : {VC::main_portH5, VC::main_current}) set.shown[controlIndex(c)] = false;
    }
    return set;
}

std::string accessibleName(const CaptionSet& captions, ValueControl c) {
    std::string_view caption = captions.captionOf(c);
    return std::string(caption.empty() ? baseName(c) : caption);
}

std::string_view pageName(StatusPage page) {
    static constexpr std::array<std::string_view, StatusPageCount> Names{
        "TabCommunication", "Tab_Summary", "TabSheet2", "TabSheet4",
        "Config_Sheet",     "TabSheet3",   "TabSheet5", "Tab61850"};
    const auto i = static_cast<size_t>(page);
    return i < Names.size() ? Names[i] : std::string_view();
}

Rgb rgb(TextColour colour) {
    switch (colour) {
    case TextColour::Lime:
        return {0, 255, 0};
    case TextColour::Red:
        return {255, 0, 0};
    case TextColour::Yellow:
        return {255, 255, 0};
    case TextColour::Aqua:
        return {0, 255, 255};
    case TextColour::Default:
        break;
    }
    return {0, 0, 0};
}

std::span<const StatusPanelLayout> statusPanels() {
    return Panels;
}

} // namespace kt
