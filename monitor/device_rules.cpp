#include "monitor/device_rules.h"

#include "monitor/number_text.h"
#include "monitor/register_dataset.h"
#include "monitor/register_tables.h"

#include <algorithm>

namespace kt {

int32_t modelFromModelType(int64_t modelType) {
    if (modelType == ModelTypeAU) return ModelKt740AU;
    if (modelType == ModelTypeHV) return ModelKt740HV;
    return ModelKt740;
}

std::optional<int32_t> modelFromModelTypeText(std::string_view text) {
    auto n = parseDatasetInteger(text);
    if (!n) return std::nullopt;
    return modelFromModelType(*n);
}

std::string_view registerFileSuffixFor(int64_t modelType) {
    if (modelType == ModelTypeAU) return "AU";
    if (modelType == ModelTypeHV) return "HV";
    return "";
}

std::string_view unitName(int32_t model, bool siblingModel) {
    switch (model) {
    case ModelKt740HV:
        return "KT-740HV";
    case ModelKt740AU:
        return "KT-740AU";
    case ModelKt740:
        return siblingModel ? "QM-5740" : "KT-740";
    default:
        return "KT-740";
    }
}

bool earthFaultWording(int32_t model) {
    return model == ModelKt740AU;
}

std::string_view faultAbbreviation(int32_t model) {
    return earthFaultWording(model) ? "EF" : "GF";
}

std::string_view faultName(int32_t model) {
    return earthFaultWording(model) ? "Earth Fault" : "Ground Fault";
}

std::string_view resistorAbbreviation(int32_t model) {
    return earthFaultWording(model) ? "NER" : "NGR";
}

int32_t firmwareNumber(int64_t firmware) {
    return static_cast<int32_t>(firmware & 0x7FFF);
}

bool isPrototype(int64_t firmware) {
    return (firmware & PrototypeFlag) != 0;
}

int32_t registerFileVersion(int64_t firmware) {
    return firmwareNumber(firmware) / 10 * 10;
}

FirmwareFeatures firmwareFeatures(int64_t firmwareVersion) {
    const int32_t v = firmwareNumber(firmwareVersion);
    FirmwareFeatures f;
    f.remoteCalibration = v >= FirmwareRemoteCalibration;
    f.diagnosticsDump = v >= FirmwareDiagnosticsDump;
    f.extendedStatusBits = v >= FirmwareExtendedStatusBits;
    f.essentialSettingsFlag = v >= FirmwareEssentialSettings;
    return f;
}

bool register199Flag(int64_t firmwareVersion, std::string_view register199Text) {
    if (!firmwareFeatures(firmwareVersion).essentialSettingsFlag) return true;
    return register199Text == "1";
}

std::optional<std::string> firmwareVersionText(std::string_view registerText) {
    auto n = parseDatasetInteger(registerText);
    if (!n) return std::nullopt;
    if (isPrototype(*n)) return "Prototype Version: " + formatFixed(firmwareNumber(*n) / 100.0, 2);
    return "Firmware Version: " + formatFixed(static_cast<double>(*n) / 100.0, 2);
}

bool isIec61850Option(int64_t commOption) {
    return commOption >= CommOptionIec61850First && commOption <= CommOptionIec61850Last;
}

bool isIec61850OptionText(std::string_view text) {
    auto n = parseDatasetInteger(text);
    return n && isIec61850Option(*n);
}

bool groupDisplayed(std::string_view nameIndex, bool fileDisplay, int64_t commOption) {
    bool display = fileDisplay;
    if (commOption < 3 && (nameIndex == GroupNetwork || nameIndex == GroupSntp)) display = false;
    if (commOption == 1 && nameIndex == GroupDeviceNet) display = true;
    return display;
}

void applyCommOptionDisplayRules(std::span<RegisterGroup> groups, int lastGroupIndex, int64_t commOption) {
    const int last = std::min(lastGroupIndex, static_cast<int>(groups.size()) - 1);
    for (int g = 0; g <= last; ++g)
        groups[g].display = groupDisplayed(groups[g].nameIndex, groups[g].display, commOption);
}

bool isStatusGridGroup(std::string_view nameIndex) {
    return nameIndex == "metering" || nameIndex == "status" || nameIndex == "system";
}

} // namespace kt
