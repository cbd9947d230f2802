// The status refresh after a poll pass (UpdateUnitStatus without widgets) for the largest shipped
// register file: every grid row translated and its dependency rules looked up, the DB_ label pass,
// the trip and device status, amperes and volts, captions. The window's whole refresh must stay
// under 2 ms; this is the part the core computes.
//
//   bench_status_view --benchmark_filter=StatusView
#include "monitor/status_decoding.h"

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

// A pass of that file with small register values, so that the value lists match and every
// translation takes its longest road.
PassSnapshot makePass() {
    auto tables = std::make_shared<RegisterTables>();
    if (!loadRegisterFile(largestShippedFile(), *tables)) std::abort();
    tables->firmwareVersion = 320;
    PassSnapshot pass;
    std::mt19937 rng(740);
    for (auto& w : pass.cache) w = static_cast<uint16_t>(rng() % 3);
    pass.cache[1] = 320;
    pass.cache[199] = 1;
    for (int r = 0; r < RegisterTableSize; ++r) {
        const RegisterDescriptor& d = tables->RegisterTable[static_cast<size_t>(r)];
        if (d.type > 0)
            pass.values[static_cast<size_t>(r)] = {d.translationType, d.label,
                                                   registerText(pass.cache, r, d.type), d.access, d.warning};
    }
    pass.tables = tables;
    return pass;
}

void BM_StatusViewRefresh(benchmark::State& state) {
    const PassSnapshot pass = makePass();
    UnitStatusState st;
    CtVoltageSelection sel;
    sel.ct_selected = true;
    UnitStatusView view;
    UpdateUnitStatus(pass, st, sel, view); // the first refresh lays the pages out
    for (auto _ : state) {
        UpdateUnitStatus(pass, st, sel, view);
        benchmark::DoNotOptimize(view.values.data());
    }
    state.counters["grid rows"] = static_cast<double>(view.statusGrid.size() + view.configGrid.size());
}
BENCHMARK(BM_StatusViewRefresh)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

// The first refresh of a connection: the grids are built from the description table as well.
void BM_StatusViewFirstRefresh(benchmark::State& state) {
    const PassSnapshot pass = makePass();
    for (auto _ : state) {
        UnitStatusState st;
        CtVoltageSelection sel;
        UnitStatusView view;
        UpdateUnitStatus(pass, st, sel, view);
        benchmark::DoNotOptimize(view.configGrid.data());
    }
}
BENCHMARK(BM_StatusViewFirstRefresh)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace
