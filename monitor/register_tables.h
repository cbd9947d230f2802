#pragma once

// The module-wide register tables the monitor engine and the views share, and the loading of a
// register description file into them. The tables are plain data, indexed directly by Modbus
// register number or group order.

#include "monitor/message_sink.h"
#include "monitor/register_codec.h"
#include "monitor/register_dataset.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kt {

inline constexpr int RegisterTableSize = 250;  // registers 0..249 are described
inline constexpr int RegisterGroupCount = 100; // G_ORDER 0..99
inline constexpr int NoGroupOrder = 999;       // G_ORDER of rows that belong to no group
inline constexpr int EventRegisterCapacity = 148;
inline constexpr int MaxPollCount = 250;
inline constexpr int OldestRegisterFileVersion = 200;

inline constexpr const char* EventsGroup = "Events";

// Texts of the loader's messages.
inline constexpr const char* CannotOpenFileTitle = "Cannot Open File";
inline constexpr const char* NoRegisterFileText = "No xml display files found aborting connection.";
inline constexpr const char* ProductWebPage = "https://www.corvane-relays.example/ktmon740";

struct RegisterDescriptor {
    std::string label;
    int32_t type = 0; // value type code; 0 = not polled
    std::string translationType;
    std::string warning;
    int32_t access = 0;
};

struct RegisterValue {
    std::string translationType;
    std::string label;
    std::string value;
    int32_t access = 0;
    std::string warning;
};

struct RegisterGroup {
    std::string main; // rows belong to the group whose main equals their GROUP
    std::string title;
    std::string nameIndex;
    bool display = false;
};

// A row of the file that the tables cannot hold (or that names something outside them).
struct SkippedRow {
    uint32_t row; // position in the file, 0 = first ROW
    std::string reason;
};

struct RegisterTables {
    RegisterTables();

    RegisterCacheWords RegisterCache{};
    std::array<RegisterDescriptor, RegisterTableSize> RegisterTable;
    std::array<RegisterValue, RegisterTableSize> RegisterValues;
    std::array<RegisterGroup, RegisterGroupCount> RegisterGroups;
    std::vector<int32_t> EventRegisters; // in S_ORDER
    int32_t eventRegisterCount = 0;
    int32_t lastGroupIndex = -1; // highest G_ORDER read below 999; -1 before any group
    int32_t pollCount = 0;       // registers read from 0 in each pass; highest REGISTER + 4, at most 250
    int32_t firmwareVersion = 0; // version of the loaded file
    RegisterDataset dataset;     // the description table the views query
    std::vector<SkippedRow> skippedRows;

    // Back to the state before any file: preset descriptors, empty values, groups and events,
    // counts 0. The cache keeps its words (it is never cleared).
    void reset();
};

// The descriptors valid before any file is loaded (registers 0..4).
std::array<RegisterDescriptor, RegisterTableSize> presetRegisterTable();

// The process's one set of tables.
RegisterTables& registerTables();

// registerText over the process's register cache.
std::string registerText(int reg, int type);

// ---- Choosing the file ----

// "AU" for model type 2, "HV" for 3, "" for anything else (also for a text that is no number).
std::string_view registerFileSuffix(std::string_view modelType);
// folder/registers<suffix>_<version>.xml
std::string registerFilePath(const std::string& folder, std::string_view suffix, int version);
// The resources folder beside the running program.
std::string resourcesFolderBesideProgram();

// The loader's messages, exactly as shown.
std::string fallbackMessage(int requested, int found);

struct RegisterLoadOptions {
    RegisterTables* tables = nullptr;    // nullptr: registerTables()
    std::string resourcesFolder;         // empty: the resources folder beside the program
    MessageSink* messages = nullptr;     // nullptr: no messages
    std::function<bool()> stopRequested; // messages are shown only while this is false
    std::string* failure = nullptr;      // why loading failed, for logs and the command-line tool
};

// Finds the file for the version and model type (falling back by tens down to 200), loads it and
// fills the tables. `version` and `modelType` are decimal texts. False (after the message) when
// no file fits or the file cannot be used.
bool loadRegisterTables(std::string_view version, std::string_view modelType,
                        const RegisterLoadOptions& options);
// The same on the process's tables, with the resources beside the program and messages on
// standard error.
bool loadRegisterTables(std::string_view version, std::string_view modelType);

// Loads one given file into the tables, exactly as loadRegisterTables does once it has chosen
// the file (no messages). `firmwareVersion` is left 0.
bool loadRegisterFile(const std::string& path, RegisterTables& tables, std::string* failure = nullptr);

} // namespace kt
