// The unit's whole IEC 61850 configuration written and read as the window's buttons and the
// command line do it: a request on the monitor engine's thread against kt740sim over loopback
// TCP, with the engine's poll passes running between the transfer's requests. Wall time per
// transfer; the counter "requests" is the Modbus requests (reads, writes, commands) one
// transfer makes, the pauses after each slot selector included in the time.
#include "iec61850/settings_transfer.h"
#include "monitor/monitor_thread.h"
#include "tests/support/sim_process.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <future>
#include <memory>

namespace {

using namespace std::chrono_literals;
using namespace kt;

struct Quiet : MonitorNotifier {
    void passCompleted(PassSnapshotPtr) override {}
    void identificationFailed(const std::string&) override {}
    void showMessage(const std::string&, const std::string&) override {}
};

// Counts the requests a sequence makes; everything else goes to the engine's link.
class Counting final : public UnitLink {
public:
    Counting(UnitLink& link, std::atomic<long>& requests) : link_(link), requests_(requests) {}
    LinkResult readRegisters(int start, int count, uint16_t* dest) override {
        ++requests_;
        return link_.readRegisters(start, count, dest);
    }
    LinkResult readBlock(int start, int count) override {
        requests_ += (count + Monitor_Thread::ReadChunk - 1) / Monitor_Thread::ReadChunk;
        return link_.readBlock(start, count);
    }
    LinkResult writeRegisters(int start, int count, const uint16_t* words) override {
        ++requests_;
        return link_.writeRegisters(start, count, words);
    }
    LinkResult command(int n) override {
        ++requests_;
        return link_.command(n);
    }
    const RegisterCacheWords& cache() const override { return link_.cache(); }
    PassSnapshotPtr lastPass() const override { return link_.lastPass(); }
    const ConnectionSettings& settings() const override { return link_.settings(); }
    ClockFields localTime() const override { return link_.localTime(); }
    bool cancelled() const override { return link_.cancelled(); }
    bool pause(std::chrono::milliseconds time) override { return link_.pause(time); }
    void progress(int done, int total, const std::string& text) override {
        link_.progress(done, total, text);
    }

private:
    UnitLink& link_;
    std::atomic<long>& requests_;
};

// One simulated unit with the 61850 option and one connection to it for the whole run.
struct Rig {
    test::SimProcess sim{{"--tcp", "127.0.0.1:0", "--firmware", "320", "--comm-option", "6"}};
    Quiet notifier;
    InlineDispatcher dispatcher;
    std::unique_ptr<Monitor_Thread> engine;
    Struct61850Settings settings;

    Rig() {
        MonitorOptions options;
        options.resourcesFolder = std::string(KT_BIN_DIR) + "/resources";
        engine = std::make_unique<Monitor_Thread>(*parseLink(sim.tcpLink()), notifier, dispatcher, options);
        if (!engine->waitForIdentification(20s))
            throw std::runtime_error("the engine did not identify the simulator: " + engine->failure());
        TICDParser p(std::string(KT_BIN_DIR) + "/resources/KT-740.icd", -1);
        settings = BuildWriteSettings(ServerFieldTextsFromParser(p), p);
    }
    ~Rig() { engine.reset(); }
};

Rig& rig() {
    static Rig r;
    return r;
}

template <class Result, class Work>
Result run(Rig& r, const char* name, std::atomic<long>& requests, Work work) {
    std::promise<Result> done;
    r.engine->submit<Result>(
        name,
        [&](UnitLink& unit) {
            Counting counting(unit, requests);
            return work(counting);
        },
        [&](Result result) { done.set_value(std::move(result)); });
    return done.get_future().get();
}

void BM_FullWriteOverTcp(benchmark::State& state) {
    Rig& r = rig();
    std::atomic<long> requests = 0;
    for (auto _ : state) {
        Write61850Result w = run<Write61850Result>(r, "IEC 61850 write", requests, [&](UnitLink& unit) {
            return WriteSettings61850(unit, r.settings);
        });
        if (!w.ok()) state.SkipWithError(describe(w).c_str());
    }
    state.counters["requests"] = static_cast<double>(requests) / static_cast<double>(state.iterations());
}

void BM_FullReadOverTcp(benchmark::State& state) {
    Rig& r = rig();
    std::atomic<long> requests = 0;
    for (auto _ : state) {
        Struct61850Settings read;
        Read61850Result result = run<Read61850Result>(
            r, "IEC 61850 read", requests, [&](UnitLink& unit) { return ReadSettings61850(unit, read); });
        if (!result.ok()) state.SkipWithError(describe(result).c_str());
        benchmark::DoNotOptimize(read);
    }
    state.counters["requests"] = static_cast<double>(requests) / static_cast<double>(state.iterations());
}

BENCHMARK(BM_FullWriteOverTcp)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_FullReadOverTcp)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

} // namespace
