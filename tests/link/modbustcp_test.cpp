// The TCP transport against a scripted unit on a loopback port.
#include "link/modbustcp.h"
#include "tcp_responder.h"

#include <gtest/gtest.h>

#include <array>

namespace {

using namespace std::chrono_literals;
using kt::ModbusTCP;
using kt::test::Bytes;
using kt::test::soundTcpAnswer;
using kt::test::tcpException;
using kt::test::TcpResponder;
using Action = TcpResponder::Action;
using Clock = std::chrono::steady_clock;

// The answer waits shortened for the tests (answers arrive within milliseconds); the rules are
// the program's.
constexpr auto AnswerWait = 300ms;
kt::LinkOptions shortWaits() {
    kt::LinkOptions o;
    o.timings.tcpReadMs = static_cast<int>(AnswerWait.count());
    o.timings.commandAnswerWait = AnswerWait;
    o.timings.settle = 0ms;
    return o;
}

class ModbusTCPTest : public ::testing::Test {
protected:
    TcpResponder unit;
    ModbusTCP tcp{"127.0.0.1", unit.port(), shortWaits()};
};

TEST_F(ModbusTCPTest, SendsTheThreeRequestLayouts) {
    std::array<uint16_t, 2> dest{};
    ASSERT_TRUE(tcp.readHoldingRegisters(254, 60, 2, dest.data(), 5));
    EXPECT_EQ(dest, (std::array<uint16_t, 2>{0x203C, 0x203D}));
    ASSERT_TRUE(tcp.executeCommand(254, 3));
    const uint16_t dateTime[] = {0x0C1F, 0x07E8};
    ASSERT_TRUE(tcp.writeMultipleRegisters(254, 152, 2, dateTime));
    auto sent = unit.requests();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], (Bytes{0x00, 0x05, 0x00, 0x00, 0x00, 0x06, 0xFE, 0x03, 0x00, 0x3C, 0x00, 0x02}));
    EXPECT_EQ(sent[1], (Bytes{0x00, 0x00, 0x00, 0x00, 0x00, 0x09, 0xFE, 0x10, 0x00, 0x06, 0x00, 0x01, 0x02,
                              0x00, 0x03}));
    EXPECT_EQ(sent[2], (Bytes{0x00, 0x00, 0x00, 0x00, 0x00, 0x0B, 0xFE, 0x10, 0x00, 0x98, 0x00, 0x02, 0x04,
                              0x0C, 0x1F, 0x07, 0xE8}));
    EXPECT_EQ(unit.connections(), 1);
}

// A read answered too late must not be shown as the values of the next read.
TEST_F(ModbusTCPTest, LateAnswerToAnEarlierReadIsSkipped) {
    unit.then([](const Bytes& r) { return Action{soundTcpAnswer(r, 0x1111), AnswerWait + 100ms}; });
    std::array<uint16_t, 2> dest{};
    EXPECT_FALSE(tcp.readHoldingRegisters(254, 0, 2, dest.data(), 7));
    // The late answer to transaction 7 arrives first, then the answer to 8.
    ASSERT_TRUE(tcp.readHoldingRegisters(254, 0, 2, dest.data(), 8));
    EXPECT_EQ(dest, (std::array<uint16_t, 2>{0x2000, 0x2001}));
    EXPECT_EQ(unit.connections(), 1);
}

TEST_F(ModbusTCPTest, SkipsSeveralStaleAnswersAcrossTheTransactionWrap) {
    unit.then([](const Bytes& r) {
        Bytes stale1 = soundTcpAnswer(r, 0x1111), stale2 = soundTcpAnswer(r, 0x2222);
        stale1[0] = 0xFF, stale1[1] = 0xFE; // 65534: two before 0 modulo 2^16
        stale2[0] = 0xFF, stale2[1] = 0xFF;
        Bytes all = stale1;
        all.insert(all.end(), stale2.begin(), stale2.end());
        Bytes right = soundTcpAnswer(r, 0x3000);
        all.insert(all.end(), right.begin(), right.end());
        return Action{all};
    });
    std::array<uint16_t, 1> dest{};
    ASSERT_TRUE(tcp.readHoldingRegisters(254, 4, 1, dest.data(), 0));
    EXPECT_EQ(dest[0], 0x3004);
}

TEST_F(ModbusTCPTest, RefusesAnswersThatDoNotMatchTheRead) {
    auto edit = [](auto change) {
        return [change](const Bytes& r) {
            Bytes a = soundTcpAnswer(r);
            change(a);
            return Action{a};
        };
    };
    struct Case {
        const char* what;
        TcpResponder::Handler answer;
    } cases[] = {
        {"exception", [](const Bytes& r) { return Action{tcpException(r)}; }},
        {"later transaction", edit([](Bytes& a) { a[1] += 3; })},
        {"protocol id 1", edit([](Bytes& a) { a[3] = 1; })},
        {"length field 0", edit([](Bytes& a) { a[5] = 0; })},
        {"other unit", edit([](Bytes& a) { a[6] = 1; })},
        {"function 4", edit([](Bytes& a) { a[7] = 4; })},
        {"byte count", edit([](Bytes& a) { a[8] = 2; })},
        {"one register short", edit([](Bytes& a) {
             a.resize(a.size() - 2);
             a[5] -= 2;
             a[8] -= 2;
         })},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        unit.then(c.answer);
        std::array<uint16_t, 2> dest{0xDEAD, 0xBEEF};
        auto start = Clock::now();
        EXPECT_FALSE(tcp.readHoldingRegisters(254, 10, 2, dest.data(), 40));
        // A complete answer that is not ours fails as soon as it is read.
        EXPECT_LT(Clock::now() - start, AnswerWait);
        EXPECT_EQ(dest, (std::array<uint16_t, 2>{0xDEAD, 0xBEEF}));
        // The next read is not disturbed by what was left over.
        EXPECT_TRUE(tcp.readHoldingRegisters(254, 10, 2, dest.data(), 41));
    }
    EXPECT_EQ(unit.connections(), 1);
}

TEST_F(ModbusTCPTest, ShortAndSilentAnswersTimeOut) {
    unit.then([](const Bytes& r) { return Action{Bytes(r.begin(), r.begin() + 5)}; });
    std::array<uint16_t, 2> dest{};
    EXPECT_FALSE(tcp.readHoldingRegisters(254, 0, 2, dest.data(), 1));
    unit.then(Bytes{});
    const uint16_t value = 9;
    EXPECT_FALSE(tcp.writeMultipleRegisters(254, 0, 1, &value));
    EXPECT_TRUE(tcp.readHoldingRegisters(254, 0, 2, dest.data(), 2));
}

TEST_F(ModbusTCPTest, ChecksWriteAndCommandAcknowledgements) {
    auto edit = [](auto change) {
        return [change](const Bytes& r) {
            Bytes a = soundTcpAnswer(r);
            change(a);
            return Action{a};
        };
    };
    const uint16_t values[] = {1, 2};
    unit.then([](const Bytes& r) { return Action{tcpException(r, 4)}; });
    EXPECT_FALSE(tcp.writeMultipleRegisters(254, 152, 2, values));
    unit.then(edit([](Bytes& a) { a[9] = 0x99; })); // other register echoed
    EXPECT_FALSE(tcp.writeMultipleRegisters(254, 152, 2, values));
    unit.then(edit([](Bytes& a) { a[7] = 0x03; }));
    EXPECT_FALSE(tcp.executeCommand(254, 2));
    unit.then([](const Bytes& r) { return Action{tcpException(r, 1)}; });
    EXPECT_FALSE(tcp.executeCommand(254, 2));
    // A late read answer ahead of the acknowledgement is skipped.
    unit.then([](const Bytes& r) {
        Bytes late{0x00, 0x09, 0x00, 0x00, 0x00, 0x05, 0xFE, 0x03, 0x02, 0x12, 0x34};
        Bytes ack = soundTcpAnswer(r);
        late.insert(late.end(), ack.begin(), ack.end());
        return Action{late};
    });
    EXPECT_TRUE(tcp.executeCommand(254, 2));
    EXPECT_TRUE(tcp.writeMultipleRegisters(254, 152, 2, values));
}

TEST_F(ModbusTCPTest, ReconnectsWhenThePeerClosedBetweenPolls) {
    unit.then([](const Bytes& r) { return Action{soundTcpAnswer(r), 0ms, true}; });
    std::array<uint16_t, 1> dest{};
    ASSERT_TRUE(tcp.readHoldingRegisters(254, 1, 1, dest.data(), 0));
    while (unit.closed() == 0) std::this_thread::sleep_for(5ms);
    std::this_thread::sleep_for(20ms); // let the end of stream reach this side
    ASSERT_TRUE(tcp.readHoldingRegisters(254, 2, 1, dest.data(), 1));
    EXPECT_EQ(dest[0], 0x2002);
    EXPECT_EQ(unit.connections(), 2);
    unit.then([](const Bytes& r) { return Action{soundTcpAnswer(r), 0ms, true}; });
    const uint16_t value = 1;
    ASSERT_TRUE(tcp.writeMultipleRegisters(254, 3, 1, &value));
    while (unit.closed() == 1) std::this_thread::sleep_for(5ms);
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(tcp.executeCommand(254, 3));
    EXPECT_EQ(unit.connections(), 3);
}

TEST_F(ModbusTCPTest, RefusesOutOfRangeRequestsWithoutSending) {
    std::array<uint16_t, 126> buf{};
    EXPECT_FALSE(tcp.readHoldingRegisters(254, 10000, 1, buf.data(), 0));
    EXPECT_FALSE(tcp.writeMultipleRegisters(254, 10000, 1, buf.data()));
    EXPECT_FALSE(tcp.readHoldingRegisters(0, 0, 1, buf.data(), 0));
    EXPECT_FALSE(tcp.readHoldingRegisters(255, 0, 1, buf.data(), 0));
    EXPECT_FALSE(tcp.writeMultipleRegisters(0, 0, 1, buf.data()));
    EXPECT_FALSE(tcp.readHoldingRegisters(254, 0, 126, buf.data(), 0));
    EXPECT_FALSE(tcp.readHoldingRegisters(254, 0, 0, buf.data(), 0));
    EXPECT_FALSE(tcp.writeMultipleRegisters(254, 0, 124, buf.data()));
    EXPECT_FALSE(tcp.executeCommand(254, -1));
    EXPECT_FALSE(tcp.executeCommand(254, 65536 + 5));
    EXPECT_TRUE(unit.requests().empty());
    // The largest requests still go through.
    ASSERT_TRUE(tcp.readHoldingRegisters(254, 9999, 125, buf.data(), 0));
    EXPECT_EQ(buf[124], static_cast<uint16_t>(0x2000 + 9999 + 124));
    EXPECT_TRUE(tcp.writeMultipleRegisters(254, 0, 123, buf.data()));
}

TEST(ModbusTCPNoUnit, EmptyAddressAndClosedPortFail) {
    std::array<uint16_t, 1> dest{};
    ModbusTCP empty("", 502);
    EXPECT_FALSE(empty.readHoldingRegisters(254, 0, 1, dest.data(), 0));
    EXPECT_FALSE(empty.writeMultipleRegisters(254, 0, 1, dest.data()));
    EXPECT_FALSE(empty.executeCommand(254, 3));
    uint16_t closedPort = 0;
    {
        TcpResponder gone; // a port that was just free
        closedPort = gone.port();
    }
    ModbusTCP refused("127.0.0.1", closedPort);
    EXPECT_FALSE(refused.readHoldingRegisters(254, 0, 1, dest.data(), 0));
}

TEST(ModbusTCPNoUnit, ResolvesHostNames) {
    TcpResponder unit;
    ModbusTCP tcp("localhost", unit.port());
    std::array<uint16_t, 1> dest{};
    // localhost may resolve to ::1 first; the IPv4 address follows within the time-out.
    EXPECT_TRUE(tcp.readHoldingRegisters(254, 0, 1, dest.data(), 0));
}

} // namespace
