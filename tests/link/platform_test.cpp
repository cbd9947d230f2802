// The platform layer under the transports: process-wide lock, serial port, TCP client.
#include "link/platform/process_lock.h"
#include "link/platform/serial_port.h"
#include "link/platform/tcp_client.h"
#include "pty_responder.h"
#include "tcp_responder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <future>

namespace {

using namespace std::chrono_literals;
using namespace kt::platform;

LockWait waitElsewhere(const char* name, std::chrono::milliseconds timeout, bool release = true) {
    return std::async(std::launch::async,
                      [=] {
                          ProcessLock other(name);
                          LockWait r = other.wait(timeout);
                          if (release && (r == LockWait::Acquired || r == LockWait::Abandoned))
                              other.release();
                          return r;
                      })
        .get();
}

TEST(ProcessLock, HandlesOfOneNameShareOneLock) {
    ProcessLock a("kt-test-lock");
    ASSERT_EQ(a.wait(100ms), LockWait::Acquired);
    EXPECT_EQ(waitElsewhere("kt-test-lock", 50ms), LockWait::TimedOut);
    EXPECT_EQ(waitElsewhere("kt-test-other", 50ms), LockWait::Acquired);
    EXPECT_EQ(a.wait(10ms), LockWait::Failed); // held by this thread already
    ProcessLock b("kt-test-lock");
    EXPECT_EQ(b.wait(10ms), LockWait::Failed);
    a.release();
    EXPECT_EQ(waitElsewhere("kt-test-lock", 50ms), LockWait::Acquired);
    // A release by a thread that does not hold it changes nothing.
    ASSERT_EQ(a.wait(100ms), LockWait::Acquired);
    std::async(std::launch::async, [] { ProcessLock("kt-test-lock").release(); }).get();
    EXPECT_EQ(waitElsewhere("kt-test-lock", 50ms), LockWait::TimedOut);
    a.release();
}

TEST(ProcessLock, ThreadEndingWithTheLockHandsItOverAbandoned) {
    EXPECT_EQ(waitElsewhere("kt-test-abandon", 100ms, false), LockWait::Acquired);
    ProcessLock lock("kt-test-abandon");
    EXPECT_EQ(lock.wait(100ms), LockWait::Abandoned);
    lock.release();
    EXPECT_EQ(lock.wait(100ms), LockWait::Acquired);
    lock.release();
}

// At exit the main thread's thread_locals go before static destructors run, and a static
// destructor may still take the lock (a facade kept in a static).
TEST(ProcessLockDeathTest, UsableFromStaticDestructorsAtExit) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            struct UsesTheLockLate {
                ~UsesTheLockLate() {
                    ProcessLock lock("kt-test-late");
                    for (int round = 0; round < 2; ++round) {
                        if (lock.wait(100ms) != LockWait::Acquired) std::_Exit(3);
                        lock.release();
                    }
                }
            };
            static UsesTheLockLate late;
            ProcessLock lock("kt-test-late"); // this thread's list of held locks comes to life
            if (lock.wait(100ms) != LockWait::Acquired) std::_Exit(2);
            lock.release();
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[256] = {};
        ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
        path = name;
        ASSERT_EQ(port.open(path), SerialOpenResult::Ok);
        ASSERT_TRUE(port.setTimeouts({20, 300, 20}));
        ASSERT_TRUE(port.getLineSettings());
        port.setLine(115200); // a pty may refuse the rate; not needed here
    }
    void TearDown() override {
        port.close();
        ::close(master);
        ::close(slave);
    }
    void unitSends(std::initializer_list<uint8_t> bytes) {
        std::vector<uint8_t> b(bytes);
        ASSERT_EQ(::write(master, b.data(), b.size()), static_cast<ssize_t>(b.size()));
    }
    int master = -1, slave = -1;
    std::string path;
    SerialPort port;
};

TEST_F(SerialPortTest, ReadEndsOnCountOnGapAndOnTotalTime) {
    std::array<uint8_t, 16> buf{};
    unitSends({1, 2, 3, 4, 5});
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(port.waiting(), 5);
    EXPECT_EQ(port.read(buf.data(), 3), 3);
    EXPECT_EQ(port.waiting(), 2);
    EXPECT_EQ(port.read(buf.data(), 16), 2); // the rest, then a gap
    EXPECT_EQ(buf[1], 5);
    // Bytes, a pause longer than the gap, more bytes: the read ends at the pause.
    auto later = std::async(std::launch::async, [&] {
        unitSends({0x11, 0x13});
        std::this_thread::sleep_for(120ms);
        unitSends({9});
    });
    EXPECT_EQ(port.read(buf.data(), 16), 2);
    EXPECT_EQ(buf[0], 0x11); // XON/XOFF are data on this line
    EXPECT_EQ(buf[1], 0x13);
    later.get();
    EXPECT_EQ(port.read(buf.data(), 16), 1);
    EXPECT_EQ(port.read(buf.data(), 16), 0); // nothing within the total time
}

TEST_F(SerialPortTest, WritesRawBytesAndPurges) {
    const uint8_t frame[] = {0xFE, 0x0A, 0x0D, 0x03, 0x00};
    ASSERT_TRUE(port.write(frame, sizeof frame));
    std::array<uint8_t, 8> got{};
    std::this_thread::sleep_for(10ms);
    ASSERT_EQ(::read(master, got.data(), got.size()), 5); // no CR/LF translation
    EXPECT_EQ(got[1], 0x0A);
    EXPECT_EQ(got[2], 0x0D);
    unitSends({7, 7, 7});
    std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(port.purge());
    EXPECT_EQ(port.waiting(), 0);
}

TEST_F(SerialPortTest, OpenRefusesWhatIsNoFreeSerialDevice) {
    SerialPort other;
    EXPECT_EQ(other.open(path), SerialOpenResult::Busy);
    EXPECT_EQ(other.open("/dev/kt-no-such-port"), SerialOpenResult::NotFound);
    EXPECT_EQ(other.open(KT_SOURCE_DIR "/CMakeLists.txt"), SerialOpenResult::Failed);
    EXPECT_FALSE(other.isOpen());
    uint8_t b = 0;
    EXPECT_EQ(other.read(&b, 1), -1);
    EXPECT_FALSE(other.write(&b, 1));
    EXPECT_FALSE(other.purge());
    EXPECT_FALSE(other.setTimeouts({}));
    EXPECT_FALSE(other.getLineSettings());
    EXPECT_FALSE(other.setLine(115200));
    // Closed and reopened, by another object too.
    port.close();
    EXPECT_EQ(other.open(path), SerialOpenResult::Ok);
}

TEST(TcpClient, FollowsTheConnectionState) {
    kt::test::TcpResponder unit;
    unit.then([](const kt::test::Bytes& r) { return kt::test::TcpResponder::Action{r, 0ms, true}; });
    TcpClient client;
    EXPECT_EQ(client.state(), TcpState::NotConnected);
    EXPECT_FALSE(client.connect("", unit.port(), 100));
    ASSERT_TRUE(client.connect("127.0.0.1", unit.port(), 1000));
    EXPECT_EQ(client.state(), TcpState::Connected);
    const uint8_t request[] = {0, 1, 0, 0, 0, 2, 0xFE, 0x03};
    ASSERT_TRUE(client.write(request, sizeof request, 1000));
    std::array<uint8_t, 8> echo{};
    ASSERT_TRUE(client.readExact(echo.data(), 4, 1000));
    EXPECT_EQ(echo[1], 1);
    while (unit.closed() == 0) std::this_thread::sleep_for(5ms);
    std::this_thread::sleep_for(20ms);
    // Unread data keeps it "connected"; once it is discarded the end of stream shows.
    EXPECT_EQ(client.state(), TcpState::Connected);
    client.discardInput();
    EXPECT_EQ(client.state(), TcpState::NotConnected);
    EXPECT_FALSE(client.readExact(echo.data(), 1, 100));
    client.disconnect();
    EXPECT_EQ(client.state(), TcpState::NotConnected);
}

TEST(TcpClient, ReadTimesOutOnASilentPeer) {
    kt::test::TcpResponder unit;
    unit.byDefault([](const kt::test::Bytes&) { return kt::test::TcpResponder::Action{}; });
    TcpClient client;
    ASSERT_TRUE(client.connect("127.0.0.1", unit.port(), 1000));
    std::array<uint8_t, 4> buf{};
    EXPECT_FALSE(client.readExact(buf.data(), buf.size(), 50));
    EXPECT_EQ(client.state(), TcpState::Connected);
}

} // namespace
