// ktmon740-cli regfile, run as the operator runs it.
#include "regfile_test_support.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <chrono>

using namespace kt::test;

namespace {

struct CliRun {
    int status = -1;
    std::string out, err;
};

// Run through the shared command runner, with a time bound.
CliRun cli(const std::string& args) {
    std::vector<std::string> argv{std::string(KT_BIN_DIR) + "/ktmon740-cli", "regfile"};
    for (std::string& w : shellWords(args)) argv.push_back(std::move(w));
    const CommandResult run = runCommand(argv, std::chrono::seconds(60));
    EXPECT_FALSE(run.timedOut) << args;
    return {run.exitCode, run.out, run.err};
}

QJsonObject json(const CliRun& r) {
    QJsonParseError error{};
    QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(r.out), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString() << "\n" << r.out;
    return doc.object();
}

const std::string Resources = "'" + std::string(KT_BIN_DIR) + "/resources'";

} // namespace

TEST(RegfileCli, ReportsAShippedFileAsJson) {
    CliRun r = cli("registers_300.xml --json");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    QJsonObject o = json(r);
    EXPECT_EQ(o["pollCount"].toInt(), 203);
    EXPECT_EQ(o["lastGroupIndex"].toInt(), 12);
    EXPECT_EQ(o["skippedRows"].toInt(), 0);

    QJsonArray groups = o["groups"].toArray();
    ASSERT_EQ(groups.size(), 13);
    QJsonObject status = groups[0].toObject();
    EXPECT_EQ(status["order"].toInt(), 0);
    EXPECT_EQ(status["main"].toString(), "Status");
    EXPECT_EQ(status["title"].toString(), "Unit Status");
    EXPECT_EQ(status["nameIndex"].toString(), "status");
    EXPECT_TRUE(status["display"].toBool());
    EXPECT_FALSE(groups[12].toObject()["display"].toBool());

    QJsonArray events = o["eventRegisters"].toArray();
    QList<int> eventList;
    for (const auto& e : events) eventList.append(e.toInt());
    EXPECT_EQ(eventList, (QList<int>{63, 65, 67, 68, 69, 70, 71}));

    QJsonObject descriptors = o["descriptors"].toObject();
    QJsonObject nominal = descriptors["20"].toObject();
    EXPECT_EQ(nominal["label"].toString(), "DB_NGR_NOMINAL");
    EXPECT_EQ(nominal["type"].toInt(), 1);
    EXPECT_EQ(nominal["access"].toInt(), 11);
    EXPECT_EQ(nominal["translationType"].toString(), "0");
    EXPECT_TRUE(nominal["warning"].toString().contains("\\r\\n"));
    EXPECT_EQ(descriptors["23"].toObject()["translationType"].toString(), "VNLVL");
    EXPECT_FALSE(descriptors.contains("6"));
}

TEST(RegfileCli, ChoosesTheFileAsIdentificationDoes) {
    CliRun r = cli("--firmware 0x80FB --model-type 2 --json --resources " + Resources); // prototype 2.51
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err,
              "ktmon740-cli regfile: Cannot Open File: No file found for Version 2.50, using Version 2.30 "
              "instead. Some items might not be displayed properly. Please check "
              "https://www.corvane-relays.example/ktmon740 for a new version of KT-MON740.\n");
    QJsonObject o = json(r);
    EXPECT_EQ(o["firmwareVersion"].toInt(), 230);
    EXPECT_TRUE(o["file"].toString().endsWith("registersAU_230.xml"));
    EXPECT_EQ(o["descriptors"].toObject()["13"].toObject()["translationType"].toString(), "EFLEVEL");

    CliRun none = cli("--firmware 190 --resources " + Resources);
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "");
    EXPECT_NE(none.err.find("no register file registers_190.xml"), std::string::npos) << none.err;
    EXPECT_EQ(std::count(none.err.begin(), none.err.end(), '\n'), 1);
}

TEST(RegfileCli, ReadableSummaryListsSkippedRows) {
    TempDir dir;
    std::vector<std::string> rows = {
        registerRow("Status", 0, 8, "DB_TRIPSTATUS", 1, 1),
        registerRow("Status", 0, 300, "DB_FAR", 1, 2),
        registerRow("Big", 150, 9, "DB_BIG", 1, 1),
    };
    std::string file = dir.write("mine.xml", dataPacket(standardColumns(), rows));
    CliRun r = cli("'" + file + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("poll count 12"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("skipped rows: 2"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("ROW 2: REGISTER 300 lies outside the register table (0..249)"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("ROW 3: G_ORDER 150 lies outside"), std::string::npos) << r.out;

    CliRun j = cli("'" + file + "' --json");
    QJsonObject o = json(j);
    EXPECT_EQ(o["skippedRows"].toInt(), 2);
    EXPECT_EQ(o["skipped"].toArray()[0].toObject()["row"].toInt(), 2);
}

TEST(RegfileCli, FailuresAndUsage) {
    TempDir dir;
    std::string noLabel = dir.write("nolabel.xml", dataPacket(without(standardColumns(), "LABEL"), {}));
    std::string broken = dir.write("broken.xml", "<DATAPACKET>");
    struct Case {
        std::string args;
        int status;
        const char* err;
    } cases[] = {
        {"'" + noLabel + "'", 1, "missing column LABEL"},
        {"'" + broken + "' --json", 1, "not well-formed"},
        {"'" + dir.str() + "/absent.xml'", 1, "cannot open"},
        {"", 2, "usage:"},
        {"a.xml b.xml", 2, "too many arguments"},
        {"--firmware x", 2, "--firmware must be a number"},
        {"--firmware 300 extra.xml", 2, "too many arguments"},
        {"a.xml --model-type 2", 2, "--model-type goes with --firmware"},
        {"a.xml --bogus", 2, "unknown option --bogus"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        CliRun r = cli(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}
