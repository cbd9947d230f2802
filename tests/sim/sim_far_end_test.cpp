// kt740sim as a faithful far end, over both endpoints: requests a unit cannot serve get the
// exception a Modbus unit gives, requests for other units and other protocols are ignored as a
// unit ignores them, and clients that connect and say nothing cannot lock the others out.
#include "tests/sim/raw_link.h"
#include "tests/support/modbus_master.h"
#include "tests/support/sim_process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace {

using namespace kt::test;
using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Optional;

using Kind = LinkKind;

class SimFarEnd : public ::testing::TestWithParam<Kind> {
protected:
    void start(std::vector<std::string> args = {}) { sim = SimProcess::serving(GetParam(), std::move(args)); }
    std::unique_ptr<RawLink> open() {
        if (GetParam() == Kind::Tcp) return std::make_unique<RawTcp>(sim->tcpPort());
        return std::make_unique<RawRtu>(sim->rtuDevice());
    }
    void TearDown() override {
        if (sim) {
            EXPECT_EQ(sim->stop(), 0) << sim->stderrText();
        }
    }

    std::unique_ptr<SimProcess> sim;
};

const RawFrame ReadIdentification{254, {0x03, 0x00, 0x00, 0x00, 0x02}};
const RawFrame Identification{254, {0x03, 0x04, 0x02, 0xE4, 0x00, 0xFA}}; // 740, 250

// A write of `count` registers from register 100 carrying `bytes` data bytes.
RawFrame write(int count, int bytes) {
    RawFrame f{254,
               {0x10, 0x00, 100, static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count & 0xFF),
                static_cast<uint8_t>(bytes)}};
    f.pdu.resize(f.pdu.size() + static_cast<size_t>(bytes), 0x11);
    return f;
}

TEST_P(SimFarEnd, RequestsTheUnitCannotServeGetTheRightException) {
    start();
    struct Case {
        const char* what;
        RawFrame request;
        kt::test::Bytes answer;
    };
    const Case cases[] = {
        // The function code of an exception answer, sent as a request: the answer keeps the code
        // (bit 7 is set already) rather than wrapping it into another function.
        {"function 0x83", {254, {0x83, 0x00, 0x00, 0x00, 0x01}}, {0x83, 0x01}},
        {"function 0x80 alone", {254, {0x80}}, {0x80, 0x01}},
        {"function 0xFF", {254, {0xFF, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06}}, {0xFF, 0x01}},
        {"function 4", {254, {0x04, 0x00, 0x00, 0x00, 0x01}}, {0x84, 0x01}},
        {"function 8", {254, {0x08, 0x00, 0x00, 0x12, 0x34}}, {0x88, 0x01}},
        {"function 43, a layout the framing does not know", {254, {0x2B, 0x0E, 0x01, 0x00}}, {0xAB, 0x01}},
        {"a read without its count", {254, {0x03, 0x00, 0x00}}, {0x83, 0x03}},
        {"a read of no registers", {254, {0x03, 0x00, 0x00, 0x00, 0x00}}, {0x83, 0x03}},
        {"a write of 124 registers", write(124, 248), {0x90, 0x03}},
        {"a write with the most data bytes a byte count names", write(127, 254), {0x90, 0x03}},
        {"a write whose byte count is not twice its count", write(2, 3), {0x90, 0x03}},
    };
    auto link = open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_THAT(link->exchange(c.request), Optional(RawFrame{254, c.answer}));
        // The line or the connection still serves.
        EXPECT_THAT(link->exchange(ReadIdentification), Optional(Identification));
    }
    // Every request was for this unit, refused or not, so every one is logged.
    EXPECT_EQ(sim->logLines().size(), 2 * std::size(cases));
}

TEST_P(SimFarEnd, RequestsForOtherUnitsAreIgnored) {
    start();
    auto link = open();
    for (uint8_t unit : {1, 7, 247, 253}) {
        SCOPED_TRACE(int(unit));
        EXPECT_EQ(link->exchange({unit, {0x03, 0x00, 0x00, 0x00, 0x02}}, 300ms), std::nullopt);
        // An unknown function for another unit as well: it is framed by the silence after it.
        EXPECT_EQ(link->exchange({unit, {0x41, 0x01, 0x02}}, 300ms), std::nullopt);
        EXPECT_THAT(link->exchange(ReadIdentification), Optional(Identification));
    }
    if (GetParam() == Kind::Tcp) {
        // The "this device" ids of Modbus TCP are this unit.
        for (uint8_t unit : {0, 255})
            EXPECT_THAT(link->exchange({unit, {0x03, 0x00, 0x00, 0x00, 0x02}}),
                        Optional(RawFrame{unit, Identification.pdu}));
    }
    for (const std::string& line : sim->logLines()) EXPECT_EQ(line, "fc=3 start=0 count=2");
}

INSTANTIATE_TEST_SUITE_P(BothEndpoints, SimFarEnd, ::testing::Values(Kind::Rtu, Kind::Tcp), LinkKindName());

class SimFarEndTcp : public ::testing::Test {
protected:
    void TearDown() override {
        if (sim) {
            EXPECT_EQ(sim->stop(), 0) << sim->stderrText();
        }
    }
    std::unique_ptr<SimProcess> sim;
};

TEST_F(SimFarEndTcp, AnswersCarryTheRequestsTransactionAndOtherProtocolsAreIgnored) {
    sim = std::make_unique<SimProcess>(std::vector<std::string>{"--tcp", "127.0.0.1:0"});
    RawTcp link(sim->tcpPort());
    link.send(ReadIdentification, 0xBEEF);
    EXPECT_THAT(link.receive(1000ms), Optional(Identification));
    EXPECT_EQ(link.lastTransaction(), 0xBEEF);
    EXPECT_EQ(link.lastProtocol(), 0);
    link.send({254, {0x99}}, 0x1234);
    EXPECT_THAT(link.receive(1000ms), Optional(RawFrame{254, {0x99, 0x01}}));
    EXPECT_EQ(link.lastTransaction(), 0x1234);

    // Protocol id 1 is not Modbus: no answer, and the connection goes on.
    link.sendBytes({0x00, 0x07, 0x00, 0x01, 0x00, 0x06, 0xFE, 0x03, 0x00, 0x00, 0x00, 0x02});
    EXPECT_EQ(link.receive(300ms), std::nullopt);
    EXPECT_THAT(link.exchange(ReadIdentification), Optional(Identification));
    EXPECT_EQ(sim->logLines().size(), 3u);
}

TEST_F(SimFarEndTcp, AConnectionThatSaysNothingIsClosed) {
    sim = std::make_unique<SimProcess>(std::vector<std::string>{"--tcp", "127.0.0.1:0", "--idle-ms", "300"});
    RawTcp idle(sim->tcpPort());
    RawTcp busy(sim->tcpPort());
    // The busy one asks every 100 ms for twice the idle time and is kept.
    for (int i = 0; i < 6; ++i) {
        EXPECT_THAT(busy.exchange(ReadIdentification), Optional(Identification)) << i;
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_TRUE(idle.closedByPeer(2000ms));
    EXPECT_FALSE(busy.closedByPeer(0ms));
    EXPECT_THAT(sim->stderrText(), HasSubstr("TCP connection closed: nothing received for 300 ms"));
}

TEST_F(SimFarEndTcp, SilentClientsCannotLockOthersOut) {
    // With the default idle time-out (a minute), more silent clients than the endpoint has places.
    sim = std::make_unique<SimProcess>(std::vector<std::string>{"--tcp", "127.0.0.1:0"});
    std::vector<std::unique_ptr<RawTcp>> silent;
    for (int i = 0; i < 40; ++i) silent.push_back(std::make_unique<RawTcp>(sim->tcpPort()));
    RawTcp talking(sim->tcpPort());
    EXPECT_THAT(talking.exchange(ReadIdentification, 2000ms), Optional(Identification));
    // An independent master too, on a connection of its own.
    auto replies = runModbusMaster("tcp:" + sim->tcpEndpoint(), {"read:0:2"});
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_TRUE(replies[0].ok()) << replies[0].detail;
    EXPECT_THAT(replies[0].values, ElementsAre(740, 250));
    // The places were made by closing the clients idle longest: the first ones.
    EXPECT_TRUE(silent.front()->closedByPeer(2000ms));
    EXPECT_THAT(sim->stderrText(), HasSubstr("closing the one idle longest"));
}

} // namespace
