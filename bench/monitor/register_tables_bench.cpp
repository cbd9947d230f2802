// Loading a register file and converting a poll pass: both run for every connection / every
// 750 ms pass, the second on the polling thread just before the synchronous GUI hand-over.
#include "monitor/register_tables.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>

using namespace kt;

namespace {

std::string largestShippedFile() {
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

RegisterTables& loadedTables() {
    static RegisterTables t = [] {
        RegisterTables tables;
        if (!loadRegisterFile(largestShippedFile(), tables)) std::abort();
        std::mt19937 rng(740);
        for (auto& w : tables.RegisterCache) w = static_cast<uint16_t>(rng());
        return tables;
    }();
    return t;
}

void BM_LoadLargestShippedFile(benchmark::State& state) {
    const std::string path = largestShippedFile();
    auto tables = std::make_unique<RegisterTables>();
    for (auto _ : state) {
        bool ok = loadRegisterFile(path, *tables);
        benchmark::DoNotOptimize(ok);
    }
    state.SetLabel(std::filesystem::path(path).filename().string() + ", " +
                   std::to_string(tables->dataset.rowCount()) + " rows");
}
BENCHMARK(BM_LoadLargestShippedFile)->Unit(benchmark::kMillisecond);

// The poll pass as the engine makes it: every described register into its value text.
void BM_PollPassConversion(benchmark::State& state) {
    RegisterTables& t = loadedTables();
    for (auto _ : state) {
        for (int r = 0; r < t.pollCount; ++r) {
            const RegisterDescriptor& d = t.RegisterTable[r];
            if (d.type <= 0) continue;
            registerTextInto(t.RegisterValues[r].value, t.RegisterCache, r, d.type);
        }
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_PollPassConversion)->Unit(benchmark::kMicrosecond);

// All 250 registers with every type code in turn, each into a fresh string: the worst case.
void BM_RegisterTextAll250(benchmark::State& state) {
    RegisterTables& t = loadedTables();
    for (auto _ : state) {
        for (int r = 0; r < RegisterTableSize; ++r) {
            std::string text = registerText(t.RegisterCache, r, 1 + r % 19);
            benchmark::DoNotOptimize(text);
        }
    }
}
BENCHMARK(BM_RegisterTextAll250)->Unit(benchmark::kMicrosecond);

// What one status refresh looks up for each described register: its own rows (dependency
// rules) and its translation text; indexed, then with the plain filter and order.
void BM_RefreshLookupsIndexed(benchmark::State& state) {
    RegisterTables& t = loadedTables();
    const RegisterDataset& ds = t.dataset;
    for (auto _ : state) {
        size_t n = 0;
        for (int r = 0; r < t.pollCount; ++r) {
            const RegisterDescriptor& d = t.RegisterTable[r];
            if (d.type <= 0) continue;
            n += ds.rowsOfRegister(int64_t{r}).size();
            n += ds.translationRows(d.translationType, "1").size();
        }
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(BM_RefreshLookupsIndexed)->Unit(benchmark::kMicrosecond);

void BM_RefreshLookupsPlainQueries(benchmark::State& state) {
    RegisterTables& t = loadedTables();
    const RegisterDataset& ds = t.dataset;
    for (auto _ : state) {
        size_t n = 0;
        for (int r = 0; r < t.pollCount; ++r) {
            const RegisterDescriptor& d = t.RegisterTable[r];
            if (d.type <= 0) continue;
            std::string reg = std::to_string(r);
            n += ds.select({equals("REGISTER", reg)}, "REGISTER").size();
            n += ds.select({equals("TRANSLATIONTYPE", d.translationType), equals("TRANSLATIONINDEX", "1")})
                     .size();
        }
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(BM_RefreshLookupsPlainQueries)->Unit(benchmark::kMicrosecond);

} // namespace
