// kt740sim read and written by mbpoll (libmodbus) over Modbus TCP. pymodbus as the master over
// TCP and RTU is covered by the simulator's own tests; mbpoll cannot address unit 254 on a
// serial line.
#include "tests/support/process.h"
#include "tests/support/sim_process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

namespace {

using namespace kt::test;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

class MbpollMaster : public ::testing::Test {
protected:
    // mbpoll once, PDU addressing (-0), unit 254, one second time-out.
    CommandResult mbpoll(const std::vector<std::string>& args) {
        std::vector<std::string> argv{"/usr/bin/mbpoll",
                                      "-m",
                                      "tcp",
                                      "-a",
                                      "254",
                                      "-p",
                                      std::to_string(sim.tcpPort()),
                                      "-0",
                                      "-1",
                                      "-o",
                                      "1"};
        argv.insert(argv.end(), args.begin(), args.end());
        return runCommand(argv, 30s);
    }
    // The values of "[REF]: VALUE" lines, checking that the references run on from `first`.
    // mbpoll adds the signed reading of a value above 32767 in brackets: "33019 (-32517)".
    static std::vector<uint16_t> valuesRead(const std::string& out, int first) {
        static const std::regex line(R"(^\[(\d+)\]:\s+(\d+)( \(-\d+\))?\s*$)");
        std::vector<uint16_t> values;
        for (const auto& text : splitLines(out)) {
            std::smatch m;
            if (!std::regex_match(text, m, line)) continue;
            EXPECT_EQ(std::stoi(m[1]), first + static_cast<int>(values.size())) << text;
            values.push_back(static_cast<uint16_t>(std::stoul(m[2])));
        }
        return values;
    }

    SimProcess sim{{"--tcp", "127.0.0.1:0", "--firmware", "0x80FB", "--model-type", "2", "--comm-option", "8",
                    "--set", "875=65535,1,32768"}};
};

TEST_F(MbpollMaster, ReadsTheIdentificationAndTheLargestBlock) {
    auto r = mbpoll({"-r", "0", "-c", "6", "127.0.0.1"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_THAT(valuesRead(r.out, 0), ElementsAre(740, 0x80FB, 1, 0, 2, 8));

    // 125 registers, the most one request may carry, up to the last register of the unit.
    r = mbpoll({"-r", "875", "-c", "125", "127.0.0.1"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    std::vector<uint16_t> expected(125, 0);
    expected[0] = 65535;
    expected[1] = 1;
    expected[2] = 32768;
    EXPECT_THAT(valuesRead(r.out, 875), ElementsAreArray(expected));
    EXPECT_THAT(sim.logLines(), ElementsAre("fc=3 start=0 count=6", "fc=3 start=875 count=125"));
}

TEST_F(MbpollMaster, WritesStickAndACommandRunsThroughRegisterSix) {
    auto r = mbpoll({"-r", "150", "127.0.0.1", "11", "22", "33"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr("Written 3 references."));
    r = mbpoll({"-r", "150", "-c", "3", "127.0.0.1"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_THAT(valuesRead(r.out, 150), ElementsAre(11, 22, 33));

    // mbpoll writes a single value with function 6, which the unit does not offer; two values
    // go as function 16, and the first lands in register 6.
    r = mbpoll({"-r", "6", "127.0.0.1", "18", "0"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_THAT(sim.stderrText(), HasSubstr("command 18 (write diagnostics file to the SD card) over TCP"));
    r = mbpoll({"-r", "6", "127.0.0.1", "3"});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_THAT(r.err, HasSubstr("Illegal function"));
    EXPECT_THAT(sim.logLines(),
                ElementsAre("fc=16 start=150 count=3 values=11,22,33", "fc=3 start=150 count=3",
                            "fc=16 start=6 count=2 values=18,0", "fc=6 data=00060003"));
}

} // namespace
