// The link facade's lock, retry, abort and numbering rules against a scripted transport, and
// the facade over the real transports.
#include "link/platform/process_lock.h"
#include "link/protocol.h"
#include "scripted_unit.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <future>
#include <latch>
#include <stdexcept>

namespace {

using namespace std::chrono_literals;
using kt::ConnectionSettings;
using kt::Protocol;
using Clock = std::chrono::steady_clock;

struct Call {
    char kind; // 'r' read, 'w' write, 'c' command
    int slave;
    int first;
    int count;
    uint16_t transaction;
};

// What a fake transport did, kept by the test past the facade's end.
struct Log {
    std::mutex mutex;
    std::vector<Call> calls;
    std::vector<std::string> events;
    // Results of the calls in turn: 'y' success, 'n' no answer (sent), 'u' not sent (port cannot
    // open), 't' throws; 'n' once used up.
    std::string script;
    std::chrono::milliseconds delay{0};
    std::atomic<int> inside{0};
    std::atomic<int> mostInside{0};
    std::latch firstCall{1};
    std::atomic<bool> counted{false};

    void event(std::string e) {
        std::lock_guard g(mutex);
        events.push_back(std::move(e));
    }
    size_t callCount() {
        std::lock_guard g(mutex);
        return calls.size();
    }
};

class FakeTransport final : public kt::Transport {
public:
    explicit FakeTransport(std::shared_ptr<Log> log) : log_(std::move(log)) {}
    ~FakeTransport() override { log_->event("destroyed"); }

    kt::LinkResult readHoldingRegisters(int slave, int first, int count, uint16_t* dest,
                                        uint16_t transaction) override {
        kt::LinkResult r = run({'r', slave, first, count, transaction});
        if (r)
            for (int i = 0; i < count; ++i) dest[i] = static_cast<uint16_t>(first + i);
        return r;
    }
    kt::LinkResult writeMultipleRegisters(int slave, int first, int count, const uint16_t*) override {
        return run({'w', slave, first, count, 0});
    }
    kt::LinkResult executeCommand(int slave, int command) override {
        return run({'c', slave, command, 1, 0});
    }
    void abort() override { log_->event("abort"); }

private:
    kt::LinkResult run(const Call& call) {
        int now = ++log_->inside;
        for (int seen = log_->mostInside; now > seen && !log_->mostInside.compare_exchange_weak(seen, now);) {
        }
        char result = 'n';
        {
            std::lock_guard g(log_->mutex);
            log_->calls.push_back(call);
            log_->events.push_back("begin");
            if (!log_->script.empty()) {
                result = log_->script.front();
                log_->script.erase(0, 1);
            }
        }
        if (!log_->counted.exchange(true)) log_->firstCall.count_down();
        std::this_thread::sleep_for(log_->delay);
        log_->event("end");
        --log_->inside;
        if (result == 't') throw std::runtime_error("transport fault");
        kt::LinkResult r = result == 'y' ? kt::LinkResult::done()
                           : result == 'u'
                               ? kt::LinkResult::failure(kt::LinkStatus::CannotOpen, "no such port")
                               : kt::LinkResult::failure(kt::LinkStatus::NoAnswer);
        r.sent = result != 'u';
        return r;
    }
    std::shared_ptr<Log> log_;
};

ConnectionSettings settingsFor(int linkType) {
    ConnectionSettings s;
    s.linkType = linkType;
    s.portName = "/dev/kt-unused";
    s.ipAddress = "127.0.0.1";
    return s;
}

// Lock waits short enough for tests; the retry rules are what is tested, not the waits.
kt::LinkOptions fastOptions() {
    kt::LinkOptions o;
    o.timings.readLockWait = 100ms;
    o.timings.writeLockWait = 50ms;
    o.timings.commandLockWait = 200ms;
    o.timings.serialReadTotalMs = 150;
    o.timings.lateAnswerQuiet = 100ms;
    o.timings.settle = 0ms;
    return o;
}

struct Link {
    explicit Link(int linkType, std::string script = "")
        : settings(settingsFor(linkType)), log(std::make_shared<Log>()) {
        log->script = std::move(script);
        facade = std::make_unique<Protocol>(settings, std::make_unique<FakeTransport>(log), fastOptions());
    }
    ConnectionSettings settings;
    std::shared_ptr<Log> log;
    std::unique_ptr<Protocol> facade;
};

// Holds the process-wide lock from another thread until released (or the holder ends).
class LockHolder {
public:
    LockHolder() {
        thread_ = std::jthread([this](std::stop_token stop) {
            kt::platform::ProcessLock lock(Protocol::LockName);
            EXPECT_EQ(lock.wait(1000ms), kt::platform::LockWait::Acquired);
            held_.count_down();
            while (!stop.stop_requested()) std::this_thread::sleep_for(5ms);
            lock.release();
        });
        held_.wait();
    }

private:
    std::latch held_{1};
    std::jthread thread_;
};

TEST(ProtocolRetry, AttemptsFollowTheOperationAndLinkType) {
    enum Op { Read, Write, Command };
    struct Case {
        const char* what;
        int linkType;
        Op op;
        const char* script;
        size_t calls;
        bool result;
        kt::LinkStatus status;
    } cases[] = {
        {"silent unit, read", kt::LinkSerialRtu, Read, "", 3, false, kt::LinkStatus::NoAnswer},
        {"read, second attempt answers", kt::LinkModbusTcp, Read, "ny", 2, true, kt::LinkStatus::Done},
        {"read, transport throws", kt::LinkModbusTcp, Read, "ttt", 3, false, kt::LinkStatus::NoAnswer},
        {"read, port cannot open", kt::LinkSerialRtu, Read, "uuu", 3, false, kt::LinkStatus::CannotOpen},
        {"write, never acknowledged", kt::LinkSerialRtu, Write, "", 3, false, kt::LinkStatus::NoAnswer},
        {"write, third attempt", kt::LinkModbusTcp, Write, "nny", 3, true, kt::LinkStatus::Done},
        {"serial command, no answer: sent once", kt::LinkSerialRtu, Command, "n", 1, false,
         kt::LinkStatus::NoAnswer},
        {"serial command, throws: sent once", kt::LinkSerialRtu, Command, "t", 1, false,
         kt::LinkStatus::NoAnswer},
        {"serial command, answered", kt::LinkSerialRtu, Command, "y", 1, true, kt::LinkStatus::Done},
        // A command is never sent twice: a unit that ran it but whose acknowledgement was lost
        // would run it again (Reset to Defaults twice).
        {"TCP command, not acknowledged: sent once", kt::LinkModbusTcp, Command, "n", 1, false,
         kt::LinkStatus::NoAnswer},
        {"command that could not be sent is tried again", kt::LinkModbusTcp, Command, "uy", 2, true,
         kt::LinkStatus::Done},
        {"command never sendable", kt::LinkSerialRtu, Command, "uuu", 3, false, kt::LinkStatus::CannotOpen},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Link link(c.linkType, c.script);
        std::array<uint16_t, 4> buf{};
        kt::LinkResult result;
        switch (c.op) {
        case Read:
            result = link.facade->ReadRegisters(link.settings, 10, 4, buf.data());
            break;
        case Write:
            result = link.facade->WriteRegisters(link.settings, 10, 4, buf.data());
            break;
        case Command:
            result = link.facade->WriteCoil(link.settings, 18);
            break;
        }
        EXPECT_EQ(result.ok(), c.result);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.attempts, c.calls);
        ASSERT_EQ(link.log->callCount(), c.calls);
        const Call& first = link.log->calls[0];
        EXPECT_EQ(first.slave, 254);
        EXPECT_EQ(first.first, c.op == Command ? 18 : 10);
    }
}

TEST(ProtocolRetry, ReadsCopyTheAnswerAndReadTheSettingsOnEveryCall) {
    Link link(kt::LinkModbusTcp, "yy");
    std::array<uint16_t, 3> dest{};
    ASSERT_TRUE(link.facade->ReadRegisters(link.settings, 60, 3, dest.data()));
    EXPECT_EQ(dest, (std::array<uint16_t, 3>{60, 61, 62}));
    link.settings.slaveAddress = 17;
    ASSERT_TRUE(link.facade->ReadRegisters(link.settings, 0, 1, dest.data()));
    EXPECT_EQ(link.log->calls[1].slave, 17);
    // A record for a link this facade was not built for finds no transport.
    link.settings.linkType = kt::LinkSerialRtu;
    EXPECT_EQ(link.facade->ReadRegisters(link.settings, 0, 1, dest.data()).status, kt::LinkStatus::Refused);
    EXPECT_EQ(link.log->callCount(), 2u);
}

TEST(ProtocolRetry, RefusesImpossibleRequestsWithoutAttempts) {
    Link link(kt::LinkModbusTcp, "yyyyyyyy");
    std::array<uint16_t, 126> buf{};
    const kt::LinkResult refused[] = {
        link.facade->ReadRegisters(link.settings, 0, 0, buf.data()),
        link.facade->ReadRegisters(link.settings, 0, 126, buf.data()),
        link.facade->ReadRegisters(link.settings, 0, 1, nullptr),
        link.facade->WriteRegisters(link.settings, 0, 0, buf.data()),
        link.facade->WriteRegisters(link.settings, 0, 124, buf.data()),
        link.facade->WriteRegisters(link.settings, 0, 1, nullptr),
    };
    for (const kt::LinkResult& r : refused) {
        EXPECT_EQ(r.status, kt::LinkStatus::Refused);
        EXPECT_EQ(r.attempts, 0);
        EXPECT_FALSE(r.sent);
    }
    EXPECT_EQ(link.log->callCount(), 0u);
    EXPECT_TRUE(link.facade->ReadRegisters(link.settings, 0, 125, buf.data()));
    EXPECT_TRUE(link.facade->WriteRegisters(link.settings, 0, 123, buf.data()));

    ConnectionSettings unknown = settingsFor(1);
    Protocol none(unknown);
    EXPECT_FALSE(none.ReadRegisters(unknown, 0, 1, buf.data()));
    EXPECT_FALSE(none.WriteCoil(unknown, 3));
}

TEST(ProtocolTransactions, EachTcpReadAttemptTakesTheNextNumber) {
    Link link(kt::LinkModbusTcp, "yny"
                                 "y"
                                 "y"
                                 "y");
    std::array<uint16_t, 2> buf{};
    auto& f = *link.facade;
    EXPECT_TRUE(f.ReadRegisters(link.settings, 0, 2, buf.data()));  // 0
    EXPECT_TRUE(f.ReadRegisters(link.settings, 0, 2, buf.data()));  // 1 fails, 2
    EXPECT_TRUE(f.WriteRegisters(link.settings, 0, 2, buf.data())); // no number
    EXPECT_TRUE(f.WriteCoil(link.settings, 3));                     // no number
    EXPECT_TRUE(f.ReadRegisters(link.settings, 0, 2, buf.data()));  // 3
    std::vector<uint16_t> numbers;
    for (const Call& c : link.log->calls)
        if (c.kind == 'r') numbers.push_back(c.transaction);
    EXPECT_EQ(numbers, (std::vector<uint16_t>{0, 1, 2, 3}));

    // A new facade numbers from 0 again.
    Link next(kt::LinkModbusTcp, "y");
    EXPECT_TRUE(next.facade->ReadRegisters(next.settings, 0, 2, buf.data()));
    ASSERT_EQ(next.log->callCount(), 1u);
    EXPECT_EQ(next.log->calls[0].transaction, 0);
}

TEST(ProtocolLock, AbortBeforeTheCallReturnsAtOnce) {
    Link link(kt::LinkSerialRtu, "yyy");
    link.facade->requestAbort();
    EXPECT_TRUE(link.facade->abortRequested());
    LockHolder busy;
    std::array<uint16_t, 1> buf{};
    auto start = Clock::now();
    for (const kt::LinkResult& r : {link.facade->ReadRegisters(link.settings, 0, 1, buf.data()),
                                    link.facade->WriteRegisters(link.settings, 0, 1, buf.data()),
                                    link.facade->WriteCoil(link.settings, 3)}) {
        EXPECT_EQ(r.status, kt::LinkStatus::Aborted);
        EXPECT_EQ(r.attempts, 0);
    }
    // None of the three waited for the lock (50 ms at the least).
    EXPECT_LT(Clock::now() - start, 50ms);
    EXPECT_EQ(link.log->callCount(), 0u);
}

TEST(ProtocolLock, BusyLinkFailsAfterThreeWaitsWithoutTransfer) {
    Link link(kt::LinkModbusTcp, "yyy");
    std::array<uint16_t, 1> buf{};
    LockHolder busy;
    auto start = Clock::now();
    const kt::LinkResult read = link.facade->ReadRegisters(link.settings, 0, 1, buf.data());
    auto afterRead = Clock::now();
    const kt::LinkResult write = link.facade->WriteRegisters(link.settings, 0, 1, buf.data());
    auto afterWrite = Clock::now();
    EXPECT_EQ(read.status, kt::LinkStatus::LockBusy);
    EXPECT_EQ(read.attempts, 3);
    EXPECT_EQ(write.status, kt::LinkStatus::LockBusy);
    EXPECT_GE(afterRead - start, 3 * link.facade->timings().readLockWait);
    EXPECT_GE(afterWrite - afterRead, 3 * link.facade->timings().writeLockWait);
    EXPECT_EQ(link.log->callCount(), 0u);
}

TEST(ProtocolLock, AbandonedLockCostsOneAttempt) {
    std::thread([] {
        kt::platform::ProcessLock lock(Protocol::LockName);
        ASSERT_EQ(lock.wait(1000ms), kt::platform::LockWait::Acquired);
        // Ends holding it.
    }).join();
    Link link(kt::LinkModbusTcp, "yy");
    std::array<uint16_t, 1> buf{};
    EXPECT_TRUE(link.facade->ReadRegisters(link.settings, 7, 1, buf.data()));
    ASSERT_EQ(link.log->callCount(), 1u);
    // The first attempt found the lock abandoned and used no transaction number.
    EXPECT_EQ(link.log->calls[0].transaction, 0);
    EXPECT_TRUE(link.facade->ReadRegisters(link.settings, 7, 1, buf.data()));
}

TEST(ProtocolLock, TransfersOfTwoThreadsNeverOverlap) {
    auto log = std::make_shared<Log>();
    log->script = std::string(400, 'y');
    log->delay = 1ms;
    ConnectionSettings settings = settingsFor(kt::LinkSerialRtu);
    std::atomic<int> failures{0};
    {
        Protocol facade(settings, std::make_unique<FakeTransport>(log));
        auto work = [&](bool reads) {
            std::array<uint16_t, 8> buf{};
            for (int i = 0; i < 100; ++i) {
                kt::LinkResult r = reads ? facade.ReadRegisters(settings, 0, 8, buf.data())
                                         : facade.WriteRegisters(settings, 0, 8, buf.data());
                if (!r) ++failures;
            }
        };
        std::jthread a(work, true), b(work, false);
    }
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(log->calls.size(), 200u);
    EXPECT_EQ(log->mostInside, 1);
}

TEST(ProtocolTeardown, DestroyingEndsAnotherThreadsRetriesAfterItsAttempt) {
    auto log = std::make_shared<Log>();
    log->delay = 300ms; // every attempt fails slowly
    ConnectionSettings settings = settingsFor(kt::LinkSerialRtu);
    auto facade = std::make_unique<Protocol>(settings, std::make_unique<FakeTransport>(log));
    std::array<uint16_t, 1> buf{};
    auto reading =
        std::async(std::launch::async, [&] { return facade->ReadRegisters(settings, 0, 1, buf.data()); });
    log->firstCall.wait();
    facade.reset(); // waits for the attempt in progress
    const kt::LinkResult r = reading.get();
    EXPECT_EQ(r.status, kt::LinkStatus::Aborted);
    EXPECT_EQ(r.attempts, 1);
    // The transport heard of the abort (its waits end) while the attempt was under way.
    EXPECT_EQ(log->events, (std::vector<std::string>{"begin", "abort", "end", "destroyed"}));
}

TEST(ProtocolTeardown, AnOldFacadesEndDoesNotCutANewOnesRetries) {
    Link old(kt::LinkSerialRtu);
    Link fresh(kt::LinkSerialRtu);
    fresh.log->delay = 100ms;
    std::array<uint16_t, 1> buf{};
    auto reading = std::async(std::launch::async,
                              [&] { return fresh.facade->ReadRegisters(fresh.settings, 0, 1, buf.data()); });
    fresh.log->firstCall.wait();
    old.facade.reset();
    EXPECT_EQ(reading.get().status, kt::LinkStatus::NoAnswer);
    EXPECT_EQ(fresh.log->callCount(), 3u);
}

// The facade over the real transports, as the program builds it, over both links: a refused
// first attempt is retried and the retry's own answer shown, an unanswered command is sent once,
// a write is acknowledged.
class ProtocolOverTransports : public ::testing::TestWithParam<kt::test::LinkKind> {};

TEST_P(ProtocolOverTransports, ReadsWritesAndCommands) {
    using kt::test::Reply;
    using kt::test::UnitFrame;
    auto unit = kt::test::ScriptedUnit::open(GetParam());
    const ConnectionSettings settings = unit->settings();
    unit->then([](const UnitFrame& r) {
        Reply refused = Reply::sound(r);
        refused.answer.pdu = {0x83, 0x02};
        return refused;
    });
    kt::LinkOptions options = fastOptions();
    options.timings.commandAnswerWait = 300ms;
    {
        Protocol facade(settings, options);
        std::array<uint16_t, 3> dest{};
        const kt::LinkResult read = facade.ReadRegisters(settings, 10, 3, dest.data());
        ASSERT_TRUE(read) << read.detail;
        EXPECT_EQ(read.attempts, 2);
        EXPECT_EQ(dest, (std::array<uint16_t, 3>{0x100A, 0x100B, 0x100C}));
        unit->then([](const UnitFrame&) { return Reply::none(); });
        const kt::LinkResult command = facade.WriteCoil(settings, 5);
        EXPECT_EQ(command.status, kt::LinkStatus::NoAnswer);
        EXPECT_TRUE(command.sent); // sent once all the same
        EXPECT_EQ(command.attempts, 1);
        const uint16_t value = 0x0102;
        EXPECT_TRUE(facade.WriteRegisters(settings, 16, 1, &value));
    }
    const auto sent = unit->requests();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0].pdu, sent[1].pdu); // the retry asks the same
    const bool tcp = GetParam() == kt::test::LinkKind::Tcp;
    if (tcp) {
        // Each TCP read attempt takes the next transaction number; writes and commands go as 0.
        EXPECT_EQ(sent[0].transaction, 0);
        EXPECT_EQ(sent[1].transaction, 1);
        EXPECT_EQ(sent[2].pdu, (kt::test::Bytes{0x10, 0, 6, 0, 1, 2, 0, 5}));
    } else {
        EXPECT_EQ(sent[2].pdu, (kt::test::Bytes{0x05, 0, 5, 0xFF, 0}));
    }
    EXPECT_EQ(sent[3].pdu, (kt::test::Bytes{0x10, 0, 16, 0, 1, 2, 0x01, 0x02}));
}

INSTANTIATE_TEST_SUITE_P(BothLinks, ProtocolOverTransports,
                         ::testing::Values(kt::test::LinkKind::Rtu, kt::test::LinkKind::Tcp),
                         kt::test::LinkKindName());

// A TCP read answered too late: the retry shows its own answer, not that one.
TEST(ProtocolOverTcp, ALateAnswerToTheFirstAttemptIsNotTheRetrysAnswer) {
    kt::test::TcpResponder unit;
    ConnectionSettings settings;
    settings.linkType = kt::LinkModbusTcp;
    settings.ipAddress = "127.0.0.1";
    settings.tcpPort = unit.port();
    unit.then([](const kt::test::Bytes& r) {
        return kt::test::TcpResponder::Action{kt::test::soundTcpAnswer(r, 0x5000), 1200ms};
    });
    Protocol facade(settings);
    std::array<uint16_t, 2> dest{};
    const kt::LinkResult read = facade.ReadRegisters(settings, 60, 2, dest.data());
    ASSERT_TRUE(read) << read.detail;
    EXPECT_EQ(read.attempts, 2);
    EXPECT_EQ(dest, (std::array<uint16_t, 2>{0x203C, 0x203D}));
}

} // namespace
