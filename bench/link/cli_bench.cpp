// The command-line tool as an operator runs it, a whole process per read, against an independent
// master on the same simulator: `ktmon740-cli read tcp://... 0 250` (five requests of 50) beside
// `mbpoll -1 -c 125` (libmodbus), which needs two runs for the same 250 registers. The goal: the
// tool's median within twice the median of one mbpoll run.
#include "tests/support/sim_process.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

kt::test::SimProcess& sim() {
    static auto s = std::make_unique<kt::test::SimProcess>(std::vector<std::string>{"--tcp", "127.0.0.1:0"});
    return *s;
}

// Runs argv with its output discarded and waits for it (blocking, so the wait adds no polling
// interval to what is measured). The exit code, or -1.
int run(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void measure(benchmark::State& state, const std::vector<std::string>& argv) {
    if (run(argv) != 0) { // warms the caches, and proves the command works
        state.SkipWithError("the command failed");
        return;
    }
    for (auto _ : state)
        if (run(argv) != 0) {
            state.SkipWithError("the command failed");
            break;
        }
}

void BM_CliRead250(benchmark::State& state) {
    measure(state, {std::string(KT_BIN_DIR) + "/ktmon740-cli", "read", sim().tcpLink(), "0", "250"});
}

// range(0): the first register of the 125 read (0, then 125 for the other half).
void BM_MbpollRead125(benchmark::State& state) {
    measure(state, {"/usr/bin/mbpoll", "-m", "tcp", "-a", "254", "-p", std::to_string(sim().tcpPort()), "-0",
                    "-1", "-r", std::to_string(state.range(0)), "-c", "125", "127.0.0.1"});
}

BENCHMARK(BM_CliRead250)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(50)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_MbpollRead125)
    ->Arg(0)
    ->Arg(125)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(50)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace
