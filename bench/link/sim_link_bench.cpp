// Reads through the link facade against kt740sim, as the monitor makes them: one 50-register
// read, and a 250-register block in five requests of 50. Over loopback TCP, and over the
// simulator's pseudo-terminal paced like a 115200 baud line, where the counter "x_wire" is the
// time per iteration over the line's wire time (10 bits a byte, request and answer). The same
// pty unpaced shows what the transport and the simulator's relay cost apart from the wire.
#include "link/protocol.h"
#include "tests/support/sim_process.h"

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <memory>

namespace {

using kt::test::SimProcess;

constexpr int Chunk = 50;
constexpr double Baud = 115200.0;

// Wire time of `requests` reads of `count` registers each: an 8-byte request and a 2N + 5
// byte answer.
double wireSeconds(int requests, int count) {
    return requests * (8 + 2 * count + 5) * 10 / Baud;
}

// One simulator and one facade for the whole program run: starting them is not what is measured.
struct Link {
    std::unique_ptr<SimProcess> sim;
    kt::ConnectionSettings settings;
    std::unique_ptr<kt::Protocol> facade;
};

enum Road { Tcp, PacedPty, Pty };

Link& link(Road road) {
    static Link links[3];
    Link& l = links[road];
    if (!l.facade) {
        static const std::vector<std::string> options[3] = {
            {"--tcp", "127.0.0.1:0"}, {"--rtu", "--pace", "115200"}, {"--rtu"}};
        l.sim = std::make_unique<SimProcess>(options[road]);
        l.settings = *kt::parseLink(road == Tcp ? l.sim->tcpLink() : l.sim->serialLink());
        l.facade = std::make_unique<kt::Protocol>(l.settings);
    }
    return l;
}

// range(0): the Road; range(1): requests of 50 per iteration.
void BM_SimRead(benchmark::State& state) {
    const Road road = static_cast<Road>(state.range(0));
    const int requests = static_cast<int>(state.range(1));
    Link& l = link(road);
    std::array<uint16_t, 250> regs{};
    // The first read opens the port or the connection.
    if (!l.facade->ReadRegisters(l.settings, 0, Chunk, regs.data()))
        state.SkipWithError("the simulator did not answer");

    const auto began = std::chrono::steady_clock::now();
    for (auto _ : state) {
        for (int r = 0; r < requests; ++r)
            if (!l.facade->ReadRegisters(l.settings, r * Chunk, Chunk, regs.data() + r * Chunk)) {
                state.SkipWithError("read failed");
                break;
            }
        benchmark::DoNotOptimize(regs.data());
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - began;
    state.SetItemsProcessed(state.iterations() * requests * Chunk);
    if (road == PacedPty && state.iterations() > 0)
        state.counters["x_wire"] =
            took.count() / static_cast<double>(state.iterations()) / wireSeconds(requests, Chunk);
}

BENCHMARK(BM_SimRead)
    ->ArgNames({"road", "requests"})
    ->Args({Tcp, 1})
    ->Args({Tcp, 5})
    ->Args({Pty, 1})
    ->Args({Pty, 5})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(500)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// The paced line takes 10 to 50 ms an iteration: fewer iterations, the same number of repetitions.
BENCHMARK(BM_SimRead)
    ->ArgNames({"road", "requests"})
    ->Args({PacedPty, 1})
    ->Args({PacedPty, 5})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(60)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace
