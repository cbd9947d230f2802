// Loading a day's data log (86 400 lines of the largest unit's columns) into the trend view:
// the reader, the samples and the widget's update, and the same with the first paint.
#include "bench/monitor/datalog_bench_grid.h"
#include "monitor/datalog_reader.h"
#include "tests/support/process.h"
#include "ui/trend_view.h"

#include <QApplication>
#include <QtCharts/QLineSeries>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

using namespace kt;

namespace {

constexpr int DayLines = 86'400;

const ClockFields& march12() {
    static ClockFields c = [] {
        ClockFields t;
        t.year = 2026;
        t.month = 3;
        t.day = 12;
        return t;
    }();
    return c;
}

// One line a second for a whole day, written once for all benchmarks.
const std::string& dayLog() {
    static test::TempDir dir;
    static std::string path = [] {
        bench::BenchGrid g = bench::benchGrid();
        std::vector<size_t> metered;
        for (size_t i = 0; i < g.labels.size(); ++i)
            if (g.labels[i].find("NGR Current (% FS)") != std::string::npos ||
                g.labels[i].find("NGR Voltage (% Setting)") != std::string::npos)
                metered.push_back(i);
        std::string file = dir.file("KT-740_12345_0312.txt");
        std::ofstream out(file, std::ios::binary);
        DatalogColumns columns;
        std::string text;
        for (int s = 0; s < DayLines; ++s) {
            for (size_t i : metered) g.values[i] = std::to_string((s / 7 + i) % 101);
            for (size_t i = 0; i < g.rows.size(); ++i) g.rows[i].value = g.values[i];
            std::span<const DatalogGridRow> rows(g.rows);
            currentUnitColumns({rows.first(rows.size() / 2), rows.subspan(rows.size() / 2),
                                std::to_string(s % 500 / 100.0), "250.00"},
                               columns);
            if (s == 0)
                text = "\xEF\xBB\xBF" + datalogHeaderBlock({"KT-740", "Firmware Version: 3.20"}, columns);
            ClockFields t = march12();
            t.hour = s / 3600;
            t.minute = s / 60 % 60;
            t.second = s % 60;
            text += datalogTimeText(t);
            text += columns.values;
            text += "\r\n";
            if (text.size() > (8u << 20)) {
                out << text;
                text.clear();
            }
        }
        out << text;
        return file;
    }();
    return path;
}

std::string sizeLabel() {
    auto bytes = std::filesystem::file_size(dayLog());
    return std::to_string(DayLines) + " lines, " + std::to_string(bytes >> 20) + " MiB";
}

void BM_ReadDayLog(benchmark::State& state) {
    const std::string& path = dayLog();
    for (auto _ : state) {
        DatalogReadResult r = readDatalogFile(path, march12());
        if (!r.ok() || r.samples.size() != DayLines) state.SkipWithError("the log was not read whole");
        benchmark::DoNotOptimize(r.samples.data());
    }
    state.SetLabel(sizeLabel());
}
BENCHMARK(BM_ReadDayLog)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void loadInto(TrendView& view, benchmark::State& state) {
    QString error = view.loadFile(QString::fromStdString(dayLog()));
    if (!error.isEmpty()) state.SkipWithError(error.toStdString().c_str());
    view.refresh();
    QApplication::processEvents();
}

// Reader, samples and the decimated series, as the window would load a file.
void BM_LoadDayIntoTrendView(benchmark::State& state) {
    TrendView view;
    view.resize(1200, 600);
    view.show();
    QApplication::processEvents();
    for (auto _ : state) loadInto(view, state);
    state.SetLabel(sizeLabel() + ", " + std::to_string(view.currentSeries()->count()) + " points drawn");
}
BENCHMARK(BM_LoadDayIntoTrendView)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

// The same, and the view painted once.
void BM_LoadDayIntoTrendViewAndPaint(benchmark::State& state) {
    TrendView view;
    view.resize(1200, 600);
    view.show();
    QApplication::processEvents();
    for (auto _ : state) {
        loadInto(view, state);
        benchmark::DoNotOptimize(view.grab());
    }
    state.SetLabel(sizeLabel());
}
BENCHMARK(BM_LoadDayIntoTrendViewAndPaint)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// A live sample added to a full day and drawn (once a second while connected).
void BM_AppendSampleToFullDay(benchmark::State& state) {
    TrendView view;
    view.resize(1200, 600);
    view.show();
    std::vector<DatalogSample> day;
    for (int s = 0; s < DayLines; ++s)
        day.push_back({int64_t(s) * 1000, float(s % 101), float(s % 37), 1.0f, 2.0f});
    view.setSamples(std::move(day));
    view.refresh();
    int64_t t = int64_t(DayLines) * 1000;
    for (auto _ : state) {
        view.appendSample({t, 50, 20, 2.5f, 100.0f});
        t += 1000;
        view.refresh();
    }
}
BENCHMARK(BM_AppendSampleToFullDay)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
