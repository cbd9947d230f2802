// The RTU transport against a scripted unit on a pseudo-terminal pair.
#include "link/mbprotocol.h"
#include "pty_responder.h"

#include <gtest/gtest.h>

#include <array>

namespace {

using kt::MBProtocol;
using kt::test::Bytes;
using kt::test::PtyResponder;
using kt::test::soundAnswer;
using kt::test::withCrc;

// The program's serial time-outs shortened for the tests (answers arrive within milliseconds),
// with the transport's diagnostic lines kept.
struct Diagnostics {
    std::vector<std::string> lines;
    kt::LinkOptions options() {
        using namespace std::chrono_literals;
        kt::LinkOptions o;
        o.timings.serialReadTotalMs = 150;
        o.timings.lateAnswerQuiet = 100ms;
        o.timings.settle = 0ms;
        o.diagnostics = [this](std::string_view line) { lines.emplace_back(line); };
        return o;
    }
};

class MBProtocolTest : public ::testing::Test {
protected:
    PtyResponder unit;
    Diagnostics diagnostics;
    MBProtocol rtu{unit.path(), 115200, diagnostics.options()};
};

TEST_F(MBProtocolTest, ReadsRegistersInOrder) {
    std::array<uint16_t, 3> dest{};
    ASSERT_TRUE(rtu.readHoldingRegisters(254, 10, 3, dest.data(), 0));
    EXPECT_EQ(dest, (std::array<uint16_t, 3>{0x100A, 0x100B, 0x100C}));
    ASSERT_EQ(unit.requests().size(), 1u);
    EXPECT_EQ(unit.requests()[0], (Bytes{0xFE, 0x03, 0x00, 0x0A, 0x00, 0x03, 0x31, 0xC6}));
    EXPECT_TRUE(rtu.portOpen());
    EXPECT_EQ(rtu.failureCount(), 0);
}

TEST_F(MBProtocolTest, ReadsTheLargestRequestAndTheHighestRegisters) {
    std::array<uint16_t, 125> dest{};
    ASSERT_TRUE(rtu.readHoldingRegisters(254, 0, 125, dest.data(), 0));
    EXPECT_EQ(dest[0], 0x1000);
    EXPECT_EQ(dest[124], 0x1000 + 124);
    unit.then([](const Bytes& r) { return soundAnswer(r, 0); });
    ASSERT_TRUE(rtu.readHoldingRegisters(254, 65534, 2, dest.data(), 0));
    EXPECT_EQ(dest[0], 65534);
    EXPECT_EQ(dest[1], 65535);
}

TEST_F(MBProtocolTest, WritesAndCommandsAreAcknowledged) {
    const uint16_t values[] = {0x1234, 0x0001};
    EXPECT_TRUE(rtu.writeMultipleRegisters(254, 152, 2, values));
    // One register: the whole 8-byte acknowledgement is read, though 2N + 5 is only 7.
    EXPECT_TRUE(rtu.writeMultipleRegisters(254, 16, 1, values));
    EXPECT_TRUE(rtu.writeMultipleRegisters(254, 17, 1, values + 1));
    EXPECT_TRUE(rtu.executeCommand(254, 3));
    std::array<uint16_t, 1> dest{};
    EXPECT_TRUE(rtu.readHoldingRegisters(254, 5, 1, dest.data(), 0));
    auto sent = unit.requests();
    ASSERT_EQ(sent.size(), 5u);
    EXPECT_EQ(sent[0], (Bytes{0xFE, 0x10, 0x00, 0x98, 0x00, 0x02, 0x04, 0x12, 0x34, 0x00, 0x01, 0x4D, 0x04}));
    EXPECT_EQ(sent[1], withCrc({0xFE, 0x10, 0x00, 0x10, 0x00, 0x01, 0x02, 0x12, 0x34}));
    EXPECT_EQ(sent[3], (Bytes{0xFE, 0x05, 0x00, 0x03, 0xFF, 0x00, 0x68, 0x35}));
    EXPECT_EQ(rtu.failureCount(), 0);
}

// Answers a read of 3 registers from 10 must not be accepted for, with the reason.
TEST_F(MBProtocolTest, RefusesBadReadAnswersAndLeavesTheDestination) {
    const Bytes good = withCrc({0xFE, 0x03, 0x06, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03});
    Bytes badCrc = good;
    badCrc.back() ^= 0x01;
    Bytes flipped = good;
    flipped[4] ^= 0x40; // a data bit changed on the line
    struct Case {
        const char* what;
        Bytes answer;
    } cases[] = {
        {"exception with a correct CRC", withCrc({0xFE, 0x83, 0x02})},
        {"byte count other than 2N", withCrc({0xFE, 0x03, 0x04, 0x00, 0x01, 0x00, 0x02})},
        {"bad CRC", badCrc},
        {"corrupted data", flipped},
        {"other slave", withCrc({0x01, 0x03, 0x06, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03})},
        {"short", Bytes(good.begin(), good.begin() + 7)},
        {"one byte", {0xFE}},
        {"write acknowledgement", withCrc({0xFE, 0x10, 0x00, 0x0A, 0x00, 0x03})},
        {"garbled", {0x55, 0xAA, 0x13, 0x11, 0x00, 0xFF, 0x7E, 0x0D, 0x0A, 0x00, 0x01}},
    };
    int expectedFailures = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        unit.then(c.answer);
        std::array<uint16_t, 3> dest{0xDEAD, 0xBEEF, 0xCAFE};
        EXPECT_FALSE(rtu.readHoldingRegisters(254, 10, 3, dest.data(), 0));
        EXPECT_EQ(dest, (std::array<uint16_t, 3>{0xDEAD, 0xBEEF, 0xCAFE}));
        expectedFailures = std::min(expectedFailures + 1, 3);
        EXPECT_EQ(rtu.failureCount(), expectedFailures);
        // Past the third, each failure closes the port; keep counting from an open port.
        if (!rtu.portOpen()) {
            std::array<uint16_t, 1> one{};
            ASSERT_TRUE(rtu.readHoldingRegisters(254, 0, 1, one.data(), 0));
            expectedFailures = 0;
        }
    }
}

TEST_F(MBProtocolTest, AnAnswerFollowedByMoreBytesIsNoAnswerToThisRequest) {
    unit.then([](const Bytes& r) {
        Bytes a = soundAnswer(r);
        a.insert(a.end(), {0x00, 0x13, 0x37});
        return a;
    });
    std::array<uint16_t, 3> dest{};
    const kt::LinkResult r = rtu.readHoldingRegisters(254, 10, 3, dest.data(), 0);
    EXPECT_EQ(r.status, kt::LinkStatus::Damaged);
    EXPECT_EQ(dest[2], 0);
    // The noise is purged before the next request and does not spoil its answer.
    EXPECT_TRUE(rtu.readHoldingRegisters(254, 20, 2, dest.data(), 0));
    EXPECT_EQ(dest[1], 0x1015);
}

TEST_F(MBProtocolTest, RefusesBadWriteAndCommandAnswers) {
    const uint16_t values[] = {1, 2};
    unit.then(withCrc({0xFE, 0x90, 0x02}));
    EXPECT_FALSE(rtu.writeMultipleRegisters(254, 152, 2, values));
    unit.then(withCrc({0xFE, 0x03, 0x04, 0x00, 0x01, 0x00, 0x02}));
    EXPECT_FALSE(rtu.writeMultipleRegisters(254, 152, 2, values));
    unit.then(withCrc({0xFE, 0x85, 0x01}));
    EXPECT_FALSE(rtu.executeCommand(254, 5));
    unit.then(Bytes{0xFE, 0x05, 0x00, 0x05, 0xFF, 0x00, 0x00, 0x00}); // echo with a broken CRC
    EXPECT_FALSE(rtu.executeCommand(254, 5));
    EXPECT_EQ(rtu.failureCount(), 3);
}

TEST_F(MBProtocolTest, SilentUnitFailsTheTransfer) {
    unit.then(Bytes{});
    std::array<uint16_t, 2> dest{7, 7};
    EXPECT_FALSE(rtu.readHoldingRegisters(254, 0, 2, dest.data(), 0));
    EXPECT_EQ(dest, (std::array<uint16_t, 2>{7, 7}));
    EXPECT_EQ(rtu.failureCount(), 1);
    EXPECT_EQ(unit.requests().size(), 1u);
}

TEST_F(MBProtocolTest, RefusesOutOfRangeRequestsWithoutSending) {
    std::array<uint16_t, 126> dest{};
    struct Case {
        const char* what;
        int slave, first, count;
    } cases[] = {
        {"slave 0 (broadcast)", 0, 0, 1},       {"slave 255", 255, 0, 1},
        {"register 100000", 254, 100000, 1},    {"negative register", 254, -1, 1},
        {"past register 65535", 254, 65535, 2}, {"no registers", 254, 0, 0},
        {"more than 125 to read", 254, 0, 126},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(rtu.readHoldingRegisters(c.slave, c.first, c.count, dest.data(), 0));
        EXPECT_FALSE(rtu.writeMultipleRegisters(c.slave, c.first, c.count, dest.data()));
    }
    EXPECT_FALSE(rtu.writeMultipleRegisters(254, 0, 124, dest.data()));
    EXPECT_FALSE(rtu.executeCommand(0, 3));
    EXPECT_FALSE(rtu.executeCommand(255, 3));
    EXPECT_FALSE(rtu.executeCommand(254, 65536 + 2)); // would arrive as command 2
    EXPECT_FALSE(rtu.readHoldingRegisters(254, 0, 1, nullptr, 0));
    EXPECT_TRUE(unit.requests().empty());
    EXPECT_EQ(rtu.failureCount(), 0);
    EXPECT_FALSE(rtu.portOpen());
}

TEST_F(MBProtocolTest, FourthFailureClosesThePortAndTheNextTransferReopensIt) {
    const Bytes wrongSlave = withCrc({0x01, 0x03, 0x02, 0x00, 0x00});
    std::array<uint16_t, 1> dest{};
    for (int i = 1; i <= 3; ++i) {
        unit.then(wrongSlave);
        EXPECT_FALSE(rtu.readHoldingRegisters(254, 0, 1, dest.data(), 0));
        EXPECT_TRUE(rtu.portOpen()) << "after failure " << i;
    }
    // A success in between starts the count again.
    EXPECT_TRUE(rtu.readHoldingRegisters(254, 0, 1, dest.data(), 0));
    for (int i = 1; i <= 4; ++i) {
        unit.then(wrongSlave);
        EXPECT_FALSE(rtu.readHoldingRegisters(254, 0, 1, dest.data(), 0));
        EXPECT_EQ(rtu.portOpen(), i < 4) << "after failure " << i;
    }
    EXPECT_TRUE(rtu.readHoldingRegisters(254, 4, 1, dest.data(), 0));
    EXPECT_TRUE(rtu.portOpen());
    EXPECT_EQ(dest[0], 0x1004);
    EXPECT_EQ(unit.requests().size(), 9u);
}

TEST_F(MBProtocolTest, PortIsHeldExclusively) {
    std::array<uint16_t, 1> dest{};
    ASSERT_TRUE(rtu.readHoldingRegisters(254, 0, 1, dest.data(), 0));
    kt::platform::SerialPort other;
    EXPECT_EQ(other.open(unit.path()), kt::platform::SerialOpenResult::Busy);
    // A second transport on the same port cannot open it either, says why, and sends nothing.
    Diagnostics secondDiagnostics;
    MBProtocol second(unit.path(), 115200, secondDiagnostics.options());
    const kt::LinkResult r = second.readHoldingRegisters(254, 0, 1, dest.data(), 0);
    EXPECT_EQ(r.status, kt::LinkStatus::CannotOpen);
    EXPECT_EQ(r.detail, "in use by another program");
    EXPECT_FALSE(r.sent);
    EXPECT_EQ(secondDiagnostics.lines, std::vector<std::string>{"Error!"});
    EXPECT_EQ(unit.requests().size(), 1u);
}

TEST(MBProtocolMissingPort, EveryTransferSaysThePortCannotBeOpenedAndWhy) {
    Diagnostics diagnostics;
    MBProtocol rtu("/dev/kt-no-such-port", 115200, diagnostics.options());
    std::array<uint16_t, 1> dest{};
    testing::internal::CaptureStdout();
    for (int i = 0; i < 5; ++i) {
        const kt::LinkResult r = rtu.readHoldingRegisters(254, 0, 1, dest.data(), 0);
        EXPECT_EQ(r.status, kt::LinkStatus::CannotOpen);
        EXPECT_EQ(r.detail, "No such file or directory");
        EXPECT_FALSE(r.sent);
    }
    // The diagnostic lines go to the sink the caller chose, two for each attempt to open; the
    // library writes nothing to standard output.
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    ASSERT_EQ(diagnostics.lines.size(), 10u);
    EXPECT_EQ(diagnostics.lines[0],
              "Error: Serial port does not exist. Please check the port name and try again");
    EXPECT_EQ(diagnostics.lines[1], "Error!");
    EXPECT_FALSE(rtu.portOpen());
    EXPECT_EQ(kt::describeLinkResult(rtu.readHoldingRegisters(254, 0, 1, dest.data(), 0), 254,
                                     "/dev/kt-no-such-port", {kt::TransferWhat::Read, 0, 1}),
              "cannot open /dev/kt-no-such-port: No such file or directory");
}

TEST(MBProtocolMissingPort, RefusesAFileThatIsNoSerialDevice) {
    Diagnostics diagnostics;
    MBProtocol rtu(KT_SOURCE_DIR "/CMakeLists.txt", 115200, diagnostics.options());
    const uint16_t value = 1;
    const kt::LinkResult r = rtu.writeMultipleRegisters(254, 0, 1, &value);
    EXPECT_EQ(r.status, kt::LinkStatus::CannotOpen);
    EXPECT_EQ(r.detail, "not a serial device");
    EXPECT_EQ(diagnostics.lines, std::vector<std::string>{"Error!"});
}

} // namespace
