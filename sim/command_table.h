#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace kt::sim {

class Unit;

// One command the relay knows. `run` is what the unit does beyond recording the command; a command
// without one is only recorded.
struct CommandEntry {
    uint16_t number;
    std::string_view name;
    void (*run)(Unit& unit) = nullptr;
};

std::span<const CommandEntry> commandTable();
// Nothing for a number the relay does not know.
const CommandEntry* findCommand(uint16_t number);

} // namespace kt::sim
