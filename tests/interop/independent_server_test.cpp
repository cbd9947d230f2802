// ktmon740-cli read / write / command against a Modbus server that is not ours (pymodbus), over
// Modbus TCP and over Modbus RTU on a pair of pseudo-terminals.
#include "tests/interop/interop_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <sstream>

namespace {

using namespace kt::test;
using ::testing::ElementsAre;

// Register i of the server: every bit position shows up somewhere in the block.
uint16_t pattern(int i) {
    return static_cast<uint16_t>(i * 2731 + 17);
}

std::string values(int first, int count, uint16_t (*value)(int)) {
    std::string text;
    for (int i = first; i < first + count; ++i) text += (text.empty() ? "" : ",") + std::to_string(value(i));
    return text;
}

// What `ktmon740-cli read` prints for those registers.
std::string readOutput(int first, int count, uint16_t (*value)(int)) {
    std::ostringstream text;
    for (int i = first; i < first + count; ++i) text << i << '\t' << value(i) << '\n';
    return text.str();
}

uint16_t written(int i) {
    return static_cast<uint16_t>(0xFFFF - 97 * i);
}

struct Road {
    const char* name;
    bool tcp;
};

class IndependentServer : public ::testing::TestWithParam<Road> {
protected:
    void SetUp() override {
        const std::vector<std::string> presets{"0=" + values(0, 120, pattern)};
        if (GetParam().tcp) {
            server = std::make_unique<PymodbusServer>("tcp:127.0.0.1:0", presets);
            link = "tcp://" + server->endpoint();
        } else {
            cable = std::make_unique<PtyPair>();
            server = std::make_unique<PymodbusServer>("rtu:" + cable->first(), presets);
            link = "serial:" + cable->second();
        }
    }

    CommandResult cli(std::vector<std::string> args) {
        args.insert(args.begin(), binPath("ktmon740-cli"));
        return runCommand(args, 60s);
    }

    std::unique_ptr<PtyPair> cable;
    std::unique_ptr<PymodbusServer> server;
    std::string link;
};

TEST_P(IndependentServer, ReadsTheValuesTheServerHolds) {
    // 120 registers go as requests of 50, 50 and 20.
    auto r = cli({"read", link, "0", "120"});
    ASSERT_EQ(r.exitCode, 0) << r.err << server->errors();
    EXPECT_EQ(r.out, readOutput(0, 120, pattern));
    EXPECT_TRUE(server->writes().empty());
}

TEST_P(IndependentServer, WritesReachTheServersStore) {
    // 30 registers go as requests of 27 and 3.
    std::vector<std::string> args{"write", link, "150"};
    for (int i = 0; i < 30; ++i) args.push_back(std::to_string(written(i)));
    auto r = cli(args);
    ASSERT_EQ(r.exitCode, 0) << r.err << server->errors();
    EXPECT_EQ(r.out, "wrote 30 registers (150..179)\n");
    EXPECT_THAT(server->writes(), ElementsAre("fc=16 start=150 count=27 values=" + values(0, 27, written),
                                              "fc=16 start=177 count=3 values=" + values(27, 3, written)));

    r = cli({"read", link, "150", "30"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, readOutput(150, 30, [](int i) { return written(i - 150); }));
}

TEST_P(IndependentServer, CommandTakesTheLinksRoad) {
    auto r = cli({"command", link, "3"});
    ASSERT_EQ(r.exitCode, 0) << r.err << server->errors();
    EXPECT_EQ(r.out, "command 3 acknowledged\n");
    // Over serial a coil write; over TCP the value into register 6.
    EXPECT_THAT(server->writes(),
                ElementsAre(GetParam().tcp ? "fc=16 start=6 count=1 values=3" : "fc=5 coil=3 value=on"));
}

INSTANTIATE_TEST_SUITE_P(Links, IndependentServer, ::testing::Values(Road{"Tcp", true}, Road{"Rtu", false}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
