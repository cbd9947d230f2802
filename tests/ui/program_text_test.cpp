// The texts the operator types or passes to the program: the IP address field and the command line.
#include "tests/support/process.h"
#include "ui/address_text.h"
#include "ui/program_options.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

TEST(Ipv4Endpoint, ReadsAddressesWithAndWithoutAPort) {
    struct Case {
        const char* text;
        std::optional<std::pair<std::string, uint16_t>> expected;
    } cases[] = {
        {"192.168.0.10", std::pair{"192.168.0.10", 502}},
        {" 10.0.0.1 ", std::pair{"10.0.0.1", 502}},
        {"192.168.001.010", std::pair{"192.168.1.10", 502}}, // padded as the unit shows it
        {"127.0.0.1:5020", std::pair{"127.0.0.1", 5020}},
        {"0.0.0.0:65535", std::pair{"0.0.0.0", 65535}},
        {"255.255.255.255", std::pair{"255.255.255.255", 502}},
        {"", std::nullopt},
        {"abc", std::nullopt},
        {"256.0.0.1", std::nullopt},
        {"1.2.3", std::nullopt},
        {"1.2.3.4.5", std::nullopt},
        {"1..3.4", std::nullopt},
        {"1.2.3.4:", std::nullopt},
        {"1.2.3.4:0", std::nullopt},
        {"1.2.3.4:65536", std::nullopt},
        {"1.2.3.4:5x", std::nullopt},
        {"+1.2.3.4", std::nullopt},
        {"0001.2.3.4", std::nullopt},
        {"1.2.3.4 :502", std::nullopt},
        {"1.2.3.4:502:1", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        auto e = kt::parseIpv4Endpoint(c.text);
        ASSERT_EQ(e.has_value(), c.expected.has_value());
        if (!e) continue;
        EXPECT_EQ(e->address, c.expected->first);
        EXPECT_EQ(e->port, c.expected->second);
    }
    EXPECT_EQ(kt::formatIpv4Endpoint({"10.0.0.1", 502}), "10.0.0.1");
    EXPECT_EQ(kt::formatIpv4Endpoint({"10.0.0.1", 5020}), "10.0.0.1:5020");
}

std::optional<kt::ProgramOptions> parse(std::vector<std::string> args, std::string& error) {
    return kt::parseProgramOptions(args, error);
}

TEST(ProgramOptions, ReadsTheLinkAndTheScreenshot) {
    std::string error;
    auto none = parse({}, error);
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->connect);
    EXPECT_TRUE(none->screenshotFile.empty());

    auto tcp = parse({"--connect", "tcp://127.0.0.1:5020", "--screenshot", "a.png", "--after", "300"}, error);
    ASSERT_TRUE(tcp) << error;
    ASSERT_TRUE(tcp->connect);
    EXPECT_EQ(tcp->connect->linkType, kt::LinkModbusTcp);
    EXPECT_EQ(tcp->connect->ipAddress, "127.0.0.1");
    EXPECT_EQ(tcp->connect->tcpPort, 5020);
    EXPECT_EQ(tcp->screenshotFile, "a.png");
    EXPECT_EQ(tcp->screenshotAfterMs, 300);
    EXPECT_TRUE(tcp->screenshotPage.empty());

    auto page = parse({"--screenshot", "a.png", "--page", "Detailed Status"}, error);
    ASSERT_TRUE(page) << error;
    EXPECT_EQ(page->screenshotPage, "Detailed Status");

    auto serial = parse({"-platform", "offscreen", "--connect", "serial:/dev/ttyUSB0"}, error);
    ASSERT_TRUE(serial) << error;
    EXPECT_EQ(serial->connect->linkType, kt::LinkSerialRtu);
    EXPECT_EQ(serial->connect->portName, "/dev/ttyUSB0");

    auto help = parse({"--help"}, error);
    ASSERT_TRUE(help);
    EXPECT_TRUE(help->help);
}

TEST(ProgramOptions, RefusesWhatItCannotUseWithOneSentence) {
    struct Case {
        std::vector<std::string> args;
        const char* mentions;
    } cases[] = {
        {{"--connect"}, "--connect needs a value"},
        {{"--connect", "udp://1.2.3.4"}, "unknown link"},
        {{"--connect", "tcp://"}, "missing host"},
        {{"--connect", "tcp://1.2.3.4:99999"}, "bad TCP port"},
        {{"--connect", "tcp://relay.local"}, "is not an IPv4 address"},
        {{"--connect", "serial:"}, "missing device"},
        {{"--screenshot", ""}, "needs a file name"},
        {{"--screenshot", "a.png", "--after", "soon"}, "expected milliseconds"},
        {{"--after", "100"}, "only goes with --screenshot"},
        {{"--page", "Summary"}, "only goes with --screenshot"},
        {{"--screenshot", "a.png", "--page", ""}, "needs the caption of a page"},
        {{"--verbose"}, "unknown option --verbose"},
        {{"stray"}, "unexpected argument stray"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front());
        std::string error;
        EXPECT_FALSE(kt::parseProgramOptions(c.args, error));
        EXPECT_NE(error.find(c.mentions), std::string::npos) << error;
    }
}

TEST(ProgramCommandLine, HelpAndBadLinksAnswerBeforeAnyWindow) {
    using kt::test::binPath;
    using kt::test::runCommand;
    // No display is needed for either: both answer before the GUI starts.
    auto help = runCommand({binPath("ktmon740"), "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--connect LINK"), std::string::npos) << help.out;

    auto bad = runCommand({binPath("ktmon740"), "--connect", "bogus"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.err.find("ktmon740: --connect bogus: unknown link"), std::string::npos) << bad.err;
    EXPECT_TRUE(bad.out.empty());
}

} // namespace
