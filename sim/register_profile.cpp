#include "sim/register_profile.h"

#include "monitor/register_codec.h"
#include "monitor/register_tables.h"

#include <algorithm>
#include <memory>

namespace kt::sim {

namespace {

bool noList(std::string_view translationType) {
    return translationType.empty() || translationType == "0";
}

// Limits as the configuration grid finds them: MIN and MAX of the register's first row, or, when
// both are 0, the list of its RANGE rule.
void readLimits(const RegisterDataset& ds, DescribedRegister& d) {
    RowView rows = ds.rowsOfRegister(static_cast<int64_t>(d.reg));
    auto first = rows.first();
    if (!first) return;
    const int64_t min = first->numberOr("MIN", 0), max = first->numberOr("MAX", 0);
    if (min != 0 || max != 0) {
        d.min = min;
        d.max = max;
        return;
    }
    for (DatasetRow row : rows) {
        const int64_t source = row.numberOr("DEPENDENCY", 0);
        const std::string_view kind = row.text("D_TYPE");
        const std::string_view list = row.text("D_LIST");
        if (source <= 0 || list.empty() || (kind != "RANGE" && !kind.empty())) continue;
        d.rangeSource = static_cast<int>(source);
        d.ranges.clear();
        for (DatasetRow entry : ds.dependencyList(list)) {
            auto value = entry.number("D_VALUE"), lo = entry.number("MIN"), hi = entry.number("MAX");
            if (value && lo && hi) d.ranges.push_back({*value, *lo, *hi});
        }
        return;
    }
}

} // namespace

int DescribedRegister::wordCount() const {
    return valueTypeRegisterCount(type);
}

const DescribedRegister* RegisterProfile::at(int reg) const {
    auto it = std::lower_bound(registers.begin(), registers.end(), reg,
                               [](const DescribedRegister& d, int r) { return d.reg < r; });
    return it != registers.end() && it->reg == reg ? &*it : nullptr;
}

const DescribedRegister* RegisterProfile::find(std::string_view label) const {
    auto it = std::find_if(registers.begin(), registers.end(),
                           [&](const DescribedRegister& d) { return d.label == label; });
    return it == registers.end() ? nullptr : &*it;
}

std::vector<const DescribedRegister*> RegisterProfile::ofType(int type) const {
    std::vector<const DescribedRegister*> out;
    for (const auto& d : registers)
        if (d.type == type) out.push_back(&d);
    return out;
}

int registerFileVersion(uint16_t firmware) {
    return (firmware & 0x7FFF) / 10 * 10;
}

ProfileLoad loadRegisterProfile(const std::string& resourcesFolder, uint16_t firmware, uint16_t modelType) {
    ProfileLoad result;
    // The tables are large; a private set, so the simulator never touches the process's own.
    auto tables = std::make_unique<RegisterTables>();
    RegisterLoadOptions options;
    options.tables = tables.get();
    options.resourcesFolder = resourcesFolder;
    options.failure = &result.failure;
    const int requested = registerFileVersion(firmware);
    if (!loadRegisterTables(std::to_string(requested), std::to_string(modelType), options)) return result;

    RegisterProfile p;
    p.path = tables->dataset.fileName();
    p.version = tables->firmwareVersion;
    p.requestedVersion = requested;
    for (int r = 0; r < RegisterTableSize; ++r) {
        const RegisterDescriptor& desc = tables->RegisterTable[r];
        if (desc.type <= 0) continue;
        DescribedRegister d;
        d.reg = r;
        d.label = desc.label;
        d.type = desc.type;
        d.access = desc.access;
        d.translationType = desc.translationType;
        if (!noList(d.translationType)) {
            for (DatasetRow row : tables->dataset.translationList(d.translationType))
                if (auto index = row.number("TRANSLATIONINDEX")) d.listIndexes.push_back(*index);
            std::sort(d.listIndexes.begin(), d.listIndexes.end());
            d.listIndexes.erase(std::unique(d.listIndexes.begin(), d.listIndexes.end()), d.listIndexes.end());
        }
        readLimits(tables->dataset, d);
        p.registers.push_back(std::move(d));
    }
    for (size_t k = 0; k < tables->EventRegisters.size() && k < EventFieldCount; ++k) {
        const int reg = tables->EventRegisters[k];
        p.eventLayout.push_back({static_cast<EventField>(k), reg, tables->RegisterTable[reg].type});
    }
    result.profile = std::move(p);
    return result;
}

} // namespace kt::sim
