#pragma once

#include "sim/register_map.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

namespace kt {
class TICDParser;
}

namespace kt::sim {

// The unit's IEC 61850 configuration behind its register windows. Each kind of block (report
// control blocks, datasets, GOOSE control blocks, network inputs) has a read window and a write
// window: writing a slot number into the read selector shows that slot in the registers after
// it; the registers after the write selector are the pending slot, and the kind's apply command
// stores them as the slot the write selector names. The server settings (registers 200..259)
// have no window: they are plain registers.
//
// Kept under the register map's lock, like the rest of the unit's state.
class Iec61850Windows {
public:
    struct Window {
        const char* name;      // "report control block", ...
        uint16_t readSelector; // 260, 310, 580, 630
        uint16_t writeSelector;
        uint16_t applyCommand; // 11..14
        uint16_t length;       // registers after the selector that hold a slot
        uint16_t slots;
    };
    static const std::array<Window, 4>& windows();

    Iec61850Windows();

    // The unit's configuration from its device type's template: the slots, and the server
    // settings in registers 200..259 (registers in `held` are left alone).
    void load(const TICDParser& model, RegisterMap::Words& w, const std::bitset<RegisterMap::Count>& held);

    // After a write of [start, start + count): a read selector it covered shows its slot.
    void afterWrite(RegisterMap::Words& w, size_t start, size_t count) const;

    // Apply command `command` (11..14): the pending slot becomes the slot its write selector
    // names. The note says what happened; false for a command that is not an apply command.
    bool apply(uint16_t command, RegisterMap::Words& w, std::string& note);

    // A slot's registers (offset 1 .. length after the selector), for tests.
    const std::vector<uint16_t>& slot(size_t window, size_t index) const {
        return slots_.at(window).at(index);
    }

private:
    void show(RegisterMap::Words& w, size_t window) const;

    std::array<std::vector<std::vector<uint16_t>>, 4> slots_;
};

} // namespace kt::sim
