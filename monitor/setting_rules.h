#pragma once

// The rules of changing one setting of a unit, shared by the Configuration page and the
// command-line tool: which editor a setting gets (by its ACCESS code), the items of a list, the
// limits of a number (MIN/MAX, or the RANGE rule of its dependency list), and what the operator
// typed or chose turned into the registers to write, or refused with the words the page shows.
// Pure functions over the register description table and the unit's value texts.

#include "monitor/register_dataset.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kt {

// ---- editors ----

enum class SettingEditor : uint8_t {
    None,       // read-only (ACCESS 0), or an ACCESS code without an editor
    List,       // ACCESS 1: cmbEdit
    IpAddress,  // ACCESS 7: txtIPMask
    MacAddress, // ACCESS 9: MaskMac
    CtDialog,   // ACCESS 10: the CT dialog, which writes the effective CT primary
    Number,     // ACCESS 11: spinEdit, with limits
    UtcOffset,  // ACCESS 16: utc_CB
};
SettingEditor editorForAccess(int64_t access);
// "none", "list", "ip-address", "mac-address", "ct-dialog", "number", "utc-offset"
std::string_view settingEditorName(SettingEditor editor);

// Registers with lists of their own instead of a value list in the file.
inline constexpr int MemoryLevelRegister = 16; // GF trip level of the MEM position, % of the CT
inline constexpr int CtNominalRegister = 34;   // CT nominal primary, amperes
inline constexpr int DeviceNetMacIdRegister = 120;
inline constexpr int MemoryLevelFirst = 2, MemoryLevelLast = 100; // percent
inline constexpr int DeviceNetMacIdLast = 63;

// ---- the page's texts ----

inline constexpr std::string_view OutOfRangeTitle = "Out Of Range Error";
// "Value should be between %i  and %i." (two blanks before "and")
std::string outOfRangeText(int64_t min, int64_t max);
inline constexpr std::string_view NotValidIpText = "Not a valid IP address.";
inline constexpr std::string_view IpAddressErrorTitle = "IP Address Error";
inline constexpr std::string_view MacAddressErrorTitle = "MAC Address Error";
inline constexpr std::string_view WriteFailedText = "Write Failed";
// help_E's heading, the same for every setting with a WARNING text.
inline constexpr std::string_view GuidanceHeading = "Guidance for Nominal NGR Resistance (ohms) Setting";

// The WARNING text's lines: the file stores a line break as the four characters \r\n.
std::vector<std::string> warningLines(std::string_view warning);

// ---- what the rules read of the unit ----

struct SettingSource {
    const RegisterDataset& dataset;
    // The value text of every register as the codec made it (the pass's values, not the texts the
    // status views decode in their place), by register number.
    std::span<const std::string> values;

    std::string_view valueText(int reg) const;
    // The integer reading of the register's value text; nothing when it is no whole number.
    std::optional<int64_t> current(int reg) const;
};

// ---- lists ----

struct ListItem {
    std::string text;
    int64_t value = 0; // what choosing the item writes
};

struct SettingList {
    std::vector<ListItem> items;
    int selected = -1; // the item of the current value; -1 when none fits
};

// Register 16: the 99 items "i%     C*i/100 A" for i = 2..100 with C the value of register 34;
// register 120: "0".."63"; any other register: the non-empty TRANSLATIONTEXTs of its value list
// in TRANSLATIONINDEX order, each writing its TRANSLATIONINDEX. The current value selects its
// item; a value above the last item selects the last one.
SettingList settingList(const SettingSource& source, int reg, std::string_view translationType);
// One item of register 16's list.
std::string memoryLevelItemText(int percent, int64_t ctPrimary);

// ---- UTC offsets ----

inline constexpr int UtcOffsetCount = 39;
extern const std::array<std::string_view, UtcOffsetCount> UtcOffsets;
// The last offset that reads exactly as `valueText`; the first when none does.
int utcOffsetSelection(std::string_view valueText);

// ---- numbers ----

struct SettingLimits {
    int64_t min = 0;
    int64_t max = 0;
    bool operator==(const SettingLimits&) const = default;
};
// The spin edit's range before the limits are known.
inline constexpr SettingLimits WidestLimits{0, 99'999'999};

// MIN and MAX of the register's first row; when both are 0, the limits of the RANGE rule: the
// row of the rule's dependency list whose D_VALUE is the source register's current value (the
// last such row). Nothing when the file has no row for the register.
std::optional<SettingLimits> numberLimits(const SettingSource& source, int reg);

// A typed decimal number rounded to the nearest whole number, halves upwards ("12.5" gives 13,
// "12.49" 12). Nothing for text that is no decimal number.
std::optional<int64_t> roundTypedNumber(std::string_view text);

// ---- entries: what the operator typed or chose ----

// The registers a setting entry writes.
struct SettingWrite {
    enum class Kind : uint8_t {
        Value,      // one register (types 1 and 16) or two, low word first: writeValue
        Register16, // register 16: writeRegister16
        IpAddress,  // `reg` and `reg`+1 from "nnn.nnn.nnn.nnn": writeIpAddress
        MacAddress, // 156..158, then command 6 (register 107) or 7: writeMacAddress
    };
    Kind kind = Kind::Value;
    int reg = 0;
    int64_t value = 0;            // Value, Register16
    std::string ipText;           // IpAddress, 15 characters
    std::array<uint8_t, 6> mac{}; // MacAddress
    std::string newText;          // the new value as the operator chose it, for the write log
};

struct SettingEntry {
    enum class Outcome : uint8_t {
        Write,     // `write` goes to the unit
        Unchanged, // nothing to write: the unit holds the value already, or nothing was entered
        Refused,   // not written: `text` under `title` says why
    };
    Outcome outcome = Outcome::Unchanged;
    SettingWrite write;
    std::string text;
    std::string title;
    // A number out of range: the editor then shows this limit.
    std::optional<int64_t> clampedTo;

    bool writes() const { return outcome == Outcome::Write; }
};

// The list item `chosen` (an index into `list.items`); nothing is written when it is no item or
// its value is the current value.
SettingEntry listEntry(const SettingList& list, int reg, int chosen, std::optional<int64_t> current);
// The spin edit's text: rounded, checked against the limits (a value equal to the current one is
// not written, whatever the limits), refused with "Value should be between ..." otherwise.
SettingEntry numberEntry(std::string_view text, int reg, const SettingLimits& limits,
                         std::optional<int64_t> current);
// The IP editor's text (15 characters, octets at 1-3, 5-7, 9-11, 13-15): written only when the
// operator typed and it differs from the register's text; refused unless every octet is a number
// 0..255.
SettingEntry ipEntry(std::string_view editorText, int reg, std::string_view valueText, bool typed);
// The MAC editor's text (pairs at 1-2, 4-5, ..., 16-17): nothing when no pair was entered; a pair
// that is blank or not hexadecimal is refused by name ("pair 3"); otherwise always written.
SettingEntry macEntry(std::string_view editorText, int reg);
// A UTC offset of the list: written as minutes when it differs from the register's text.
SettingEntry utcEntry(std::string_view chosen, int reg, std::string_view valueText);
// The CT dialog's effective CT primary, always written.
SettingEntry ctEntry(int64_t effectiveCtPrimary, int reg);
// A value the register's type cannot hold (a 16-bit register given 100000) would reach the unit
// cut to its width: such an entry is refused with the type's range instead.
SettingEntry fitToRegister(const SettingSource& source, SettingEntry entry);

// ---- settings by text (the command-line tool) ----

// A setting as the Configuration page lists it.
struct SettingRow {
    int reg = 0;
    std::string parameter; // SETTING, without the grid's two leading blanks
    std::string value;     // the grid's value text
    int32_t access = 0;
    std::string translationType;
};

// What `text` means for the setting, through the same entries as the page's editors: a list
// item's text or value, a number, "A.B.C.D", "+HH:MM"/"-HH:MM" of the UTC list, six hex pairs
// "HH:HH:HH:HH:HH:HH", or the effective CT primary in amperes.
SettingEntry entryFromText(const SettingSource& source, const SettingRow& setting, std::string_view text);

// The dotted address "A.B.C.D" (1 to 3 digits each) in the editor's form "nnn.nnn.nnn.nnn";
// nothing for any other text.
std::optional<std::string> ipEditorText(std::string_view dotted);

} // namespace kt
