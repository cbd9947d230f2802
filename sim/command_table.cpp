#include "sim/command_table.h"

#include <algorithm>

namespace kt::sim {

namespace {

// The commands the monitoring program sends.
constexpr CommandEntry Commands[] = {
    {2, "clear event records"},
    {3, "set clock"},
    {5, "reset to defaults"},
    {6, "apply MAC address 1"},
    {7, "apply MAC address 2"},
    {11, "apply IEC 61850 report control block"},
    {12, "apply IEC 61850 dataset"},
    {13, "apply IEC 61850 GOOSE control block"},
    {14, "apply IEC 61850 network input"},
    {16, "remote calibration"},
    {18, "write diagnostics file to the SD card"},
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
