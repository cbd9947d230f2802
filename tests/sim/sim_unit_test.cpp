// The simulated unit without a process: its register file, event ring, trips, commands and moving
// values, on a clock the test moves by hand.

#include "monitor/register_codec.h"
#include "sim/event_ring.h"
#include "sim/register_profile.h"
#include "sim/unit.h"
#include "tests/support/process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <thread>

using namespace kt::sim;
using kt::RegisterCacheWords;
using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::Ge;
using ::testing::HasSubstr;
using ::testing::Le;
using namespace std::chrono_literals;

namespace {

const std::string Resources = KT_SOURCE_DIR "/resources";

// The records' NGR currents in the order the program's event reader reads them (newest first,
// index newest - i, wrapping at the count).
std::vector<int> currentsInReaderOrder(const EventRing& ring) {
    std::vector<int> out;
    const size_t n = ring.count(), newest = ring.newest();
    for (size_t i = 0; i < n; ++i) {
        const auto* record = ring.at(newest >= i ? newest - i : n + newest - i);
        out.push_back(record ? record->current : -1); // a hole shows as -1 and fails the check
    }
    return out;
}

class SimUnit : public ::testing::Test {
protected:
    void make(uint16_t firmware = 320, uint16_t modelType = 0, UnitOptions options = {},
              std::vector<Preset> presets = {}, uint16_t commOption = 0) {
        ProfileLoad load = loadRegisterProfile(Resources, firmware, modelType);
        ASSERT_TRUE(load.profile) << load.failure;
        UnitSetup setup{.identity = {.firmware = firmware,
                                     .modelType = modelType,
                                     .commOption = commOption,
                                     .serial = 4242},
                        .presets = std::move(presets),
                        .profile = std::make_shared<const RegisterProfile>(std::move(*load.profile)),
                        .options = std::move(options)};
        setup.steadyNow = [this] { return now; };
        unit =
            std::make_unique<Unit>(std::move(setup), [this](std::string_view n) { notes.emplace_back(n); });
    }
    int regOf(std::string_view label) {
        const DescribedRegister* d = unit->profile()->find(label);
        EXPECT_NE(d, nullptr) << label;
        return d ? d->reg : 0;
    }
    uint16_t get(size_t reg) {
        uint16_t v = 0;
        EXPECT_TRUE(unit->readRegisters(reg, {&v, 1}));
        return v;
    }
    std::string text(std::string_view label) {
        RegisterCacheWords cache{};
        EXPECT_TRUE(unit->readRegisters(0, cache));
        const DescribedRegister* d = unit->profile()->find(label);
        return d ? kt::registerText(cache, d->reg, d->type) : "(no " + std::string(label) + ")";
    }
    void write(size_t reg, std::vector<uint16_t> values) { ASSERT_TRUE(unit->writeRegisters(reg, values)); }
    // Moves the clock on and lets the unit live through it.
    void pass(std::chrono::milliseconds d) {
        for (auto step = Unit::TickPeriod; d.count() > 0; d -= step) {
            now += std::min(d, std::chrono::milliseconds(step));
            unit->tick();
        }
    }
    // Record `index` through the selector, as the program reads it.
    std::vector<std::string> record(uint16_t index) {
        write(Unit::EventSelectorRegister, {index});
        RegisterCacheWords cache{};
        EXPECT_TRUE(unit->readRegisters(0, cache));
        std::vector<std::string> texts;
        for (const EventSlot& slot : unit->profile()->eventLayout)
            texts.push_back(kt::registerText(cache, slot.reg, slot.type));
        return texts;
    }

    // The unit's last note; empty when it said nothing (a failing check, not a crash).
    std::string lastNote() const { return notes.empty() ? std::string() : notes.back(); }

    std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
    std::vector<std::string> notes;
    std::unique_ptr<Unit> unit;
};

} // namespace

TEST(SimProfile, ChoosesTheRegisterFileAsTheProgramDoes) {
    struct Case {
        uint16_t firmware, modelType;
        const char* file; // nullptr: none
        bool fellBack;
    };
    const Case cases[] = {
        {320, 0, "registers_320.xml", false},
        {0x8000 | 327, 0, "registers_320.xml", false}, // prototype bit and units dropped
        {260, 1, "registers_230.xml", true},           // model type 1 is a plain KT-740
        {251, 2, "registersAU_230.xml", true},
        {300, 3, "registersHV_300.xml", false},
        {249, 3, "registersHV_200.xml", true},
        {199, 0, nullptr, false}, // below the oldest file: no fallback
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.firmware << " model type " << c.modelType);
        ProfileLoad load = loadRegisterProfile(Resources, c.firmware, c.modelType);
        if (!c.file) {
            EXPECT_FALSE(load.profile);
            EXPECT_THAT(load.failure, HasSubstr("no register file registers_190.xml"));
            continue;
        }
        ASSERT_TRUE(load.profile) << load.failure;
        EXPECT_EQ(std::filesystem::path(load.profile->path).filename(), c.file);
        EXPECT_EQ(load.profile->fellBack(), c.fellBack);
    }
    EXPECT_FALSE(loadRegisterProfile("/nonexistent", 320, 0).profile);
}

TEST(SimProfile, EventLayoutComesFromTheEventsGroup) {
    ProfileLoad load = loadRegisterProfile(Resources, 300, 2);
    ASSERT_TRUE(load.profile);
    std::vector<std::pair<int, int>> layout;
    for (const EventSlot& s : load.profile->eventLayout) layout.emplace_back(s.reg, s.type);
    EXPECT_THAT(layout, ElementsAre(std::pair{63, 3}, std::pair{65, 4}, std::pair{67, 1}, std::pair{68, 1},
                                    std::pair{69, 6}, std::pair{70, 1}, std::pair{71, 1}));
}

TEST(SimEventRing, NewRecordsFollowTheNewestInTheReadersOrder) {
    EventRing ring;
    auto add = [&](int current) {
        EventRecord r;
        r.current = current;
        return ring.add(r);
    };
    // From empty: one index after the other.
    EXPECT_EQ(add(1), 0u);
    EXPECT_EQ(add(2), 1u);
    EXPECT_THAT(currentsInReaderOrder(ring), ElementsAre(2, 1));

    // A preset ring with its newest record in the middle: the new record goes right after it,
    // and the reader still finds every record, newest first.
    ring.preset(5, 2);
    EXPECT_THAT(currentsInReaderOrder(ring), ElementsAre(12, 11, 10, 14, 13));
    EXPECT_EQ(add(99), 3u);
    EXPECT_EQ(ring.count(), 6u);
    EXPECT_THAT(currentsInReaderOrder(ring), ElementsAre(99, 12, 11, 10, 14, 13));

    // Full: the oldest record makes room, the count stays.
    ring.preset(EventRing::Capacity, EventRing::Capacity - 1);
    EXPECT_EQ(add(7), 0u);
    EXPECT_EQ(ring.count(), EventRing::Capacity);
    const std::vector<int> full = currentsInReaderOrder(ring);
    ASSERT_EQ(full.size(), EventRing::Capacity);
    EXPECT_EQ(full.front(), 7);
    EXPECT_EQ(full.back(), 11); // record 0 (current 10) is gone
    ring.preset(EventRing::Capacity, 50);
    EXPECT_EQ(add(8), 51u);

    ring.clear();
    EXPECT_EQ(ring.count(), 0u);
    EXPECT_EQ(ring.newest(), 0u);
    EXPECT_EQ(add(3), 0u);
}

TEST(SimEventRing, PresetRecordsCanBeToldApart) {
    std::set<std::string> seen;
    for (size_t k = 0; k < EventRing::Capacity; ++k) {
        const EventRecord r = presetRecord(k);
        EXPECT_EQ(r.current, 10 + int(k));
        EXPECT_TRUE(validClock(r.when)) << k;
        seen.insert(clockText(r.when));
    }
    EXPECT_EQ(seen.size(), EventRing::Capacity);
}

TEST_F(SimUnit, StartsWithIdentificationFileValuesThenPresets) {
    make(320, 0, {}, {{21, {33}}});
    EXPECT_EQ(get(1), 320);
    EXPECT_EQ(get(2), 4242);
    EXPECT_EQ(get(21), 33); // --set wins over the file's value
    EXPECT_EQ(text("DB_HEALTHY"), "1");
    EXPECT_EQ(text("DB_IP1"), "192.168.001.100");
    EXPECT_EQ(text("DB_MAC1"), "02:4B:54:00:21:24"); // from serial 4242, port 1
    EXPECT_EQ(text("DB_MAC2"), "02:4B:54:00:21:25");
    EXPECT_EQ(text("DB_FIRMWARE_BUILD"), "SIM 3.20");
    EXPECT_EQ(text("DB_ESSENTIAL_VERIFIED"), "1");
    // The nominal resistance follows its RANGE rule on the Vn trip level (position 5: 20..400).
    EXPECT_EQ(text("DB_VNLEVEL"), "5");
    EXPECT_EQ(text("DB_NGR_NOMINAL"), "210");
}

TEST_F(SimUnit, SelectorShowsTheChosenRecordInTheSameStep) {
    make(320, 0, {.eventCount = 5, .newestEvent = 2});
    EXPECT_EQ(get(60), 2);
    EXPECT_EQ(get(61), 5);
    EXPECT_THAT(record(3), ElementsAre("4/1/2024", "03:21:39", "13", "23", "-47", "128", "0"));
    EXPECT_THAT(record(0), ElementsAre("1/1/2024", "00:00:00", "10", "20", "-50", "1", "1"));
    // No such record: the record registers read 0.
    EXPECT_THAT(record(5), ElementsAre("0/0/0", "00:00:00", "0", "0", "0", "0", "0"));
    // 60, 61 and the record registers show the ring, whatever a master writes there.
    write(60, {9, 9, 1, 7, 7});
    EXPECT_EQ(get(60), 2);
    EXPECT_EQ(get(61), 5);
    EXPECT_EQ(get(62), 1);
    EXPECT_EQ(get(67), 11);
}

TEST_F(SimUnit, TripAddsARecordAndSetsTheStatusBitsWhileTheFaultLasts) {
    make(320, 0, {.eventCount = 5, .newestEvent = 2});
    const int trip = regOf("DB_TRIPSTATUS"), device = regOf("DB_SETPOINTSTATUS");
    write(trip, {0x0100}); // another bit stays as it is
    write(Unit::EventSelectorRegister, {3});
    unit->trip();
    EXPECT_EQ(get(60), 3);
    EXPECT_EQ(get(61), 6);
    EXPECT_EQ(get(70), 1); // the selector shows the new record at once
    EXPECT_THAT(get(67), AllOf(Ge(70), Le(80)));
    EXPECT_EQ(get(trip), 0x0101);
    EXPECT_EQ(get(device), 1);
    EXPECT_THAT(std::stoi(text("DB_NGRCURRENT")), AllOf(Ge(70), Le(80)));
    EXPECT_THAT(notes, Contains(HasSubstr("ground-fault trip: event record 3 added (6 records)")));

    pass(Unit::FaultDuration - 200ms);
    EXPECT_EQ(get(trip), 0x0101);
    pass(400ms);
    EXPECT_EQ(get(trip), 0x0100);
    EXPECT_EQ(get(device), 0);
    EXPECT_THAT(std::stoi(text("DB_NGRCURRENT")), AllOf(Ge(1), Le(7)));

    // With the ground-fault trip latch on, the trip stays until a reset.
    write(regOf("DB_GF_LATCH"), {1});
    unit->trip();
    pass(Unit::FaultDuration + 400ms);
    EXPECT_EQ(get(trip), 0x0101);
    EXPECT_EQ(get(device), 0);
    unit->resetToDefaults();
    EXPECT_EQ(get(trip), 0x0100);
}

TEST_F(SimUnit, PeriodicTripsFillTheRingUpToItsCapacity) {
    make(320, 0, {.eventCount = 98, .newestEvent = 97, .tripEverySeconds = 10});
    pass(9800ms);
    EXPECT_EQ(get(61), 98);
    pass(400ms);
    EXPECT_EQ(get(61), 99);
    pass(20s);
    EXPECT_EQ(get(61), 100);
    EXPECT_EQ(get(60), 0); // the third trip replaced the oldest record
}

TEST_F(SimUnit, ClockRunsOnFromWhereItWasSet) {
    make();
    // 9 March 2021 07:05:09 as the program writes it (milliseconds 300 in the low byte).
    write(150, {3 * 256 + 9, 2021, 9 * 256 + (300 % 256), 7 * 256 + 5});
    unit->setClock();
    EXPECT_EQ(text("DB_DATE"), "9/3/2021");
    EXPECT_EQ(text("DB_TIME"), "07:05:09");
    now += 61s; // a read sees the clock as it is, between ticks too
    EXPECT_EQ(text("DB_TIME"), "07:06:10");
    now += 23h;
    EXPECT_EQ(text("DB_DATE"), "10/3/2021");

    // 31 February is no date: the clock keeps running and the unit says why.
    write(150, {2 * 256 + 31, 2021, 0, 0});
    unit->setClock();
    EXPECT_EQ(text("DB_DATE"), "10/3/2021");
    EXPECT_THAT(lastNote(), HasSubstr("clock not set: registers 150..153 (543, 2021, 0, 0)"));
}

TEST_F(SimUnit, ResetBringsEverySettingBackToItsDefault) {
    make();
    RegisterCacheWords before{};
    ASSERT_TRUE(unit->readRegisters(0, before));
    int settings = 0;
    for (const DescribedRegister& d : unit->profile()->registers) {
        if (!d.isSetting()) continue;
        ++settings;
        std::vector<uint16_t> changed(static_cast<size_t>(d.wordCount()), 0x7777);
        write(static_cast<size_t>(d.reg), changed);
    }
    EXPECT_GT(settings, 20);
    unit->resetToDefaults();
    for (const DescribedRegister& d : unit->profile()->registers) {
        if (!d.isSetting()) continue;
        for (int i = 0; i < d.wordCount(); ++i) {
            const size_t r = static_cast<size_t>(d.reg + i);
            // A reset unit asks for its essential settings to be verified again.
            EXPECT_EQ(get(r), r == Unit::VerifiedRegister ? 0 : before[r]) << d.label;
        }
    }
    EXPECT_THAT(lastNote(), HasSubstr("settings reset to defaults"));
}

TEST_F(SimUnit, MacAddressesGoToTheMacRegistersOfTheFile) {
    make();
    write(156, {0x5566, 0x3344, 0x0211});
    unit->applyMacAddress(1);
    EXPECT_EQ(text("DB_MAC2"), "02:11:33:44:55:66");
    EXPECT_EQ(text("DB_MAC1"), "02:4B:54:00:21:24");
    // A group address is no address of one device: refused, the old one stays.
    write(156, {0x5566, 0x3344, 0x0111});
    unit->applyMacAddress(0);
    EXPECT_EQ(text("DB_MAC1"), "02:4B:54:00:21:24");
    EXPECT_THAT(lastNote(), HasSubstr("not applied: 01:11:33:44:55:66"));

    make(230); // one Ethernet port only
    unit->applyMacAddress(1);
    EXPECT_THAT(lastNote(), HasSubstr("MAC address 2 not applied: the register file describes no such"));
}

TEST_F(SimUnit, CalibrationIsBusyThenDone) {
    make();
    const int status = regOf("DB_CAL_STATUS"), count = regOf("DB_CAL_COUNT");
    unit->startCalibration();
    EXPECT_EQ(get(status), 2);
    unit->startCalibration();
    EXPECT_THAT(lastNote(), HasSubstr("already in progress"));
    pass(Unit::CalibrationDuration - 200ms);
    EXPECT_EQ(get(status), 2);
    pass(400ms);
    EXPECT_EQ(get(status), 1);
    EXPECT_EQ(get(count), 1);

    make(200); // before remote calibration
    unit->startCalibration();
    EXPECT_THAT(lastNote(), HasSubstr("this firmware has none"));
}

TEST_F(SimUnit, DiagnosticsDumpWritesItsFileToTheSdCard) {
    kt::test::TempDir sd;
    make(320, 0, {.sdCardFolder = sd.path()});
    const int status = regOf("DB_DUMP_STATUS");
    const auto freeBefore = text("DB_SD_FREE");
    auto setClock = [&] {
        write(150, {1 * 256 + 2, 2025, 3 * 256, 4 * 256 + 5});
        unit->setClock();
    };
    setClock();
    unit->writeDiagnostics();
    EXPECT_EQ(get(status), 1);
    pass(Unit::DumpDuration + 200ms);
    EXPECT_EQ(get(status), 2);
    EXPECT_LT(std::stol(text("DB_SD_FREE")), std::stol(freeBefore));
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(sd.path())) files.push_back(e.path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].filename(), "diag_000004242_20250102_040503.txt");
    EXPECT_THAT(kt::test::readFile(files[0].string()),
                AllOf(HasSubstr("Serial number: 4242\n"), HasSubstr("Register file: registers_320.xml\n")));

    // A second dump at the same time of the unit's clock does not overwrite the first.
    setClock();
    unit->writeDiagnostics();
    pass(Unit::DumpDuration + 200ms);
    EXPECT_TRUE(std::filesystem::exists(sd.file("diag_000004242_20250102_040503_2.txt")));

    // The card gone: the dump fails with "no SD card".
    make(320, 0, {.sdCardFolder = sd.file("removed")});
    unit->writeDiagnostics();
    pass(Unit::DumpDuration + 200ms);
    EXPECT_EQ(get(status), 3);
    EXPECT_THAT(lastNote(), HasSubstr("failed: no SD card"));
}

TEST_F(SimUnit, NetworkInputsOnlyForTheIec61850Options) {
    for (uint16_t option : {0, 5, 6, 8}) {
        SCOPED_TRACE(option);
        make(320, 0, {}, {}, option);
        std::set<std::vector<uint16_t>> seen;
        for (int i = 0; i < 20; ++i) {
            std::vector<uint16_t> inputs(17);
            ASSERT_TRUE(unit->readRegisters(780, inputs));
            for (size_t k = 1; k < inputs.size(); ++k) EXPECT_LE(inputs[k], 6) << k;
            seen.insert(inputs);
            pass(1s);
        }
        if (option >= 6)
            EXPECT_GT(seen.size(), 3u); // they change now and then
        else
            EXPECT_THAT(seen, ElementsAre(std::vector<uint16_t>(17, 0)));
    }
    // An option changed while running takes the inputs away.
    make(320, 0, {}, {}, 7);
    EXPECT_NE(get(780), 0);
    write(5, {3});
    pass(200ms);
    EXPECT_EQ(get(780), 0);
}

TEST_F(SimUnit, MovesItsMeasurementsButNotTheRegistersGivenWithSet) {
    make(320, 0, {}, {{41, {42}}});
    std::set<std::string> currents, resistances;
    for (int i = 0; i < 30; ++i) {
        pass(200ms);
        const int current = std::stoi(text("DB_NGRCURRENT"));
        EXPECT_THAT(current, AllOf(Ge(1), Le(7)));
        EXPECT_EQ(text("DB_NGRVOLTAGE"), "42");
        currents.insert(text("DB_NGRCURRENT"));
        resistances.insert(text("DB_RESISTANCE"));
        // The milliamperes follow the percentage of the 5 A CT: 1 % is 50 mA.
        EXPECT_THAT(std::stoi(text("DB_NGRCURRENT_MA")), AllOf(Ge(current * 50), Le(current * 50 + 9)));
    }
    EXPECT_GT(currents.size(), 2u);
    EXPECT_GT(resistances.size(), 2u);
}

TEST_F(SimUnit, EssentialSettingsVerifiedFollowsUnverified) {
    make(300, 0, {.unverified = true});
    EXPECT_EQ(get(Unit::VerifiedRegister), 0);
    write(Unit::VerifiedRegister, {1});
    EXPECT_EQ(get(Unit::VerifiedRegister), 1);
    make(270, 0, {.unverified = true}); // no register 199 before 3.00
    EXPECT_EQ(get(Unit::VerifiedRegister), 0);
    EXPECT_EQ(unit->profile()->at(Unit::VerifiedRegister), nullptr);
}

TEST(SimUnitTicker, LivesWhileMastersReadAndWrite) {
    ProfileLoad load = loadRegisterProfile(Resources, 320, 0);
    ASSERT_TRUE(load.profile);
    Unit unit(UnitSetup{.identity = {.firmware = 320, .commOption = 6},
                        .profile = std::make_shared<const RegisterProfile>(std::move(*load.profile)),
                        .options = {.eventCount = 10, .tripEverySeconds = 1}});
    unit.start();
    std::atomic<bool> done = false;
    std::atomic<int> torn = 0;
    std::vector<std::jthread> masters;
    for (int m = 0; m < 3; ++m)
        masters.emplace_back([&, m] {
            std::vector<uint16_t> block(125);
            while (!done) {
                const uint16_t selector = static_cast<uint16_t>(m);
                unit.writeRegisters(Unit::EventSelectorRegister, {&selector, 1});
                unit.readRegisters(0, block);
                // The ring's registers agree with each other in every read.
                if (block[61] > EventRing::Capacity || (block[61] > 0 && block[60] >= block[61])) ++torn;
                unit.executeCommand(m == 0 ? 16 : 2, Transport::Tcp);
            }
        });
    std::set<uint16_t> currents;
    for (int i = 0; i < 15; ++i) {
        currents.insert(unit.registers().get(40));
        std::this_thread::sleep_for(100ms);
    }
    unit.trip();
    done = true;
    masters.clear();
    unit.stop();
    EXPECT_EQ(torn, 0);
    EXPECT_GT(currents.size(), 1u);
}
