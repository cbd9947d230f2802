// The link facade and the RTU transport end to end against the kt740sim relay simulator, over
// Modbus TCP and over the simulator's pseudo-terminal, with the faults the simulator injects.
#include "link/mbprotocol.h"
#include "link/protocol.h"
#include "tests/support/process.h"
#include "tests/support/sim_process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <memory>

namespace {

using namespace kt::test;
using kt::ConnectionSettings;
using kt::Protocol;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

using Link = LinkKind;

const char* name(Link link) {
    return link == Link::Tcp ? "TCP" : "RTU";
}

ConnectionSettings settingsFor(const SimProcess& sim, Link link) {
    auto parsed = kt::parseLink(sim.link(link));
    if (!parsed) throw std::runtime_error("the simulator's link does not parse");
    return *parsed;
}

class SimE2e : public ::testing::Test {
protected:
    void SetUp() override {
        // The simulator is built with every test; without it the build is broken, and a skip
        // would hide that.
        ASSERT_TRUE(std::filesystem::exists(binPath("kt740sim"))) << binPath("kt740sim") << " was not built";
    }
    static std::unique_ptr<SimProcess> startSim(Link link, std::vector<std::string> args = {}) {
        return SimProcess::serving(link, std::move(args));
    }
};

// The same checks over both links.
class SimE2eBothLinks : public SimE2e, public ::testing::WithParamInterface<Link> {};

// What the program does over a link: identify, write the clock and a setting, read them back,
// the largest write it makes (27 registers), and a command.
TEST_P(SimE2eBothLinks, ReadsWritesAndCommands) {
    {
        const Link link = GetParam();
        // No register file: the unit serves its identification and zeros, so the whole block
        // read can be checked word for word.
        std::vector<std::string> args{
            "--firmware", "0x80FB",        "--serial", "123456",      "--model-type",
            "3",          "--comm-option", "7",        "--resources", "/nonexistent-kt-resources"};
        if (link == Link::Rtu) args.insert(args.end(), {"--pace", "115200"}); // as fast as the real line
        auto sim = startSim(link, args);
        ConnectionSettings s = settingsFor(*sim, link);
        {
            Protocol facade(s);
            std::array<uint16_t, 50> regs{};
            ASSERT_TRUE(facade.ReadRegisters(s, 0, 50, regs.data()));
            EXPECT_THAT(std::vector(regs.begin(), regs.begin() + 6),
                        ElementsAre(740, 0x80FB, 0xE240, 1, 3, 7));
            EXPECT_THAT(std::vector(regs.begin() + 6, regs.end()), Each(0));

            const std::array<uint16_t, 4> clock{0x0615, 2025, 0x1E00, 0x0C22};
            ASSERT_TRUE(facade.WriteRegisters(s, 150, 4, clock.data()));
            const uint16_t setting = 0x0102;
            ASSERT_TRUE(facade.WriteRegisters(s, 16, 1, &setting));
            std::array<uint16_t, 27> block{};
            for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint16_t>(0xFFFF - 1000 * i);
            ASSERT_TRUE(facade.WriteRegisters(s, 300, 27, block.data()));

            std::array<uint16_t, 4> clockBack{};
            ASSERT_TRUE(facade.ReadRegisters(s, 150, 4, clockBack.data()));
            EXPECT_EQ(clockBack, clock);
            uint16_t settingBack = 0;
            ASSERT_TRUE(facade.ReadRegisters(s, 16, 1, &settingBack));
            EXPECT_EQ(settingBack, setting);
            std::array<uint16_t, 27> blockBack{};
            ASSERT_TRUE(facade.ReadRegisters(s, 300, 27, blockBack.data()));
            EXPECT_EQ(blockBack, block);

            EXPECT_TRUE(facade.WriteCoil(s, 3));
        }
        // One request per call (no retry was needed), and the command on each link's road.
        auto log = sim->logLines();
        ASSERT_EQ(log.size(), 8u) << testing::PrintToString(log);
        EXPECT_EQ(log[0], "fc=3 start=0 count=50");
        EXPECT_EQ(log[1], "fc=16 start=150 count=4 values=1557,2025,7680,3106");
        EXPECT_EQ(log[7], link == Link::Tcp ? "fc=16 start=6 count=1 values=3" : "fc=5 coil=3 value=65280");
        EXPECT_THAT(sim->stderrText(), HasSubstr(std::string("command 3 (set clock) over ") +
                                                 (link == Link::Tcp ? "TCP" : "RTU")));
        EXPECT_EQ(sim->stop(), 0) << sim->stderrText();
    }
}

// On a line slow enough that each byte is seen on its own, the whole acknowledgement of a
// one-register write is read: a last byte still on its way when the next request purges the
// port would spoil that request's answer, and a command, sent once over serial, would be
// reported as failed.
TEST_F(SimE2e, AOneRegisterWriteLeavesNothingBehindOnASlowLine) {
    auto sim = startSim(Link::Rtu, {"--pace", "1200"});
    ConnectionSettings s = settingsFor(*sim, Link::Rtu);
    Protocol facade(s);
    const uint16_t value = 0x0102;
    ASSERT_TRUE(facade.WriteRegisters(s, 16, 1, &value));
    uint16_t back = 0;
    ASSERT_TRUE(facade.ReadRegisters(s, 16, 1, &back));
    EXPECT_EQ(back, value);
    ASSERT_TRUE(facade.WriteRegisters(s, 17, 1, &value));
    EXPECT_TRUE(facade.WriteCoil(s, 3));
    EXPECT_THAT(sim->logLines(), ElementsAre("fc=16 start=16 count=1 values=258", "fc=3 start=16 count=1",
                                             "fc=16 start=17 count=1 values=258", "fc=5 coil=3 value=65280"));
}

// A read the unit refuses fails and leaves the destination alone; the block the monitor then
// reads in requests of 20 arrives whole.
TEST_P(SimE2eBothLinks, ReadsOfTwentyServeWhenBiggerOnesAreRefused) {
    {
        const Link link = GetParam();
        auto sim = startSim(link, {"--max-read", "20", "--set", "40=4040,4141", "--set", "49=4949"});
        ConnectionSettings s = settingsFor(*sim, link);
        Protocol facade(s);
        std::array<uint16_t, 50> regs;
        regs.fill(0xA5A5);
        EXPECT_FALSE(facade.ReadRegisters(s, 0, 50, regs.data()));
        EXPECT_THAT(regs, Each(0xA5A5));
        for (int first = 0; first < 50; first += 20)
            ASSERT_TRUE(facade.ReadRegisters(s, first, std::min(20, 50 - first), regs.data() + first));
        EXPECT_EQ(regs[0], 740);
        EXPECT_EQ(regs[40], 4040);
        EXPECT_EQ(regs[41], 4141);
        EXPECT_EQ(regs[49], 4949);
        EXPECT_THAT(sim->logLines(),
                    ElementsAre("fc=3 start=0 count=50", "fc=3 start=0 count=50", "fc=3 start=0 count=50",
                                "fc=3 start=0 count=20", "fc=3 start=20 count=20", "fc=3 start=40 count=10"));
    }
}

// The fourth failure in a row closes the serial port; the next transfer opens it again and is
// served. Refused reads are the failures: they fail at once, without waiting for time-outs.
TEST_F(SimE2e, SerialPortClosesAfterTheFourthFailureAndReopens) {
    auto sim = startSim(Link::Rtu, {"--max-read", "20"});
    kt::MBProtocol rtu(sim->rtuDevice(), 115200);
    std::array<uint16_t, 50> regs{};
    for (int failure = 1; failure <= 3; ++failure) {
        EXPECT_FALSE(rtu.readHoldingRegisters(254, 0, 50, regs.data(), 0));
        EXPECT_TRUE(rtu.portOpen()) << "after failure " << failure;
        EXPECT_EQ(rtu.failureCount(), failure);
    }
    EXPECT_FALSE(rtu.readHoldingRegisters(254, 0, 50, regs.data(), 0));
    EXPECT_FALSE(rtu.portOpen());

    ASSERT_TRUE(rtu.readHoldingRegisters(254, 0, 20, regs.data(), 0));
    EXPECT_TRUE(rtu.portOpen());
    EXPECT_EQ(rtu.failureCount(), 0);
    EXPECT_EQ(regs[0], 740);
    // The fourth request did reach the unit: the port closes after its answer, not before it.
    const auto log = sim->logLines();
    ASSERT_EQ(log.size(), 5u) << testing::PrintToString(log);
    EXPECT_EQ(log.back(), "fc=3 start=0 count=20");
}

// The unit closes each connection after two requests: every call still gets through, on a
// fresh connection, with one request each.
TEST_F(SimE2e, ReconnectsAfterTheUnitClosedTheConnection) {
    auto sim = startSim(Link::Tcp, {"--drop-after", "2", "--set", "100=1,2,3,4,5,6,7,8"});
    ConnectionSettings s = settingsFor(*sim, Link::Tcp);
    Protocol facade(s);
    for (int pass = 0; pass < 6; ++pass) {
        uint16_t value = 0;
        ASSERT_TRUE(facade.ReadRegisters(s, 100 + pass, 1, &value)) << "pass " << pass;
        EXPECT_EQ(value, pass + 1);
    }
    const uint16_t v = 77;
    EXPECT_TRUE(facade.WriteRegisters(s, 120, 1, &v));
    EXPECT_TRUE(facade.WriteCoil(s, 16));
    EXPECT_EQ(sim->logLines().size(), 8u);
}

// Faults on every second answer: the retries ride over them with the right data.
TEST_F(SimE2e, RetriesRideOverOccasionalFaults) {
    struct Case {
        Link link;
        std::vector<std::string> fault;
    };
    const Case cases[] = {
        {Link::Tcp, {"--exception-every", "2"}},
        {Link::Rtu, {"--exception-every", "2"}},
        {Link::Rtu, {"--bad-crc-every", "2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(name(c.link)) + " " + c.fault[0]);
        auto sim = startSim(c.link, c.fault);
        ConnectionSettings s = settingsFor(*sim, c.link);
        Protocol facade(s);
        for (int pass = 0; pass < 4; ++pass) {
            std::array<uint16_t, 6> regs{};
            ASSERT_TRUE(facade.ReadRegisters(s, 0, 6, regs.data())) << "pass " << pass;
            EXPECT_THAT(regs, ElementsAre(740, 250, 1, 0, 0, 0));
        }
        const std::array<uint16_t, 2> values{11, 22};
        EXPECT_TRUE(facade.WriteRegisters(s, 150, 2, values.data()));
        std::array<uint16_t, 2> back{};
        ASSERT_TRUE(facade.ReadRegisters(s, 150, 2, back.data()));
        EXPECT_EQ(back, values);
    }
}

// A unit that keeps failing: each call fails within the time-outs and never hands out data.
struct PersistentFault {
    Link link;
    std::vector<std::string> fault;
    bool writesFail;       // the fault spoils writes and commands as well
    kt::LinkStatus status; // what the read comes to
};

void PrintTo(const PersistentFault& c, std::ostream* out) {
    *out << name(c.link);
    for (const auto& word : c.fault) *out << ' ' << word;
}

class SimPersistentFault : public SimE2e, public ::testing::WithParamInterface<PersistentFault> {};

// Waits short enough for a test of failures; the rules are the program's.
kt::LinkOptions faultTimings() {
    using namespace std::chrono_literals;
    kt::LinkOptions o;
    o.timings.serialReadTotalMs = 200;
    o.timings.lateAnswerQuiet = 300ms;
    o.timings.lateAnswerDrainMax = 1000ms;
    o.timings.tcpReadMs = 300;
    o.timings.commandAnswerWait = 900ms;
    return o;
}

// The worst case of one facade call: three attempts of the transport's whole wait, and the pauses.
std::chrono::milliseconds worstCase(Link link, const kt::LinkTimings& t) {
    using namespace std::chrono_literals;
    // TCP: one answer wait per attempt. RTU: up to three receive reads, then the drain of a late
    // answer.
    const auto attempt = link == Link::Tcp
                             ? std::chrono::milliseconds(t.tcpReadMs)
                             : 3 * std::chrono::milliseconds(t.serialReadTotalMs + 1) + t.lateAnswerDrainMax;
    return Protocol::Attempts * (attempt + t.retryPause);
}

TEST_P(SimPersistentFault, FailsWithinTheTimeOutsWithoutData) {
    const PersistentFault& c = GetParam();
    auto sim = startSim(c.link, c.fault);
    ConnectionSettings s = settingsFor(*sim, c.link);
    const kt::LinkOptions options = faultTimings();
    Protocol facade(s, options);

    std::array<uint16_t, 6> regs;
    regs.fill(0xA5A5);
    const auto began = Clock::now();
    const kt::LinkResult read = facade.ReadRegisters(s, 0, 6, regs.data());
    const auto took = Clock::now() - began;
    EXPECT_FALSE(read);
    EXPECT_EQ(read.status, c.status) << read.detail;
    EXPECT_EQ(read.attempts, 3);
    EXPECT_THAT(regs, Each(0xA5A5));
    // Not a speed goal: a generous allowance for a loaded machine, to catch a hang.
    EXPECT_LT(took, worstCase(c.link, options.timings) + std::chrono::seconds(3));

    if (c.writesFail) {
        // A spoiled acknowledgement is no acknowledgement: the write is not taken as done.
        const uint16_t value = 1234;
        EXPECT_EQ(facade.WriteRegisters(s, 150, 1, &value).status, c.status);
        EXPECT_EQ(facade.WriteCoil(s, 2).status, c.status);
    }
    // Exactly three attempts reached the unit for the read (a delayed unit may not have taken
    // them all in yet).
    if (c.fault[0] != "--delay-ms") {
        const auto log = sim->logLines();
        EXPECT_EQ(std::count(log.begin(), log.end(), "fc=3 start=0 count=6"), 3)
            << testing::PrintToString(log);
    }
    EXPECT_TRUE(sim->running());
}

std::string faultName(const ::testing::TestParamInfo<PersistentFault>& info) {
    // "RtuBadCrcEvery" from RTU and --bad-crc-every.
    std::string text = info.param.link == Link::Tcp ? "Tcp" : "Rtu";
    bool capital = true;
    for (char ch : info.param.fault[0].substr(2)) {
        if (ch == '-') {
            capital = true;
            continue;
        }
        text += capital ? static_cast<char>(std::toupper(static_cast<unsigned char>(ch))) : ch;
        capital = false;
    }
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    EveryAnswer, SimPersistentFault,
    ::testing::Values(PersistentFault{Link::Tcp, {"--exception-every", "1"}, true, kt::LinkStatus::Exception},
                      PersistentFault{Link::Rtu, {"--exception-every", "1"}, true, kt::LinkStatus::Exception},
                      PersistentFault{Link::Rtu, {"--bad-crc-every", "1"}, true, kt::LinkStatus::Damaged},
                      PersistentFault{Link::Tcp, {"--silent"}, false, kt::LinkStatus::NoAnswer},
                      PersistentFault{Link::Rtu, {"--silent"}, false, kt::LinkStatus::NoAnswer},
                      // Beyond the answer wait (TCP) and beyond all three receive reads (RTU).
                      PersistentFault{Link::Tcp, {"--delay-ms", "1500"}, false, kt::LinkStatus::NoAnswer},
                      PersistentFault{Link::Rtu, {"--delay-ms", "5000"}, false, kt::LinkStatus::NoAnswer}),
    faultName);

// The command-line tool over both links: what it writes is read back, and commands arrive.
TEST_P(SimE2eBothLinks, CliReadsWhatItWrote) {
    {
        const Link link = GetParam();
        auto sim = startSim(link);
        const std::string where = sim->link(link);
        const std::string cli = binPath("ktmon740-cli");
        auto r = runCommand({cli, "write", where, "200", "7", "0x1234", "65535"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, "wrote 3 registers (200..202)\n");
        r = runCommand({cli, "read", where, "200", "3"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, "200\t7\n201\t4660\n202\t65535\n");
        r = runCommand({cli, "command", where, "18"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, "command 18 acknowledged\n");
        // Checked for a line at all first: a test that meets a fault fails rather than crashes.
        const auto log = sim->logLines();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back(), link == Link::Tcp ? "fc=16 start=6 count=1 values=18" : "fc=5 coil=18 value=65280");
    }
}

INSTANTIATE_TEST_SUITE_P(Both, SimE2eBothLinks, ::testing::Values(Link::Rtu, Link::Tcp), LinkKindName());

} // namespace
