// Answers that come late, with the program's own waits: a slow serial unit's late answer is never
// read as the answer to the next request, and a unit command goes out once, its late
// acknowledgement counting while the command wait lasts.
#include "link/protocol.h"
#include "scripted_unit.h"
#include "tests/support/process.h"
#include "tests/support/sim_process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <thread>

namespace {

using namespace std::chrono_literals;
using kt::LinkStatus;
using kt::test::LinkKind;
using kt::test::Reply;
using kt::test::ScriptedUnit;
using kt::test::SimProcess;
using kt::test::UnitFrame;
using ::testing::HasSubstr;

// Later than all three receive waits of a serial read (3 x 500 ms), as the slow unit was.
constexpr auto Late = 2000ms;

Reply lateSound(const UnitFrame& request) {
    Reply r = Reply::sound(request);
    r.delay = Late;
    return r;
}

// Registers 0..99 read as the program and the command-line tool read them: two requests of 50.
std::array<uint16_t, 100> readHundred(kt::Protocol& facade, const kt::ConnectionSettings& settings) {
    std::array<uint16_t, 100> regs{};
    for (int first = 0; first < 100; first += 50) {
        const kt::LinkResult r = facade.ReadRegisters(settings, first, 50, regs.data() + first);
        EXPECT_TRUE(r.ok()) << "registers " << first << ": " << kt::linkStatusName(r.status) << " "
                            << r.detail;
    }
    return regs;
}

// The unit answers its first two requests late, then on time. Without the drain, the second
// request (the retry of the first read) is answered by the late answer to the first, and the
// late answer to the second arrives during the next read, which takes registers 0..49's values
// for 50..99's.
TEST(LateSerialAnswers, AreNeverReadAsTheNextRequestsAnswer) {
    auto unit = ScriptedUnit::open(LinkKind::Rtu);
    unit->then(lateSound);
    unit->then(lateSound);
    const kt::ConnectionSettings settings = unit->settings();
    kt::Protocol facade(settings); // the program's own timings
    const auto regs = readHundred(facade, settings);
    for (int r = 0; r < 100; ++r) EXPECT_EQ(regs[r], 0x1000 + r) << "register " << r;
}

// The same unit with the drain switched off shows the fault, so the test above can see it.
TEST(LateSerialAnswers, WithoutTheDrainTheFaultShows) {
    auto unit = ScriptedUnit::open(LinkKind::Rtu);
    unit->then(lateSound);
    unit->then(lateSound);
    const kt::ConnectionSettings settings = unit->settings();
    kt::LinkOptions noDrain;
    noDrain.timings.lateAnswerQuiet = 0ms;
    noDrain.timings.lateAnswerDrainMax = 0ms;
    kt::Protocol facade(settings, noDrain);
    const auto regs = readHundred(facade, settings);
    EXPECT_EQ(regs[50], 0x1000 + 0) << "register 50 shows register 0's value";
    EXPECT_EQ(regs[99], 0x1000 + 49);
}

// The command-line tool, as the operator met the fault: `read serial:... 0 100`.
TEST(LateSerialAnswers, TheCommandLineReadShowsEachRegistersOwnValue) {
    auto unit = ScriptedUnit::open(LinkKind::Rtu);
    unit->then(lateSound);
    unit->then(lateSound);
    auto r = kt::test::runCommand(
        {kt::test::binPath("ktmon740-cli"), "read", "serial:" + unit->where(), "0", "100"}, 60s);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = kt::test::splitLines(r.out);
    ASSERT_EQ(lines.size(), 100u);
    for (int reg = 0; reg < 100; ++reg)
        EXPECT_EQ(lines[reg], std::to_string(reg) + "\t" + std::to_string(0x1000 + reg));
}

class UnitCommandOnce : public ::testing::TestWithParam<LinkKind> {};

size_t commandRequests(const ScriptedUnit& unit) {
    const auto all = unit.requests();
    return static_cast<size_t>(std::count_if(all.begin(), all.end(), [](const UnitFrame& f) {
        return !f.pdu.empty() && (f.pdu[0] == 0x05 || (f.pdu[0] == 0x10 && kt::test::pduWord(f.pdu, 1) == 6));
    }));
}

// A serial command waits four receive reads (2 s), a TCP one the command wait (3 s): an
// acknowledgement 1.5 s late counts on both, and the command is not sent again.
TEST_P(UnitCommandOnce, ALateAcknowledgementCounts) {
    auto unit = ScriptedUnit::open(GetParam());
    unit->then([](const UnitFrame& request) {
        Reply r = Reply::sound(request);
        r.delay = 1500ms;
        return r;
    });
    const kt::ConnectionSettings settings = unit->settings();
    kt::Protocol facade(settings);
    const kt::LinkResult r = facade.WriteCoil(settings, 5);
    EXPECT_TRUE(r.ok()) << kt::linkStatusName(r.status) << " " << r.detail;
    EXPECT_EQ(r.attempts, 1);
    EXPECT_EQ(commandRequests(*unit), 1u);
}

// An acknowledgement later than the wait: the command failed as far as the program can tell, but
// it went out once and is not repeated; the late acknowledgement does not answer the next read.
TEST_P(UnitCommandOnce, AnAcknowledgementTooLateIsNoReasonToSendItAgain) {
    auto unit = ScriptedUnit::open(GetParam());
    unit->then([](const UnitFrame& request) {
        Reply r = Reply::sound(request);
        r.delay = 3500ms;
        return r;
    });
    const kt::ConnectionSettings settings = unit->settings();
    kt::Protocol facade(settings);
    const kt::LinkResult r = facade.WriteCoil(settings, 5);
    EXPECT_EQ(r.status, LinkStatus::NoAnswer);
    EXPECT_TRUE(r.sent);
    EXPECT_EQ(r.attempts, 1);
    std::this_thread::sleep_for(1000ms); // the acknowledgement arrives meanwhile
    std::array<uint16_t, 3> regs{};
    ASSERT_TRUE(facade.ReadRegisters(settings, 20, 3, regs.data()));
    EXPECT_EQ(regs, (std::array<uint16_t, 3>{0x1014, 0x1015, 0x1016}));
    EXPECT_EQ(commandRequests(*unit), 1u);
}

// The same against the simulator, whose request log and notes say what the unit received and
// carried out.
TEST_P(UnitCommandOnce, TheSimulatorCarriesItOutOnce) {
    struct Case {
        int delayMs;
        bool acknowledged;
    };
    for (const Case c : {Case{1500, true}, Case{4000, false}}) {
        SCOPED_TRACE(c.delayMs);
        auto sim = SimProcess::serving(GetParam(), {"--delay-ms", std::to_string(c.delayMs)});
        const kt::ConnectionSettings settings = *kt::parseLink(sim->link(GetParam()));
        {
            kt::Protocol facade(settings);
            const kt::LinkResult r = facade.WriteCoil(settings, 5);
            EXPECT_EQ(r.ok(), c.acknowledged) << kt::linkStatusName(r.status) << " " << r.detail;
            EXPECT_EQ(r.attempts, 1);
        }
        // Let a late answer leave the unit before looking at what it did.
        std::this_thread::sleep_for(std::chrono::milliseconds(c.acknowledged ? 0 : 2000));
        const auto log = sim->logLines();
        const std::string command =
            GetParam() == LinkKind::Tcp ? "fc=16 start=6 count=1 values=5" : "fc=5 coil=5 value=65280";
        EXPECT_EQ(std::count(log.begin(), log.end(), command), 1) << testing::PrintToString(log);
        EXPECT_EQ(log.size(), 1u) << testing::PrintToString(log);
        const std::string notes = sim->stderrText();
        const auto first = notes.find("command 5 (reset to defaults)");
        EXPECT_NE(first, std::string::npos) << notes;
        EXPECT_EQ(notes.find("command 5 (reset to defaults)", first + 1), std::string::npos) << notes;
        EXPECT_EQ(sim->stop(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(BothLinks, UnitCommandOnce, ::testing::Values(LinkKind::Rtu, LinkKind::Tcp),
                         kt::test::LinkKindName());

} // namespace
