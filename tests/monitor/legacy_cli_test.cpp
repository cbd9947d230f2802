// ktmon740-cli legacy against kt740sim --legacy: the frames decoded as the window shows them, the
// event block and the clearing of the records, and the failures of a line that carries no unit.
#include "tests/support/sim_process.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>

namespace {

using namespace kt::test;
using ::testing::HasSubstr;

CommandResult cli(std::vector<std::string> args) {
    args.insert(args.begin(), binPath("ktmon740-cli"));
    return runCommand(args, 60s);
}

QJsonObject jsonObject(const std::string& line) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
}

QString field(const QJsonObject& frame, const QString& name, const char* part = "value") {
    for (const QJsonValue f : frame["fields"].toArray())
        if (f["name"].toString() == name) return f[part].toString();
    return "(missing)";
}

TEST(LegacyCli, FramesAreDecodedByModelAsTheWindowShowsThem) {
    struct Case {
        const char* modelType;
        const char* version;
        bool sibling;
        const char* unit;
        const char* gfTime;
        const char* gfLevel;
        const char* gfCaption;
        bool pulse;
    } cases[] = {
        {"0", "10", false, "KT-740", "0.4", "10", "GF Trip Time (s)", true},
        {"0", "9", true, "QM-5740", "0.4", "10", "GF Trip Time (s)", true},
        {"2", "4", false, "KT-740AU", "0.16", "0.5 A", "EF Trip Time (s)", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.unit);
        std::vector<std::string> args{"--legacy", "--model-type", c.modelType, "--legacy-version", c.version};
        if (c.sibling) args.push_back("--sibling");
        SimProcess sim(args);
        CommandResult r = cli({"legacy", "serial:" + sim.legacyDevice(), "--frames", "3", "--json"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const std::vector<std::string> lines = splitLines(r.out);
        ASSERT_EQ(lines.size(), 3u) << r.out;
        for (size_t i = 0; i < lines.size(); ++i) {
            const QJsonObject frame = jsonObject(lines[i]);
            EXPECT_EQ(frame["frame"].toInt(), int(i + 1));
            EXPECT_EQ(frame["unit"].toString(), c.unit);
            EXPECT_EQ(frame["version"].toInt(), std::stoi(c.version));
            EXPECT_EQ(field(frame, "main_gftime_E"), c.gfTime);
            EXPECT_EQ(field(frame, "main_gftime_E", "caption"), c.gfCaption);
            EXPECT_EQ(field(frame, "main_gfsetting_E"), c.gfLevel);
            EXPECT_EQ(field(frame, "detail_gftime_E"), c.gfTime);
            EXPECT_EQ(field(frame, "main_current_E"), "Not Configured");
            EXPECT_EQ(field(frame, "T0_E"), "No Trip");
            // A field the unit does not have is not printed at all.
            EXPECT_EQ(field(frame, "main_pulsetime_E") != "(missing)", c.pulse);
            bool number = false;
            field(frame, "main_ngrcurrent_E").toInt(&number);
            EXPECT_TRUE(number);
        }
    }
}

TEST(LegacyCli, EventsShowATripAndClearEmptiesTheRecords) {
    SimProcess sim({"--legacy"});
    const std::string link = "serial:" + sim.legacyDevice();
    auto tripStatuses = [&] {
        CommandResult r = cli({"legacy", link, "--events", "--json"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        std::vector<QString> statuses;
        for (const QJsonValue rec : jsonObject(r.out)["records"].toArray())
            statuses.push_back(rec["Trip Status"].toString());
        return statuses;
    };
    std::vector<QString> before = tripStatuses();
    ASSERT_EQ(before.size(), 10u);
    EXPECT_EQ(std::count(before.begin(), before.end(), "0"), 10);

    ASSERT_EQ(::kill(sim.pid(), SIGUSR1), 0);
    std::vector<QString> after;
    // The trip is recorded on the unit's own thread; ask until it shows, a bounded number of times.
    for (int i = 0; i < 10; ++i) {
        after = tripStatuses();
        if (after.size() == 10 && after[0] != "0") break;
    }
    ASSERT_EQ(after.size(), 10u);
    EXPECT_EQ(after[0], "GF Trip") << "the newest record is the trip";
    EXPECT_EQ(std::count(after.begin(), after.end(), "0"), 9);

    CommandResult cleared = cli({"legacy", link, "--clear"});
    ASSERT_EQ(cleared.exitCode, 0) << cleared.err;
    EXPECT_EQ(cleared.out, "clear request sent\n");
    bool asked = false;
    for (const std::string& l : sim.logLines()) asked = asked || l == "legacy request=c";
    EXPECT_TRUE(asked);
    std::vector<QString> emptied = tripStatuses();
    ASSERT_EQ(emptied.size(), 10u);
    EXPECT_EQ(std::count(emptied.begin(), emptied.end(), "0"), 10);
}

TEST(LegacyCli, ALineWithoutAUnitFailsWithWords) {
    SimProcess silent({"--legacy", "--silent"});
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* says;
    } cases[] = {
        {{"legacy", "serial:" + silent.legacyDevice(), "--frames", "1"},
         1,
         "Error connecting to the KT-740 on"},
        {{"legacy", "serial:/dev/kt740-no-such-port"}, 1, "cannot open the port"},
        {{"legacy", "tcp://127.0.0.1:502"}, 2, "give serial:DEVICE"},
        {{"legacy", "serial:" + silent.legacyDevice(), "--frames", "0"}, 2, "--frames must be a number"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        CommandResult r = cli(c.args);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_THAT(r.err, HasSubstr(c.says));
        EXPECT_EQ(r.out, "");
    }
}

} // namespace
