// Start-up of the main window to its first paint, and the program's resident memory after a
// minute connected to the simulated relay (KT_BENCH_CONNECTED_SECONDS shortens the minute).
#include "prefs/qsettings_store.h"
#include "tests/support/sim_process.h"
#include "ui/main_form.h"
#include "ui/message_box.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include <benchmark/benchmark.h>

#include <fstream>
#include <string>

namespace {

QString settingsFolder() {
    static QTemporaryDir dir;
    return dir.path();
}

// Resident and peak resident size of this process in kB, from /proc/self/status.
long statusKb(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with(field + ":")) return std::stol(line.substr(field.size() + 1));
    return -1;
}

class PaintSpy : public QObject {
public:
    bool painted = false;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) painted = true;
        return false;
    }
};

kt::MainFormOptions options(kt::PreferencesStore& store) {
    kt::MainFormOptions o;
    o.store = &store;
    o.programFolder = KT_BIN_DIR;
    return o;
}

// Construction (preferences, port list, device template), show, and the first paint.
void BM_StartupToFirstPaint(benchmark::State& state) {
    const QString ini = settingsFolder() + "/startup.ini";
    for (auto _ : state) {
        kt::QSettingsPreferencesStore store(ini);
        kt::TMainForm window(options(store));
        PaintSpy spy;
        window.installEventFilter(&spy);
        window.show();
        while (!spy.painted) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        state.PauseTiming();
        window.removeEventFilter(&spy);
        window.close();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StartupToFirstPaint)->Unit(benchmark::kMillisecond)->UseRealTime();

// One status refresh of the connected window (values, labels, grids and pages) for a pass of the
// largest register file, with the window shown on its Detailed Status page. The pass is the
// window's own last one, handed to it again; the link is paused so no other pass interferes.
void BM_StatusRefreshLargestFile(benchmark::State& state) {
    kt::test::SimProcess sim({"--tcp", "127.0.0.1:0", "--firmware", "320", "--comm-option", "6", "--set", "199=1"});
    kt::QSettingsPreferencesStore store(settingsFolder() + "/refresh.ini");
    kt::MainFormOptions o = options(store);
    o.connectLink = *kt::parseLink(sim.tcpLink());
    kt::TMainForm window(std::move(o));
    window.show();
    QElapsedTimer clock;
    clock.start();
    while (window.refreshCount() < 3 && clock.elapsed() < 20000) QTest::qWait(20);
    kt::PassSnapshotPtr pass = window.lastPass();
    if (!pass) {
        state.SkipWithError("the window did not come online");
        return;
    }
    if (auto* pages = window.findChild<QTabWidget*>("PageControl1"))
        for (int i = 0; i < pages->count(); ++i)
            if (pages->tabText(i) == "Detailed Status") pages->setCurrentIndex(i);
    if (!sim.freeze()) {
        state.SkipWithError("the simulator did not stop");
        return;
    }
    for (auto _ : state) {
        window.UpdateUnitStatus(pass);
        // The repaint the refresh asked for belongs to its cost.
        QCoreApplication::processEvents();
    }
    sim.thaw();
    window.close();
}
BENCHMARK(BM_StatusRefreshLargestFile)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_ResidentMemoryConnected(benchmark::State& state) {
    int seconds = 60;
    if (const char* s = std::getenv("KT_BENCH_CONNECTED_SECONDS")) seconds = std::max(1, std::atoi(s));
    for (auto _ : state) {
        kt::test::SimProcess sim(
            {"--tcp", "127.0.0.1:0", "--firmware", "300", "--comm-option", "6", "--set", "199=1"});
        kt::QSettingsPreferencesStore store(settingsFolder() + "/connected.ini");
        kt::MainFormOptions o = options(store);
        o.connectLink = *kt::parseLink(sim.tcpLink());
        kt::TMainForm window(std::move(o));
        window.show();
        const long startedKb = statusKb("VmRSS");
        QTest::qWait(seconds * 1000);
        auto* status = window.findChild<QLabel*>("netstatus_P");
        if (!status || status->text() != "ONLINE") {
            state.SkipWithError("the window did not stay online");
            break;
        }
        state.counters["refreshes"] = window.refreshCount();
        state.counters["VmRSS_started_kB"] = static_cast<double>(startedKb);
        state.counters["VmRSS_kB"] = static_cast<double>(statusKb("VmRSS"));
        state.counters["VmHWM_kB"] = static_cast<double>(statusKb("VmHWM"));
        window.close();
    }
}
BENCHMARK(BM_ResidentMemoryConnected)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("XDG_CONFIG_HOME", settingsFolder().toLocal8Bit());
    QApplication app(argc, argv);
    // A message box would stop the measurement; none is expected, so any is answered at once.
    kt::setMessageHook([](const QString& text, const QString&, int) {
        std::fprintf(stderr, "bench_ui: unexpected message: %s\n", text.toLocal8Bit().constData());
        return kt::MessageResult::Ok;
    });
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
