#pragma once

// The status and configuration grids of the largest shipped register file, grown to about 250
// rows: what a data-log line of the largest unit is made of.

#include "monitor/datalog.h"
#include "monitor/register_tables.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace kt::bench {

struct BenchGrid {
    std::vector<std::string> labels;
    std::vector<std::string> values;
    std::vector<DatalogGridRow> rows;
    std::string registerFile;
};

inline std::string largestRegisterFile() {
    std::string best;
    std::uintmax_t bestSize = 0;
    for (auto& e : std::filesystem::directory_iterator(std::string(KT_BIN_DIR) + "/resources")) {
        if (!e.path().filename().string().starts_with("registers")) continue;
        if (e.file_size() > bestSize) {
            bestSize = e.file_size();
            best = e.path().string();
        }
    }
    return best;
}

// Titles and registers of every group, repeated until `rowCount` rows; values like a unit's.
inline BenchGrid benchGrid(size_t rowCount = 250) {
    BenchGrid g;
    g.registerFile = largestRegisterFile();
    auto tables = std::make_unique<RegisterTables>();
    if (!loadRegisterFile(g.registerFile, *tables)) std::abort();
    std::vector<std::pair<std::string, bool>> source; // label, title row
    std::string group;
    for (DatasetRow row : tables->dataset.all("G_ORDER")) {
        if (row.text("REGISTER").empty()) continue;
        if (row.text("TITLE") != group) {
            group = std::string(row.text("TITLE"));
            source.emplace_back(group, true);
        }
        source.emplace_back("  " + std::string(row.text("SETTING")), false);
    }
    for (size_t i = 0; g.labels.size() < rowCount; ++i) {
        const auto& [label, title] = source[i % source.size()];
        g.labels.push_back(label);
        g.values.push_back(title ? "" : std::to_string(1000 + i * 37 % 9000));
    }
    for (size_t i = 0; i < g.labels.size(); ++i) g.rows.push_back({g.labels[i], g.values[i]});
    return g;
}

} // namespace kt::bench
