#pragma once

// What one completed poll pass of a connection gives the window and the command-line tool: an
// immutable copy, handed over by shared pointer, so a reader needs no lock and a newer
// connection can never change the values an older view still shows.

#include "monitor/register_codec.h"
#include "monitor/register_tables.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace kt {

inline constexpr int NetworkInputCount = 16;

// What identification read and the register-file choice found.
struct UnitIdentification {
    uint16_t modelCode = 0;      // register 0
    uint16_t firmwareRaw = 0;    // register 1 as read (bit 15 marks a prototype)
    std::string version;         // low 15 bits rounded down to tens: names the register file ("250")
    uint16_t modelType = 0;      // register 4: 2 KT-740AU, 3 KT-740HV, else plain
    uint16_t commOption = 0;     // register 5: 6..8 are the IEC 61850 options
    std::string registerFile;    // file name of the register file loaded; empty when none was
    int32_t firmwareVersion = 0; // version of that file (lower than `version` after a fallback)
    int32_t pollCount = 0;
    int32_t chunkSize = 0;
};

// GOOSE network inputs of an IEC 61850 unit (registers 780..796), read after the pass.
struct NetworkInputs {
    int32_t flags = 0;                               // 780..781, low word first
    std::array<int32_t, NetworkInputCount> status{}; // 781..796
};

struct PassSnapshot {
    // 1 for the first pass of the connection, counting up.
    uint64_t pass = 0;
    std::chrono::system_clock::time_point time;
    UnitIdentification unit;
    // The register description of the connection as loaded at identification (descriptors,
    // groups with the communication option's display rules applied, event registers, the
    // description table). Shared by every snapshot of the connection; never changes.
    std::shared_ptr<const RegisterTables> tables;
    // The words as read: 0..pollCount-1 from this pass; registers above keep what the
    // connection last read there (event records, 61850 windows).
    RegisterCacheWords cache{};
    // Every described register's value of this pass; registers of type 0 keep their last value.
    std::array<RegisterValue, RegisterTableSize> values;
    // Present after a pass of a unit with communication option 6..8 whose input read succeeded.
    std::optional<NetworkInputs> networkInputs;

    int lastGroupIndex() const { return tables ? tables->lastGroupIndex : -1; }
    int32_t firmwareVersion() const { return tables ? tables->firmwareVersion : 0; }
    // The layout flag: true below firmware 300, else true only when register 199 reads "1".
    bool register199Flag() const;
    std::string registerText(int reg, int type) const { return kt::registerText(cache, reg, type); }
    const RegisterValue& value(int reg) const { return values.at(static_cast<size_t>(reg)); }
};

using PassSnapshotPtr = std::shared_ptr<const PassSnapshot>;

} // namespace kt
