#pragma once

// What the simulated unit knows of its own registers: the register description file the program
// would load for it, chosen and read by the core library exactly as the program does, distilled
// into what the unit needs to serve plausible values (types, value lists, limits) and to lay out
// its event records.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kt::sim {

// The limits of a setting that follow another register's value (a RANGE rule): when the source
// register holds `sourceValue`, the setting lies within [min, max].
struct RangeEntry {
    int64_t sourceValue = 0;
    int64_t min = 0;
    int64_t max = 0;
};

struct DescribedRegister {
    int reg = 0;
    std::string label;
    int type = 0;
    int access = 0;                   // 0: read-only; anything else is a setting
    std::string translationType;      // "0" or empty: no value list
    std::vector<int64_t> listIndexes; // TRANSLATIONINDEX values of its list, ascending
    std::optional<int64_t> min, max;  // its own limits (MIN/MAX, unless both are 0)
    int rangeSource = -1;             // register of its RANGE rule, -1 without one
    std::vector<RangeEntry> ranges;   // the rule's list

    bool isSetting() const { return access != 0; }
    bool hasList() const { return !listIndexes.empty(); }
    int wordCount() const;
};

// The fields of an event record, in the order the program shows them. The file's "Events" group
// lists one register per field in this order (by S_ORDER); each register's type says how the
// field is stored.
enum class EventField { Date, Time, Current, Voltage, ResistanceChange, TripStatus, SetpointStatus };
inline constexpr int EventFieldCount = 7;

struct EventSlot {
    EventField field;
    int reg = 0;
    int type = 0;
};

struct RegisterProfile {
    std::string path;                         // the file served
    int version = 0;                          // its version (from its name)
    int requestedVersion = 0;                 // what the firmware register asks for
    std::vector<DescribedRegister> registers; // every register with a value type, ascending
    std::vector<EventSlot> eventLayout;       // at most EventFieldCount, in field order

    bool fellBack() const { return version != requestedVersion; }
    const DescribedRegister* at(int reg) const;
    const DescribedRegister* find(std::string_view label) const;
    // Registers of a value type, ascending (the MAC addresses are found this way).
    std::vector<const DescribedRegister*> ofType(int type) const;
};

struct ProfileLoad {
    std::optional<RegisterProfile> profile;
    std::string failure; // why there is none
};

// The version the program derives from register 1: the low 15 bits rounded down to tens.
int registerFileVersion(uint16_t firmware);

// Chooses and loads the file for `firmware` and `modelType` from `resourcesFolder` (empty: the
// resources folder beside the running program) with the core library's loader.
ProfileLoad loadRegisterProfile(const std::string& resourcesFolder, uint16_t firmware, uint16_t modelType);

} // namespace kt::sim
