// The serial port list the Communication page offers.
#include "link/platform/serial_port.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

TEST(SerialPortList, NamesSortTheWayPeopleCount) {
    using kt::platform::naturalLess;
    struct Case {
        const char* a;
        const char* b;
        bool less;
    } cases[] = {
        {"COM2", "COM10", true},
        {"COM10", "COM2", false},
        {"/dev/ttyS9", "/dev/ttyS10", true},
        {"/dev/ttyUSB1", "/dev/ttyS0", false},
        {"COM3", "COM3", false},
        {"COM", "COM1", true},
        {"COM01", "COM2", true},
        {"ttyS2a", "ttyS2b", true},
        {"ttyS18446744073709551616", "ttyS2", false},
    };
    for (const Case& c : cases) EXPECT_EQ(naturalLess(c.a, c.b), c.less) << c.a << " < " << c.b;
}

// A device folder and a sysfs tty folder as the kernel lays them out.
TEST(SerialPortList, OffersRealUartsAndEveryUsbAcmAndBluetoothPort) {
    kt::test::TempDir root;
    const fs::path dev = fs::path(root.path()) / "dev";
    const fs::path sys = fs::path(root.path()) / "sys";
    fs::create_directories(dev);
    fs::create_directories(sys);
    auto touch = [](const fs::path& p, const std::string& text = {}) {
        fs::create_directories(p.parent_path());
        std::ofstream(p) << text;
    };
    for (const char* name : {"ttyS0", "ttyS1", "ttyS2", "ttyS10", "ttyS11", "ttyUSB10", "ttyUSB2", "ttyACM0",
                             "rfcomm1", "tty0", "ttyUSB", "console", "ttySx1"})
        touch(dev / name);
    touch(sys / "ttyS0" / "type", "4\n");       // a 16550A
    touch(sys / "ttyS1" / "type", "0\n");       // a placeholder without a UART
    touch(sys / "ttyS2" / "device" / "uevent"); // no type file, but bound to a device
    touch(sys / "ttyS11" / "type", "junk");     // unreadable type, nothing else: not offered
    // ttyS10 has no sysfs entry and is no tty: not offered.

    auto ports = kt::platform::listSerialPortsIn(dev.string(), sys.string());
    std::vector<std::string> expected;
    for (const char* name : {"rfcomm1", "ttyACM0", "ttyS0", "ttyS2", "ttyUSB2", "ttyUSB10"})
        expected.push_back((dev / name).string());
    EXPECT_EQ(ports, expected);

    EXPECT_TRUE(kt::platform::listSerialPortsIn((dev / "missing").string(), sys.string()).empty());
}

TEST(SerialPortList, TheSystemListIsSortedAndNamesDevices) {
    auto ports = kt::platform::listSerialPorts();
    EXPECT_TRUE(std::is_sorted(ports.begin(), ports.end(), [](const std::string& a, const std::string& b) {
        return kt::platform::naturalLess(a, b);
    }));
    for (const std::string& p : ports) EXPECT_TRUE(fs::exists(p)) << p;
}

} // namespace
