#include "sim/command_table.h"

#include "sim/unit.h"

#include <algorithm>

namespace kt::sim {

namespace {

// The commands the monitoring program sends.
constexpr CommandEntry Commands[] = {
    {2, "clear event records", [](Unit& u) { u.clearEvents(); }},
    {3, "set clock", [](Unit& u) { u.setClock(); }},
    {5, "reset to defaults", [](Unit& u) { u.resetToDefaults(); }},
    {6, "apply MAC address 1", [](Unit& u) { u.applyMacAddress(0); }},
    {7, "apply MAC address 2", [](Unit& u) { u.applyMacAddress(1); }},
    {11, "apply IEC 61850 report control block", [](Unit& u) { u.applyIec61850(11); }},
    {12, "apply IEC 61850 dataset", [](Unit& u) { u.applyIec61850(12); }},
    {13, "apply IEC 61850 GOOSE control block", [](Unit& u) { u.applyIec61850(13); }},
    {14, "apply IEC 61850 network input", [](Unit& u) { u.applyIec61850(14); }},
    {16, "remote calibration", [](Unit& u) { u.startCalibration(); }},
    {18, "write diagnostics file to the SD card", [](Unit& u) { u.writeDiagnostics(); }},
};

} // namespace

std::span<const CommandEntry> commandTable() {
    return Commands;
}

const CommandEntry* findCommand(uint16_t number) {
    auto it = std::find_if(std::begin(Commands), std::end(Commands),
                           [number](const CommandEntry& c) { return c.number == number; });
    return it == std::end(Commands) ? nullptr : &*it;
}

} // namespace kt::sim
