#include "sim/unit.h"

#include "sim/command_table.h"

namespace kt::sim {

void writeIdentity(RegisterMap& registers, const Identity& id) {
    const uint16_t words[] = {
        id.modelCode,
        id.firmware,
        static_cast<uint16_t>(id.serial & 0xFFFF),
        static_cast<uint16_t>(id.serial >> 16),
        id.modelType,
        id.commOption,
    };
    registers.write(0, words);
}

Unit::Unit(const Identity& identity, std::span<const Preset> presets, Notify notify)
    : notify_(std::move(notify)) {
    writeIdentity(registers_, identity);
    for (const Preset& p : presets) registers_.write(p.start, p.values);
}

void Unit::executeCommand(uint16_t number, Transport via) {
    const CommandEntry* entry = findCommand(number);
    {
        std::lock_guard lock(commandsMutex_);
        if (executed_.size() == KeptCommands) executed_.pop_front();
        executed_.push_back({number, via});
    }
    if (notify_) {
        std::string text = "command " + std::to_string(number) + " (" +
                           std::string(entry ? entry->name : "not a KT-740 command") + ") over " +
                           (via == Transport::Tcp ? "TCP" : "RTU");
        notify_(text);
    }
    if (entry && entry->run) entry->run(*this);
}

std::vector<ExecutedCommand> Unit::executedCommands() const {
    std::lock_guard lock(commandsMutex_);
    return {executed_.begin(), executed_.end()};
}

} // namespace kt::sim
