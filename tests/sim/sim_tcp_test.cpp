// kt740sim over Modbus TCP, against pymodbus as the master.

#include "tests/support/modbus_master.h"
#include "tests/support/process.h"
#include "tests/support/sim_process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <thread>

using namespace kt::test;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

std::vector<std::string> statuses(const std::vector<MasterReply>& replies) {
    std::vector<std::string> out;
    for (const auto& r : replies)
        out.push_back(r.status == "exception" ? "exception " + std::to_string(r.exception) : r.status);
    return out;
}

class SimTcp : public ::testing::Test {
protected:
    void start(std::vector<std::string> args = {}) {
        args.insert(args.begin(), {"--tcp", "127.0.0.1:0"});
        sim = std::make_unique<SimProcess>(args);
    }
    std::vector<MasterReply> master(const std::vector<std::string>& ops, int unit = 254) {
        return runModbusMaster("tcp:" + sim->tcpEndpoint(), ops, 1, unit);
    }
    void TearDown() override {
        // A clean exit on SIGTERM; under the sanitizers also no leak and no race in the simulator.
        if (sim) {
            EXPECT_EQ(sim->stop(), 0) << sim->stderrText();
        }
    }

    std::unique_ptr<SimProcess> sim;
};

} // namespace

TEST_F(SimTcp, AnswersWithTheIdentificationItWasGiven) {
    struct Case {
        std::vector<std::string> args;
        std::vector<uint16_t> registers0to5;
    };
    const Case cases[] = {
        {{}, {740, 250, 1, 0, 0, 0}},
        {{"--model-code", "741", "--firmware", "0x80FB", "--serial", "123456", "--model-type", "2",
          "--comm-option", "6"},
         {741, 0x80FB, 57920, 1, 2, 6}}, // 123456 = 0x0001E240, low word first
    };
    for (const auto& c : cases) {
        start(c.args);
        auto r = master({"read:0:6"});
        EXPECT_TRUE(r[0].ok()) << r[0].detail;
        EXPECT_THAT(r[0].values, ElementsAreArray(c.registers0to5));
        EXPECT_THAT(sim->logLines(), ElementsAre("fc=3 start=0 count=6"));
        EXPECT_EQ(sim->stop(), 0) << sim->stderrText();
    }
}

TEST_F(SimTcp, WritesStickAndEveryRequestIsLogged) {
    start({"--set", "150=1,2", "--set", "998=7,8"});
    auto r = master({"read:150:2", "write:152:4660,1", "read:150:4", "read:998:2", "write:0:9"});
    EXPECT_THAT(statuses(r), ElementsAre("ok", "ok", "ok", "ok", "ok"));
    EXPECT_THAT(r[0].values, ElementsAre(1, 2));
    EXPECT_THAT(r[2].values, ElementsAre(1, 2, 4660, 1));
    EXPECT_THAT(r[3].values, ElementsAre(7, 8));
    EXPECT_THAT(sim->logLines(),
                ElementsAre("fc=3 start=150 count=2", "fc=16 start=152 count=2 values=4660,1",
                            "fc=3 start=150 count=4", "fc=3 start=998 count=2",
                            "fc=16 start=0 count=1 values=9"));
}

TEST_F(SimTcp, ValueNIntoRegister6RunsCommandN) {
    start();
    auto r = master({"write:6:3", "write:5:0,18,0", "coil:16:on", "read:6:1"});
    EXPECT_THAT(statuses(r), ElementsAre("ok", "ok", "exception 1", "ok"));
    EXPECT_THAT(r[3].values, ElementsAre(18));
    EXPECT_THAT(sim->logLines(),
                ElementsAre("fc=16 start=6 count=1 values=3", "fc=16 start=5 count=3 values=0,18,0",
                            "fc=5 coil=16 value=65280", "fc=3 start=6 count=1"));
    const std::string notes = sim->stderrText();
    EXPECT_THAT(notes, HasSubstr("command 3 (set clock) over TCP"));
    EXPECT_THAT(notes, HasSubstr("command 18 (write diagnostics file to the SD card) over TCP"));
    EXPECT_THAT(notes, Not(HasSubstr("command 16"))); // coils are the serial road
}

TEST_F(SimTcp, RefusesWhatAUnitCannotDo) {
    start();
    auto r = master({"read:0:126", "read:999:2", "write:999:1,2"});
    EXPECT_THAT(statuses(r), ElementsAre("exception 3", "exception 2", "exception 2"));
    // Another unit id is not this unit: ignored, as a unit ignores it, and not logged.
    EXPECT_THAT(statuses(master({"read:0:1"}, 1)), ElementsAre("error"));
    EXPECT_THAT(statuses(master({"read:0:1"}, 255)), ElementsAre("ok"));
    // Functions the unit does not offer, each followed at once by a request that must still be
    // read whole (libmodbus does not know the layout of function 8).
    r = master({"diag", "read:0:1", "write-single:6:3", "read:6:1"});
    EXPECT_THAT(statuses(r), ElementsAre("exception 1", "ok", "exception 1", "ok"));
    EXPECT_THAT(r[3].values, ElementsAre(0));
    auto log = sim->logLines();
    ASSERT_EQ(log.size(), 8u) << "refused requests are logged too";
    EXPECT_THAT(std::vector(log.end() - 4, log.end()),
                // pymodbus 3.0 sends its unit id as the data word of sub-function 2.
                ElementsAre("fc=8 data=000200FE", "fc=3 start=0 count=1", "fc=6 data=00060003",
                            "fc=3 start=6 count=1"));
    EXPECT_THAT(sim->stderrText(), Not(HasSubstr("command")));
}

TEST_F(SimTcp, SurvivesBrokenRequests) {
    start();
    const char* broken[] = {
        "000100000000FE03",             // MBAP length 0
        "00010000FFFFFE030000000A",     // a length beyond any request
        "00010000000BFE10000000020312", // byte count 3 for 2 registers, cut short
        "000100000009FE2B0E01000102",   // function 43, its body shorter than the header says
        "0001",                         // header cut short
        "1691785525367E789A53B86A524A969D0C3B7A2042E7FBEAC5099819AFBA03B63D8AC1BE497F92FF0BCC4D2F", // noise
    };
    std::vector<std::string> ops;
    for (const char* bytes : broken)
        ops.insert(ops.end(), {std::string("send-bytes:") + bytes, "reconnect", "read:0:2"});
    auto r = master(ops);
    for (size_t i = 0; i < r.size(); i += 3) {
        EXPECT_TRUE(r[i + 2].ok()) << broken[i / 3] << ": " << r[i + 2].detail;
        EXPECT_THAT(r[i + 2].values, ElementsAre(740, 250)) << broken[i / 3];
    }
    EXPECT_TRUE(sim->running());
}

TEST_F(SimTcp, MaxReadRefusesLongerReads) {
    start({"--max-read", "20"});
    auto r = master({"read:0:20", "read:0:21", "read:0:50",
                     "write:0:1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,"
                     "20,21"});
    EXPECT_THAT(statuses(r), ElementsAre("ok", "exception 3", "exception 3", "ok"));
    EXPECT_THAT(sim->logLines(),
                ElementsAre("fc=3 start=0 count=20", "fc=3 start=0 count=21", "fc=3 start=0 count=50",
                            HasSubstr("fc=16 start=0 count=21 values=1,2,3")));
}

TEST_F(SimTcp, ExceptionEveryKthRequest) {
    start({"--exception-every", "3"});
    auto r =
        master({"read:0:1", "write:100:1", "read:0:1", "read:0:1", "read:0:1", "write:100:2", "read:100:1"});
    EXPECT_THAT(statuses(r), ElementsAre("ok", "ok", "exception 4", "ok", "ok", "exception 4", "ok"));
    EXPECT_THAT(r[6].values, ElementsAre(1)) << "a refused write changes nothing";
}

TEST_F(SimTcp, SilentNeverAnswersButLogs) {
    start({"--silent"});
    auto r = master({"read:0:6"});
    EXPECT_EQ(r[0].status, "error");
    EXPECT_GE(r[0].ms, 900);
    EXPECT_THAT(sim->logLines(), ElementsAre("fc=3 start=0 count=6"));
}

TEST_F(SimTcp, DelayHoldsEveryAnswerBack) {
    start({"--delay-ms", "300"});
    auto r = master({"read:0:2", "write:150:1"});
    EXPECT_THAT(statuses(r), ElementsAre("ok", "ok"));
    EXPECT_GE(r[0].ms, 300);
    EXPECT_GE(r[1].ms, 300);
}

TEST_F(SimTcp, DropAfterClosesTheConnectionAndServesTheNextOne) {
    start({"--drop-after", "2"});
    auto r = master({"read:0:1", "read:1:1", "read:2:1", "reconnect", "read:3:1", "read:4:1", "read:5:1"});
    EXPECT_THAT(statuses(r), ElementsAre("ok", "ok", "error", "ok", "ok", "ok", "error"));
    // The request sent into the closed connection never reached the unit.
    EXPECT_THAT(sim->logLines(), ElementsAre("fc=3 start=0 count=1", "fc=3 start=1 count=1",
                                             "fc=3 start=3 count=1", "fc=3 start=4 count=1"));
}

TEST_F(SimTcp, ServesClientsOneAfterAnotherAndAtOnce) {
    start();
    for (int i = 0; i < 3; ++i)
        EXPECT_THAT(statuses(master({"read:0:1"})), ElementsAre("ok")) << "client " << i;
    auto r = master({"concurrent:4:0:2"});
    EXPECT_TRUE(r[0].ok()) << r[0].detail;
    EXPECT_THAT(r[0].values, ElementsAre(740, 250, 740, 250, 740, 250, 740, 250));
}

TEST_F(SimTcp, EndsCleanlyOnSigint) {
    start();
    EXPECT_THAT(statuses(master({"read:0:1"})), ElementsAre("ok"));
    ::kill(sim->pid(), SIGINT);
    EXPECT_EQ(sim->stop(), 0) << sim->stderrText();
}

TEST(SimCommandLine, UsageErrorsExitWithTwo) {
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{}, "kt740sim: nothing to serve"},
        {{"--tcp", "nonsense"}, "kt740sim: --tcp needs HOST:PORT"},
        {{"--rtu", "--firmware", "x"}, "kt740sim: --firmware must be a number from 0 to 65535"},
        {{"--rtu", "--frobnicate"}, "kt740sim: unknown option --frobnicate"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv = {binPath("kt740sim")};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        auto run = runCommand(argv, 30s);
        EXPECT_EQ(run.exitCode, 2) << run.err;
        EXPECT_THAT(run.err, HasSubstr(c.message));
        EXPECT_EQ(run.out, "");
    }
    auto help = runCommand({binPath("kt740sim"), "--help"}, 30s);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_THAT(help.out, HasSubstr("Usage: kt740sim"));
}

TEST(SimCommandLine, FailuresToStartExitWithOne) {
    SimProcess first({"--tcp", "127.0.0.1:0"});
    auto busy = runCommand({binPath("kt740sim"), "--tcp", first.tcpEndpoint()}, 30s);
    EXPECT_EQ(busy.exitCode, 1);
    EXPECT_THAT(busy.err, HasSubstr("kt740sim: cannot listen on " + first.tcpEndpoint()));

    auto noLog =
        runCommand({binPath("kt740sim"), "--tcp", "127.0.0.1:0", "--log", "/nonexistent/dir/x.log"}, 30s);
    EXPECT_EQ(noLog.exitCode, 1);
    EXPECT_THAT(noLog.err, HasSubstr("cannot open the log file /nonexistent/dir/x.log"));
    EXPECT_EQ(first.stop(), 0);
}

// A harness that dies must not leave its simulator behind: the shell below starts one and exits
// at once, and the simulator must follow it.
TEST(SimCommandLine, ExitWithParentEndsWithTheProcessThatStartedIt) {
    auto shell =
        runCommand({"/bin/sh", "-c",
                    "'" + binPath("kt740sim") +
                        "' --tcp 127.0.0.1:0 --exit-with-parent >/dev/null 2>&1 & echo $!; sleep 0.5"},
                   30s);
    ASSERT_EQ(shell.exitCode, 0) << shell.err;
    const pid_t sim = static_cast<pid_t>(std::stol(shell.out));
    bool gone = false;
    for (int i = 0; i < 100 && !gone; ++i) {
        std::this_thread::sleep_for(50ms);
        // Reparented to init, which reaps it; a zombie still answers kill 0, so look at its state.
        std::string stat = readFile("/proc/" + std::to_string(sim) + "/stat");
        gone = stat.empty() || stat.find(") Z ") != std::string::npos;
    }
    EXPECT_TRUE(gone) << "kt740sim " << sim << " outlived the shell that started it";
    if (!gone) ::kill(sim, SIGKILL);
}
