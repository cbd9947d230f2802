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
        auto lock = lockRegisterValues();
        return link.tables.RegisterValues[reg].value;
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
        auto lock = lockRegisterValues();
        EXPECT_EQ(link.tables.RegisterValues[10].label, "DB_TEN");
        EXPECT_EQ(link.tables.RegisterValues[10].access, 1);
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
        auto lock = lockRegisterValues();
        const auto& groups = link.tables.RegisterGroups;
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
    {
        auto lock = lockRegisterValues();
        link.tables.RegisterValues[30].value = "kept";
    }
    const int seen = link.notifier.passCount();
    ASSERT_TRUE(link.notifier.waitForPasses(seen + 2));
    EXPECT_EQ(value(link, 30), "kept");
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
    link.notifier.duringPass = [&] {
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
        EXPECT_EQ(link.notifier.networkInputs[0].first, 0x00010005);
        std::array<int32_t, NetworkInputCount> status{};
        for (int k = 0; k < 16; ++k) status[k] = k + 1;
        EXPECT_EQ(link.notifier.networkInputs[0].second, status);
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

// ---- the event reader (GUI-thread calls, here from the test's thread) ----

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

TEST_F(EngineTest, EventRecordsAreReadNewestFirstAroundTheRing) {
    FakeLink link(unitWithEvents(5, 2));
    Monitor_Thread& engine = identified(link);
    engine.readEventRecords(false); // a new connection reads them all on its first request
    EXPECT_THAT(selectorsOf(link.fake()), ElementsAre(2, 1, 0, 4, 3));
    EXPECT_EQ(engine.eventCount(), 5);
    std::lock_guard g(link.notifier.mutex);
    const auto& events = link.notifier.events;
    ASSERT_EQ(events.size(), 5u);
    const int ring[] = {2, 1, 0, 4, 3};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(events[i].first, 5);
        std::array<std::string, EventTextCount> expected;
        expected[0] = std::to_string(i);
        for (int k = 0; k < 7; ++k) expected[k + 1] = std::to_string(100 * ring[i] + k);
        EXPECT_EQ(events[i].second, expected);
    }
}

TEST_F(EngineTest, EventReaderAnswersTheCountOnlyOrNoRecords) {
    FakeLink link(unitWithEvents(3, 0));
    Monitor_Thread& engine = identified(link);
    engine.readEventRecords(true);
    engine.readEventRecords(false); // records already read: only the count
    link.fake().set(61, {0});
    engine.readEventRecords(true);
    std::lock_guard g(link.notifier.mutex);
    const auto& events = link.notifier.events;
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[3].first, 3);
    EXPECT_EQ(events[3].second[0], "999");
    EXPECT_EQ(events[4].first, 0);
    EXPECT_EQ(events[4].second[0], "0");
    for (int k = 1; k < EventTextCount; ++k) EXPECT_EQ(events[4].second[k], "--");
}

TEST_F(EngineTest, EventReaderFailuresShowNoWrongRecords) {
    auto unit = unitWithEvents(3, 2);
    FakeLink link(unit);
    Monitor_Thread& engine = identified(link);

    // The count cannot be read: a count-only answer with the count last known, and the request
    // for all records stays for the next call.
    unit->readScript[60] = "nnn";
    engine.readEventRecords(true);
    {
        std::lock_guard g(link.notifier.mutex);
        ASSERT_EQ(link.notifier.events.size(), 1u);
        EXPECT_EQ(link.notifier.events[0].second[0], "999");
        EXPECT_EQ(link.notifier.events[0].first, 0);
    }
    // Record 1's selector is refused on all three tries (three attempts each): that record shows
    // "--", not the record the unit still had selected.
    {
        std::lock_guard g(unit->mutex);
        unit->writeScript = "y" + std::string(9, 'n');
    }
    engine.readEventRecords(false);
    std::lock_guard g(link.notifier.mutex);
    const auto& events = link.notifier.events;
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[1].second[1], "200");
    EXPECT_EQ(events[2].second[0], "1");
    for (int k = 1; k < EventTextCount; ++k) EXPECT_EQ(events[2].second[k], "--");
    EXPECT_EQ(events[3].second[0], "2");
    EXPECT_EQ(events[3].second[1], "0");
}

TEST_F(EngineTest, AnImplausibleEventCountIsBounded) {
    auto unit = unitWithEvents(0xFFFF, 0xFFFE);
    FakeLink link(unit);
    link.options.maxEventRecords = 4;
    Monitor_Thread& engine = identified(link);
    engine.readEventRecords(true);
    // The newest four of the 65535-record ring.
    EXPECT_THAT(selectorsOf(*unit), ElementsAre(0xFFFE, 0xFFFD, 0xFFFC, 0xFFFB));
    EXPECT_EQ(engine.eventCount(), 4);
    std::lock_guard g(link.notifier.mutex);
    ASSERT_EQ(link.notifier.events.size(), 4u);
    EXPECT_EQ(link.notifier.events.back().first, 4);
    EXPECT_EQ(link.notifier.events.back().second[0], "3");
}

TEST_F(EngineTest, ANewestIndexOutsideTheRingStillSelectsRecordsOfTheRing) {
    FakeLink link(unitWithEvents(3, 7));
    Monitor_Thread& engine = identified(link);
    engine.readEventRecords(true);
    EXPECT_THAT(selectorsOf(link.fake()), ElementsAre(1, 0, 2));
}

// ---- writes and unit commands ----

TEST_F(EngineTest, WriteValueWritesOneOrTwoRegistersByType) {
    FakeLink link(FakeLink::unit());
    Monitor_Thread& engine = identified(link);
    link.fake().takeLog();
    EXPECT_TRUE(engine.writeValue(0x12345, 10)); // type 1: low 16 bits
    EXPECT_TRUE(engine.writeValue(-330, 160));   // type 16: one register
    EXPECT_TRUE(engine.writeValue(-2, 40));      // type 2: two, low word first
    EXPECT_TRUE(engine.writeValue(70000, 240));  // not described: two
    EXPECT_TRUE(engine.writeRegister16(3));
    auto log = link.fake().takeLog();
    std::erase_if(log, [](const std::string& l) { return l[0] != 'w'; });
    EXPECT_THAT(log, ElementsAre("w 10 9029", "w 160 65206", "w 40 65534,65535", "w 240 4464,1", "w 16 3"));
    std::lock_guard g(link.notifier.mutex);
    EXPECT_TRUE(link.notifier.messages.empty());
}

TEST_F(EngineTest, AFailedWriteValueSaysWriteFailed) {
    FakeLink link(FakeLink::unit());
    Monitor_Thread& engine = identified(link);
    {
        std::lock_guard g(link.fake().mutex);
        link.fake().writeScript = "nnn";
    }
    EXPECT_FALSE(engine.writeValue(1, 10));
    std::lock_guard g(link.notifier.mutex);
    ASSERT_EQ(link.notifier.messages.size(), 1u);
    EXPECT_EQ(link.notifier.messages[0],
              std::make_pair(std::string("Write Failed"), std::string("Write Failed")));
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
        {"ynnny", true, {"w 300", "w 327", "w 327", "w 327", "w 354"}},
        {"yynnn", false, {"w 300", "w 327", "w 354", "w 354", "w 354"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        {
            std::lock_guard g(link.fake().mutex);
            link.fake().writeScript = c.script;
        }
        link.fake().takeLog();
        EXPECT_EQ(engine.writeRegisterBlock(bytes.data(), 60, 300), c.result);
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
    EXPECT_TRUE(engine.writeIpAddress(101, "192.168.001.010"));
    EXPECT_FALSE(engine.writeIpAddress(101, "192.168.1.10")); // not the field's form: nothing written
    EXPECT_FALSE(engine.writeIpAddress(101, "300.168.001.010"));
    EXPECT_TRUE(engine.writeMacAddress(107, {0x02, 0x11, 0x33, 0x44, 0x55, 0x66}));
    EXPECT_TRUE(engine.writeMacAddress(110, {0x02, 0x11, 0x33, 0x44, 0x55, 0x66}));
    EXPECT_TRUE(engine.setClock());
    auto log = link.fake().takeLog();
    std::erase_if(log, [](const std::string& l) { return l[0] == 'r'; });
    EXPECT_THAT(log, ElementsAre("w 101 266,49320", "w 156 21862,13124,529", "c 6", "w 156 21862,13124,529",
                                 "c 7", "w 152 7930,3589", "w 150 777,2021", "c 3"));
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
        EXPECT_FALSE(engine.setClock());
        auto log = link.fake().takeLog();
        std::erase_if(log, [](const std::string& l) { return l[0] == 'r'; });
        EXPECT_THAT(log, ElementsAreArray(c.sent));
    }
}

TEST_F(EngineTest, UnitCommandsSendTheirNumbers) {
    FakeLink link(FakeLink::unit());
    Monitor_Thread& engine = identified(link);
    link.fake().takeLog();
    EXPECT_TRUE(engine.resetToDefaults());
    EXPECT_TRUE(engine.clearEvents());
    EXPECT_TRUE(engine.remoteCalibration());
    EXPECT_TRUE(engine.dumpDiagnostics());
    EXPECT_TRUE(engine.lastCommandAcknowledged());
    auto log = link.fake().takeLog();
    std::erase_if(log, [](const std::string& l) { return l[0] != 'c'; });
    EXPECT_THAT(log, ElementsAre("c 5", "c 2", "c 16", "c 18"));
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
        Monitor_Thread& engine = identified(link);
        EXPECT_EQ(engine.register199Flag(), c.flag);
    }
}

TEST_F(EngineTest, CallsAfterTheEngineEndedFail) {
    FakeLink link(FakeLink::unit());
    Monitor_Thread& engine = identified(link);
    engine.requestStop();
    engine.join();
    ASSERT_TRUE(engine.finished());
    link.fake().takeLog();
    EXPECT_FALSE(engine.readBlock(0, 10));
    EXPECT_FALSE(engine.writeRegister16(1));
    EXPECT_FALSE(engine.setClock());
    EXPECT_FALSE(engine.resetToDefaults());
    EXPECT_FALSE(engine.writeValue(1, 10));
    const uint8_t bytes[2] = {0, 1};
    EXPECT_FALSE(engine.writeRegisterBlock(bytes, 1, 300));
    engine.readEventRecords(true);
    EXPECT_TRUE(link.fake().takeLog().empty());
    std::lock_guard g(link.notifier.mutex);
    ASSERT_FALSE(link.notifier.events.empty());
    EXPECT_EQ(link.notifier.events.back().second[0], "999");
    ASSERT_EQ(link.notifier.messages.size(), 1u);
    EXPECT_EQ(link.notifier.messages[0].first, "Write Failed");
}

TEST_F(EngineTest, ReadBlockRefusesRangesOutsideTheCache) {
    FakeLink link(FakeLink::unit());
    Monitor_Thread& engine = identified(link);
    link.fake().takeLog();
    EXPECT_FALSE(engine.readBlock(990, 20));
    EXPECT_FALSE(engine.readBlock(-1, 5));
    EXPECT_FALSE(engine.readBlock(0, 0));
    EXPECT_TRUE(engine.readBlock(950, 50));
    auto log = link.fake().takeLog();
    std::erase_if(log, [](const std::string& l) { return !l.starts_with("r 9"); });
    EXPECT_THAT(log, ElementsAre("r 950 50"));
}

} // namespace
