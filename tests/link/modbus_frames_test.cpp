#include "link/modbus_frames.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes build(const std::function<size_t(kt::FrameBuffer&)>& builder) {
    kt::FrameBuffer buf{};
    size_t n = builder(buf);
    return Bytes(buf.begin(), buf.begin() + static_cast<long>(n));
}

TEST(ModbusCrc, MatchesKnownFramesAndChecksToZero) {
    // The read request FE 03 00 0A 00 03 carries CRC 0xC631, low byte first.
    const Bytes request{0xFE, 0x03, 0x00, 0x0A, 0x00, 0x03};
    EXPECT_EQ(kt::modbusCrc(request), 0xC631);
    // A second vector, checked against an independent Modbus implementation.
    EXPECT_EQ(kt::modbusCrc(Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A}), 0xCDC5);
    EXPECT_EQ(kt::modbusCrc(Bytes{0xFE, 0x03, 0x00, 0x0A, 0x00, 0x03, 0x31, 0xC6}), 0);
    EXPECT_NE(kt::modbusCrc(Bytes{0xFE, 0x03, 0x00, 0x0A, 0x00, 0x03, 0xC6, 0x31}), 0);
    EXPECT_EQ(kt::modbusCrc(Bytes{}), 0xFFFF);
}

TEST(ModbusFrames, RequestsAreLaidOutByteForByte) {
    const uint16_t twoValues[] = {0x1234, 0x0001};
    const uint16_t dateTime[] = {0x0C1F, 0x07E8};
    struct Case {
        const char* what;
        std::function<size_t(kt::FrameBuffer&)> builder;
        Bytes expected;
    } cases[] = {
        {"RTU read 3 from 10",
         [](auto& b) { return kt::rtuReadRequest(b, 254, 10, 3); },
         {0xFE, 0x03, 0x00, 0x0A, 0x00, 0x03, 0x31, 0xC6}},
        {"RTU write two",
         [&](auto& b) { return kt::rtuWriteRequest(b, 254, 152, 2, twoValues); },
         {0xFE, 0x10, 0x00, 0x98, 0x00, 0x02, 0x04, 0x12, 0x34, 0x00, 0x01, 0x4D, 0x04}},
        {"RTU coil 3 ON",
         [](auto& b) { return kt::rtuCoilRequest(b, 254, 3); },
         {0xFE, 0x05, 0x00, 0x03, 0xFF, 0x00, 0x68, 0x35}},
        {"RTU register above 255",
         [](auto& b) { return kt::rtuReadRequest(b, 1, 0x1234, 50); },
         {0x01, 0x03, 0x12, 0x34, 0x00, 0x32, 0x80, 0xA9}},
        {"TCP read 2 from 60, transaction 5",
         [](auto& b) { return kt::tcpReadRequest(b, 5, 254, 60, 2); },
         {0x00, 0x05, 0x00, 0x00, 0x00, 0x06, 0xFE, 0x03, 0x00, 0x3C, 0x00, 0x02}},
        {"TCP read, transaction high byte",
         [](auto& b) { return kt::tcpReadRequest(b, 0x1234, 254, 0, 50); },
         {0x12, 0x34, 0x00, 0x00, 0x00, 0x06, 0xFE, 0x03, 0x00, 0x00, 0x00, 0x32}},
        {"TCP command 3",
         [](auto& b) { return kt::tcpCommandRequest(b, 254, 3); },
         {0x00, 0x00, 0x00, 0x00, 0x00, 0x09, 0xFE, 0x10, 0x00, 0x06, 0x00, 0x01, 0x02, 0x00, 0x03}},
        {"TCP write 152..153",
         [&](auto& b) { return kt::tcpWriteRequest(b, 254, 152, 2, dateTime); },
         {0x00, 0x00, 0x00, 0x00, 0x00, 0x0B, 0xFE, 0x10, 0x00, 0x98, 0x00, 0x02, 0x04, 0x0C, 0x1F, 0x07,
          0xE8}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(build(c.builder), c.expected);
    }
}

TEST(ModbusFrames, LargestRequestsFitTheBuffer) {
    std::vector<uint16_t> values(123, 0xABCD);
    Bytes rtu = build([&](auto& b) { return kt::rtuWriteRequest(b, 254, 0, 123, values.data()); });
    ASSERT_EQ(rtu.size(), 9u + 2 * 123);
    EXPECT_EQ(rtu[6], 246);
    EXPECT_EQ(kt::modbusCrc(rtu), 0);
    Bytes tcp = build([&](auto& b) { return kt::tcpWriteRequest(b, 254, 0, 123, values.data()); });
    ASSERT_EQ(tcp.size(), 13u + 2 * 123);
    EXPECT_EQ(tcp[5], 2 * 123 + 7);
    EXPECT_EQ(tcp.back(), 0xCD);
}

} // namespace
