// The monitor engine against a scripted unit: identification, poll passes, reconnection, the
// event reader, the writes and unit commands.
#include "engine_fake_unit.h"

#include <gmock/gmock.h>

namespace {

using namespace kt;
using namespace kt::test;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

class EngineTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { resources = new FakeResources(); }
    static void TearDownTestSuite() {
        delete resources;
        resources = nullptr;
    }
    static std::string folder() { return resources->dir.str(); }

    // Identifies a unit and waits for its first pass.
    Monitor_Thread& identified(FakeLink& link) {
        Monitor_Thread& engine = link.start(folder());
        EXPECT_TRUE(engine.waitForIdentification(10s)) << engine.failure();
        EXPECT_TRUE(link.notifier.waitForPasses(1));
        return engine;
    }
    static std::string value(FakeLink& link, int reg) {
        PassSnapshotPtr pass = link.notifier.lastPass();
        return pass ? pass->values[reg].value : std::string("(no pass)");
    }
    // Submits one request through `submit` and waits for its result.
    template <class Result, class Submit> static Result await(Submit&& submit) {
        Results<Result> results;
        submit(results.sink());
        std::optional<Result> r = results.wait();
        EXPECT_TRUE(r) << "no result";
        return r.value_or(Result{});
    }
    static std::vector<std::string> writesAndCommands(FakeUnit& unit) {
        auto log = unit.takeLog();
        std::erase_if(log, [](const std::string& l) { return l[0] == 'r'; });
        return log;
    }

    static FakeResources* resources;
};
FakeResources* EngineTest::resources = nullptr;

TEST_F(EngineTest, IdentifiesTheUnitAndPollsItInRequestsOfFifty) {
    FakeLink link(FakeLink::unit(0x8000 | 251, 0, 0));
    link.fake().set(10, {4321});
    Monitor_Thread& engine = identified(link);

    auto id = engine.identification();
    ASSERT_TRUE(id);
    EXPECT_EQ(id->modelCode, 740);
    EXPECT_EQ(id->firmwareRaw, 0x8000 | 251);
    EXPECT_EQ(id->version, "250"); // prototype bit dropped, rounded down to tens
    EXPECT_EQ(id->registerFile, "registers_250.xml");
    EXPECT_EQ(engine.firmwareVersion(), 250);
    EXPECT_EQ(engine.pollCount(), 203); // highest register 199 + 4
    EXPECT_EQ(engine.chunkSize(), 50);
    EXPECT_TRUE(engine.identified());
    EXPECT_EQ(value(link, 10), "4321");
    EXPECT_EQ(value(link, 1), std::to_string(0x8000 | 251));
    {
        PassSnapshotPtr pass = link.notifier.lastPass();
        ASSERT_TRUE(pass);
        EXPECT_EQ(pass->values[10].label, "DB_TEN");
        EXPECT_EQ(pass->values[10].access, 1);
        EXPECT_EQ(pass->pass, 1u);
        EXPECT_EQ(pass->unit.registerFile, "registers_250.xml");
        EXPECT_EQ(pass->cache[10], 4321);
    }
    engine.requestStop();
    engine.join();
    // Identification read 0..49 once; a pass reads 0..202 in five requests.
    auto log = link.fake().takeLog();
    ASSERT_GE(log.size(), 6u);
    EXPECT_THAT(std::vector<std::string>(log.begin(), log.begin() + 6),
                ElementsAre("r 0 50", "r 0 50", "r 50 50", "r 100 50", "r 150 50", "r 200 3"));
    EXPECT_TRUE(engine.finished());
}

TEST_F(EngineTest, AUnitRefusingFiftyRegistersIsPolledInTwenties) {
    auto unit = FakeLink::unit();
    unit->maxRead = 20;
    FakeLink link(unit);
    Monitor_Thread& engine = identified(link);
    EXPECT_EQ(engine.chunkSize(), 20);
    EXPECT_EQ(engine.identification()->chunkSize, 20);
    engine.requestStop();
    engine.join();
    auto log = link.fake().takeLog();
    // Three refused attempts of 50, then 20 at a time.
    ASSERT_GE(log.size(), 5u);
    EXPECT_THAT(std::vector<std::string>(log.begin(), log.begin() + 5),
                ElementsAre("r 0 50", "r 0 50", "r 0 50", "r 0 20", "r 0 20"));
    for (size_t i = 3; i < log.size(); ++i) {
        int first = 0, count = 0;
        ASSERT_EQ(std::sscanf(log[i].c_str(), "r %d %d", &first, &count), 2) << log[i];
        EXPECT_LE(count, 20) << log[i];
    }
}

TEST_F(EngineTest, ModelTypeAndVersionPickTheRegisterFile) {
    struct Case {
        uint16_t firmware;
        uint16_t modelType;
        const char* file;
        int version;
        bool fellBack;
    } cases[] = {
        {250, 0, "registers_250.xml", 250, false},
        {259, 2, "registersAU_250.xml", 250, false},
        {305, 3, "registersHV_300.xml", 300, false},
        {250, 7, "registers_250.xml", 250, false}, // an unknown model type reads the plain files
        {290, 2, "registersAU_250.xml", 250, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file + std::string(" for firmware ") + std::to_string(c.firmware));
        FakeLink link(FakeLink::unit(c.firmware, c.modelType));
        Monitor_Thread& engine = identified(link);
        EXPECT_EQ(engine.identification()->registerFile, c.file);
        EXPECT_EQ(engine.firmwareVersion(), c.version);
        std::lock_guard g(link.notifier.mutex);
        if (c.fellBack) {
            ASSERT_EQ(link.notifier.messages.size(), 1u);
            EXPECT_EQ(link.notifier.messages[0].second, "Cannot Open File");
            EXPECT_THAT(link.notifier.messages[0].first, HasSubstr("Version 2.90, using Version 2.50"));
        } else {
            EXPECT_TRUE(link.notifier.messages.empty());
        }
    }
}

TEST_F(EngineTest, UnitsThatCannotBeServedFallBackToTheLegacyMonitor) {
    struct Case {
        const char* what;
        uint16_t firmware;
        bool silent;
        bool message; // "No xml display files found aborting connection."
        const char* failure;
    } cases[] = {
        {"firmware below 200", 190, false, true, "no register file registers_190.xml"},
        {"no file down to 200", 245, false, true, "nor one for an earlier version down to 200"},
        {"damaged register file", 260, false, true, "registers_260.xml"},
        {"silent unit", 250, true, false, "no answer to the Modbus identification"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto unit = FakeLink::unit(c.firmware);
        unit->silent = c.silent;
        FakeLink link(unit);
        Monitor_Thread& engine = link.start(folder());
        EXPECT_FALSE(engine.waitForIdentification(30s));
        engine.join(); // it stops by itself
        EXPECT_TRUE(engine.finished());
        EXPECT_FALSE(engine.identified());
        EXPECT_THAT(engine.failure(), HasSubstr(c.failure));
        EXPECT_EQ(engine.identification().has_value(), !c.silent);
        std::lock_guard g(link.notifier.mutex);
        EXPECT_EQ(link.notifier.fallbacks, 1);
        EXPECT_EQ(link.notifier.passes, 0);
        if (c.message) {
            ASSERT_EQ(link.notifier.messages.size(), 1u);
            EXPECT_EQ(link.notifier.messages[0],
                      std::make_pair(std::string(NoRegisterFileText), std::string("Cannot Open File")));
        } else {
            EXPECT_TRUE(link.notifier.messages.empty());
        }
    }
}

TEST_F(EngineTest, CommunicationOptionSetsTheGroupDisplay) {
    struct Case {
        uint16_t option;
        bool network, sntp, devicenet; // the file shows network and sntp and hides devicenet
    } cases[] = {
        {0, false, false, false}, {1, false, false, true}, {2, false, false, false},
        {3, true, true, false},   {4, true, true, false},  {5, true, true, false},
        {6, true, true, false},   {7, true, true, false},  {8, true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("option " + std::to_string(c.option));
        FakeLink link(FakeLink::unit(250, 0, c.option));
        identified(link);
        PassSnapshotPtr pass = link.notifier.lastPass();
        ASSERT_TRUE(pass);
        const auto& groups = pass->tables->RegisterGroups;
        EXPECT_EQ(groups[1].display, c.network);
        EXPECT_EQ(groups[2].display, c.sntp);
        EXPECT_EQ(groups[3].display, c.devicenet);
        EXPECT_TRUE(groups[0].display);
        EXPECT_EQ(link.engine->identification()->commOption, c.option);
    }
}

TEST_F(EngineTest, APassLeavesRegistersThatAreNotPolledAlone) {
    FakeLink link(FakeLink::unit());
    link.fake().set(30, {777});
    link.fake().set(40, {0xFFFF, 0xFFFF});
    identified(link);
    const int seen = link.notifier.passCount();
    ASSERT_TRUE(link.notifier.waitForPasses(seen + 2));
    EXPECT_EQ(value(link, 30), ""); // type 0: its word is read but never shown
    EXPECT_EQ(link.notifier.lastPass()->cache[30], 777);
    EXPECT_EQ(value(link, 40), "-000000001");
}

TEST_F(EngineTest, FourFailedPassesInARowRebuildTheLink) {
    struct Case {
        const char* script; // answers to the reads of register 0 after identification
        int builds;
        int passes; // successful passes within the script
    } cases[] = {
        {"nnnnnnnnny", 1, 1},                // three failed passes, then a good one
        {"nnnnnnnnnynnnnnnnnny", 1, 2},      // the count starts again after a good pass
        {"nnnnnnnnnnnny", 2, 1},             // four: rebuilt once
        {"nnnnnnnnnnnnnnnnnnnnnnnny", 3, 1}, // eight: rebuilt twice
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        auto unit = FakeLink::unit();
        unit->readScript[0] = std::string("y") + c.script;
        FakeLink link(unit);
        Monitor_Thread& engine = link.start(folder());
        ASSERT_TRUE(engine.waitForIdentification(10s));
        // The script's passes, then one more to see the count settle.
        ASSERT_TRUE(link.notifier.waitForPasses(c.passes + 1, 20s));
        engine.requestStop();
        engine.join();
        EXPECT_EQ(link.builds(), c.builds);
    }
}

TEST_F(EngineTest, AUnitThatStopsAnsweringMidPassShowsNothingAsFresh) {
    auto unit = FakeLink::unit();
    FakeLink link(unit);
    std::atomic<bool> armed{false};
    std::mutex mutex;
    std::optional<std::tuple<std::string, std::string, int>> beforeNextGoodPass;
    // After the first pass the values change and the next three passes lose their second request
    // (registers 0..49 arrive, 50..202 do not).
    link.notifier.duringPass = [&](const PassSnapshot&) {
        if (armed.exchange(true)) return;
        std::lock_guard g(unit->mutex);
        unit->regs[10] = 1111;
        unit->regs[120] = 2222;
        unit->readScript[50] = "nnnnnnnnn";
    };
    // What the window could read when the pass after the failures starts.
    unit->onRead = [&](int first) {
        if (first != 0 || !armed) return;
        {
            std::lock_guard g(unit->mutex);
            if (!unit->readScript[50].empty()) return;
        }
        std::lock_guard g(mutex);
        if (!beforeNextGoodPass)
            beforeNextGoodPass.emplace(value(link, 10), value(link, 120), link.notifier.passCount());
    };
    identified(link);
    ASSERT_TRUE(link.notifier.waitForPasses(2));
    std::lock_guard g(mutex);
    ASSERT_TRUE(beforeNextGoodPass);
    EXPECT_EQ(*beforeNextGoodPass, std::make_tuple(std::string("0"), std::string("0"), 1));
    EXPECT_EQ(value(link, 10), "1111");
    EXPECT_EQ(value(link, 120), "2222");
}

TEST_F(EngineTest, NetworkInputsAreReadOnlyForTheIec61850Options) {
    for (uint16_t option : {0, 3, 5, 6, 7, 8}) {
        SCOPED_TRACE("option " + std::to_string(option));
        auto unit = FakeLink::unit(250, 0, option);
        unit->regs[780] = 0x0005;
        unit->regs[781] = 0x0001; // also the status of input 1
        for (int k = 1; k < 16; ++k) unit->regs[781 + k] = static_cast<uint16_t>(k + 1);
        FakeLink link(unit);
        Monitor_Thread& engine = identified(link);
        ASSERT_TRUE(link.notifier.waitForPasses(3));
        engine.requestStop();
        engine.join();
        const bool network = option >= 6;
        const auto log = link.fake().takeLog();
        EXPECT_EQ(std::count(log.begin(), log.end(), "r 780 17") > 0, network);
        std::lock_guard g(link.notifier.mutex);
        if (!network) {
            EXPECT_TRUE(link.notifier.networkInputs.empty());
            continue;
        }
        ASSERT_FALSE(link.notifier.networkInputs.empty());
        EXPECT_EQ(link.notifier.networkInputs[0].flags, 0x00010005);
        std::array<int32_t, NetworkInputCount> status{};
        for (int k = 0; k < 16; ++k) status[k] = k + 1;
        EXPECT_EQ(link.notifier.networkInputs[0].status, status);
    }
}

TEST_F(EngineTest, AFailedNetworkInputReadIsNotShownAsFresh) {
    auto unit = FakeLink::unit(250, 0, 6);
    unit->readScript[780] = std::string(60, 'n');
    FakeLink link(unit);
    identified(link);
    ASSERT_TRUE(link.notifier.waitForPasses(4));
    std::lock_guard g(link.notifier.mutex);
    EXPECT_TRUE(link.notifier.networkInputs.empty());
}

// ---- the event reader ----

std::vector<uint16_t> selectorsOf(FakeUnit& u) {
    std::lock_guard g(u.mutex);
    return u.selectors;
}

std::shared_ptr<FakeUnit> unitWithEvents(int count, int newest) {
    auto unit = FakeLink::unit();
    unit->regs[60] = static_cast<uint16_t>(newest);
    unit->regs[61] = static_cast<uint16_t>(count);
    for (int k = 0; k < std::min(count, 20); ++k) {
        std::array<uint16_t, 9> record{};
        for (int j = 0; j < 9; ++j) record[j] = static_cast<uint16_t>(100 * k + j);
        unit->ring.push_back(record);
    }
    return unit;
}

EventReadResult readEvents(Monitor_Thread& engine, bool all, std::vector<EventRecord>* streamed = nullptr) {
    std::mutex m;
    Results<EventReadResult> results;
    engine.readEventRecords(all, results.sink(), [&](const EventRecord& r, const RequestProgress&) {
        std::lock_guard g(m);
        if (streamed) streamed->push_back(r);
    });
    auto r = results.wait(1, 20s);
    EXPECT_TRUE(r);
    return r.value_or(EventReadResult{});
}

TEST_F(EngineTest, EventRecordsAreReadNewestFirstAroundTheRing) {
    FakeLink link(unitWithEvents(5, 2));
    Monitor_Thread& engine = identified(link);
    std::vector<EventRecord> streamed;
    EventReadResult r = readEvents(engine, false, &streamed); // a new connection reads them all first
    EXPECT_THAT(selectorsOf(link.fake()), ElementsAre(2, 1, 0, 4, 3));
    EXPECT_EQ(r.kind, EventReadResult::Kind::Records);
    EXPECT_TRUE(r.link.ok());
    EXPECT_EQ(r.count, 5);
    EXPECT_EQ(r.newest, 2);
    ASSERT_EQ(r.records.size(), 5u);
    const int ring[] = {2, 1, 0, 4, 3};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(r.records[i].number, i);
        EXPECT_EQ(r.records[i].index, ring[i]);
        EXPECT_TRUE(r.records[i].read);
        std::array<std::string, EventRecordTextCount> expected;
        for (int k = 0; k < 7; ++k) expected[k] = std::to_string(100 * ring[i] + k);
        EXPECT_EQ(r.records[i].texts, expected);
    }
    // The page gets each record as it arrives, the same as the final result.
    ASSERT_EQ(streamed.size(), 5u);
    EXPECT_EQ(streamed[3].texts, r.records[3].texts);
}

TEST_F(EngineTest, EventReaderAnswersTheCountOnlyOrNoRecords) {
    FakeLink link(unitWithEvents(3, 0));
    Monitor_Thread& engine = identified(link);
    EXPECT_EQ(readEvents(engine, true).records.size(), 3u);
    EventReadResult countOnly = readEvents(engine, false); // records already read: only the count
    EXPECT_EQ(countOnly.kind, EventReadResult::Kind::CountOnly);
    EXPECT_EQ(countOnly.count, 3);
    EXPECT_TRUE(countOnly.records.empty());
    link.fake().set(61, {0});
    EventReadResult none = readEvents(engine, true);
    EXPECT_EQ(none.kind, EventReadResult::Kind::NoRecords);
    EXPECT_EQ(none.count, 0);
    EXPECT_TRUE(none.link.ok());
}

TEST_F(EngineTest, EventReaderFailuresShowNoWrongRecords) {
    auto unit = unitWithEvents(3, 2);
    FakeLink link(unit);
    Monitor_Thread& engine = identified(link);

    // The count cannot be read: said so, and the request for all records stays for the next call.
    unit->readScript[60] = "nnn";
    EventReadResult unreadable = readEvents(engine, true);
    EXPECT_EQ(unreadable.kind, EventReadResult::Kind::CountUnreadable);
    EXPECT_EQ(unreadable.link.status, LinkStatus::NoAnswer);
    EXPECT_EQ(unreadable.link.attempts, 3);
    // Record 1's selector is refused on all three tries (three attempts each): that record is
    // unread, not the record the unit still had selected.
    {
        std::lock_guard g(unit->mutex);
        unit->writeScript = "y" + std::string(9, 'n');
    }
    EventReadResult r = readEvents(engine, false);
    ASSERT_EQ(r.kind, EventReadResult::Kind::Records);
    ASSERT_EQ(r.records.size(), 3u);
    EXPECT_EQ(r.records[0].texts[0], "200");
    EXPECT_FALSE(r.records[1].read);
    for (const std::string& t : r.records[1].texts) EXPECT_EQ(t, "--");
    EXPECT_TRUE(r.records[2].read);
    EXPECT_EQ(r.records[2].texts[0], "0");
    EXPECT_EQ(r.gaveUpAfter, 0);
    EXPECT_FALSE(r.link.ok()); // one record could not be read, and the result says why
}

TEST_F(EngineTest, TheEventReaderGivesUpAfterRecordsFailInARow) {
    auto unit = unitWithEvents(20, 19);
    FakeLink link(unit);
    Monitor_Thread& engine = identified(link);
    {
        std::lock_guard g(unit->mutex);
        unit->writeScript = "y" + std::string(200, 'n'); // record 0, then no selector is taken
    }
    EventReadResult r = readEvents(engine, true);
    EXPECT_EQ(r.kind, EventReadResult::Kind::Records);
    EXPECT_EQ(r.gaveUpAfter, EventRecordFailuresInARow);
    ASSERT_EQ(r.records.size(), 1u + EventRecordFailuresInARow);
    EXPECT_TRUE(r.records[0].read);
    EXPECT_EQ(r.link.status, LinkStatus::NoAnswer);
    // Three tries of three attempts per failed record, nothing more.
    EXPECT_EQ(selectorsOf(*unit).size(), 1u);
}

TEST_F(EngineTest, AnImplausibleEventCountIsBounded) {
    auto unit = unitWithEvents(0xFFFF, 0xFFFE);
    FakeLink link(unit);
    link.options.maxEventRecords = 4;
    Monitor_Thread& engine = identified(link);
    EventReadResult r = readEvents(engine, true);
    // The newest four of the 65535-record ring.
    EXPECT_THAT(selectorsOf(*unit), ElementsAre(0xFFFE, 0xFFFD, 0xFFFC, 0xFFFB));
    EXPECT_EQ(r.count, 4);
    EXPECT_TRUE(r.countLimited);
    ASSERT_EQ(r.records.size(), 4u);
    EXPECT_EQ(r.records.back().number, 3);
}

TEST_F(EngineTest, ANewestIndexOutsideTheRingStillSelectsRecordsOfTheRing) {
    FakeLink link(unitWithEvents(3, 7));
    Monitor_Thread& engine = identified(link);
    readEvents(engine, true);
    EXPECT_THAT(selectorsOf(link.fake()), ElementsAre(1, 0, 2));
}

// ---- writes and unit commands ----

TEST_F(EngineTest, WriteValueWritesOneOrTwoRegistersByType) {
    FakeLink link(FakeLink::unit());
    Monitor_Thread& engine = identified(link);
    link.fake().takeLog();
    struct Case {
        int32_t value;
        int reg;
        int count;
    } cases[] = {{0x12345, 10, 1}, {-330, 160, 1}, {-2, 40, 2}, {70000, 240, 2}};
    for (const Case& c : cases) {
        WriteResult w = await<WriteResult>([&](auto sink) { engine.writeValue(c.value, c.reg, sink); });
        EXPECT_TRUE(w.link.ok()) << c.reg;
        EXPECT_EQ(w.first, c.reg);
        EXPECT_EQ(w.count, c.count);
    }
    EXPECT_TRUE(await<WriteResult>([&](auto sink) { engine.writeRegister16(3, sink); }).link.ok());
    EXPECT_THAT(writesAndCommands(link.fake()),
                ElementsAre("w 10 9029", "w 160 65206", "w 40 65534,65535", "w 240 4464,1", "w 16 3"));
}

TEST_F(EngineTest, AFailedWriteSaysWhyAndShowsNoMessageOfItsOwn) {
    FakeLink link(FakeLink::unit());
    Monitor_Thread& engine = identified(link);
    {
        std::lock_guard g(link.fake().mutex);
        link.fake().writeScript = "nnn";
    }
    WriteResult w = await<WriteResult>([&](auto sink) { engine.writeValue(1, 10, sink); });
    EXPECT_EQ(w.link.status, LinkStatus::NoAnswer);
    EXPECT_EQ(w.link.attempts, 3);
    EXPECT_EQ(describeLinkResult(w.link, 254, "127.0.0.1:502", {TransferWhat::Write, 10, 1}),
              "no answer from unit 254 at 127.0.0.1:502 to the write of register 10 after 3 attempts");
    std::lock_guard g(link.notifier.mutex);
    EXPECT_TRUE(link.notifier.messages.empty()); // the window words the failure, not the engine
}

TEST_F(EngineTest, RegisterBlocksGoInRequestsOfTwentySevenEvenAfterAFailure) {
    FakeLink link(FakeLink::unit());
    Monitor_Thread& engine = identified(link);
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 60; ++i) {
        bytes.push_back(static_cast<uint8_t>(i));
        bytes.push_back(0x80);
    }
    struct Case {
        const char* script;
        bool result;
        std::vector<std::string> requests; // each tried until acknowledged, up to three times
    } cases[] = {
        {"", true, {"w 300", "w 327", "w 354"}},
        // A request that failed fails the block, though the ones after it went through.
        {"ynnny", false, {"w 300", "w 327", "w 327", "w 327", "w 354"}},
        {"nnnyy", false, {"w 300", "w 300", "w 300", "w 327", "w 354"}},
        {"yynnn", false, {"w 300", "w 327", "w 354", "w 354", "w 354"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        {
            std::lock_guard g(link.fake().mutex);
            link.fake().writeScript = c.script;
        }
        link.fake().takeLog();
        WriteResult w =
            await<WriteResult>([&](auto sink) { engine.writeRegisterBlock(bytes, 60, 300, sink); });
        EXPECT_EQ(w.link.ok(), c.result);
        auto log = link.fake().takeLog();
        std::erase_if(log, [](const std::string& l) { return !l.starts_with("w "); });
        std::vector<std::string> starts;
        for (const std::string& l : log) starts.push_back(l.substr(0, l.find(' ', 2)));
        EXPECT_THAT(starts, ElementsAreArray(c.requests));
    }
    // High byte first; the last request holds six registers.
    std::lock_guard g(link.fake().mutex);
    EXPECT_EQ(link.fake().regs[300], 0x0080);
    EXPECT_EQ(link.fake().regs[301], 0x0180);
    EXPECT_EQ(link.fake().regs[359], 0x3B80);
    EXPECT_EQ(link.fake().regs[360], 0);
}

TEST_F(EngineTest, AddressesAndTheClockAreWrittenAsTheUnitReadsThem) {
    FakeLink link(FakeLink::unit());
    Monitor_Thread& engine = identified(link);
    link.fake().takeLog();
    auto ip = [&](const char* text) {
        return await<WriteResult>([&](auto sink) { engine.writeIpAddress(101, text, sink); }).link;
    };
    EXPECT_TRUE(ip("192.168.001.010").ok());
    EXPECT_EQ(ip("192.168.1.10").status, LinkStatus::Refused); // not the field's form: nothing written
    EXPECT_EQ(ip("300.168.001.010").status, LinkStatus::Refused);
    const std::array<uint8_t, 6> mac{0x02, 0x11, 0x33, 0x44, 0x55, 0x66};
    for (int reg : {107, 110}) {
        UnitCommandResult c =
            await<UnitCommandResult>([&](auto sink) { engine.writeMacAddress(reg, mac, sink); });
        EXPECT_TRUE(c.registersWritten && c.acknowledged);
    }
    UnitCommandResult clockSet = await<UnitCommandResult>([&](auto sink) { engine.setClock(sink); });
    EXPECT_TRUE(clockSet.registersWritten);
    EXPECT_TRUE(clockSet.acknowledged);
    EXPECT_EQ(clockSet.command, 3);
    EXPECT_THAT(writesAndCommands(link.fake()),
                ElementsAre("w 101 266,49320", "w 156 21862,13124,529", "c 6", "w 156 21862,13124,529", "c 7",
                            "w 152 7930,3589", "w 150 777,2021", "c 3"));
}

TEST_F(EngineTest, TheClockCommandFollowsOnlyCompleteWrites) {
    struct Case {
        const char* script;
        std::vector<std::string> sent;
    } cases[] = {
        {"nnn", {"w 152 7930,3589", "w 152 7930,3589", "w 152 7930,3589"}},
        {"ynnn", {"w 152 7930,3589", "w 150 777,2021", "w 150 777,2021", "w 150 777,2021"}},
    };
    FakeLink link(FakeLink::unit());
    Monitor_Thread& engine = identified(link);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        {
            std::lock_guard g(link.fake().mutex);
            link.fake().writeScript = c.script;
        }
        link.fake().takeLog();
        UnitCommandResult r = await<UnitCommandResult>([&](auto sink) { engine.setClock(sink); });
        EXPECT_FALSE(r.registersWritten);
        EXPECT_FALSE(r.acknowledged);
        EXPECT_EQ(r.link.status, LinkStatus::NoAnswer);
        EXPECT_THAT(writesAndCommands(link.fake()), ElementsAreArray(c.sent));
    }
}

TEST_F(EngineTest, UnitCommandsSendTheirNumbersAndSayWhetherTheUnitAcknowledged) {
    FakeLink link(FakeLink::unit());
    Monitor_Thread& engine = identified(link);
    link.fake().takeLog();
    using Op = RequestId (Monitor_Thread::*)(std::function<void(UnitCommandResult)>);
    const std::pair<Op, int> ops[] = {{&Monitor_Thread::resetToDefaults, 5},
                                      {&Monitor_Thread::clearEvents, 2},
                                      {&Monitor_Thread::remoteCalibration, 16},
                                      {&Monitor_Thread::dumpDiagnostics, 18}};
    for (const auto& [opEntry, n] : ops) {
        const Op op = opEntry; // a lambda may not capture a structured binding (clang 14)
        UnitCommandResult r = await<UnitCommandResult>([&](auto sink) { (engine.*op)(sink); });
        EXPECT_TRUE(r.acknowledged) << n;
        EXPECT_EQ(r.command, n);
    }
    EXPECT_THAT(writesAndCommands(link.fake()), ElementsAre("c 5", "c 2", "c 16", "c 18"));
    // A unit that does not acknowledge: the command went out once and the result says so.
    link.fake().silent = true;
    UnitCommandResult r = await<UnitCommandResult>([&](auto sink) { engine.resetToDefaults(sink); });
    EXPECT_FALSE(r.acknowledged);
    EXPECT_TRUE(r.link.sent);
    EXPECT_EQ(r.link.attempts, 1);
    EXPECT_THAT(writesAndCommands(link.fake()), ElementsAre("c 5"));
}

TEST_F(EngineTest, Register199MattersFromVersion300) {
    struct Case {
        uint16_t firmware;
        uint16_t reg199;
        bool flag;
    } cases[] = {{250, 0, true}, {300, 0, false}, {300, 1, true}, {300, 2, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.firmware) + "/" + std::to_string(c.reg199));
        auto unit = FakeLink::unit(c.firmware);
        unit->regs[199] = c.reg199;
        FakeLink link(unit);
        identified(link);
        EXPECT_EQ(link.notifier.lastPass()->register199Flag(), c.flag);
    }
}

TEST_F(EngineTest, RequestsAfterTheEngineEndedAreCancelledUnsent) {
    FakeLink link(FakeLink::unit());
    Monitor_Thread& engine = identified(link);
    engine.requestStop();
    engine.join();
    ASSERT_TRUE(engine.finished());
    link.fake().takeLog();
    EXPECT_EQ(await<WriteResult>([&](auto sink) { engine.writeRegister16(1, sink); }).link.status,
              LinkStatus::Cancelled);
    EXPECT_EQ(await<UnitCommandResult>([&](auto sink) { engine.resetToDefaults(sink); }).link.status,
              LinkStatus::Cancelled);
    EventReadResult events = readEvents(engine, true);
    EXPECT_EQ(events.kind, EventReadResult::Kind::Cancelled);
    EXPECT_TRUE(link.fake().takeLog().empty());
}

TEST_F(EngineTest, ReadBlockRefusesRangesOutsideTheCache) {
    FakeLink link(FakeLink::unit());
    Monitor_Thread& engine = identified(link);
    link.fake().takeLog();
    struct Reads {
        LinkResult link = LinkResult::failure(LinkStatus::Cancelled);
        std::vector<LinkStatus> statuses;
    };
    Reads r = await<Reads>([&](auto sink) {
        engine.submit<Reads>(
            "reads",
            [](UnitLink& unit) {
                Reads out;
                for (auto [first, count] : {std::pair{990, 20}, {-1, 5}, {0, 0}, {950, 50}})
                    out.statuses.push_back(unit.readBlock(first, count).status);
                out.link = LinkResult::done();
                return out;
            },
            sink);
    });
    EXPECT_THAT(r.statuses,
                ElementsAre(LinkStatus::Refused, LinkStatus::Refused, LinkStatus::Refused, LinkStatus::Done));
    auto log = link.fake().takeLog();
    std::erase_if(log, [](const std::string& l) { return !l.starts_with("r 9"); });
    EXPECT_THAT(log, ElementsAre("r 950 50"));
}

// ---- the request queue ----

TEST_F(EngineTest, RequestsRunInTheOrderAskedWhilePassesGoOn) {
    auto unit = FakeLink::unit();
    FakeLink link(unit);
    Monitor_Thread& engine = identified(link);
    std::vector<int> order;
    std::mutex m;
    Results<WriteResult> results;
    // A slow request: the passes that fall due while it runs are made between its transfers.
    const int passesBefore = link.notifier.passCount();
    engine.submit<WriteResult>(
        "slow",
        [&](UnitLink& u) {
            WriteResult w;
            for (int i = 0; i < 10; ++i) {
                const uint16_t v = static_cast<uint16_t>(i);
                w.link = u.writeRegisters(300, 1, &v);
                u.pause(10ms);
            }
            std::lock_guard g(m);
            order.push_back(1);
            return w;
        },
        results.sink());
    for (int k = 2; k <= 4; ++k)
        engine.writeRegister16(static_cast<uint16_t>(k), [&, k](WriteResult w) {
            {
                std::lock_guard g(m);
                order.push_back(k);
            }
            results.sink()(std::move(w));
        });
    ASSERT_TRUE(results.wait(4));
    std::lock_guard g(m);
    EXPECT_THAT(order, ElementsAre(1, 2, 3, 4));
    EXPECT_GT(link.notifier.passCount(), passesBefore + 3); // passes every 5 ms meanwhile
}

TEST_F(EngineTest, StoppingCancelsQueuedRequestsAndAbortsTheRunningOne) {
    auto unit = FakeLink::unit();
    FakeLink link(unit);
    Monitor_Thread& engine = identified(link);
    std::atomic<bool> started{false};
    Results<WriteResult> running;
    engine.submit<WriteResult>(
        "until stopped",
        [&](UnitLink& u) {
            started = true;
            WriteResult w;
            while (u.pause(5ms)) {
            }
            w.link = u.writeRegisters(300, 1, std::array<uint16_t, 1>{7}.data()); // after the stop
            return w;
        },
        running.sink());
    Results<WriteResult> queued;
    engine.writeRegister16(1, queued.sink());
    engine.writeRegister16(2, queued.sink());
    while (!started) std::this_thread::sleep_for(1ms);
    link.fake().takeLog();
    engine.requestStop();
    auto aborted = running.wait();
    ASSERT_TRUE(aborted);
    EXPECT_EQ(aborted->link.status, LinkStatus::Aborted);
    ASSERT_TRUE(queued.wait(2));
    for (const WriteResult& w : queued.got) EXPECT_EQ(w.link.status, LinkStatus::Cancelled);
    engine.join();
    EXPECT_TRUE(writesAndCommands(link.fake()).empty()); // nothing of them reached the unit
}

TEST_F(EngineTest, ARequestCanBeCancelledQueuedOrRunning) {
    auto unit = FakeLink::unit();
    FakeLink link(unit);
    Monitor_Thread& engine = identified(link);
    std::atomic<bool> started{false};
    Results<WriteResult> first;
    const RequestId running = engine.submit<WriteResult>(
        "cancellable",
        [&](UnitLink& u) {
            started = true;
            WriteResult w;
            while (!u.cancelled()) u.pause(2ms);
            w.link = LinkResult::failure(LinkStatus::Cancelled, "stopped at step 1");
            return w;
        },
        first.sink());
    Results<WriteResult> second;
    const RequestId queued = engine.writeRegister16(9, second.sink());
    while (!started) std::this_thread::sleep_for(1ms);
    engine.cancel(queued);
    auto q = second.wait();
    ASSERT_TRUE(q);
    EXPECT_EQ(q->link.status, LinkStatus::Cancelled);
    engine.cancel(running);
    auto r = first.wait();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->link.detail, "stopped at step 1");
    // The engine goes on polling and serving requests.
    EXPECT_TRUE(await<WriteResult>([&](auto sink) { engine.writeRegister16(3, sink); }).link.ok());
}

} // namespace
