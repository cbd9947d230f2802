#include "sim/command_table.h"
#include "sim/fault_plan.h"
#include "sim/modbus_service.h"
#include "sim/options.h"
#include "sim/pty_relay.h"
#include "sim/register_map.h"
#include "sim/request.h"
#include "sim/unit.h"
#include "link/modbus_frames.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace kt::sim;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

Options parse(std::vector<std::string> words) {
    return parseOptions(words);
}

Request request(std::vector<uint8_t> pdu, uint8_t unit = KtUnitId) {
    return parseRequest(unit, pdu);
}

template <typename Edit> FaultOptions faults(Edit edit) {
    FaultOptions f;
    edit(f);
    return f;
}

} // namespace

TEST(SimOptions, DefaultsAndEndpoints) {
    Options o = parse({"--tcp", "127.0.0.1:0"});
    ASSERT_TRUE(o.tcp);
    EXPECT_EQ(o.tcp->host, "127.0.0.1");
    EXPECT_EQ(o.tcp->port, 0);
    EXPECT_FALSE(o.rtu);
    EXPECT_EQ(o.identity.modelCode, 740);
    EXPECT_EQ(o.identity.firmware, 250);
    EXPECT_EQ(o.identity.modelType, 0);
    EXPECT_EQ(o.identity.commOption, 0);
    EXPECT_EQ(o.identity.serial, 1u);
    EXPECT_TRUE(o.logPath.empty());
    EXPECT_EQ(o.paceBaud, 0u);
    EXPECT_FALSE(o.faults.silent);
    EXPECT_FALSE(o.faults.maxRead);
    EXPECT_EQ(o.tcpIdleMs, DefaultTcpIdleMs);
    EXPECT_EQ(parse({"--tcp", "h:0", "--idle-ms", "0"}).tcpIdleMs, 0u);
    EXPECT_THAT(optionWarnings(parse({"--rtu", "--idle-ms", "500"})), ElementsAre(HasSubstr("--idle-ms")));

    Options v6 = parse({"--tcp=[::1]:1502", "--rtu"});
    EXPECT_EQ(v6.tcp->host, "::1");
    EXPECT_EQ(v6.tcp->port, 1502);
    EXPECT_TRUE(v6.rtu);
    EXPECT_EQ(formatHostPort(v6.tcp->host, 1502), "[::1]:1502");
    EXPECT_EQ(formatHostPort("localhost", 502), "localhost:502");
}

TEST(SimOptions, IdentificationPresetsAndFaults) {
    Options o = parse({"--rtu",
                       "--model-code",
                       "741",
                       "--firmware",
                       "0x80FB",
                       "--model-type=2",
                       "--comm-option",
                       "6",
                       "--serial",
                       "4294967295",
                       "--set",
                       "10=1,-2,0x10",
                       "--set",
                       "998=7,65535",
                       "--log",
                       "r.log",
                       "--pace",
                       "9600",
                       "--silent",
                       "--max-read",
                       "20",
                       "--exception-every",
                       "3",
                       "--bad-crc-every",
                       "2",
                       "--delay-ms",
                       "150",
                       "--drop-after",
                       "5"});
    EXPECT_EQ(o.identity.modelCode, 741);
    EXPECT_EQ(o.identity.firmware, 0x80FB);
    EXPECT_EQ(o.identity.modelType, 2);
    EXPECT_EQ(o.identity.commOption, 6);
    EXPECT_EQ(o.identity.serial, 4294967295u);
    ASSERT_EQ(o.presets.size(), 2u);
    EXPECT_EQ(o.presets[0].start, 10);
    EXPECT_THAT(o.presets[0].values, ElementsAre(1, 0xFFFE, 16));
    EXPECT_EQ(o.presets[1].start, 998);
    EXPECT_THAT(o.presets[1].values, ElementsAre(7, 65535));
    EXPECT_EQ(o.logPath, "r.log");
    EXPECT_EQ(o.paceBaud, 9600u);
    EXPECT_TRUE(o.faults.silent);
    EXPECT_EQ(o.faults.maxRead, 20);
    EXPECT_EQ(o.faults.exceptionEvery, 3u);
    EXPECT_EQ(o.faults.badCrcEvery, 2u);
    EXPECT_EQ(o.faults.delayMs, 150u);
    EXPECT_EQ(o.faults.dropAfter, 5u);
}

TEST(SimOptions, BadCommandLinesSayWhatIsWrong) {
    struct Case {
        std::vector<std::string> words;
        const char* message;
    };
    const Case cases[] = {
        {{}, "nothing to serve"},
        {{"--log", "x"}, "nothing to serve"},
        {{"--tcp"}, "option --tcp needs a value"},
        {{"--tcp", "localhost"}, "--tcp needs HOST:PORT"},
        {{"--tcp", ":502"}, "--tcp needs HOST:PORT"},
        {{"--tcp", "::1:502"}, "--tcp needs HOST:PORT"},
        {{"--tcp", "h:70000"}, "the --tcp port must be a number from 0 to 65535"},
        {{"--rtu", "--firmware", "65536"}, "--firmware must be a number from 0 to 65535, not \"65536\""},
        {{"--rtu", "--serial", "12x"}, "--serial must be a number"},
        {{"--rtu", "--serial", "4294967296"}, "--serial must be a number"},
        {{"--rtu", "--model-type", ""}, "--model-type must be a number"},
        {{"--rtu", "--set", "1000=1"}, "the --set register must be a number from 0 to 999"},
        {{"--rtu", "--set", "998=1,2,3"}, "--set 998=1,2,3 runs past register 999"},
        {{"--rtu", "--set", "5"}, "--set needs START=V1,V2"},
        {{"--rtu", "--set", "5=1,,2"}, "a --set value must be a number"},
        {{"--rtu", "--set", "5=-32769"}, "a --set value must be a number from -32768 to 65535"},
        {{"--rtu", "--exception-every", "0"}, "--exception-every must be a number from 1"},
        {{"--rtu", "--delay-ms", "-5"}, "--delay-ms must be a number from 0"},
        {{"--rtu", "--max-read", "126"}, "--max-read must be a number from 0 to 125"},
        {{"--rtu", "--pace", "10"}, "--pace must be a number from 50"},
        {{"--rtu", "--bogus"}, "unknown option --bogus"},
        {{"--rtu", "--rtu"}, "option --rtu is given more than once"},
        {{"--rtu", "--silent=1"}, "option --silent takes no value"},
        {{"--rtu", "--log", ""}, "option --log needs a file name"},
        {{"--rtu", "extra"}, "unexpected argument \"extra\""},
        {{"--rtu", "--events", "101"}, "--events must be a number from 0 to 100"},
        {{"--rtu", "--newest", "2"}, "--newest needs --events with at least one record"},
        {{"--rtu", "--events", "5", "--newest", "5"},
         "--newest must name one of the records of --events (0..4)"},
        {{"--rtu", "--trip-every", "0"}, "--trip-every must be a number from 1 to 86400"},
        {{"--rtu", "--resources", ""}, "option --resources needs a folder"},
        {{"--rtu", "--sd-card="}, "option --sd-card needs a folder"},
        {{"--rtu", "--unverified=1"}, "option --unverified takes no value"},
    };
    for (const auto& c : cases) {
        try {
            parse(c.words);
            ADD_FAILURE() << "accepted: " << ::testing::PrintToString(c.words);
        } catch (const UsageError& e) {
            EXPECT_THAT(e.what(), HasSubstr(c.message)) << ::testing::PrintToString(c.words);
        }
    }
}

TEST(SimOptions, UnitOptions) {
    Options o = parse({"--rtu", "--resources", "/r", "--events", "5", "--newest", "2", "--trip-every", "30",
                       "--unverified", "--sd-card=/sd"});
    EXPECT_EQ(o.unit.resourcesFolder, "/r");
    EXPECT_EQ(o.unit.eventCount, 5);
    EXPECT_EQ(o.unit.newestEvent, 2);
    EXPECT_EQ(o.unit.tripEverySeconds, 30u);
    EXPECT_TRUE(o.unit.unverified);
    EXPECT_EQ(o.unit.sdCardFolder, "/sd");
    EXPECT_THAT(unitOptionWarnings(o), ElementsAre(HasSubstr("--events"), HasSubstr("--trip-every"),
                                                   HasSubstr("--unverified"), HasSubstr("--sd-card")));

    // A ring filled from record 0 on has its newest record last.
    EXPECT_EQ(parse({"--rtu", "--events", "7"}).unit.newestEvent, 6);
    Options plain = parse({"--rtu"});
    EXPECT_EQ(plain.unit.eventCount, 0);
    EXPECT_TRUE(plain.unit.resourcesFolder.empty());
    EXPECT_TRUE(unitOptionWarnings(plain).empty());
}

TEST(SimOptions, WarnsAboutFaultsForAnAbsentEndpoint) {
    EXPECT_THAT(optionWarnings(parse({"--tcp", "h:0", "--bad-crc-every", "2", "--pace", "9600"})),
                ElementsAre(HasSubstr("--bad-crc-every"), HasSubstr("--pace")));
    EXPECT_THAT(optionWarnings(parse({"--rtu", "--drop-after", "2"})),
                ElementsAre(HasSubstr("--drop-after")));
    EXPECT_TRUE(
        optionWarnings(parse({"--rtu", "--tcp", "h:0", "--drop-after", "2", "--pace", "300"})).empty());
}

TEST(SimRequest, ParsesAndLogsEachFunction) {
    struct Case {
        std::vector<uint8_t> pdu;
        const char* line;
    };
    const Case cases[] = {
        {{0x03, 0x00, 0x0A, 0x00, 0x03}, "fc=3 start=10 count=3"},
        {{0x10, 0x00, 0x98, 0x00, 0x02, 0x04, 0x12, 0x34, 0x00, 0x01},
         "fc=16 start=152 count=2 values=4660,1"},
        {{0x05, 0x00, 0x03, 0xFF, 0x00}, "fc=5 coil=3 value=65280"},
        {{0x05, 0x00, 0x10, 0x00, 0x00}, "fc=5 coil=16 value=0"},
        // A byte count short of the register count: the values it does carry.
        {{0x10, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00, 0x01}, "fc=16 start=0 count=2 values=1"},
        {{0x06, 0x00, 0x06, 0x00, 0x03}, "fc=6 data=00060003"},
        {{0x03, 0x00}, "fc=3 data=00"},
        {{0x2B}, "fc=43 data="},
    };
    for (const auto& c : cases) EXPECT_EQ(logLine(request(c.pdu)), c.line);
}

TEST(SimRequest, RefusalsFollowModbusOrder) {
    using T = Transport;
    struct Case {
        std::vector<uint8_t> pdu;
        T transport;
        uint8_t unit;
        uint8_t exception;
    };
    const Case cases[] = {
        {{0x03, 0x00, 0x00, 0x00, 0x7D}, T::Tcp, 254, 0},                         // 125 registers
        {{0x03, 0x00, 0x00, 0x00, 0x7E}, T::Tcp, 254, ExceptionIllegalDataValue}, // 126
        {{0x03, 0x00, 0x00, 0x00, 0x00}, T::Rtu, 254, ExceptionIllegalDataValue},
        {{0x03, 0x03, 0xE7, 0x00, 0x01}, T::Rtu, 254, 0}, // register 999
        {{0x03, 0x03, 0xE7, 0x00, 0x02}, T::Rtu, 254, ExceptionIllegalDataAddress},
        {{0x03, 0xFF, 0xFF, 0x00, 0x7E}, T::Rtu, 254, ExceptionIllegalDataValue}, // count before address
        {{0x10, 0x03, 0xE7, 0x00, 0x01, 0x02, 0x00, 0x01}, T::Tcp, 254, 0},
        {{0x10, 0x03, 0xE7, 0x00, 0x02, 0x04, 0, 1, 0, 2}, T::Tcp, 254, ExceptionIllegalDataAddress},
        {{0x10, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00, 0x01}, T::Tcp, 254, ExceptionIllegalDataValue},
        {{0x05, 0x00, 0x03, 0xFF, 0x00}, T::Rtu, 254, 0},
        {{0x05, 0x00, 0x03, 0x00, 0x00}, T::Rtu, 254, 0},
        {{0x05, 0x00, 0x03, 0x12, 0x34}, T::Rtu, 254, ExceptionIllegalDataValue},
        {{0x05, 0x00, 0x03, 0xFF, 0x00}, T::Tcp, 254, ExceptionIllegalFunction}, // commands use register 6
        {{0x06, 0x00, 0x06, 0x00, 0x03}, T::Rtu, 254, ExceptionIllegalFunction},
        {{0x83, 0x00, 0x00, 0x00, 0x01}, T::Tcp, 254, ExceptionIllegalFunction},
        {{0x03, 0x00, 0x00, 0x00, 0x01}, T::Tcp, 0, 0},
        {{0x03, 0x00, 0x00, 0x00, 0x01}, T::Tcp, 255, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ModbusService::refusal(request(c.pdu, c.unit), c.transport), c.exception)
            << logLine(request(c.pdu)) << " unit " << int(c.unit);
}

TEST(SimRequest, OnlyRequestsForThisUnitAreTakenIn) {
    using T = Transport;
    EXPECT_TRUE(ModbusService::addressedToUnit(254, T::Rtu));
    EXPECT_TRUE(ModbusService::addressedToUnit(0, T::Rtu)); // a broadcast, carried out unanswered
    EXPECT_FALSE(ModbusService::addressedToUnit(255, T::Rtu));
    EXPECT_FALSE(ModbusService::addressedToUnit(1, T::Rtu));
    EXPECT_TRUE(ModbusService::addressedToUnit(254, T::Tcp));
    EXPECT_TRUE(ModbusService::addressedToUnit(0, T::Tcp));
    EXPECT_TRUE(ModbusService::addressedToUnit(255, T::Tcp));
    EXPECT_FALSE(ModbusService::addressedToUnit(1, T::Tcp));
    EXPECT_FALSE(ModbusService::addressedToUnit(253, T::Tcp));
}

TEST(SimRequest, ExceptionAnswersKeepTheFunctionCodeInEightBits) {
    using T = Transport;
    // MBAP header of the request (its transaction), the unit id, function | 0x80, the code.
    const std::vector<uint8_t> tcp{0x12, 0x34, 0x00, 0x00, 0x00, 0x06, 0xFE, 0x83, 0x00, 0x00, 0x00, 0x01};
    EXPECT_THAT(ModbusService::exceptionAnswer(tcp, T::Tcp, ExceptionIllegalFunction),
                ElementsAre(0x12, 0x34, 0x00, 0x00, 0x00, 0x03, 0xFE, 0x83, 0x01));
    const std::vector<uint8_t> tcpRead{0x00, 0x01, 0x00, 0x00, 0x00, 0x06, 0xFF, 0x03, 0x00, 0x00, 0x00, 0x00};
    EXPECT_THAT(ModbusService::exceptionAnswer(tcpRead, T::Tcp, ExceptionIllegalDataValue),
                ElementsAre(0x00, 0x01, 0x00, 0x00, 0x00, 0x03, 0xFF, 0x83, 0x03));
    // Over RTU: address, function | 0x80, code and the CRC, low byte first.
    const std::vector<uint8_t> rtu{0xFE, 0x10, 0x00, 0x00, 0x00, 0x7C, 0xF8, 0x00, 0x00};
    const std::vector<uint8_t> answer = ModbusService::exceptionAnswer(rtu, T::Rtu, ExceptionIllegalDataValue);
    ASSERT_EQ(answer.size(), 5u);
    EXPECT_THAT(std::vector(answer.begin(), answer.begin() + 3), ElementsAre(0xFE, 0x90, 0x03));
    EXPECT_EQ(kt::modbusCrc(answer), 0);
    EXPECT_TRUE(ModbusService::exceptionAnswer(std::vector<uint8_t>{0xFE}, T::Rtu, 1).empty());
}

TEST(SimFaultPlan, CountsRequestsAndAnswers) {
    const Request read21 = request({0x03, 0x00, 0x00, 0x00, 21});
    const Request read20 = request({0x03, 0x00, 0x00, 0x00, 20});
    const Request write30 = request({0x10, 0x00, 0x00, 0x00, 30, 60});

    FaultPlan every3(faults([](FaultOptions& f) { f.exceptionEvery = 3; }));
    std::vector<int> exceptions;
    for (int i = 0; i < 7; ++i) exceptions.push_back(every3.judge(read20).exception);
    EXPECT_THAT(exceptions, ElementsAre(0, 0, 4, 0, 0, 4, 0));

    FaultPlan maxRead(faults([](FaultOptions& f) { f.maxRead = 20; }));
    EXPECT_EQ(maxRead.judge(read20).exception, 0);
    EXPECT_EQ(maxRead.judge(read21).exception, ExceptionIllegalDataValue);
    EXPECT_EQ(maxRead.judge(write30).exception, 0); // writes are not reads

    FaultPlan silent(faults([](FaultOptions& f) {
        f.silent = true;
        f.exceptionEvery = 1;
        f.delayMs = 50;
    }));
    Verdict v = silent.judge(read20);
    EXPECT_TRUE(v.silent);

    FaultPlan late(faults([](FaultOptions& f) { f.delayMs = 250; }));
    EXPECT_EQ(late.judge(read20).delay, std::chrono::milliseconds(250));
    EXPECT_FALSE(late.judge(read20).silent);

    FaultPlan crc(faults([](FaultOptions& f) { f.badCrcEvery = 2; }));
    std::vector<bool> spoiled;
    for (int i = 0; i < 4; ++i) spoiled.push_back(crc.spoilAnswer());
    EXPECT_THAT(spoiled, ElementsAre(false, true, false, true));
    FaultPlan none(FaultOptions{});
    EXPECT_FALSE(none.spoilAnswer());

    FaultPlan drop(faults([](FaultOptions& f) { f.dropAfter = 2; }));
    EXPECT_FALSE(drop.dropConnection(1));
    EXPECT_TRUE(drop.dropConnection(2));
    EXPECT_FALSE(none.dropConnection(1000));
}

TEST(SimRegisterMap, WholeRangesOnly) {
    RegisterMap map;
    EXPECT_TRUE(RegisterMap::contains(0, 1000));
    EXPECT_TRUE(RegisterMap::contains(1000, 0));
    EXPECT_FALSE(RegisterMap::contains(999, 2));
    EXPECT_FALSE(RegisterMap::contains(SIZE_MAX, 2)); // no wrap-around

    const uint16_t values[] = {1, 2, 3};
    EXPECT_TRUE(map.write(997, values));
    EXPECT_FALSE(map.write(998, values)); // would run past 999: nothing written
    uint16_t out[3] = {9, 9, 9};
    EXPECT_FALSE(map.read(998, out));
    EXPECT_THAT(out, ElementsAre(9, 9, 9));
    EXPECT_TRUE(map.read(997, out));
    EXPECT_THAT(out, ElementsAre(1, 2, 3));
    EXPECT_FALSE(map.set(1000, 5));
    EXPECT_EQ(map.get(1000), 0);
}

TEST(SimRegisterMap, ABlockWriteIsSeenWholeByAConcurrentReader) {
    RegisterMap map;
    std::atomic<bool> done{false};
    std::jthread writer([&] {
        std::vector<uint16_t> block(125);
        for (uint16_t round = 1; round < 2000; ++round) {
            std::fill(block.begin(), block.end(), round);
            map.write(100, block);
        }
        done = true;
    });
    std::vector<uint16_t> seen(125);
    int torn = 0;
    while (!done) {
        map.read(100, seen);
        if (std::adjacent_find(seen.begin(), seen.end(), std::not_equal_to<>()) != seen.end()) ++torn;
    }
    EXPECT_EQ(torn, 0);
}

TEST(SimUnit, IdentificationThenPresets) {
    Identity id{.modelCode = 741, .firmware = 0x80FB, .modelType = 3, .commOption = 7, .serial = 0x12345678};
    const Preset presets[] = {{5, {8}}, {150, {1, 2}}};
    Unit unit(id, presets);
    uint16_t regs[6];
    ASSERT_TRUE(unit.registers().read(0, regs));
    EXPECT_THAT(regs, ElementsAre(741, 0x80FB, 0x5678, 0x1234, 3, 8)); // the preset wins over --comm-option
    EXPECT_EQ(unit.registers().get(151), 2);
}

TEST(SimUnit, CommandsAreRecordedAndAnnounced) {
    std::vector<std::string> notes;
    Unit unit({}, {}, [&](std::string_view note) { notes.emplace_back(note); });
    unit.executeCommand(3, Transport::Tcp);
    unit.executeCommand(16, Transport::Rtu);
    unit.executeCommand(99, Transport::Rtu);
    auto done = unit.executedCommands();
    ASSERT_EQ(done.size(), 3u);
    EXPECT_EQ(done[0].number, 3);
    EXPECT_EQ(done[0].via, Transport::Tcp);
    EXPECT_EQ(done[2].number, 99);
    EXPECT_THAT(notes,
                ElementsAre("command 3 (set clock) over TCP", "command 16 (remote calibration) over RTU",
                            "command 99 (not a KT-740 command) over RTU"));

    for (int i = 0; i < 1500; ++i) unit.executeCommand(static_cast<uint16_t>(i), Transport::Rtu);
    done = unit.executedCommands();
    ASSERT_EQ(done.size(), Unit::KeptCommands);
    EXPECT_EQ(done.back().number, 1499); // the newest are kept
}

TEST(SimCommandTable, KnowsTheProgramsCommands) {
    for (uint16_t n : {2, 3, 5, 6, 7, 11, 12, 13, 14, 16, 18}) EXPECT_NE(findCommand(n), nullptr) << n;
    for (uint16_t n : {0, 1, 4, 8, 15, 17, 19, 65535}) EXPECT_EQ(findCommand(n), nullptr) << n;
    EXPECT_EQ(findCommand(18)->name, "write diagnostics file to the SD card");
}

TEST(SimRelay, SplitsAnswersByFunctionCode) {
    struct Case {
        std::vector<uint8_t> bytes;
        FrameSplit::Kind kind;
        size_t length;
    };
    const Case cases[] = {
        {{}, FrameSplit::NeedMore, 0},
        {{0xFE}, FrameSplit::NeedMore, 0},
        {{0xFE, 0x03}, FrameSplit::NeedMore, 0},
        {{0xFE, 0x03, 0x04, 0x02, 0xE4, 0x00}, FrameSplit::NeedMore, 0},
        {{0xFE, 0x03, 0x04, 0x02, 0xE4, 0x00, 0xFA, 0x34, 0xF0}, FrameSplit::Frame, 9},
        {{0xFE, 0x03, 0x02, 0x00, 0x01, 0xAA, 0xBB, 0xFE, 0x83},
         FrameSplit::Frame,
         7}, // the next frame stays
        {{0xFE, 0x83, 0x02, 0xA0, 0xF1}, FrameSplit::Frame, 5},
        {{0xFE, 0x90, 0x04}, FrameSplit::NeedMore, 0},
        {{0xFE, 0x10, 0x00, 0x98, 0x00, 0x02, 0x11, 0x22}, FrameSplit::Frame, 8},
        {{0xFE, 0x05, 0x00, 0x03, 0xFF, 0x00, 0x11, 0x22, 0x33}, FrameSplit::Frame, 8},
        {{0xFE, 0x2B, 0x0E}, FrameSplit::Unknown, 0},
    };
    for (const auto& c : cases) {
        FrameSplit split = splitAnswer(c.bytes);
        EXPECT_EQ(split.kind, c.kind) << ::testing::PrintToString(c.bytes);
        if (c.kind == FrameSplit::Frame) {
            EXPECT_EQ(split.length, c.length) << ::testing::PrintToString(c.bytes);
        }
    }
}

TEST(SimRelay, SplitsRequestsByFunctionCode) {
    struct Case {
        std::vector<uint8_t> bytes;
        FrameSplit::Kind kind;
        size_t length;
    };
    const Case cases[] = {
        {{0x01}, FrameSplit::NeedMore, 0},
        {{0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4}, FrameSplit::NeedMore, 0},
        {{0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4, 0x0B, 0xFE}, FrameSplit::Frame, 8},
        {{0x01, 0x05, 0x00, 0x03, 0xFF, 0x00, 0x00, 0x00}, FrameSplit::Frame, 8},
        {{0x01, 0x10, 0x00, 0x98, 0x00, 0x02}, FrameSplit::NeedMore, 0},
        {{0x01, 0x10, 0x00, 0x98, 0x00, 0x02, 0x04, 1, 2, 3, 4, 0xAA}, FrameSplit::NeedMore, 0},
        {{0x01, 0x10, 0x00, 0x98, 0x00, 0x02, 0x04, 1, 2, 3, 4, 0xAA, 0xBB}, FrameSplit::Frame, 13},
        {{0x01, 0x11, 0xAA, 0xBB}, FrameSplit::Frame, 4},
        {{0x01, 0x2B, 0x0E, 0x01}, FrameSplit::Unknown, 0},
    };
    for (const auto& c : cases) {
        FrameSplit split = splitRequest(c.bytes);
        EXPECT_EQ(split.kind, c.kind) << ::testing::PrintToString(c.bytes);
        if (c.kind == FrameSplit::Frame) {
            EXPECT_EQ(split.length, c.length) << ::testing::PrintToString(c.bytes);
        }
    }
}

TEST(SimRelay, SpoilsOnlyTheCrcAndPacesTenBitsAByte) {
    std::vector<uint8_t> frame = {0xFE, 0x03, 0x02, 0x02, 0xE4, 0x12, 0x34};
    spoilCrc(frame);
    EXPECT_THAT(frame, ElementsAre(0xFE, 0x03, 0x02, 0x02, 0xE4, 0xED, 0xCB));
    EXPECT_EQ(byteTime(115200).count(), 86805); // 86.8 us
    EXPECT_EQ(byteTime(9600).count(), 1041666);
    EXPECT_EQ(byteTime(38400).count(), 260416);
}
