// Reading the preferences at start-up from a file of a normal size and from damaged files of
// 100 MB: the time, and the process's peak resident memory (VmHWM). Run one damaged case per
// process (--benchmark_filter) to see its own peak.
#include "prefs/qsettings_store.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fstream>
#include <string>

namespace {

long statusKb(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with(field + ":")) return std::stol(line.substr(field.size() + 1));
    return -1;
}

const QByteArray GoodLines = "port=/dev/ttyUSB0\nuse_settings=true\nrunning=true\nct_primary=400\n";

enum Kind { Normal, HugeValue, ManyLines };

// Normal: a full file as the program writes it. HugeValue: a 100 MB FileName line among good
// values. ManyLines: a million junk lines of 100 bytes, then the good values.
QString makeFile(const QTemporaryDir& dir, Kind kind) {
    QString path = dir.filePath(QString("prefs%1.ini").arg(int(kind)));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return {};
    f.write("[Preferences]\n");
    f.write(GoodLines);
    constexpr qint64 Total = 100LL * 1000 * 1000;
    if (kind == HugeValue) {
        f.write("FileName=");
        QByteArray chunk(1 << 20, 'x');
        for (qint64 n = 0; n < Total; n += chunk.size()) f.write(chunk);
        f.write("\n");
    } else if (kind == ManyLines) {
        QByteArray line = "junk" + QByteArray(94, 'j') + "=\n";
        QByteArray block;
        for (int i = 0; i < 10000; ++i) block += line;
        for (qint64 n = 0; n < Total; n += block.size()) f.write(block);
    }
    f.write("save_rate=3\n");
    return path;
}

void BM_LoadPreferences(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = makeFile(dir, Kind(state.range(0)));
    if (path.isEmpty()) {
        state.SkipWithError("cannot write the preferences file");
        return;
    }
    kt::ProgramPreferences p;
    for (auto _ : state) {
        kt::QSettingsPreferencesStore store(path);
        auto report = kt::loadPreferences(p, store);
        benchmark::DoNotOptimize(report);
    }
    state.counters["running_kept"] = p.running ? 1 : 0;
    state.counters["VmHWM_kB"] = double(statusKb("VmHWM"));
}
BENCHMARK(BM_LoadPreferences)
    ->ArgName("kind") // 0 normal, 1 a 100 MB value, 2 100 MB of junk lines
    ->Arg(Normal)
    ->Arg(HugeValue)
    ->Arg(ManyLines)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
