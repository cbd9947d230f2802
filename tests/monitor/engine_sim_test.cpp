// The monitor engine end to end against kt740sim, over Modbus TCP and the pseudo-terminal.
#include "engine_notifier.h"
#include "tests/support/sim_process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

namespace {

using namespace kt;
using namespace kt::test;
using Clock = std::chrono::steady_clock;
using ::testing::Contains;
using ::testing::IsSupersetOf;
using ::testing::Not;

enum class Via { Tcp, Serial };

const char* name(Via via) {
    return via == Via::Tcp ? "TCP" : "serial";
}

// A simulator and an engine on it, with the program's resources and a fixed clock.
struct SimLink {
    SimProcess sim;
    Via via;
    RecordingNotifier notifier;
    InlineDispatcher dispatcher;
    std::unique_ptr<Monitor_Thread> engine;

    SimLink(Via v, std::vector<std::string> args) : sim(withEndpoint(v, std::move(args))), via(v) {}

    static std::vector<std::string> withEndpoint(Via v, std::vector<std::string> args) {
        if (v == Via::Tcp)
            args.insert(args.begin(), {"--tcp", "127.0.0.1:0"});
        else
            args.insert(args.begin(), "--rtu");
        return args;
    }
    ConnectionSettings settings() const {
        auto s = parseLink(via == Via::Tcp ? sim.tcpLink() : sim.serialLink());
        return s.value_or(ConnectionSettings{});
    }
    Monitor_Thread& start(std::chrono::milliseconds interval = 50ms) {
        MonitorOptions options;
        options.resourcesFolder = std::string(KT_BIN_DIR) + "/resources";
        options.pollInterval = interval;
        options.clock = [] { return ClockFields{2021, 3, 9, 14, 5, 30, 250}; };
        engine = std::make_unique<Monitor_Thread>(settings(), notifier, dispatcher, options);
        return *engine;
    }
    Monitor_Thread& identified(std::chrono::milliseconds interval = 50ms) {
        Monitor_Thread& e = start(interval);
        EXPECT_TRUE(e.waitForIdentification(30s)) << e.failure();
        return e;
    }
    std::vector<std::string> log() const { return sim.logLines(); }
    std::string commandLine(int n) const {
        return via == Via::Tcp ? "fc=16 start=6 count=1 values=" + std::to_string(n)
                               : "fc=5 coil=" + std::to_string(n) + " value=65280";
    }
};

std::string valueOf(SimLink& link, int reg) {
    PassSnapshotPtr pass = link.notifier.lastPass();
    return pass ? pass->values[reg].value : std::string("(no pass)");
}

std::string valueLabelled(SimLink& link, std::string_view label) {
    PassSnapshotPtr pass = link.notifier.lastPass();
    if (!pass) return "(no pass)";
    for (const RegisterValue& v : pass->values)
        if (v.label == label) return v.value;
    return {};
}

// Submits one request through `submit` and waits for its result.
template <class Result, class Submit> Result await(Submit&& submit) {
    Results<Result> results;
    submit(results.sink());
    std::optional<Result> r = results.wait(1, 60s);
    EXPECT_TRUE(r) << "no result";
    return r.value_or(Result{});
}

TEST(EngineSim, AUnitRefusingFiftyRegistersIsPolledInTwenties) {
    SimLink link(Via::Tcp, {"--max-read", "20", "--model-type", "3", "--firmware", "250"});
    Monitor_Thread& engine = link.identified();
    EXPECT_EQ(engine.chunkSize(), 20);
    ASSERT_TRUE(link.notifier.waitForPasses(2, 20s));
    engine.requestStop();
    engine.join();
    const auto log = link.log();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 4),
              std::vector<std::string>({"fc=3 start=0 count=50", "fc=3 start=0 count=50",
                                        "fc=3 start=0 count=50", "fc=3 start=0 count=20"}));
    for (size_t i = 3; i < log.size(); ++i) {
        int start = 0, count = 0;
        if (std::sscanf(log[i].c_str(), "fc=3 start=%d count=%d", &start, &count) == 2) {
            EXPECT_LE(count, 20) << log[i];
        }
    }
}

TEST(EngineSim, APrototypeFirmwareReadsTheFileOfItsVersion) {
    SimLink link(Via::Serial, {"--model-type", "3", "--firmware", "0x80FB"});
    Monitor_Thread& engine = link.identified();
    auto id = engine.identification();
    ASSERT_TRUE(id);
    EXPECT_EQ(id->firmwareRaw, 0x80FB);
    EXPECT_EQ(id->version, "250");
    EXPECT_EQ(id->registerFile, "registersHV_250.xml");
    EXPECT_EQ(engine.firmwareVersion(), 250);
    ASSERT_TRUE(link.notifier.waitForPasses(1, 20s));
    EXPECT_EQ(valueOf(link, 1), "33019");
    std::lock_guard g(link.notifier.mutex);
    EXPECT_TRUE(link.notifier.messages.empty());
}

TEST(EngineSim, EventRecordsArriveNewestFirst) {
    for (Via via : {Via::Tcp, Via::Serial}) {
        SCOPED_TRACE(name(via));
        SimLink link(via, {"--model-type", "0", "--firmware", "300", "--events", "5", "--newest", "2"});
        Monitor_Thread& engine = link.identified();
        const EventReadResult all =
            await<EventReadResult>([&](auto sink) { engine.readEventRecords(true, sink); });
        const EventReadResult countOnly =
            await<EventReadResult>([&](auto sink) { engine.readEventRecords(false, sink); });

        std::vector<std::string> selectors;
        for (const std::string& line : link.log())
            if (line.starts_with("fc=16 start=62 count=1 values=")) selectors.push_back(line.substr(30));
        EXPECT_EQ(selectors, (std::vector<std::string>{"2", "1", "0", "4", "3"}));

        ASSERT_EQ(all.kind, EventReadResult::Kind::Records);
        EXPECT_TRUE(all.link.ok());
        EXPECT_EQ(all.count, 5);
        ASSERT_EQ(all.records.size(), 5u);
        const char* current[] = {"12", "11", "10", "14", "13"}; // record k: NGR current 10 + k
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(all.records[i].number, i);
            EXPECT_EQ(all.records[i].texts[2], current[i]) << "record " << i;
        }
        EXPECT_EQ(countOnly.kind, EventReadResult::Kind::CountOnly); // then only the count
        EXPECT_EQ(countOnly.count, 5);
    }
}

TEST(EngineSim, NetworkInputsAreReadForTheIec61850OptionsOnly) {
    for (int option : {0, 6}) {
        SCOPED_TRACE("option " + std::to_string(option));
        SimLink link(Via::Tcp, {"--comm-option", std::to_string(option), "--firmware", "300"});
        Monitor_Thread& engine = link.identified();
        ASSERT_TRUE(link.notifier.waitForPasses(3, 20s));
        engine.requestStop();
        engine.join();
        const bool network = option == 6;
        const auto log = link.log();
        EXPECT_EQ(std::count(log.begin(), log.end(), "fc=3 start=780 count=17") > 0, network);
        std::lock_guard g(link.notifier.mutex);
        EXPECT_EQ(link.notifier.networkInputs.empty(), !network);
        if (!network) continue;
        // The last update is what registers 780..796 held at the last pass.
        const NetworkInputs& inputs = link.notifier.networkInputs.back();
        const PassSnapshotPtr last = link.notifier.last;
        ASSERT_TRUE(last);
        EXPECT_EQ(std::to_string(inputs.flags), std::to_string(std::stol(last->registerText(780, 2))));
        for (int k = 0; k < NetworkInputCount; ++k)
            EXPECT_EQ(std::to_string(inputs.status[k]), last->registerText(781 + k, 1)) << "input " << k + 1;
    }
}

TEST(EngineSim, SetClockWritesTimeThenDateThenCommandThree) {
    for (Via via : {Via::Tcp, Via::Serial}) {
        SCOPED_TRACE(name(via));
        SimLink link(via, {"--firmware", "300"});
        Monitor_Thread& engine = link.identified();
        const UnitCommandResult clock = await<UnitCommandResult>([&](auto sink) { engine.setClock(sink); });
        ASSERT_TRUE(clock.acknowledged) << clock.link.detail;
        std::vector<std::string> writes;
        for (const std::string& line : link.log())
            if (!line.starts_with("fc=3 ")) writes.push_back(line);
        EXPECT_EQ(writes,
                  (std::vector<std::string>{"fc=16 start=152 count=2 values=7930,3589",
                                            "fc=16 start=150 count=2 values=777,2021", link.commandLine(3)}));
        // The unit's clock now runs from the time sent, as the next passes show.
        const int passes = link.notifier.passCount();
        ASSERT_TRUE(link.notifier.waitForPasses(passes + 2, 20s));
        EXPECT_EQ(valueLabelled(link, "DB_DATE"), "9/3/2021");
        EXPECT_THAT(valueLabelled(link, "DB_TIME"), ::testing::StartsWith("14:0"));
    }
}

TEST(EngineSim, UnitCommandsReachTheUnit) {
    for (Via via : {Via::Tcp, Via::Serial}) {
        SCOPED_TRACE(name(via));
        SimLink link(via, {"--firmware", "300"});
        Monitor_Thread& engine = link.identified();
        using Op = RequestId (Monitor_Thread::*)(std::function<void(UnitCommandResult)>);
        for (Op op : {&Monitor_Thread::resetToDefaults, &Monitor_Thread::clearEvents,
                      &Monitor_Thread::remoteCalibration, &Monitor_Thread::dumpDiagnostics})
            EXPECT_TRUE(await<UnitCommandResult>([&](auto sink) { (engine.*op)(sink); }).acknowledged);
        const std::array<uint8_t, 6> mac{0x02, 0x11, 0x33, 0x44, 0x55, 0x66};
        EXPECT_TRUE(await<UnitCommandResult>([&](auto sink) {
                        engine.writeMacAddress(107, mac, sink);
                    }).acknowledged);
        std::vector<std::string> writes;
        for (const std::string& line : link.log())
            if (!line.starts_with("fc=3 ")) writes.push_back(line);
        EXPECT_EQ(writes, (std::vector<std::string>{link.commandLine(5), link.commandLine(2),
                                                    link.commandLine(16), link.commandLine(18),
                                                    "fc=16 start=156 count=3 values=21862,13124,529",
                                                    link.commandLine(6)}));
    }
}

TEST(EngineSim, AStopDuringASlowPassEndsPromptlyWithoutAHandOver) {
    SimLink link(Via::Tcp, {"--firmware", "300", "--delay-ms", "250"});
    Monitor_Thread& engine = link.identified(0ms);
    ASSERT_TRUE(link.notifier.waitForPasses(1, 20s));
    std::this_thread::sleep_for(400ms); // into the next pass (five requests of 250 ms)
    const int passes = link.notifier.passCount();
    const auto stopAt = Clock::now();
    engine.requestStop();
    engine.join();
    EXPECT_LT(Clock::now() - stopAt, 3s); // the request under way, then the link's teardown
    EXPECT_EQ(link.notifier.passCount(), passes);
}

TEST(EngineSim, ANewEngineTakesOverThePortWhenTheOldOneLetsGo) {
    SimLink link(Via::Serial, {"--firmware", "300", "--delay-ms", "100"});
    Monitor_Thread& oldEngine = link.identified(0ms);
    ASSERT_TRUE(link.notifier.waitForPasses(1, 20s));
    oldEngine.requestStop(); // the window reconnects at once, without waiting

    RecordingNotifier notifier;
    MonitorOptions options;
    options.resourcesFolder = std::string(KT_BIN_DIR) + "/resources";
    options.pollInterval = 0ms;
    std::atomic<bool> oldFinishedAtBuild{false};
    options.makeProtocol = [&](const ConnectionSettings& s) {
        oldFinishedAtBuild = oldEngine.finished();
        return std::make_unique<Protocol>(s);
    };
    InlineDispatcher dispatcher;
    Monitor_Thread newEngine(link.settings(), notifier, dispatcher, options);
    ASSERT_TRUE(newEngine.waitForIdentification(30s)) << newEngine.failure();
    EXPECT_TRUE(oldFinishedAtBuild);
    ASSERT_TRUE(notifier.waitForPasses(3, 20s));
    link.engine.reset(); // deleting the old engine does not disturb the new one
    ASSERT_TRUE(notifier.waitForPasses(5, 20s));
    EXPECT_EQ(newEngine.failure(), "");
}

TEST(EngineSim, NothingIsHandedOverWhileTheUnitIsSilent) {
    SimLink link(Via::Tcp, {"--firmware", "300"});
    Monitor_Thread& engine = link.identified();
    ASSERT_TRUE(link.notifier.waitForPasses(2, 20s));
    ASSERT_EQ(::kill(link.sim.pid(), SIGSTOP), 0);
    std::this_thread::sleep_for(500ms); // a pass under way at the stop may still end
    const int passes = link.notifier.passCount();
    std::this_thread::sleep_for(4s);
    EXPECT_EQ(link.notifier.passCount(), passes);
    ASSERT_EQ(::kill(link.sim.pid(), SIGCONT), 0);
    EXPECT_TRUE(link.notifier.waitForPasses(passes + 2, 30s));
    EXPECT_TRUE(engine.identified());
}

} // namespace
