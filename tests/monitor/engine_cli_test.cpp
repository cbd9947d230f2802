// ktmon740-cli identify / monitor / events and the unit commands against kt740sim, for a plain, an
// AU and an HV unit, over Modbus TCP and the pseudo-terminal.
#include "monitor/register_tables.h"
#include "tests/support/sim_process.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

namespace {

using namespace kt;
using namespace kt::test;
using ::testing::HasSubstr;

struct Unit {
    const char* family;
    int modelType;
    int firmware;
    const char* file;
};
const Unit units[] = {
    {"plain", 0, 300, "registers_300.xml"},
    {"AU", 2, 270, "registersAU_270.xml"},
    {"HV", 3, 250, "registersHV_250.xml"},
};

// The values the simulated unit moves by itself: metering, counters and its clock.
bool movesOnItsOwn(std::string_view label) {
    static constexpr std::string_view moving[] = {
        "DB_NGRCURRENT",  "DB_NGRVOLTAGE",     "DB_DELTAOHMS",    "DB_RESISTANCE", "DB_NGRCURRENT_MA",
        "DB_TEMPERATURE", "DB_OPERATING_TIME", "DB_SAMPLE_COUNT", "DB_DATE",       "DB_TIME"};
    return std::find(std::begin(moving), std::end(moving), label) != std::end(moving);
}

CommandResult cli(std::vector<std::string> args) {
    args.insert(args.begin(), binPath("ktmon740-cli"));
    return runCommand(args, 90s);
}

QJsonObject jsonObject(const std::string& line) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
}

// The unit's registers 0..249 as the raw read command shows them.
RegisterCacheWords rawRegisters(const std::string& link) {
    RegisterCacheWords words{};
    CommandResult r = cli({"read", link, "0", "250"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    for (const std::string& line : splitLines(r.out)) {
        int reg = 0;
        unsigned value = 0;
        if (std::sscanf(line.c_str(), "%d\t%u", &reg, &value) == 2 && reg >= 0 && reg < 250)
            words[reg] = static_cast<uint16_t>(value);
    }
    return words;
}

class EngineCli : public ::testing::TestWithParam<bool> { // true: over TCP
protected:
    std::vector<std::string> endpoint() const {
        return GetParam() ? std::vector<std::string>{"--tcp", "127.0.0.1:0"}
                          : std::vector<std::string>{"--rtu"};
    }
    std::string linkOf(const SimProcess& sim) const { return GetParam() ? sim.tcpLink() : sim.serialLink(); }
    std::string commandLine(int n) const {
        return GetParam() ? "fc=16 start=6 count=1 values=" + std::to_string(n)
                          : "fc=5 coil=" + std::to_string(n) + " value=65280";
    }
};

TEST_P(EngineCli, IdentifyMonitorEventsAndSetClockPerModel) {
    for (const Unit& u : units) {
        SCOPED_TRACE(u.family);
        std::vector<std::string> args = endpoint();
        args.insert(args.end(), {"--model-type", std::to_string(u.modelType), "--firmware",
                                 std::to_string(u.firmware), "--events", "3", "--newest", "1"});
        SimProcess sim(args);
        const std::string link = linkOf(sim);

        RegisterTables file;
        ASSERT_TRUE(loadRegisterFile(std::string(KT_BIN_DIR) + "/resources/" + u.file, file));

        // identify
        CommandResult id = cli({"identify", link, "--json"});
        ASSERT_EQ(id.exitCode, 0) << id.err;
        EXPECT_EQ(id.err, "");
        const std::string expected =
            "{\"modelCode\":740,\"firmwareRaw\":" + std::to_string(u.firmware) + ",\"version\":\"" +
            std::to_string(u.firmware) + "\",\"modelType\":" + std::to_string(u.modelType) +
            ",\"commOption\":0,\"registerFile\":\"" + u.file +
            "\",\"firmwareVersion\":" + std::to_string(u.firmware) +
            ",\"pollCount\":" + std::to_string(file.pollCount) + ",\"chunkSize\":50}\n";
        EXPECT_EQ(id.out, expected);

        // monitor: the values of each pass are what the unit serves, through the codec
        const RegisterCacheWords before = rawRegisters(link);
        CommandResult mon = cli({"monitor", link, "--passes", "2", "--json"});
        const RegisterCacheWords after = rawRegisters(link);
        ASSERT_EQ(mon.exitCode, 0) << mon.err;
        const auto lines = splitLines(mon.out);
        ASSERT_EQ(lines.size(), 2u) << mon.out;
        for (int pass = 1; pass <= 2; ++pass) {
            QJsonObject o = jsonObject(lines[pass - 1]);
            EXPECT_EQ(o.value("pass").toInt(), pass);
            QJsonObject values = o.value("values").toObject();
            int described = 0, compared = 0;
            for (int r = 0; r < file.pollCount; ++r) {
                const RegisterDescriptor& d = file.RegisterTable[r];
                if (d.type <= 0) {
                    EXPECT_FALSE(values.contains(QString::number(r))) << r;
                    continue;
                }
                ++described;
                QJsonObject v = values.value(QString::number(r)).toObject();
                EXPECT_EQ(v.value("label").toString().toStdString(), d.label) << r;
                // What the unit measures moves on its own (and may come back to where it was
                // between the reads around the monitor run); everything else must match.
                const std::string was = registerText(before, r, d.type);
                if (movesOnItsOwn(d.label) || was != registerText(after, r, d.type)) continue;
                ++compared;
                EXPECT_EQ(v.value("value").toString().toStdString(), was)
                    << "register " << r << " " << d.label;
            }
            EXPECT_EQ(values.size(), described);
            EXPECT_GT(compared, described * 3 / 4);
        }

        // events: newest first around the ring; record k has NGR current 10 + k
        CommandResult ev = cli({"events", link, "--json"});
        ASSERT_EQ(ev.exitCode, 0) << ev.err;
        QJsonObject events = jsonObject(ev.out);
        EXPECT_EQ(events.value("count").toInt(), 3);
        QJsonArray records = events.value("records").toArray();
        ASSERT_EQ(records.size(), 3);
        const char* current[] = {"11", "10", "12"};
        for (int i = 0; i < 3; ++i) {
            QJsonObject rec = records[i].toObject();
            EXPECT_EQ(rec.value("record").toInt(), i);
            QJsonArray texts = rec.value("texts").toArray();
            ASSERT_EQ(texts.size(), 7);
            EXPECT_EQ(texts[2].toString().toStdString(), current[i]) << "record " << i;
        }

        // set-clock: time, then date, then command 3
        CommandResult clock = cli({"set-clock", link});
        ASSERT_EQ(clock.exitCode, 0) << clock.err;
        EXPECT_THAT(clock.out, HasSubstr("clock set to "));
        std::vector<std::string> writes;
        for (const std::string& line : sim.logLines())
            if (!line.starts_with("fc=3 ") && !line.starts_with("fc=16 start=62 ")) writes.push_back(line);
        ASSERT_EQ(writes.size(), 3u);
        EXPECT_TRUE(writes[0].starts_with("fc=16 start=152 count=2 values=")) << writes[0];
        EXPECT_TRUE(writes[1].starts_with("fc=16 start=150 count=2 values=")) << writes[1];
        EXPECT_EQ(writes[2], commandLine(3));
        EXPECT_EQ(sim.stop(), 0) << sim.stderrText();
    }
}

TEST_P(EngineCli, UnitCommandsAreSentAfterTheIdentification) {
    SimProcess sim(endpoint());
    const std::string link = linkOf(sim);
    struct Case {
        const char* command;
        int number;
    } cases[] = {{"reset-defaults", 5}, {"calibrate", 16}, {"dump-diagnostics", 18}, {"clear-events", 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        CommandResult r = cli({c.command, link});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_THAT(r.out, HasSubstr("command " + std::to_string(c.number)));
        const auto log = sim.logLines();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back(), commandLine(c.number));
        EXPECT_EQ(std::count(log.begin(), log.end(), commandLine(c.number)), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Links, EngineCli, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Tcp" : "Serial"; });

TEST(EngineCliFailures, UnitsThatCannotBeServedExitWithOneClearLine) {
    struct Case {
        std::vector<std::string> sim;
        const char* command;
        const char* says;
    } cases[] = {
        {{"--silent"}, "identify", "no answer to the Modbus identification"},
        {{"--silent"}, "set-clock", "no answer to the Modbus identification"},
        {{"--firmware", "190"}, "identify", "no register file registers_190.xml"},
        {{"--firmware", "199", "--model-type", "2"}, "monitor", "no register file registersAU_190.xml"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        std::vector<std::string> args = {"--tcp", "127.0.0.1:0"};
        args.insert(args.end(), c.sim.begin(), c.sim.end());
        SimProcess sim(args);
        CommandResult r = cli({c.command, sim.tcpLink(), "--resources", sourcePath("resources")});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, "");
        const auto lines = splitLines(r.err);
        ASSERT_EQ(lines.size(), 1u) << r.err;
        EXPECT_THAT(lines[0], HasSubstr(c.says));
        const std::string start = std::string("ktmon740-cli ") + c.command + ": ";
        EXPECT_TRUE(lines[0].starts_with(start)) << lines[0];
        // The loader's own abort message leads when the unit answered.
        if (c.sim[0] != "--silent") {
            EXPECT_TRUE(lines[0].starts_with(
                start + "Cannot Open File: No xml display files found aborting connection. "))
                << lines[0];
        }
    }
}

TEST(EngineCliFailures, ADamagedRegisterFileIsNamed) {
    TempDir dir;
    std::ofstream(dir.file("registers_250.xml")) << "<DATAPACKET><METADATA><FIELDS><FIELD attrname=";
    SimProcess sim({"--tcp", "127.0.0.1:0", "--firmware", "250"});
    CommandResult r = cli({"events", sim.tcpLink(), "--resources", dir.path()});
    EXPECT_EQ(r.exitCode, 1);
    const auto lines = splitLines(r.err);
    ASSERT_EQ(lines.size(), 1u) << r.err;
    EXPECT_THAT(lines[0], HasSubstr("Cannot Open File: No xml display files found aborting connection."));
    EXPECT_THAT(lines[0], HasSubstr("no register file could be used"));
    EXPECT_THAT(lines[0], HasSubstr("registers_250.xml"));
}

TEST(EngineCliFailures, ALoaderFallbackIsReportedOnStandardError) {
    SimProcess sim({"--tcp", "127.0.0.1:0", "--firmware", "260"}); // plain files: 230 and 270
    CommandResult r = cli({"identify", sim.tcpLink(), "--json"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_THAT(r.err,
                HasSubstr("Cannot Open File: No file found for Version 2.60, using Version 2.30 instead."));
    EXPECT_EQ(jsonObject(r.out).value("registerFile").toString().toStdString(), "registers_230.xml");
}

TEST(EngineCliFailures, BadCommandLinesAreUsageErrors) {
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
             {"identify"},
             {"identify", "ftp://x"},
             {"monitor", "tcp://127.0.0.1:1", "--passes", "0"},
             {"events", "tcp://127.0.0.1:1", "--loud"},
         }) {
        CommandResult r = cli(args);
        EXPECT_EQ(r.exitCode, 2) << args[0] << ": " << r.err;
    }
}

} // namespace
