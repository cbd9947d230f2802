// ktmon740-cli settings / set against kt740sim: the settings are listed as the Configuration page
// shows them, and `set` writes exactly the registers the page's editors write (checked in the
// simulator's request log), refuses what they refuse with the same words, and exits 0 only when
// the unit acknowledged the write.
#include "tests/support/sim_process.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

namespace {

using namespace kt::test;
using ::testing::HasSubstr;

CommandResult cli(std::vector<std::string> args) {
    args.insert(args.begin(), binPath("ktmon740-cli"));
    return runCommand(args, 90s);
}

// A 3.20 unit with the Ethernet rows, a 5 A CT and the MEM trip level at 10 %.
std::vector<std::string> simArgs(std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"--tcp", "127.0.0.1:0", "--firmware", "320",   "--comm-option",
                                  "3",     "--set",       "34=5",       "--set", "16=10"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

int countStarting(const std::vector<std::string>& lines, std::string_view prefix) {
    return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                          [&](const std::string& l) { return l.starts_with(prefix); }));
}

QJsonObject settingOf(const QJsonArray& settings, int reg) {
    for (const QJsonValue& v : settings)
        if (v.toObject().value("register").toInt() == reg) return v.toObject();
    return {};
}

TEST(SettingCli, SettingsListEveryRowWithItsEditorAndLimits) {
    SimProcess sim(simArgs());
    CommandResult r = cli({"settings", sim.tcpLink(), "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const QJsonObject doc = QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).object();
    EXPECT_TRUE(doc.value("unitConfigured").toBool());
    const QJsonArray settings = doc.value("settings").toArray();

    // Register 16's list comes from the CT primary of register 34.
    const QJsonObject memory = settingOf(settings, 16);
    EXPECT_EQ(memory.value("editor").toString(), "list");
    const QJsonArray items = memory.value("items").toArray();
    ASSERT_EQ(items.size(), 99);
    EXPECT_EQ(items[0].toObject().value("text").toString(), "2%     0.10 A");
    EXPECT_EQ(items[0].toObject().value("value").toInt(), 2);
    EXPECT_EQ(items[98].toObject().value("text").toString(), "100%     5.00 A");
    EXPECT_EQ(memory.value("selected").toInt(), 10);

    struct Limits {
        int reg;
        int min, max;
    } limits[] = {
        {39, 15, 2000}, // MIN/MAX of the file
        {20, 20, 400},  // the RANGE rule, from register 23's value
    };
    for (const Limits& l : limits) {
        SCOPED_TRACE(l.reg);
        const QJsonObject s = settingOf(settings, l.reg);
        EXPECT_EQ(s.value("editor").toString(), "number");
        EXPECT_EQ(s.value("min").toInt(), l.min);
        EXPECT_EQ(s.value("max").toInt(), l.max);
    }
    EXPECT_EQ(settingOf(settings, 162).value("editor").toString(), "utc-offset");
    EXPECT_EQ(settingOf(settings, 162).value("items").toArray().size(), 39);
    EXPECT_EQ(settingOf(settings, 101).value("editor").toString(), "ip-address");
    EXPECT_EQ(settingOf(settings, 101).value("value").toString(), "192.168.001.100");
    EXPECT_EQ(settingOf(settings, 34).value("editor").toString(), "ct-dialog");

    // The plain listing: register, parameter, value, editor, what is allowed.
    r = cli({"settings", sim.tcpLink()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::string> lines = splitLines(r.out);
    EXPECT_THAT(lines, ::testing::Contains("39\tCT Trip Time (ms)\t100\tnumber\t15..2000"));
    EXPECT_THAT(lines, ::testing::Contains("21\tRF Trip Level (% change)\t20\tnumber\t5..50"));
}

TEST(SettingCli, SetWritesWhatThePageWritesAndRefusesWhatItRefuses) {
    SimProcess sim(simArgs());
    // In order: each case sees the unit as the cases before it left it.
    struct Case {
        const char* setting;
        const char* value;
        int exitCode;
        const char* written; // the one write expected in the request log; nullptr: none
        const char* says;    // on stdout (exit 0) or stderr (exit 1)
    } cases[] = {
        {"21", "12.5", 0, "fc=16 start=21 count=1 values=13", "20 -> 13 written"},
        {"21", "13", 0, nullptr, "already holds 13: nothing written"},
        {"RF Trip Time (s)", "12.49", 0, "fc=16 start=22 count=1 values=12", "written"},
        {"39", "10", 1, nullptr, "Out Of Range Error: Value should be between 15  and 2000."},
        {"39", "2500", 1, nullptr, "Value should be between 15  and 2000."},
        {"20", "10", 1, nullptr, "Value should be between 20  and 400."},
        {"162", "-03:30", 0, "fc=16 start=162 count=1 values=65326", "written"},
        {"162", "+05:45", 0, "fc=16 start=162 count=1 values=345", "written"},
        {"162", "+00:00", 0, "fc=16 start=162 count=1 values=0", "written"},
        {"162", "+00:20", 1, nullptr, "+00:20"},
        {"16", "2%     0.10 A", 0, "fc=16 start=16 count=1 values=2", "written"},
        {"26", "Latching", 0, "fc=16 start=26 count=1 values=1", "written"},
        {"101", "10.0.0.7", 0, "fc=16 start=101 count=2 values=7,2560", "written"},
        {"101", "192.168.1.256", 1, nullptr, "Not a valid IP address."},
        {"101", "192.168.1", 1, nullptr, "Not a valid IP address."},
        {"107", "02:4B:54:00:00:ZZ", 1, nullptr, "pair 6"},
        {"999", "1", 1, nullptr, "no setting in register 999"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.setting) + " " + c.value);
        const int before = countStarting(sim.logLines(), "fc=16");
        const CommandResult r = cli({"set", sim.tcpLink(), c.setting, c.value});
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_THAT(c.exitCode == 0 ? r.out : r.err, HasSubstr(c.says));
        const std::vector<std::string> lines = sim.logLines();
        EXPECT_EQ(countStarting(lines, "fc=16"), before + (c.written ? 1 : 0));
        if (c.written) {
            EXPECT_THAT(lines, ::testing::Contains(std::string(c.written)));
        }
    }
}

TEST(SettingCli, AWriteTheUnitRefusesExitsOneAndIsLoggedAsFailed) {
    SimProcess sim(simArgs({"--refuse-write", "21"}));
    TempDir dir;
    const std::string logs = dir.file("logs");

    CommandResult r = cli({"set", sim.tcpLink(), "21", "30", "--log", logs});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_THAT(r.err, HasSubstr("Write Failed"));
    EXPECT_THAT(sim.logLines(), ::testing::Contains(std::string("fc=16 start=21 count=1 values=30")));

    r = cli({"set", sim.tcpLink(), "22", "30", "--log", logs});
    EXPECT_EQ(r.exitCode, 0) << r.err;

    // Both in the write log, the refused one with its reason.
    std::string log;
    for (const auto& e : std::filesystem::directory_iterator(logs))
        if (e.path().filename().string().find("_settings_") != std::string::npos)
            log = readFile(e.path().string());
    EXPECT_THAT(log, HasSubstr("\t21\tRF Trip Level (% change)\t20\t30\tFailed: "));
    EXPECT_THAT(log, HasSubstr("\t22\tRF Trip Time (s)\t10\t30\tWritten\r\n"));
    // The unit kept its value.
    r = cli({"settings", sim.tcpLink()});
    EXPECT_THAT(splitLines(r.out),
                ::testing::Contains(::testing::StartsWith("21\tRF Trip Level (% change)\t20\t")));
}

} // namespace
