#pragma once

// The labelled values of the Summary page and the legacy "Detailed Status and Config" page: which
// value fields there are, their captions by model (the one source of both the caption beside a
// field and the field's accessible name), which are shown, and how the panels are laid out.
// Plain data and pure functions; the window copies them into its widgets.

#include "monitor/device_rules.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kt {

// Every value field of the two pages. The field's object name is its base name followed by "_E",
// its caption's by "_L" (main_gftime_E and main_gftime_L).
enum class ValueControl : uint8_t {
    // Summary, "Set Points" and "Metered Values"
    main_gftime,
    main_gfsetting,
    main_pulsetime,
    main_ngrcurrent,
    main_ngrvoltage,
    main_ngrchange,
    main_current,
    main_voltage,
    // Summary, "Configuration Switches" (by port A bit) and "Trip Status"
    main_config0,
    main_config1,
    main_config2,
    main_config3,
    main_config4,
    main_config5,
    main_tripstat0,
    main_tripstat1,
    main_portH5,
    main_S7,
    // Legacy page, "Main" and "Meter Values"
    detail_gftime,
    detail_gfsetting,
    detail_pulsetime,
    detail_ngrcal,
    detail_ngrcurrent,
    detail_ngrvoltage,
    detail_ngrchange,
    detail_relaystatus,
    detail_current,
    detail_voltage,
    // Legacy page, "Network"
    detail_switches,
    detail_recordhead,
    detail_netmode,
    detail_netgftime,
    detail_netgfsetting,
    detail_netpulsetime,
    detail_netswitches,
    // Legacy page, bit by bit
    T0,
    T1,
    T2,
    T3,
    T4,
    T5,
    T6,
    T7,
    S0,
    S1,
    S2,
    S3,
    S4,
    S5,
    S6,
    S7,
    PA0,
    PA1,
    PA2,
    PA3,
    PA4,
    PA5,
    PA6,
    PA7,
    PG0,
    PG1,
    PG2,
    PG3,
    PG4,
    PG5,
    PG6,
    PG7,
    PH0,
    PH1,
    PH2,
    PH3,
    PH4,
    PH5,
    PH6,
    PH7,
    Count
};

inline constexpr size_t ValueControlCount = static_cast<size_t>(ValueControl::Count);

constexpr size_t controlIndex(ValueControl c) {
    return static_cast<size_t>(c);
}
// Bit n of one of the legacy bit rows (T, S, PA, PG, PH).
constexpr ValueControl bitControl(ValueControl bit0, int n) {
    return static_cast<ValueControl>(controlIndex(bit0) + static_cast<size_t>(n));
}

// "main_gftime"
std::string_view baseName(ValueControl c);
// "main_gftime_E"
std::string valueControlName(ValueControl c);
// "main_gftime_L"
std::string captionControlName(ValueControl c);

// The text of every value field, indexed by ValueControl.
using ValueTexts = std::array<std::string, ValueControlCount>;

// What fills a field that has no value yet or lost it (silence, a rejected frame).
inline constexpr std::string_view NoValueText = "-----";
// Every value field of the Summary and legacy pages to NoValueText.
void ClearStatusDisplay(ValueTexts& values);

// Which kind of unit the pages show; the wording and the fields shown differ.
enum class UnitKind {
    None,         // start-up, before any unit
    RegisterFile, // a unit described by a register file (Modbus)
    Legacy,       // an older unit pushing 24-byte frames
};

// Caption and visibility of every value field (its caption is shown or hidden with it).
struct CaptionSet {
    std::array<std::string_view, ValueControlCount> caption{};
    std::array<bool, ValueControlCount> shown{};

    std::string_view captionOf(ValueControl c) const { return caption[controlIndex(c)]; }
    bool isShown(ValueControl c) const { return shown[controlIndex(c)]; }
};

// The captions set once at start-up, before any unit is seen.
CaptionSet SetDefaultCaptions();
// Captions and visibility for a model on a kind of unit: the start-up captions, the model's
// wording and fields, and the kind's own (register-file units call the K1 switches "K1 Mode" and
// "K1 Operation" and have no unit-healthy or ampere field on the Summary; legacy units mark the
// computed voltage with an asterisk).
CaptionSet ApplyModelCaptions(int32_t model, UnitKind kind);

// The accessible name of a value field: its caption, or its base name for the few fields that
// have none (they are never shown).
std::string accessibleName(const CaptionSet& captions, ValueControl c);

// ---- Pages ----

// The window's pages, by object name.
enum class StatusPage : uint8_t {
    TabCommunication,
    Tab_Summary,
    TabSheet2, // "Detailed Status and Config" (legacy units)
    TabSheet4, // "Detailed Status"
    Config_Sheet,
    TabSheet3, // "Event Records" (legacy units)
    TabSheet5, // "Event Records"
    Tab61850,
    Count
};
inline constexpr size_t StatusPageCount = static_cast<size_t>(StatusPage::Count);
std::string_view pageName(StatusPage page);

// Pages to show or hide; a page without an entry keeps its state.
using PageVisibility = std::array<std::optional<bool>, StatusPageCount>;
inline void setPage(PageVisibility& pages, StatusPage page, bool shown) {
    pages[static_cast<size_t>(page)] = shown;
}
inline std::optional<bool> pageShown(const PageVisibility& pages, StatusPage page) {
    return pages[static_cast<size_t>(page)];
}

// Colours of the status texts.
enum class TextColour : uint8_t { Default, Lime, Red, Yellow, Aqua };
struct Rgb {
    int r, g, b;
};
Rgb rgb(TextColour colour); // Default: black

// A status-bar panel's caption and text colour.
struct PanelText {
    std::string text;
    TextColour colour = TextColour::Default;
    bool operator==(const PanelText&) const = default;
};

inline constexpr std::string_view NetStatusOnlineText = "ONLINE";
inline constexpr std::string_view NotConfiguredText = "Not Configured";

// ---- Page layout ----

struct StatusSection {
    std::string_view heading;             // the heading label's object name
    std::string_view headingText;         // its caption
    std::string_view image;               // the logging mark beside it (legacy page), or ""
    std::span<const ValueControl> values; // top to bottom, hidden ones included
};

struct StatusPanelLayout {
    std::string_view panel;
    std::string_view page;
    std::array<StatusSection, 2> sections;
};

// Main_1_P, Main_2_P (Tab_Summary), Details_1_P .. Details_4_P (TabSheet2).
std::span<const StatusPanelLayout> statusPanels();

// Geometry of the Summary values: 100 pixels wide, 174 from the panel's left, rows 24 apart.
inline constexpr int SummaryPanelWidth = 300;
inline constexpr int SummaryValueWidth = 100;
inline constexpr int SummaryValueLeft = 174;
inline constexpr int SummaryRowPitch = 24;

} // namespace kt
