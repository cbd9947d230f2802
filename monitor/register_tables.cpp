#include "monitor/register_tables.h"

#include "link/platform/program_folder.h"

#include "monitor/device_rules.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <map>


namespace kt {

namespace {

// Columns the loader reads; TITLE and WARNING are optional.
constexpr const char* RequiredColumns[] = {"GROUP",  "REGISTER", "LABEL",   "TYPE", "TRANSLATIONTYPE",
                                           "ACCESS", "S_ORDER",  "G_ORDER", "MAIN", "NAMEINDEX",
                                           "DISPLAY"};

bool isBlank(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c == ' ' || c == '\t'; });
}

std::string quoted(std::string_view s) {
    return "\"" + std::string(s) + "\"";
}

std::string versionText(int v) {
    std::string frac = std::to_string(v % 100);
    if (frac.size() < 2) frac.insert(0, "0");
    return std::to_string(v / 100) + "." + frac;
}

// Rows the tables could not take, each with the first reason found.
class SkipLog {
public:
    void add(const DatasetRow& row, std::string reason) {
        skipped_.try_emplace(row.index(), std::move(reason));
    }
    std::vector<SkippedRow> rows() const {
        std::vector<SkippedRow> out;
        for (auto& [row, reason] : skipped_) out.push_back({row, reason});
        return out;
    }

private:
    std::map<uint32_t, std::string> skipped_;
};

// An integer column read the loader's way: empty is 0 (as an empty field reads), a text that is
// not a 32-bit number is an error.
std::optional<int32_t> readInt(const DatasetRow& row, int col, const char* name, SkipLog& skips) {
    std::string_view text = row.text(col);
    if (isBlank(text)) return 0;
    auto n = row.number(col);
    if (!n || *n < std::numeric_limits<int32_t>::min() || *n > std::numeric_limits<int32_t>::max()) {
        skips.add(row, std::string(name) + " " + quoted(text) + " is not a number");
        return std::nullopt;
    }
    return static_cast<int32_t>(*n);
}

// REGISTER of a row that must describe a register of the table.
std::optional<int32_t> readRegister(const DatasetRow& row, int col, SkipLog& skips) {
    std::string_view text = row.text(col);
    if (isBlank(text)) {
        skips.add(row, "REGISTER is empty");
        return std::nullopt;
    }
    auto n = row.number(col);
    if (!n) {
        skips.add(row, "REGISTER " + quoted(text) + " is not a number");
        return std::nullopt;
    }
    if (*n < 0 || *n >= RegisterTableSize) {
        skips.add(row, "REGISTER " + std::to_string(*n) + " lies outside the register table (0..249)");
        return std::nullopt;
    }
    return static_cast<int32_t>(*n);
}

void scanGroups(RegisterTables& t, SkipLog& skips) {
    const RegisterDataset& ds = t.dataset;
    const int order = ds.columnIndex("G_ORDER"), main = ds.columnIndex("MAIN"),
              nameIndex = ds.columnIndex("NAMEINDEX"), title = ds.columnIndex("TITLE"),
              display = ds.columnIndex("DISPLAY");
    // G_ORDER is read as a number whatever the file declares it as, so the scan's stop at 999
    // holds for every file.
    RowView all = ds.all();
    std::vector<DatasetRow> rows(all.begin(), all.end());
    std::stable_sort(rows.begin(), rows.end(), [&](const DatasetRow& a, const DatasetRow& b) {
        auto na = a.number(order), nb = b.number(order);
        if (!na || !nb) return !na && nb;
        return *na < *nb;
    });
    for (const DatasetRow& row : rows) {
        auto g = row.number(order);
        if (!g) {
            // An empty G_ORDER puts a row in no group, like 999.
            if (!isBlank(row.text(order)))
                skips.add(row, "G_ORDER " + quoted(row.text(order)) + " is not a number");
            continue;
        }
        if (*g >= NoGroupOrder) break;
        if (*g < 0 || *g >= RegisterGroupCount) {
            skips.add(row, "G_ORDER " + std::to_string(*g) +
                               " lies outside the group table (0..99; 999 and above for rows of no group)");
            continue;
        }
        RegisterGroup& group = t.RegisterGroups[*g];
        group.main = row.text(main);
        group.nameIndex = row.text(nameIndex);
        group.title = title >= 0 ? row.text(title) : row.text(main);
        group.display = row.text(display) == "YES";
        t.lastGroupIndex = static_cast<int32_t>(*g);
    }
}

void listEventRegisters(RegisterTables& t, SkipLog& skips) {
    const int reg = t.dataset.columnIndex("REGISTER");
    for (DatasetRow row : t.dataset.select({equals("GROUP", EventsGroup)}, "S_ORDER")) {
        auto r = readRegister(row, reg, skips);
        if (!r) continue;
        if (t.EventRegisters.size() >= EventRegisterCapacity) {
            skips.add(row, "the event register list is full (148 registers)");
            continue;
        }
        t.EventRegisters.push_back(*r);
    }
    t.eventRegisterCount = static_cast<int32_t>(t.EventRegisters.size());
}

void describeRegisters(RegisterTables& t, SkipLog& skips) {
    const RegisterDataset& ds = t.dataset;
    const int reg = ds.columnIndex("REGISTER"), label = ds.columnIndex("LABEL"),
              type = ds.columnIndex("TYPE"), translation = ds.columnIndex("TRANSLATIONTYPE"),
              warning = ds.columnIndex("WARNING"), access = ds.columnIndex("ACCESS");
    for (int g = 0; g <= t.lastGroupIndex; ++g) {
        const RegisterGroup& group = t.RegisterGroups[g];
        // No row set this group (a gap in G_ORDER): it has no key, and "" would select every row
        // of no group.
        if (group.main.empty()) continue;
        for (DatasetRow row : ds.select({equals("GROUP", group.main)}, "S_ORDER")) {
            auto r = readRegister(row, reg, skips);
            if (!r) continue;
            auto ty = readInt(row, type, "TYPE", skips);
            auto ac = readInt(row, access, "ACCESS", skips);
            if (!ty || !ac) continue;
            RegisterDescriptor& d = t.RegisterTable[*r];
            d.label = row.text(label);
            d.type = *ty;
            d.translationType = row.text(translation);
            d.warning = warning >= 0 ? std::string(row.text(warning)) : std::string();
            d.access = *ac;
            t.pollCount = std::min(std::max(t.pollCount, *r + 4), MaxPollCount);
        }
    }
}

// Loads the chosen file into tables that were just reset.
bool loadChosenFile(const std::string& path, RegisterTables& t, std::string* failure) {
    RegisterDataset ds;
    std::string why;
    if (!ds.loadFile(path, &why)) {
        if (failure) *failure = why;
        return false;
    }
    std::string missing;
    for (const char* column : RequiredColumns) {
        if (ds.hasColumn(column)) continue;
        missing += missing.empty() ? "" : ", ";
        missing += column;
    }
    if (!missing.empty()) {
        if (failure)
            *failure =
                path + ": missing column" + (missing.find(',') != std::string::npos ? "s " : " ") + missing;
        return false;
    }
    t.dataset = std::move(ds);
    SkipLog skips;
    scanGroups(t, skips);
    listEventRegisters(t, skips);
    describeRegisters(t, skips);
    t.skippedRows = skips.rows();
    return true;
}

bool isFile(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

} // namespace

std::array<RegisterDescriptor, RegisterTableSize> presetRegisterTable() {
    std::array<RegisterDescriptor, RegisterTableSize> table{};
    struct Preset {
        int reg;
        const char* label;
        int type;
    };
    static constexpr Preset presets[] = {{0, "DB_MODEL_CODE", 1},
                                         {1, "DB_FIRMWARE_VERSION", 1},
                                         {2, "DB_SERIAL_NUMBER", 2},
                                         {3, "DB_SERIAL_NUMBER", 0},
                                         {4, "DB_MODEL_TYPE", 1}};
    for (const Preset& p : presets) table[p.reg] = {p.label, p.type, "0", "0", 0};
    return table;
}

RegisterTables::RegisterTables() : RegisterTable(presetRegisterTable()) {}

void RegisterTables::reset() {
    RegisterTable = presetRegisterTable();
    RegisterValues.fill(RegisterValue{});
    RegisterGroups.fill(RegisterGroup{});
    EventRegisters.clear();
    eventRegisterCount = 0;
    lastGroupIndex = -1;
    pollCount = 0;
    firmwareVersion = 0;
    dataset = RegisterDataset();
    skippedRows.clear();
}

RegisterTables& registerTables() {
    static RegisterTables tables;
    return tables;
}

std::string registerText(int reg, int type) {
    return registerText(registerTables().RegisterCache, reg, type);
}

std::string_view registerFileSuffix(std::string_view modelType) {
    auto n = parseDatasetInteger(modelType);
    return n ? registerFileSuffixFor(*n) : "";
}

std::string registerFilePath(const std::string& folder, std::string_view suffix, int version) {
    std::string name = "registers" + std::string(suffix) + "_" + std::to_string(version) + ".xml";
    return (std::filesystem::path(folder) / name).string();
}

std::string resourcesFolderBesideProgram() {
    std::filesystem::path folder = platform::programFolder();
    if (folder.empty()) folder = ".";
    return (folder / "resources").string();
}

std::string fallbackMessage(int requested, int found) {
    return "No file found for Version " + versionText(requested) + ", using Version " + versionText(found) +
           " instead.\nSome items might not be displayed properly.\nPlease check " + ProductWebPage +
           " for a new version of KT-MON740.";
}

bool loadRegisterTables(std::string_view version, std::string_view modelType,
                        const RegisterLoadOptions& options) {
    RegisterTables& t = options.tables ? *options.tables : registerTables();
    auto show = [&](const std::string& text) {
        if (options.messages && !(options.stopRequested && options.stopRequested()))
            options.messages->showMessage(text, CannotOpenFileTitle);
    };
    auto fail = [&](const std::string& why) {
        if (options.failure) *options.failure = why;
        show(NoRegisterFileText);
        return false;
    };
    t.reset();

    auto requested = parseDatasetInteger(version);
    if (!requested || *requested < 0 || *requested > 0x7FFF)
        return fail("the firmware version " + quoted(version) + " is not a version number");
    const std::string folder =
        options.resourcesFolder.empty() ? resourcesFolderBesideProgram() : options.resourcesFolder;
    const std::string_view suffix = registerFileSuffix(modelType);

    int v = static_cast<int>(*requested);
    bool fellBack = false;
    std::string path = registerFilePath(folder, suffix, v);
    while (!isFile(path)) {
        v -= 10;
        if (v < OldestRegisterFileVersion)
            return fail("no register file registers" + std::string(suffix) + "_" +
                        std::to_string(*requested) + ".xml, nor one for an earlier version down to " +
                        std::to_string(OldestRegisterFileVersion) + ", in " + folder);
        fellBack = true;
        path = registerFilePath(folder, suffix, v);
    }
    t.firmwareVersion = firmwareNumber(v);
    if (fellBack) show(fallbackMessage(static_cast<int>(*requested), v));

    std::string why;
    if (!loadChosenFile(path, t, &why)) return fail(why);
    return true;
}

bool loadRegisterTables(std::string_view version, std::string_view modelType) {
    static StderrMessageSink stderrSink;
    RegisterLoadOptions options;
    options.messages = &stderrSink;
    return loadRegisterTables(version, modelType, options);
}

bool loadRegisterFile(const std::string& path, RegisterTables& tables, std::string* failure) {
    tables.reset();
    return loadChosenFile(path, tables, failure);
}

} // namespace kt
