// The simulator's legacy unit without a process: its command line, its frames, its event block,
// its trips.
#include "sim/legacy_unit.h"
#include "sim/options.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

using namespace kt;
using namespace kt::sim;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

namespace {

Options parse(std::vector<std::string> words) {
    return parseOptions(words);
}

std::string usageError(std::vector<std::string> words) {
    try {
        parseOptions(words);
    } catch (const UsageError& e) {
        return e.what();
    }
    return "(accepted)";
}

} // namespace

TEST(SimLegacyOptions, LegacyUnitFromTheCommandLine) {
    const Options o = parse({"--legacy", "--legacy-version", "4", "--sibling", "--switches", "10,0,11",
                             "--frame-ms", "50", "--frame-set", "19=4,0", "--frame-set", "22=0x28",
                             "--noise-every", "3", "--partial-every", "5", "--silence-after", "7"});
    EXPECT_TRUE(o.legacy);
    EXPECT_FALSE(o.rtu);
    EXPECT_EQ(o.legacyUnit.version, 4);
    EXPECT_TRUE(o.legacyUnit.sibling);
    EXPECT_THAT(o.legacyUnit.switches, ::testing::ElementsAre(10, 0, 11));
    EXPECT_EQ(o.legacyUnit.frameMs, 50u);
    ASSERT_EQ(o.legacyUnit.presets.size(), 2u);
    EXPECT_EQ(o.legacyUnit.presets[1].start, 22);
    EXPECT_THAT(o.legacyUnit.presets[1].values, ::testing::ElementsAre(0x28));
    EXPECT_EQ(o.legacyUnit.noiseEvery, 3u);
    EXPECT_EQ(o.legacyUnit.partialEvery, 5u);
    EXPECT_EQ(o.legacyUnit.silenceAfter, 7u);

    struct Case {
        std::vector<std::string> words;
        const char* message;
    } cases[] = {
        {{"--rtu", "--noise-every", "2"},
         "option --noise-every describes the legacy unit: give --legacy too"},
        {{"--tcp", "h:1", "--frame-set", "1=2"}, "option --frame-set describes the legacy unit"},
        {{"--legacy", "--legacy-version", "32"}, "--legacy-version must be a number from 0 to 31"},
        {{"--legacy", "--switches", "1,2"}, "--switches needs three positions"},
        {{"--legacy", "--switches", "1,2,3,4"}, "--switches needs three positions"},
        {{"--legacy", "--switches", "1,256,3"}, "a --switches position must be a number from 0 to 255"},
        {{"--legacy", "--frame-set", "23=1,2"}, "--frame-set 23=1,2 runs past byte 23"},
        {{"--legacy", "--frame-set", "24=1"}, "the --frame-set byte must be a number from 0 to 23"},
        {{"--legacy", "--frame-ms", "5"}, "--frame-ms must be a number from 10"},
        {{"--legacy", "--legacy"}, "option --legacy is given more than once"},
    };
    for (const Case& c : cases) EXPECT_THAT(usageError(c.words), HasSubstr(c.message));
}

TEST(SimLegacyUnit, FramesCarryTheUnitAndMove) {
    LegacyOptions options;
    options.version = 4;
    options.sibling = false;
    options.switches = {1, 2, 3};
    options.presets = {{19, {0x04}}};
    Identity id;
    id.modelType = 2; // KT-740AU
    LegacyUnit unit(options, id, {});
    const auto now = LegacyUnit::Steady::now();
    std::vector<int> currents;
    for (int i = 1; i <= 20; ++i) {
        const LegacyFrame f = unit.nextFrame(now);
        EXPECT_EQ(f[LegacyByte::Identification], 0x44);
        EXPECT_EQ(f[LegacyByte::GfTime], 1);
        EXPECT_EQ(f[LegacyByte::GfLevel], 2);
        EXPECT_EQ(f[LegacyByte::PulseTime], 3);
        EXPECT_EQ(f[LegacyByte::PortA], 0x04); // held as given
        EXPECT_EQ(f[LegacyUnit::SequenceByte], i);
        EXPECT_EQ(f[LegacyByte::TripStatus], 0);
        currents.push_back(f[LegacyByte::NgrCurrent]);
    }
    EXPECT_GT(std::set<int>(currents.begin(), currents.end()).size(), 1u);
    for (int c : currents) {
        EXPECT_GE(c, 1);
        EXPECT_LE(c, 7);
    }

    // A trip: bit 0 while the fault lasts, a record with the ground-fault code, newest first.
    unit.trip(now);
    EXPECT_EQ(unit.nextFrame(now + 1s)[LegacyByte::TripStatus], 0x01);
    EXPECT_GE(unit.nextFrame(now + 1s)[LegacyByte::NgrCurrent], 70);
    EXPECT_EQ(unit.nextFrame(now + LegacyUnit::FaultDuration + 1s)[LegacyByte::TripStatus], 0);
    EXPECT_EQ(decodeLegacyEventBlock(unit.eventBlock()).value()[0].tripCause, 1);
}

TEST(SimLegacyUnit, EventBlockHoldsTheTenNewestAndClears) {
    UnitOptions events;
    events.eventCount = 12;
    events.newestEvent = 11;
    LegacyUnit unit({}, {}, events);
    const LegacyEventRecords records = decodeLegacyEventBlock(unit.eventBlock()).value();
    // Preset record k: current 10 + k, voltage 20 + k, change k - 50; causes 1, 2, 16, 128 in turn.
    EXPECT_EQ(records[0], (LegacyEventRecord{128, 21, 31, -39}));
    EXPECT_EQ(records[9], (LegacyEventRecord{16, 12, 22, -48}));
    unit.clearEvents();
    EXPECT_EQ(unit.eventBlock(), LegacyEventBlock{});
    EXPECT_EQ(unit.eventCount(), 0u);
}
