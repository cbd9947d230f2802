// kt740sim over Modbus RTU on its pseudo-terminal, against pymodbus as the master.

#include "tests/support/modbus_master.h"
#include "tests/support/sim_process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

using namespace kt::test;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

std::vector<std::string> statuses(const std::vector<MasterReply>& replies) {
    std::vector<std::string> out;
    for (const auto& r : replies)
        out.push_back(r.status == "exception" ? "exception " + std::to_string(r.exception) : r.status);
    return out;
}

class SimRtu : public ::testing::Test {
protected:
    void start(std::vector<std::string> args = {}) {
        args.insert(args.begin(), "--rtu");
        sim = std::make_unique<SimProcess>(args);
    }
    std::vector<MasterReply> master(const std::vector<std::string>& ops, int unit = 254) {
        return runModbusMaster("rtu:" + sim->rtuDevice(), ops, 1, unit);
    }
    void TearDown() override {
        if (sim) {
            EXPECT_EQ(sim->stop(), 0) << sim->stderrText();
        }
    }

    std::unique_ptr<SimProcess> sim;
};

} // namespace

TEST_F(SimRtu, AnswersAtUnit254AndTheLineCanBeOpenedAgain) {
    start({"--model-code", "741", "--firmware", "251", "--serial", "70000", "--model-type", "3",
           "--comm-option", "1"});
    EXPECT_THAT(sim->rtuDevice(), HasSubstr("/dev/pts/"));
    auto r = master({"read:0:6", "write:150:1,2,3", "read:150:3", "raw-read:0:2"});
    EXPECT_THAT(statuses(r), ElementsAre("ok", "ok", "ok", "ok"));
    EXPECT_THAT(r[0].values, ElementsAre(741, 251, 4464, 1, 3, 1)); // 70000 = 0x00011170
    EXPECT_THAT(r[2].values, ElementsAre(1, 2, 3));
    EXPECT_THAT(r[3].values, ElementsAre(741, 251));
    // A second master opens the device after the first closed it, as the program does on reconnecting.
    EXPECT_THAT(master({"read:151:1"})[0].values, ElementsAre(2));
    EXPECT_THAT(sim->logLines(),
                ElementsAre("fc=3 start=0 count=6", "fc=16 start=150 count=3 values=1,2,3",
                            "fc=3 start=150 count=3", "fc=3 start=0 count=2", "fc=3 start=151 count=1"));
}

TEST_F(SimRtu, CoilNOnRunsCommandN) {
    start();
    auto r = master({"coil:16:on", "coil:5:off", "coil:18:on", "write:6:3"});
    EXPECT_THAT(statuses(r), ElementsAre("ok", "ok", "ok", "ok"));
    EXPECT_THAT(sim->logLines(), ElementsAre("fc=5 coil=16 value=65280", "fc=5 coil=5 value=0",
                                             "fc=5 coil=18 value=65280", "fc=16 start=6 count=1 values=3"));
    const std::string notes = sim->stderrText();
    EXPECT_THAT(notes, HasSubstr("command 16 (remote calibration) over RTU"));
    EXPECT_THAT(notes, HasSubstr("command 18 (write diagnostics file to the SD card) over RTU"));
    EXPECT_THAT(notes, Not(HasSubstr("command 5 "))); // OFF runs nothing
    EXPECT_THAT(notes, Not(HasSubstr("command 3 "))); // register 6 is the TCP road
}

TEST_F(SimRtu, IgnoresOtherUnitIdsWithoutLosingTheNextRequest) {
    start();
    // The request for unit 1 is ignored; the one for 254 right behind it must still be answered.
    auto r = master({"send-only:1:0:2", "read:0:2", "send-only:7:0:1", "read:4:1"});
    EXPECT_THAT(statuses(r), ElementsAre("ok", "ok", "ok", "ok"));
    EXPECT_THAT(r[1].values, ElementsAre(740, 250));
    EXPECT_THAT(sim->logLines(), ElementsAre("fc=3 start=0 count=2", "fc=3 start=4 count=1"));
}

TEST_F(SimRtu, DropsBrokenRequestsAndAnswersTheNext) {
    start();
    const char* broken[] = {
        "FE0300000002FFFF", // a bad CRC
        "FE10000000020412", // cut short
        "FE2B0E0100AABB",   // a function the unit does not know
        "1691785525367E789A53B86A524A969D0C3B7A2042E7FBEAC5099819AFBA03B63D8AC1BE497F92FF", // noise
    };
    std::vector<std::string> ops;
    // A second of silence after each: the unit waits half a second for the rest of a frame.
    for (const char* bytes : broken)
        ops.insert(ops.end(), {std::string("send-bytes:") + bytes, "sleep:1000", "read:0:2"});
    auto r = master(ops);
    for (size_t i = 0; i < r.size(); i += 3) {
        EXPECT_TRUE(r[i + 2].ok()) << broken[i / 3] << ": " << r[i + 2].detail;
        EXPECT_THAT(r[i + 2].values, ElementsAre(740, 250)) << broken[i / 3];
    }
    EXPECT_THAT(sim->stderrText(), HasSubstr("kt740sim: RTU request dropped: Invalid CRC"));
    EXPECT_TRUE(sim->running());
}

TEST_F(SimRtu, BadCrcEveryKthAnswer) {
    start({"--bad-crc-every", "2"});
    auto r = master({"raw-read:0:2", "raw-read:0:2", "raw-read:0:2", "read:0:2"});
    EXPECT_THAT(statuses(r), ElementsAre("ok", "crc-error", "ok", "error"));
    // Only the CRC is spoiled: address, function, count and data are what the unit holds.
    EXPECT_THAT(r[1].detail, HasSubstr("fe030402e400fa"));
    EXPECT_EQ(sim->logLines().size(), 4u);
}

TEST_F(SimRtu, MaxReadAndExceptionsAnswerAsExceptions) {
    start({"--max-read", "20", "--exception-every", "4"});
    auto r = master({"raw-read:0:20", "raw-read:0:21", "read:0:126", "read:0:1", "read:999:2"});
    EXPECT_THAT(statuses(r), ElementsAre("ok", "exception 3", "exception 3", "exception 4", "exception 2"));
}

TEST_F(SimRtu, PaceTakesTheWireTimeOfTheAnswer) {
    start({"--pace", "9600"});
    // 125 registers: 255 answer bytes, 10 bits each at 9600 baud = 265.6 ms on the wire.
    auto r = master({"raw-read:0:125", "read:0:125"});
    EXPECT_THAT(statuses(r), ElementsAre("ok", "ok"));
    EXPECT_GE(r[0].ms, 265.0);
    EXPECT_GE(r[1].ms, 265.0);
    EXPECT_EQ(r[1].values.size(), 125u);
}

TEST_F(SimRtu, SilentAndDelayedOverTheLine) {
    start({"--delay-ms", "200"});
    auto r = master({"read:0:1"});
    EXPECT_TRUE(r[0].ok());
    EXPECT_GE(r[0].ms, 200);
    EXPECT_EQ(sim->stop(), 0);

    start({"--silent"});
    EXPECT_THAT(statuses(master({"raw-read:0:1"})), ElementsAre("error"));
    EXPECT_THAT(sim->logLines(), ElementsAre("fc=3 start=0 count=1"));
}
