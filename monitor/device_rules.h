#pragma once

// What the program knows about the KT-740 family itself: how a unit names its model, which
// firmware brings which feature, which communication options carry IEC 61850, which register
// groups are shown, and the family's wording. The window, the engine and the command-line tool
// all ask here, so a rule changes in one place.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kt {

struct RegisterGroup;

// ---- Models ----

// The model variant as the views know it (the window's `model_type`).
inline constexpr int32_t ModelKt740 = 0; // also the QM-5740
inline constexpr int32_t ModelKt740HV = 1;
inline constexpr int32_t ModelKt740AU = 2;
inline constexpr int32_t ModelCount = 3;

// Values of the model type register (register 4, DB_MODEL_TYPE).
inline constexpr int64_t ModelTypeAU = 2;
inline constexpr int64_t ModelTypeHV = 3;

// Register 4 / DB_MODEL_TYPE to the model variant: 2 the KT-740AU, 3 the KT-740HV, anything else
// the KT-740.
int32_t modelFromModelType(int64_t modelType);
// The same from the register's text; nothing when the text is not a number (a value that could
// not be read changes nothing).
std::optional<int32_t> modelFromModelTypeText(std::string_view text);

// The register file family: "AU" for model type 2, "HV" for 3, "" for the rest.
std::string_view registerFileSuffixFor(int64_t modelType);

// "KT-740", "KT-740HV", "KT-740AU", or "QM-5740" for the sibling model of the KT-740.
std::string_view unitName(int32_t model, bool siblingModel);

// The KT-740AU speaks of earth fault and a neutral-earthing resistor, the others of ground
// fault and a neutral-grounding resistor.
bool earthFaultWording(int32_t model);
std::string_view faultAbbreviation(int32_t model);    // "GF" / "EF"
std::string_view faultName(int32_t model);            // "Ground Fault" / "Earth Fault"
std::string_view resistorAbbreviation(int32_t model); // "NGR" / "NER"

// ---- Firmware ----

inline constexpr uint16_t PrototypeFlag = 0x8000; // bit 15 of register 1
inline constexpr int32_t FirmwareRemoteCalibration = 230;
inline constexpr int32_t FirmwareDiagnosticsDump = 270;
inline constexpr int32_t FirmwareExtendedStatusBits = 270; // trip and device status bits 10, 11
inline constexpr int32_t FirmwareEssentialSettings = 300;  // register 199 gates the full view

// The version number without the prototype flag (2.30 is 230).
int32_t firmwareNumber(int64_t firmware);
bool isPrototype(int64_t firmware);
// The version that names the register file: the number rounded down to tens (251 gives 250).
int32_t registerFileVersion(int64_t firmware);

// What the menus and status views offer for a firmware version (the flag is ignored).
struct FirmwareFeatures {
    bool remoteCalibration = false;  // "Remote Calibration"
    bool diagnosticsDump = false;    // "Dump Diagnostics File to SDCard"
    bool extendedStatusBits = false; // NGR short/open rows
    bool essentialSettingsFlag = false;
};
FirmwareFeatures firmwareFeatures(int64_t firmwareVersion);

// True when the unit shows its full view: always below 3.00, from then on only while register
// 199 ("essential settings verified") reads "1".
bool register199Flag(int64_t firmwareVersion, std::string_view register199Text);

// The version as the status bar shows it: "Firmware Version: 2.30", or "Prototype Version: 2.30"
// when bit 15 is set. Nothing for a text that is not a number.
std::optional<std::string> firmwareVersionText(std::string_view registerText);

// ---- Communication options (register 5, DB_COMM_CODE) ----

inline constexpr int64_t CommOptionIec61850First = 6;
inline constexpr int64_t CommOptionIec61850Last = 8;

bool isIec61850Option(int64_t commOption);
// The same from the register's text; false for a text that is not a number.
bool isIec61850OptionText(std::string_view text);

// ---- Register groups ----

// Name indexes of the groups code recognises.
inline constexpr std::string_view GroupNetwork = "network";
inline constexpr std::string_view GroupSntp = "sntp settings";
inline constexpr std::string_view GroupDeviceNet = "devicenet";

// Whether a group is shown for a communication option: below option 3 the network and SNTP groups
// are hidden, option 1 shows DeviceNet; every other group keeps its file setting.
bool groupDisplayed(std::string_view nameIndex, bool fileDisplay, int64_t commOption);
// Applies groupDisplayed to groups 0..lastGroupIndex.
void applyCommOptionDisplayRules(std::span<RegisterGroup> groups, int lastGroupIndex, int64_t commOption);

// Groups shown in the status grid (metering, status, system); the rest go to the configuration
// grid.
bool isStatusGridGroup(std::string_view nameIndex);

} // namespace kt
