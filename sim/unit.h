#pragma once

#include "sim/options.h"
#include "sim/register_map.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kt::sim {

enum class Transport { Tcp, Rtu };

struct ExecutedCommand {
    uint16_t number;
    Transport via;
};

// The simulated relay as the endpoints see it: its registers and its commands. The unit's own
// life (moving poll values, the event ring behind selector register 62, registers known from the
// register files of --resources, the 61850 windows) belongs here, next to the map it changes.
class Unit {
public:
    // Over TCP a write of n into this register runs command n.
    static constexpr uint16_t CommandRegister = 6;

    using Notify = std::function<void(std::string_view)>;

    Unit(const Identity& identity, std::span<const Preset> presets, Notify notify = {});

    RegisterMap& registers() { return registers_; }
    const RegisterMap& registers() const { return registers_; }

    void executeCommand(uint16_t number, Transport via);
    // The most recent commands, oldest first (the record keeps the last KeptCommands).
    std::vector<ExecutedCommand> executedCommands() const;
    static constexpr size_t KeptCommands = 1000;

private:
    RegisterMap registers_;
    Notify notify_;
    mutable std::mutex commandsMutex_;
    std::deque<ExecutedCommand> executed_;
};

// Registers 0..5 as the unit reports them.
void writeIdentity(RegisterMap& registers, const Identity& identity);

} // namespace kt::sim
