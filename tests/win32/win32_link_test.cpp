// The Win32 serial port and TCP client, run under wine against the simulator on the Linux host:
// over loopback TCP, and through a wine COM port mapped onto the simulator's pseudo-terminal.
// run_with_sim.sh starts the simulator and passes its endpoints in KT_SIM_TCP (HOST:PORT) and
// KT_SIM_COM (COMn).
#include "link/connection_settings.h"
#include "link/platform/serial_port.h"
#include "link/platform/tcp_client.h"
#include "link/protocol.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <string>

namespace {

// What run_with_sim.sh starts the simulator with.
constexpr uint16_t FirmwareRaw = 300;
constexpr uint16_t SerialLow = 4242;

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

kt::ConnectionSettings tcpSettings() {
    auto link = kt::parseLink("tcp://" + env("KT_SIM_TCP"));
    return link ? *link : kt::ConnectionSettings{};
}

kt::ConnectionSettings serialSettings() {
    auto link = kt::parseLink("serial:" + env("KT_SIM_COM"));
    return link ? *link : kt::ConnectionSettings{};
}

class Win32Link : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        ASSERT_FALSE(env("KT_SIM_TCP").empty() || env("KT_SIM_COM").empty())
            << "run under tests/win32/run_with_sim.sh, which starts the simulator";
        settings = std::string(GetParam()) == "tcp" ? tcpSettings() : serialSettings();
    }
    kt::ConnectionSettings settings;
};

TEST_P(Win32Link, ReadsTheIdentification) {
    kt::Protocol link(settings);
    std::array<uint16_t, 6> id{};
    auto r = link.ReadRegisters(settings, 0, 6, id.data());
    ASSERT_TRUE(r.ok()) << r.detail;
    EXPECT_EQ(id[0], 740);
    EXPECT_EQ(id[1], FirmwareRaw);
    EXPECT_EQ(id[2], SerialLow);
    EXPECT_EQ(id[3], 0);
}

TEST_P(Win32Link, WritesAndReadsBack) {
    kt::Protocol link(settings);
    // Registers the unit keeps as written (none of the clock, event or identification ones).
    const int first = std::string(GetParam()) == "tcp" ? 900 : 910;
    const std::array<uint16_t, 3> values{0x1234, 0xFFFF, 0x0001};
    auto r = link.WriteRegisters(settings, first, 3, values.data());
    ASSERT_TRUE(r.ok()) << r.detail;
    std::array<uint16_t, 3> back{};
    r = link.ReadRegisters(settings, first, 3, back.data());
    ASSERT_TRUE(r.ok()) << r.detail;
    EXPECT_EQ(back, values);
}

TEST_P(Win32Link, ReadsAFullPollChunk) {
    kt::Protocol link(settings);
    std::array<uint16_t, 50> block{};
    auto r = link.ReadRegisters(settings, 0, 50, block.data());
    ASSERT_TRUE(r.ok()) << r.detail;
    EXPECT_EQ(block[0], 740);
}

INSTANTIATE_TEST_SUITE_P(Links, Win32Link, ::testing::Values("tcp", "serial"),
                         [](const auto& info) { return std::string(info.param); });

TEST(Win32Platform, MissingComPortIsNotFound) {
    kt::platform::SerialPort port;
    EXPECT_EQ(port.open(kt::platform::SerialPort::devicePath("COM199")),
              kt::platform::SerialOpenResult::NotFound);
    EXPECT_FALSE(port.isOpen());
    EXPECT_FALSE(port.openError().empty());
}

TEST(Win32Platform, ClosedTcpPortIsRefused) {
    // Port 1 on loopback: nothing listens there.
    kt::platform::TcpClient client;
    EXPECT_FALSE(client.connect("127.0.0.1", 1, 2000));
    EXPECT_FALSE(client.connectError().empty());
    EXPECT_NE(client.state(), kt::platform::TcpState::Connected);
}

} // namespace
