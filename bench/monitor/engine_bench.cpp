// The monitor engine against kt740sim over TCP loopback: the CPU one poll pass of 250 registers
// costs (five requests, the conversion of every register, the snapshot handed over), and the engine's
// steady CPU load while it polls every 750 ms as the program does.
//
//   bench_monitor_engine --benchmark_filter=PollPass
//   KT_STEADY_SECONDS=30 bench_monitor_engine --benchmark_filter=Steady
#include "monitor/monitor_thread.h"
#include "tests/support/sim_process.h"

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <fstream>

using namespace kt;
using namespace std::chrono_literals;

namespace {

// A register file describing registers 0..246 (a 250-register pass) with the value types the
// shipped files use, texts included.
std::string benchRegisterFile() {
    static constexpr int types[] = {1, 6, 8, 2, 5, 7, 3, 4, 16, 17, 15, 11, 9, 19, 1, 1};
    std::string xml = "<?xml version=\"1.0\"?><DATAPACKET Version=\"2.0\"><METADATA><FIELDS>";
    for (const char* column :
         {"GROUP", "REGISTER:i4", "LABEL", "TYPE:i4", "TRANSLATIONTYPE", "ACCESS:i4", "S_ORDER:i4",
          "G_ORDER:i4", "MAIN", "NAMEINDEX", "TITLE", "DISPLAY", "WARNING"}) {
        std::string c = column;
        auto colon = c.find(':');
        xml += "<FIELD attrname=\"" + c.substr(0, colon) + "\" fieldtype=\"" +
               (colon == std::string::npos ? "string" : c.substr(colon + 1)) + "\"/>";
    }
    xml += "</FIELDS></METADATA><ROWDATA>";
    for (int r = 0; r <= 246; ++r) {
        const int g = r / 25;
        const int type = r < 6 ? 1 : types[r % std::size(types)];
        xml += "<ROW GROUP=\"G" + std::to_string(g) + "\" REGISTER=\"" + std::to_string(r) +
               "\" LABEL=\"DB_R" + std::to_string(r) + "\" TYPE=\"" + std::to_string(type) +
               "\" TRANSLATIONTYPE=\"0\" ACCESS=\"1\" S_ORDER=\"" + std::to_string(r) + "\" G_ORDER=\"" +
               std::to_string(g) + "\" MAIN=\"G" + std::to_string(g) + "\" NAMEINDEX=\"status\" TITLE=\"G" +
               std::to_string(g) + "\" DISPLAY=\"YES\" WARNING=\"\"/>";
    }
    return xml + "</ROWDATA></DATAPACKET>";
}

struct PassCounter : MonitorNotifier {
    std::mutex mutex;
    std::condition_variable changed;
    long passes = 0;
    void passCompleted(PassSnapshotPtr) override {
        std::lock_guard g(mutex);
        ++passes;
        changed.notify_all();
    }
    void identificationFailed(const std::string&) override {}
    void showMessage(const std::string&, const std::string&) override {}
    bool waitBeyond(long n, std::chrono::milliseconds timeout) {
        std::unique_lock g(mutex);
        return changed.wait_for(g, timeout, [&] { return passes > n; });
    }
    long count() {
        std::lock_guard g(mutex);
        return passes;
    }
};

// The simulator, a folder with the bench register file and an engine polling at `interval`.
struct Rig {
    test::TempDir dir;
    test::SimProcess sim{{"--tcp", "127.0.0.1:0", "--firmware", "250"}};
    PassCounter notifier;
    InlineDispatcher dispatcher;
    std::unique_ptr<Monitor_Thread> engine;

    explicit Rig(std::chrono::milliseconds interval) {
        std::ofstream(dir.file("registers_250.xml")) << benchRegisterFile();
        ConnectionSettings settings = *parseLink(sim.tcpLink());
        MonitorOptions options;
        options.resourcesFolder = dir.path();
        options.pollInterval = interval;
        engine = std::make_unique<Monitor_Thread>(settings, notifier, dispatcher, options);
        if (!engine->waitForIdentification(20s) || engine->pollCount() != 250)
            throw std::runtime_error("the engine did not identify the simulator: " + engine->failure());
    }
    ~Rig() { engine.reset(); }
};

double processCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// One iteration is one pass; the process CPU time is what the engine spent on it.
void BM_PollPass250OverTcp(benchmark::State& state) {
    Rig rig(0ms);
    long seen = rig.notifier.count();
    for (auto _ : state) {
        if (!rig.notifier.waitBeyond(seen, 10s)) {
            state.SkipWithError("no pass within 10 s");
            break;
        }
        seen = rig.notifier.count();
    }
    state.counters["registers"] = 250;
}
BENCHMARK(BM_PollPass250OverTcp)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMicrosecond);

// Process CPU time over wall time while polling every 750 ms (KT_STEADY_SECONDS, default 30).
void BM_SteadyPollingCpu(benchmark::State& state) {
    const char* env = std::getenv("KT_STEADY_SECONDS");
    const auto seconds = std::chrono::seconds(env ? std::max(1, std::atoi(env)) : 30);
    Rig rig(750ms);
    for (auto _ : state) {
        rig.notifier.waitBeyond(rig.notifier.count(), 5s); // measure from one pass on
        const double cpu0 = processCpuSeconds();
        const auto wall0 = std::chrono::steady_clock::now();
        const long passes0 = rig.notifier.count();
        std::this_thread::sleep_for(seconds);
        const double cpu = processCpuSeconds() - cpu0;
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
        state.counters["cpu_percent_of_one_core"] = 100.0 * cpu / wall;
        state.counters["passes"] = static_cast<double>(rig.notifier.count() - passes0);
    }
}
BENCHMARK(BM_SteadyPollingCpu)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

} // namespace
