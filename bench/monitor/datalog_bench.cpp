// Appending one data-log line of the largest unit's grids (about 250 rows): it runs on the GUI
// thread on every second poll pass, inside the status refresh.
#include "bench/monitor/datalog_bench_grid.h"
#include "tests/support/process.h"

#include <benchmark/benchmark.h>

#include <filesystem>

using namespace kt;

namespace {

// Building the columns alone, without the file.
void BM_BuildCurrentUnitColumns(benchmark::State& state) {
    bench::BenchGrid g = bench::benchGrid();
    std::span<const DatalogGridRow> rows(g.rows);
    DatalogColumns columns;
    for (auto _ : state) {
        currentUnitColumns({rows.first(rows.size() / 2), rows.subspan(rows.size() / 2), "12.50", "250.00"},
                           columns);
        benchmark::DoNotOptimize(columns.values.data());
    }
    state.SetLabel(std::to_string(g.rows.size()) + " rows, " + std::to_string(columns.values.size()) +
                   " bytes");
}
BENCHMARK(BM_BuildCurrentUnitColumns)->Repetitions(5)->ReportAggregatesOnly(true);

// One line appended to the day's file: columns, open, one write, close.
void BM_AppendCurrentUnitLine(benchmark::State& state) {
    bench::BenchGrid g = bench::benchGrid();
    std::span<const DatalogGridRow> rows(g.rows);
    test::TempDir dir;
    ClockFields now;
    now.year = 2026;
    now.month = 3;
    now.day = 12;
    DatalogWriter writer([&] { return now; });
    DatalogSettings s;
    s.datalog_enable = true;
    s.datalogFolder = dir.str() + "/";
    s.datalogHeaderPending = true;
    const DatalogUnitTexts unit{"KT-740", "Firmware Version: 3.20"};
    int64_t lines = 0;
    for (auto _ : state) {
        now.second = int(lines % 60);
        auto r = writer.writeCurrentUnitLine(
            s, unit, {rows.first(rows.size() / 2), rows.subspan(rows.size() / 2), "12.50", "250.00"});
        if (!r.written) state.SkipWithError("the line was not written");
        ++lines;
    }
    state.SetLabel(std::filesystem::path(g.registerFile).filename().string() + ", " +
                   std::to_string(g.rows.size()) + " rows");
}
BENCHMARK(BM_AppendCurrentUnitLine)->Iterations(5000)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace
