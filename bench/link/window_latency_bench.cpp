// How late the window's event loop runs while a silent serial unit makes a write retry for its
// full time. The window is online over the simulator's RTU line; the simulator is then stopped
// (SIGSTOP, so nothing answers) and Set Date/Time is asked for: its register write goes through
// all three attempts of up to 3 x 500 ms of receive waits each (and the drain of a late answer
// after each), behind a poll pass that fails the same way. A 5 ms timer on the GUI thread records
// how late it fires until the window reports the write as failed. The goal: under 50 ms.
#include "prefs/qsettings_store.h"
#include "tests/support/sim_process.h"
#include "ui/main_form.h"
#include "ui/message_box.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest/QTest>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <csignal>
#include <vector>

namespace {

QString settingsFolder() {
    static QTemporaryDir dir;
    return dir.path();
}

// Messages the window shows while measured: the question is answered Yes, the rest recorded.
std::vector<QString>& shown() {
    static std::vector<QString> messages;
    return messages;
}

// Lateness of a repeating timer, in milliseconds, one entry per firing.
class LoopLatency : public QObject {
public:
    explicit LoopLatency(int intervalMs) : interval_(intervalMs) {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(intervalMs);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] {
            const qint64 now = clock_.nsecsElapsed();
            if (last_ >= 0) late_.push_back(std::max(0.0, (now - last_) / 1e6 - interval_));
            last_ = now;
        });
        clock_.start();
        timer_.start();
    }
    const std::vector<double>& late() const { return late_; }

private:
    const int interval_;
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = -1;
    std::vector<double> late_;
};

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QTest::qWait(20);
    }
    return true;
}

void BM_EventLoopWhileASilentUnitIsWritten(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        kt::test::SimProcess sim({"--rtu", "--firmware", "300", "--set", "199=1"});
        kt::QSettingsPreferencesStore store(settingsFolder() + "/latency.ini");
        kt::MainFormOptions o;
        o.store = &store;
        o.programFolder = KT_BIN_DIR;
        o.connectLink = *kt::parseLink(sim.serialLink());
        kt::TMainForm window(std::move(o));
        window.show();
        auto* status = window.findChild<QLabel*>("netstatus_P");
        if (!status || !waitFor([&] { return status->text() == "ONLINE"; }, 20000)) {
            state.SkipWithError("the window did not come online");
            break;
        }
        shown().clear();
        ::kill(sim.pid(), SIGSTOP);
        state.ResumeTiming();

        QElapsedTimer took;
        took.start();
        LoopLatency latency(5);
        window.findChild<QAction*>("mnuSetDate")->trigger(); // answered Yes
        const bool failed = waitFor(
            [&] {
                return std::any_of(shown().begin(), shown().end(),
                                   [](const QString& m) { return m.startsWith("Set Date/Time failed"); });
            },
            60000);

        state.PauseTiming();
        ::kill(sim.pid(), SIGCONT);
        if (!failed) {
            state.SkipWithError("the write was not reported as failed");
            break;
        }
        std::vector<double> late = latency.late();
        std::sort(late.begin(), late.end());
        state.counters["max_late_ms"] = late.empty() ? 0 : late.back();
        state.counters["p99_late_ms"] = late.empty() ? 0 : late[late.size() * 99 / 100];
        state.counters["episode_s"] = took.elapsed() / 1000.0;
        window.close();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_EventLoopWhileASilentUnitIsWritten)
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("XDG_CONFIG_HOME", settingsFolder().toLocal8Bit());
    QApplication app(argc, argv);
    kt::setMessageHook([](const QString& text, const QString&, int) {
        shown().push_back(text);
        return kt::MessageResult::Yes;
    });
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
