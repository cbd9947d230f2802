// ktmon740-cli log against kt740sim: the current unit's layout over TCP, the legacy unit's layout
// on its pseudo-terminal, a folder that cannot be written, and bad command lines.
#include "monitor/datalog_reader.h"
#include "monitor/monitor_thread.h"
#include "tests/support/process.h"
#include "tests/support/sim_process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include <signal.h>

namespace {

using namespace kt;
using namespace kt::test;
using ::testing::HasSubstr;

CommandResult cli(std::vector<std::string> args) {
    args.insert(args.begin(), binPath("ktmon740-cli"));
    return runCommand(args, 90s);
}

// The file the logger names on standard output ("logging to PATH"); empty when none.
std::string loggedFile(const std::string& out) {
    for (const std::string& line : splitLines(out))
        if (line.starts_with("logging to ")) return line.substr(11);
    return {};
}

size_t count(const std::string& text, std::string_view what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

TEST(DatalogCli, CurrentUnitLogsEverySecondRefreshUnderItsSerialNumber) {
    SimProcess sim({"--tcp", "127.0.0.1:0", "--firmware", "320", "--serial", "4711"});
    TempDir dir;
    CommandResult r = cli({"log", sim.tcpLink(), "--folder", dir.str(), "--passes", "5"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string file = loggedFile(r.out);
    const std::string name = std::filesystem::path(file).filename().string();
    EXPECT_TRUE(name.starts_with("KT-740_000004711_")) << file;
    EXPECT_EQ(std::filesystem::path(file).parent_path(), dir.path());
    // Refreshes 1, 3 and 5 are logged.
    EXPECT_THAT(r.out, HasSubstr("\n3 lines written\n"));

    const std::string text = readFile(file);
    EXPECT_TRUE(
        text.starts_with("\xEF\xBB\xBF"
                         "Data File for KT-740, Firmware Version: 3.20\r\nKT-MON740 version 4.1\r\nTime\t"))
        << text.substr(0, 200);
    EXPECT_THAT(text, HasSubstr("\tNGR Current (A)\tNGR Voltage (V)\r\n\r\n"));
    EXPECT_THAT(text, HasSubstr("\t000004711\t")); // the serial number's cell
    const DatalogReadResult read = readDatalogFile(file, systemLocalClock());
    ASSERT_TRUE(read.ok()) << read.error;
    EXPECT_EQ(read.headerBlocks, 1);
    EXPECT_EQ(read.skippedLines, 0u); // every line has its heading's columns
    ASSERT_EQ(read.samples.size(), 3u);
    for (const DatalogSample& s : read.samples) {
        EXPECT_GE(s.currentPercent, 1.0f); // the simulator's current moves within 1..7 %
        EXPECT_LE(s.currentPercent, 7.0f);
    }

    // A second run under a chosen name: a new connection appends its own header block to the
    // same day's file, and the byte-order mark stays at the file's start only.
    const std::string base = name.substr(0, name.size() - std::string("_MMDD.txt").size());
    r = cli({"log", sim.tcpLink(), "--folder", dir.str() + "/", "--name", base, "--passes", "2"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(loggedFile(r.out), file);
    const std::string both = readFile(file);
    EXPECT_EQ(count(both, "\xEF\xBB\xBF"), 1u);
    EXPECT_EQ(count(both, "Data File for KT-740"), 2u);
    const DatalogReadResult again = readDatalogFile(file, systemLocalClock());
    ASSERT_TRUE(again.ok()) << again.error;
    EXPECT_EQ(again.headerBlocks, 2);
    EXPECT_EQ(again.skippedLines, 0u);
    EXPECT_EQ(again.samples.size(), 4u);
}

TEST(DatalogCli, LegacyUnitLogsItsFramesAtTheSaveRate) {
    SimProcess sim({"--legacy"});
    TempDir dir;
    CommandResult r = cli({"log", "serial:" + sim.legacyDevice(), "--legacy", "--folder", dir.str(),
                           "--passes", "6", "--rate", "2"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string file = loggedFile(r.out);
    // A legacy unit has no serial number: the model alone names the log.
    EXPECT_TRUE(std::filesystem::path(file).filename().string().starts_with("KT-740_")) << file;
    EXPECT_THAT(r.out, HasSubstr("\n3 lines written\n"));
    const std::string text = readFile(file);
    EXPECT_THAT(text, HasSubstr("\r\nTime\tGF Time (s)\tGF Setting (%)\tPulse Time (s)\tNGR Cal\t"));
    // No empty line after the legacy heading: the first line follows at once.
    EXPECT_THAT(text, ::testing::ContainsRegex("\tPort G \\(hex\\)\tPort H \\(hex\\)\r\n[0-9][0-9]:"));
    const DatalogReadResult read = readDatalogFile(file, systemLocalClock());
    ASSERT_TRUE(read.ok()) << read.error;
    EXPECT_EQ(read.skippedLines, 0u);
    EXPECT_EQ(read.samples.size(), 3u);
}

// Lines that cannot reach their file are said once and end the run with a failure, never as a
// success.
TEST(DatalogCli, AFolderThatCannotBeWrittenFailsTheRun) {
    SimProcess sim({"--tcp", "127.0.0.1:0", "--firmware", "320"});
    TempDir dir;
    const std::string missing = dir.file("no/such/folder");
    CommandResult r = cli({"log", sim.tcpLink(), "--folder", missing, "--passes", "5"});
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_EQ(count(r.err, "Cannot Open File: Cannot write the data log"), 1u) << r.err;
    EXPECT_THAT(r.err, HasSubstr("3 lines could not be written to the data log"));
    EXPECT_EQ(loggedFile(r.out), "");
    EXPECT_THAT(r.out, ::testing::Not(HasSubstr("written\n")));
    EXPECT_FALSE(std::filesystem::exists(missing));
}

// A logger left running is stopped with Ctrl+C (or by its service manager): it ends cleanly, says
// how many lines it wrote, and the file holds whole lines only; a second run, ended by SIGTERM,
// appends to the same file.
TEST(DatalogCli, AnInterruptEndsAnOpenEndedRunCleanly) {
    SimProcess sim({"--tcp", "127.0.0.1:0", "--firmware", "320", "--serial", "815"});
    TempDir dir;
    size_t before = 0; // lines in the day's file before this run
    for (int signal : {SIGINT, SIGTERM}) {
        const std::string out = dir.file("out.txt"), err = dir.file("err.txt");
        const int pid = spawnProcess({binPath("ktmon740-cli"), "log", sim.tcpLink(), "--folder", dir.str()},
                                     out, err);
        ASSERT_GT(pid, 0);
        bool reaped = false;
        struct Reaper { // a failed check leaves no logger running
            int pid;
            bool& reaped;
            ~Reaper() {
                if (reaped) return;
                ::kill(pid, SIGKILL);
                waitProcess(pid, 10s);
            }
        } reaper{pid, reaped};
        // Wait for two lines of this run: it is past its start and logging.
        std::string file;
        size_t lines = 0;
        for (int i = 0; i < 300 && lines < before + 2; ++i) {
            std::this_thread::sleep_for(100ms);
            file = loggedFile(readFile(out));
            if (!file.empty()) lines = readDatalogFile(file, systemLocalClock()).samples.size();
        }
        ASSERT_GE(lines, before + 2) << readFile(err);
        ASSERT_EQ(::kill(pid, signal), 0);
        const int exitCode = waitProcess(pid, 30s);
        reaped = exitCode >= 0;
        EXPECT_EQ(exitCode, 0) << readFile(err);
        EXPECT_EQ(readFile(err), "");
        const DatalogReadResult read = readDatalogFile(file, systemLocalClock());
        ASSERT_TRUE(read.ok()) << read.error;
        EXPECT_EQ(read.skippedLines, 0u);
        EXPECT_TRUE(readFile(file).ends_with("\r\n"));
        EXPECT_THAT(readFile(out), HasSubstr("\n" + std::to_string(read.samples.size() - before) +
                                             " lines written\n"));
        before = read.samples.size();
    }
}

TEST(DatalogCli, BadCommandLinesAreUsageErrors) {
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
             {"log"},
             {"log", "tcp://127.0.0.1:1", "--name", "sub/name"},
             {"log", "tcp://127.0.0.1:1", "--name", ""},
             {"log", "tcp://127.0.0.1:1", "--legacy"},
             {"log", "tcp://127.0.0.1:1", "--passes", "0"},
             {"log", "tcp://127.0.0.1:1", "--rate", "x"},
         }) {
        CommandResult r = cli(args);
        EXPECT_EQ(r.exitCode, 2) << args.back() << ": " << r.err;
    }
}

} // namespace
