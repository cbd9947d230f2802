// The settings transfer end to end: the program's write and read sequences as requests of the
// monitor engine, against the simulator over Modbus TCP and RTU.
#include "scl_test_util.h"

#include "iec61850/settings_transfer.h"
#include "monitor/monitor_thread.h"
#include "tests/monitor/engine_notifier.h"
#include "tests/support/sim_process.h"

#include <gmock/gmock.h>

namespace kt {
namespace {

using namespace std::chrono_literals;

using test::SimProcess;
using ::testing::HasSubstr;

// What the editor would hold after some work: the template's blocks, changed.
Struct61850Settings edited(TICDParser& p) {
    ServerFieldTexts t = ServerFieldTextsFromParser(p);
    t.iedName = std::string(64, 'Q');
    t.timeServer = "010.001.002.003";
    t.keepAlive = "4000000000";
    t.psel = "00000001";
    t.checkUpperAddresses = true;
    TDatasetConfig mine{false, "LLN0$Mine", 0, 3, {}};
    for (const MemberRef& ref :
         {MemberRef{"LD0", "MMXN1", "Amp", "mag.f", "MX"}, MemberRef{"LD0", "GGIO1", "Ind3", "stVal", "ST"},
          MemberRef{"LD0", "PTRC1", "Tr", "general", "ST"}}) {
        auto code = p.EncodeMember(ref);
        EXPECT_TRUE(code) << MemberRefText(ref);
        mine.Members.push_back(code.value_or(0));
    }
    p.SetDataSet(3, mine);
    TRCBConfig b = p.GetRCB(5);
    b.DataSetIndex = 4;
    b.RptID = "UNIT/mine";
    b.IntgPd = 123456;
    p.SetRCB(5, b);
    TGCBConfig g = p.GetGCB(1);
    g.DstMAC = 0x010CCD01FEDC;
    g.Enabled = true;
    g.Interface = 3;
    p.SetGCB(1, g);
    TNIConfig n = p.GetNI(15);
    n.GoID = std::string(64, 'g');
    n.Enabled = true;
    n.Inverted = true;
    n.ConfRev = 0xFFFFFFFF;
    p.SetNI(15, n);
    return BuildWriteSettings(t, p);
}

class SettingsOverTheSimulator : public ::testing::TestWithParam<bool> {}; // true: TCP

TEST_P(SettingsOverTheSimulator, AFullWriteReadsBackAsWritten) {
    const bool tcp = GetParam();
    std::vector<std::string> args{"--firmware", "320", "--comm-option", "6"};
    const std::vector<std::string> endpoint =
        tcp ? std::vector<std::string>{"--tcp", "127.0.0.1:0"} : std::vector<std::string>{"--rtu"};
    args.insert(args.begin(), endpoint.begin(), endpoint.end());
    SimProcess sim(args);
    auto settings = parseLink(tcp ? sim.tcpLink() : sim.serialLink());
    ASSERT_TRUE(settings);

    TICDParser p(test::templatePath(), -1);
    Struct61850Settings written = edited(p);
    Struct61850Settings read;
    test::RecordingNotifier notifier;
    InlineDispatcher dispatcher;
    Monitor_Thread engine(*settings, notifier, dispatcher);
    ASSERT_TRUE(engine.waitForIdentification(30s)) << engine.failure();
    ASSERT_TRUE(notifier.waitForPasses(1, 20s));

    // As the command will: submit the work, get the typed result and the progress back.
    test::Results<Write61850Result> writes;
    std::vector<RequestProgress> progress;
    std::mutex progressMutex;
    auto onProgress = [&](const RequestProgress& p) {
        std::lock_guard g(progressMutex);
        progress.push_back(p);
    };
    engine.submit<Write61850Result>(
        "IEC 61850 write", [&](UnitLink& unit) { return WriteSettings61850(unit, written); }, writes.sink(),
        onProgress);
    auto w = writes.wait(1, 120s);
    ASSERT_TRUE(w);
    ASSERT_TRUE(w->ok()) << describe(*w, sim.tcpEndpoint());
    EXPECT_TRUE(w->lastWriteOk);
    test::Results<Read61850Result> reads;
    engine.submit<Read61850Result>(
        "IEC 61850 read", [&](UnitLink& unit) { return ReadSettings61850(unit, read); }, reads.sink(),
        onProgress);
    auto r = reads.wait(1, 120s);
    ASSERT_TRUE(r);
    ASSERT_TRUE(r->ok()) << describe(*r, sim.tcpEndpoint());
    {
        std::lock_guard g(progressMutex);
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(progress.back().total, 65);
        EXPECT_EQ(progress.back().done, 65);
        EXPECT_EQ(progress.back().text, "Reading from KT-740");
    }
    // The interfaces as the last pass shows them.
    PassSnapshotPtr pass = engine.lastPass();
    ASSERT_TRUE(pass);
    EXPECT_EQ(read.IP1, pass->value(101).value);
    EXPECT_FALSE(read.IP1.empty());
    engine.requestStop();
    engine.join();

    EXPECT_EQ(read.IEDName, written.IEDName);
    EXPECT_EQ(read.KeepAlive, 4000000000u);
    EXPECT_EQ(read.CheckUpperAddresses, 1);
    EXPECT_EQ(read.APTitle, written.APTitle);
    EXPECT_EQ(read.AEQualifier, written.AEQualifier);
    EXPECT_EQ(read.PSEL, 1u);
    EXPECT_EQ(read.SSEL, written.SSEL);
    EXPECT_EQ(read.TSEL, written.TSEL);
    for (int i = 0; i < UnitRCBs; ++i) {
        TRCBConfig expected = written.RCB[i];
        expected.Buffered = false; // not part of the unit's data
        expected.DataSetRef.clear();
        EXPECT_EQ(read.RCB[i], expected) << i;
    }
    for (int i = 3; i < DataSetSlots; ++i) {
        TDatasetConfig expected = written.DataSet[i].Count ? written.DataSet[i] : TDatasetConfig{};
        EXPECT_EQ(read.DataSet[i], expected) << i;
    }
    // Slots 0..2 are the unit's own, whatever was written.
    for (int i = 0; i < 3; ++i) EXPECT_EQ(read.DataSet[i].Name, p.GetDataSet(i).Name);
    for (int i = 0; i < UnitGCBs; ++i) EXPECT_EQ(read.GCB[i], written.GCB[i]) << i;
    for (int i = 0; i < UnitNIs; ++i) {
        TNIConfig expected = written.NI[i];
        expected.Source = {};
        EXPECT_EQ(read.NI[i], expected) << i;
    }
    EXPECT_EQ(p.MemberText(read.DataSet[3].Members[1]), "LD0/GGIO1.Ind3.stVal (ST)");

    // The request log: dataset slots 0..2 were never selected for writing.
    for (const std::string& line : sim.logLines()) {
        const std::string head = "fc=16 start=460 ";
        if (line.rfind(head, 0) != 0) continue;
        std::string values = line.substr(line.find("values=") + 7);
        EXPECT_GE(std::stoi(values.substr(0, values.find(','))), 3) << line;
    }
    EXPECT_THAT(sim.stderrText(), HasSubstr("IEC 61850 network input 16 (slot 15) stored"));
    EXPECT_EQ(sim.stop(), 0) << sim.stderrText();
}

INSTANTIATE_TEST_SUITE_P(Links, SettingsOverTheSimulator, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Tcp" : "Rtu"; });

} // namespace
} // namespace kt
