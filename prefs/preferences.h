#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kt {

// The operator choices that survive a restart. Member names are the stored value names, so a
// reader of the store sees the same words as a reader of the code.
struct ProgramPreferences {
    std::string port = "COM1";
    std::string FileName = "KTMON740";
    bool datalog_enable = false;
    bool save_main = true;
    bool save_network = true;
    bool save_tripstat = true;
    bool save_setpointstat = true;
    bool save_portA = true;
    bool save_portG = true;
    bool save_portH = true;
    bool ct_selected = false;
    bool voltage_selected = false;
    bool show_prompt = true;
    bool use_settings = false;
    bool running = false;
    int32_t save_rate = 5;
    int32_t Top = 0;
    int32_t Left = 0;
    int32_t voltage = 0;
    int32_t model_type = 0;
    int32_t ct_series = 0;
    int32_t ef_connection = 0;
    int32_t ct_primary = 200;
    int32_t ct_secondary = 0;
    // The link the operator chose last (0 serial/USB, 1 Modbus TCP) and the relay's address, so
    // a remembered TCP connection comes back as one instead of as a serial port.
    int32_t network = 0;
    std::string ip_address;

    bool operator==(const ProgramPreferences&) const = default;
};

using PreferenceValue = std::variant<std::string, bool, int32_t>;

// One stored value: its name, its type (the alternative held by `defaultValue`) and, for
// integers, the range the program can use.
struct PreferenceField {
    std::string_view name;
    PreferenceValue (*get)(const ProgramPreferences&);
    void (*set)(ProgramPreferences&, const PreferenceValue&);
    int32_t min = 0; // integers only
    int32_t max = 0;
    // Integers outside min..max are clamped when true, otherwise they fall back to the default.
    bool clamp = false;
    // Texts only: the longest usable text in bytes, and what else it must be (nothing: any
    // text). Every text must also be UTF-8 without control characters.
    size_t maxLength = 0;
    bool (*usable)(std::string_view) = nullptr;
};

// Every value of the record, in the order of the store's table.
std::span<const PreferenceField> preferenceFields();

// The per-user settings store under the program key, section "Preferences". Values are read as
// text (whatever type the store holds them in) and written with their own type.
class PreferencesStore {
public:
    virtual ~PreferencesStore() = default;
    // Whether the section exists at all.
    virtual bool exists() = 0;
    // False when the store cannot be read (access denied, unparseable file).
    virtual bool readable() = 0;
    // The value's text; nothing when the value is missing.
    virtual std::optional<std::string> read(std::string_view name) = 0;
    virtual void write(std::string_view name, const PreferenceValue& value) = 0;
    // Pushes the writes out; false when they could not be saved.
    virtual bool flush() = 0;
    // Whether the store itself was damaged (a file with junk in it) and was read around the
    // damage; the values it could read are still given by read().
    virtual bool damaged() { return false; }
    // Values that are present but cannot be given back at all (cut off, undecodable).
    virtual std::vector<std::string> unreadableValues() { return {}; }
};

struct PreferencesLoadReport {
    bool readable = true;               // false: the store could not be read, defaults in effect
    bool damaged = false;               // the store was damaged; what could be read was kept
    std::vector<std::string> corrected; // names of values that were unusable and were replaced
};

// Reads every value with its default for a missing one. A value of the wrong type, out of
// range, too long or otherwise unusable is corrected (see preferences.cpp) and named in the
// report, and so is a value that depends on a corrected one; every other value is kept, also
// from a damaged store. An unreadable store leaves all defaults in effect.
PreferencesLoadReport loadPreferences(ProgramPreferences& prefs, PreferencesStore& store);

// One line for the operator about what loadPreferences had to do, or "" when all was well.
std::string preferencesLoadNotice(const PreferencesLoadReport& report);
bool writeDefaultPreferences(PreferencesStore& store);
bool storePreferences(const ProgramPreferences& prefs, PreferencesStore& store);
bool preferencesExist(PreferencesStore& store);

// The working values the main window uses when "use_settings" is off: the stored defaults with
// the data-log file beside the program and the sensitive CT input.
ProgramPreferences builtInWorkingDefaults(std::string_view programFolder);

// The working copy the main window starts with: the stored values when "use_settings" is on,
// else the built-in working defaults; "show_prompt" always comes from the store. The window
// position is to be restored only when `restorePosition` says so.
struct WorkingPreferences {
    ProgramPreferences values;
    bool restorePosition = false;
};
WorkingPreferences workingPreferences(const ProgramPreferences& stored, std::string_view programFolder);

// Text forms the store round-trips: booleans "true"/"false", integers in decimal.
std::optional<bool> parsePreferenceBool(std::string_view text);
std::optional<int32_t> parsePreferenceInt(std::string_view text);

} // namespace kt
