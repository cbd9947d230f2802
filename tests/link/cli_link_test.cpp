// ktmon740-cli read / write / command, run as a program against scripted units.
#include "pty_responder.h"
#include "tcp_responder.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace {

using namespace std::chrono_literals;
using kt::test::Bytes;
using kt::test::TcpResponder;

struct Result {
    int exit = -1;
    std::string out;
    std::string err;
};

// The tool with the words of `arguments` (no word holds a blank), bounded in time like every
// command a test runs.
Result cli(const std::string& arguments) {
    std::vector<std::string> argv{kt::test::binPath("ktmon740-cli")};
    std::istringstream words(arguments);
    for (std::string w; words >> w;) argv.push_back(w);
    const kt::test::CommandResult r = kt::test::runCommand(argv, 60s);
    EXPECT_FALSE(r.timedOut) << arguments;
    return {r.exitCode, r.out, r.err};
}

class CliLinkTest : public ::testing::Test {
protected:
    TcpResponder unit;
    std::string link = "tcp://127.0.0.1:" + std::to_string(unit.port());
};

TEST_F(CliLinkTest, ReadPrintsOneLinePerRegisterInRequestsOfFifty) {
    Result r = cli("read " + link + " 60 3");
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, "60\t8252\n61\t8253\n62\t8254\n");
    EXPECT_EQ(r.err, "");

    r = cli("read " + link + " 0 120");
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_NE(r.out.find("\n119\t8311\n"), std::string::npos);
    auto sent = unit.requests();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[1][11], 50);
    EXPECT_EQ(sent[2][9], 50); // second request starts at 50
    EXPECT_EQ(sent[3][11], 20);
}

TEST_F(CliLinkTest, ReadAsJson) {
    Result r = cli("read " + link + " 0x10 2 --json");
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out,
              "{\"link\":\"" + link +
                  "\",\"registers\":[{\"register\":16,\"value\":8208},{\"register\":17,\"value\":8209}]}\n");
}

TEST_F(CliLinkTest, ReadFailureNamesTheLinkAndTheRegisters) {
    unit.byDefault([](const Bytes& req) { return TcpResponder::Action{kt::test::tcpException(req)}; });
    Result r = cli("read " + link + " 0 6");
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "ktmon740-cli read: unit 254 at " + link.substr(6) +
                         " refused registers 0..5: illegal data address (exception 2)\n");
    EXPECT_EQ(unit.requests().size(), 3u); // three attempts
}

TEST_F(CliLinkTest, WriteSendsRequestsOfTwentySevenAndReportsWhatWasWritten) {
    std::string values;
    for (int i = 0; i < 30; ++i) values += " " + std::to_string(1000 + i);
    Result r = cli("write " + link + " 100" + values);
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, "wrote 30 registers (100..129)\n");
    auto sent = unit.requests();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0][11], 27);
    EXPECT_EQ(sent[1][9], 127);
    EXPECT_EQ(sent[1].size(), 13u + 2 * 3);
    EXPECT_EQ(sent[1].back(), (1029 & 0xFF));

    // The second request is refused: the first one's registers are named as written.
    unit.then([](const Bytes& req) { return TcpResponder::Action{kt::test::soundTcpAnswer(req)}; });
    unit.byDefault([](const Bytes& req) { return TcpResponder::Action{kt::test::tcpException(req)}; });
    r = cli("write " + link + " 100" + values);
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.err,
              "ktmon740-cli write: unit 254 at " + link.substr(6) +
                  " refused registers 127..129: illegal data address (exception 2); registers 100..126 "
                  "were written\n");

    unit.byDefault([](const Bytes&) { return TcpResponder::Action{}; }); // silent
    r = cli("write " + link + " 6 0x0003");
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.err, "ktmon740-cli write: no answer from unit 254 at " + link.substr(6) +
                         " to the write of register 6 after 3 attempts\n");
}

TEST_F(CliLinkTest, CommandIsWrittenToRegisterSix) {
    Result r = cli("command " + link + " 18");
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, "command 18 acknowledged\n");
    ASSERT_EQ(unit.requests().size(), 1u);
    EXPECT_EQ(unit.requests()[0], (Bytes{0, 0, 0, 0, 0, 9, 0xFE, 0x10, 0, 6, 0, 1, 2, 0, 18}));
}

TEST_F(CliLinkTest, UsageErrorsExitTwoWithoutTouchingTheLink) {
    for (const std::string& args : std::vector<std::string>{
             "read " + link,
             "read " + link + " 0 0",
             "read " + link + " 0 1001",
             "read " + link + " -1 1",
             "read " + link + " 9990 20", // past 9999 over TCP
             "read " + link + " x 1",
             std::string("read udp://host 0 1"),
             "read tcp://host:99999 0 1",
             "read " + link + " 0 1 --hex",
             "write " + link + " 0",
             "write " + link + " 0 65536",
             "write " + link + " 0 -1",
             "write " + link + " 0 0x1G",
             "command " + link,
             "command " + link + " 70000",
         }) {
        SCOPED_TRACE(args);
        Result r = cli(args);
        EXPECT_EQ(r.exit, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("usage: ktmon740-cli"), std::string::npos);
    }
    EXPECT_EQ(unit.connections(), 0);
}

TEST(CliLinkSerial, ReadsAndCommandsOverTheSerialLink) {
    kt::test::PtyResponder unit;
    const std::string link = "serial:" + unit.path();
    Result r = cli("read " + link + " 65534 2");
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, "65534\t4094\n65535\t4095\n"); // 0x1000 + register, in 16 bits
    unit.then(Bytes{});
    r = cli("command " + link + " 2");
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.err, "ktmon740-cli command: no answer from unit 254 at " + unit.path() +
                         " to command 2 after 1 attempt (sent once; the unit may still have executed it)\n");
    EXPECT_EQ(unit.requests().size(), 2u);
    r = cli("read " + link + " 65535 2");
    EXPECT_EQ(r.exit, 2);
}

} // namespace

namespace {

// A missing port is told in one line that says why; the transport's diagnostic lines come only
// when asked for, and never mix into the results.
TEST(CliLinkSerial, AMissingPortIsOneLineThatSaysWhy) {
    // Every command that takes a link.
    for (const char* command : {"read", "write", "command", "identify", "monitor", "events", "set-clock",
                                "reset-defaults", "calibrate", "dump-diagnostics", "clear-events"}) {
        SCOPED_TRACE(command);
        const std::string rest = std::string(command) == "read"      ? " 0 2"
                                 : std::string(command) == "write"   ? " 0 2"
                                 : std::string(command) == "command" ? " 5"
                                                                     : "";
        Result r = cli(std::string(command) + " serial:/dev/kt-no-such-port" + rest);
        EXPECT_EQ(r.exit, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find("cannot open /dev/kt-no-such-port: No such file or directory"),
                  std::string::npos)
            << r.err;
    }
    Result r = cli("read serial:/dev/kt-no-such-port 0 2 --json");
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "ktmon740-cli read: cannot open /dev/kt-no-such-port: No such file or directory\n");
    r = cli("--verbose read serial:/dev/kt-no-such-port 0 2 --json");
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Error: Serial port does not exist. Please check the port name and try again\n"),
              std::string::npos)
        << r.err;
}

} // namespace
