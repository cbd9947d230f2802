// kt740sim as a unit over the link: its event ring behind selector register 62, trips, the
// program's commands, the network inputs of the IEC 61850 options and its moving values, read
// with pymodbus and decoded with the program's codec.

#include "monitor/register_codec.h"
#include "monitor/register_tables.h"
#include "tests/support/modbus_master.h"
#include "tests/support/process.h"
#include "tests/support/sim_process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <set>
#include <thread>

using namespace kt::test;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::Ge;
using ::testing::HasSubstr;
using ::testing::Le;

namespace {

using Cache = kt::RegisterCacheWords;

// A KT-740 with firmware 3.20 (the file with every feature) on TCP, or RTU where asked.
class SimBehaviour : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(kt::loadRegisterFile(sourcePath("resources/registers_320.xml"), tables, &why)) << why;
    }
    void TearDown() override {
        if (sim) {
            EXPECT_EQ(sim->stop(), 0) << sim->stderrText();
        }
    }
    void start(std::vector<std::string> args) {
        args.insert(args.begin(), {"--tcp", "127.0.0.1:0", "--firmware", "320"});
        sim = std::make_unique<SimProcess>(args);
    }
    std::vector<MasterReply> master(const std::vector<std::string>& ops) {
        auto replies = runModbusMaster("tcp:" + sim->tcpEndpoint(), ops);
        for (size_t i = 0; i < replies.size(); ++i)
            EXPECT_TRUE(replies[i].ok()) << ops[i] << ": " << replies[i].detail;
        return replies;
    }
    // Registers 0..249 as the program polls them.
    Cache poll() {
        auto r = master({"read:0:125", "read:125:125"});
        return cacheOf({{0, r[0]}, {125, r[1]}});
    }
    static Cache cacheOf(std::initializer_list<std::pair<size_t, MasterReply>> reads) {
        Cache cache{};
        for (const auto& [start, reply] : reads)
            std::copy(reply.values.begin(), reply.values.end(), cache.begin() + static_cast<long>(start));
        return cache;
    }
    int regOf(const std::string& label) {
        for (int r = 0; r < kt::RegisterTableSize; ++r)
            if (tables.RegisterTable[r].label == label) return r;
        ADD_FAILURE() << "no " << label;
        return 0;
    }
    std::string text(const Cache& cache, const std::string& label) {
        const int r = regOf(label);
        return kt::registerText(cache, r, tables.RegisterTable[r].type);
    }
    // The records in the event reader's order: newest first, index newest - i, wrapping at the
    // count; each record the texts of the file's "Events" registers.
    std::vector<std::vector<std::string>> readEvents() {
        auto head = master({"read:60:2"});
        const int newest = head[0].values.at(0), count = head[0].values.at(1);
        std::vector<std::string> ops;
        for (int i = 0; i < count; ++i) {
            const int index = newest >= i ? newest - i : count + newest - i;
            ops.push_back("write:62:" + std::to_string(index));
            ops.push_back("read:60:12");
        }
        std::vector<std::vector<std::string>> records;
        if (ops.empty()) return records;
        auto r = master(ops);
        for (size_t i = 1; i < r.size(); i += 2) {
            Cache cache = cacheOf({{60, r[i]}});
            std::vector<std::string> texts;
            for (int reg : tables.EventRegisters)
                texts.push_back(kt::registerText(cache, reg, tables.RegisterTable[reg].type));
            records.push_back(texts);
        }
        return records;
    }
    static std::vector<std::string> column(const std::vector<std::vector<std::string>>& records, size_t k) {
        std::vector<std::string> out;
        for (const auto& r : records) out.push_back(r.at(k));
        return out;
    }

    kt::RegisterTables tables;
    std::unique_ptr<SimProcess> sim;
};

} // namespace

TEST_F(SimBehaviour, EventRecordsReadInTheProgramsOrderAndATripAddsOne) {
    start({"--events", "5", "--newest", "2"});
    auto records = readEvents();
    ASSERT_EQ(records.size(), 5u);
    EXPECT_THAT(column(records, 2), ElementsAre("12", "11", "10", "14", "13")); // NGR current 10 + k
    EXPECT_THAT(records[0], ElementsAre("3/1/2024", "02:14:26", "12", "22", "-48", "16", "16"));

    ASSERT_EQ(::kill(sim->pid(), SIGUSR1), 0);
    for (int i = 0; i < 50 && master({"read:61:1"})[0].values.at(0) != 6; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const Cache now = poll();
    records = readEvents();
    ASSERT_EQ(records.size(), 6u);
    ASSERT_EQ(records[0].size(), 7u);
    EXPECT_THAT(column(records, 2), ElementsAre(records[0][2], "12", "11", "10", "14", "13"));
    // The new record: a ground-fault trip, now by the unit's clock, with the fault current.
    EXPECT_EQ(records[0][0], text(now, "DB_DATE"));
    EXPECT_THAT(std::stoi(records[0][2]), AllOf(Ge(70), Le(80)));
    EXPECT_EQ(records[0][5], "1");
    EXPECT_EQ(std::stoi(text(now, "DB_TRIPSTATUS")) & 1, 1);
    EXPECT_EQ(text(now, "DB_RECORDHEAD"), "3");
    EXPECT_THAT(sim->stderrText(),
                HasSubstr("kt740sim: ground-fault trip: event record 3 added (6 records)"));
}

TEST_F(SimBehaviour, PeriodicTripsAddRecords) {
    start({"--trip-every", "1"});
    auto r = master({"read:61:1", "sleep:2600", "read:61:1"});
    EXPECT_GE(r[2].values.at(0) - r[0].values.at(0), 2);
}

TEST_F(SimBehaviour, ClearEventsOverRtu) {
    sim =
        std::make_unique<SimProcess>(std::vector<std::string>{"--rtu", "--firmware", "320", "--events", "5"});
    auto r = runModbusMaster("rtu:" + sim->rtuDevice(), {"read:60:2", "coil:2:on", "read:60:2"});
    EXPECT_THAT(r[0].values, ElementsAre(4, 5));
    EXPECT_TRUE(r[1].ok()) << r[1].detail;
    EXPECT_THAT(r[2].values, ElementsAre(0, 0));
    EXPECT_THAT(sim->stderrText(), AllOf(HasSubstr("kt740sim: command 2 (clear event records) over RTU\n"),
                                         HasSubstr("kt740sim: event records cleared\n")));
}

TEST_F(SimBehaviour, ClockSetFromRegisters150To153RunsOn) {
    start({});
    // As the program sends it: the time first, then the date, then command 3.
    auto r = master({"write:152:" + std::to_string(9 * 256 + 44) + "," + std::to_string(7 * 256 + 5),
                     "write:150:" + std::to_string(3 * 256 + 9) + ",2021", "write:6:3", "read:56:4",
                     "sleep:2100", "read:56:4"});
    const Cache set = cacheOf({{56, r[3]}}), later = cacheOf({{56, r[5]}});
    EXPECT_EQ(text(set, "DB_DATE"), "9/3/2021");
    EXPECT_THAT(text(set, "DB_TIME"), ::testing::AnyOf("07:05:09", "07:05:10"));
    EXPECT_EQ(text(later, "DB_DATE"), "9/3/2021");
    EXPECT_THAT(text(later, "DB_TIME"), ::testing::AnyOf("07:05:11", "07:05:12", "07:05:13"));
    EXPECT_THAT(sim->stderrText(), HasSubstr("kt740sim: clock set to 9/3/2021 07:05:09\n"));
}

TEST_F(SimBehaviour, ResetToDefaultsRestoresTheSettings) {
    start({});
    const Cache before = poll();
    master({"write:21:33", "write:26:1", "write:101:1,2", "write:125:200", "write:6:5"});
    const Cache after = poll();
    for (int reg : {21, 26, 101, 102, 125}) EXPECT_EQ(after[reg], before[reg]) << reg;
    EXPECT_EQ(text(before, "DB_ESSENTIAL_VERIFIED"), "1");
    EXPECT_EQ(text(after, "DB_ESSENTIAL_VERIFIED"), "0"); // to be verified again after a reset
}

TEST_F(SimBehaviour, MacAddressCommandsApplyRegisters156To158) {
    start({});
    master(
        {"write:156:" + std::to_string(0x5566) + "," + std::to_string(0x3344) + "," + std::to_string(0x0211),
         "write:6:6",
         "write:156:" + std::to_string(0xEEFF) + "," + std::to_string(0xCCDD) + "," + std::to_string(0x0ABB),
         "write:6:7"});
    const Cache after = poll();
    EXPECT_EQ(text(after, "DB_MAC1"), "02:11:33:44:55:66");
    EXPECT_EQ(text(after, "DB_MAC2"), "0A:BB:CC:DD:EE:FF");
}

TEST_F(SimBehaviour, CalibrationAndDiagnosticsAreBusyThenDone) {
    TempDir sd;
    start({"--sd-card", sd.path()});
    const int cal = regOf("DB_CAL_STATUS"), dump = regOf("DB_DUMP_STATUS");
    auto r = master({"write:6:16", "write:6:18", "read:" + std::to_string(cal) + ":2",
                     "read:" + std::to_string(dump) + ":1", "sleep:3600",
                     "read:" + std::to_string(cal) + ":2", "read:" + std::to_string(dump) + ":1"});
    EXPECT_THAT(r[2].values, ElementsAre(2, 0)); // "Calibration in Progress", none performed yet
    EXPECT_THAT(r[3].values, ElementsAre(1));    // "Writing"
    EXPECT_THAT(r[5].values, ElementsAre(1, 1)); // "Remote Calibration OK", one performed
    EXPECT_THAT(r[6].values, ElementsAre(2));    // "Complete"
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(sd.path())) files.push_back(e.path().string());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_THAT(readFile(files[0]), HasSubstr("Register file: registers_320.xml\n"));
}

TEST_F(SimBehaviour, EssentialSettingsVerifiedRegister) {
    start({"--unverified"});
    auto r = master({"read:199:1", "write:199:1", "read:199:1"});
    EXPECT_THAT(r[0].values, ElementsAre(0));
    EXPECT_THAT(r[2].values, ElementsAre(1));
    sim->stop();
    start({});
    EXPECT_THAT(master({"read:199:1"})[0].values, ElementsAre(1));
}

TEST_F(SimBehaviour, NetworkInputsOnlyForTheIec61850Options) {
    for (int option : {0, 5, 6, 8}) {
        SCOPED_TRACE(option);
        start({"--comm-option", std::to_string(option)});
        std::vector<std::string> ops = {"read:780:17"};
        for (int i = 0; i < 3; ++i) ops.insert(ops.end(), {"sleep:1100", "read:780:17"});
        auto r =
            master(option >= 6 ? ops : std::vector<std::string>{"read:780:17", "sleep:500", "read:780:17"});
        std::set<std::vector<uint16_t>> seen;
        for (const auto& reply : r) {
            if (reply.values.empty()) continue; // a sleep
            ASSERT_EQ(reply.values.size(), 17u);
            for (size_t k = 1; k < 17; ++k) EXPECT_LE(reply.values[k], 6) << "input " << k;
            seen.insert(reply.values);
        }
        if (option >= 6)
            EXPECT_GE(seen.size(), 2u); // the inputs change now and then
        else
            EXPECT_THAT(seen, ElementsAre(std::vector<uint16_t>(17, 0)));
        EXPECT_EQ(sim->stop(), 0) << sim->stderrText();
    }
}

TEST_F(SimBehaviour, MeasurementsMoveWithinTheirRangesAndTheClockRuns) {
    start({});
    std::vector<std::string> ops = {"read:40:20"};
    for (int i = 0; i < 9; ++i) ops.insert(ops.end(), {"sleep:300", "read:40:20"});
    auto r = master(ops);
    std::set<std::string> currents, voltages, times;
    for (const auto& reply : r) {
        if (reply.values.empty()) continue;
        const Cache c = cacheOf({{40, reply}});
        currents.insert(text(c, "DB_NGRCURRENT"));
        voltages.insert(text(c, "DB_NGRVOLTAGE"));
        times.insert(text(c, "DB_TIME"));
        EXPECT_THAT(std::stoi(text(c, "DB_NGRCURRENT")), AllOf(Ge(1), Le(7)));
        EXPECT_THAT(std::stoi(text(c, "DB_NGRVOLTAGE")), AllOf(Ge(2), Le(12)));
        EXPECT_THAT(std::stoi(text(c, "DB_DELTAOHMS")), AllOf(Ge(-5), Le(5)));
        EXPECT_THAT(std::stod(text(c, "DB_RESISTANCE")), AllOf(Ge(204.9), Le(215.1))); // 210 ohms nominal
    }
    EXPECT_GE(currents.size(), 2u);
    EXPECT_GE(voltages.size(), 2u);
    EXPECT_GE(times.size(), 2u);
}
