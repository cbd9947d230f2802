// The settings transfer end to end: the program's write and read sequences against the
// simulator over Modbus TCP and RTU, through the link facade.
#include "scl_test_util.h"

#include "iec61850/settings_transfer.h"
#include "link/protocol.h"
#include "tests/support/sim_process.h"

#include <gmock/gmock.h>

#include <thread>

namespace kt {
namespace {

using test::SimProcess;
using ::testing::HasSubstr;

// The unit through the link facade, as the connection's thread will give it to a request.
class FacadeUnitLink : public UnitLink {
public:
    explicit FacadeUnitLink(const ConnectionSettings& s) : settings_(s), facade_(s) {}

    LinkResult readRegisters(int start, int count, uint16_t* dest) override {
        return result(facade_.ReadRegisters(settings_, start, count, dest));
    }
    LinkResult readBlock(int start, int count) override {
        for (int at = start; at < start + count; at += 50) {
            const int n = std::min(50, start + count - at);
            if (!facade_.ReadRegisters(settings_, at, n, cache_.data() + at))
                return LinkResult::failure(LinkStatus::NoAnswer);
        }
        return LinkResult::done();
    }
    LinkResult writeRegisters(int start, int count, const uint16_t* words) override {
        return result(facade_.WriteRegisters(settings_, start, count, words));
    }
    LinkResult command(int n) override { return result(facade_.WriteCoil(settings_, n)); }
    const RegisterCacheWords& cache() const override { return cache_; }
    PassSnapshotPtr lastPass() const override { return nullptr; }
    const ConnectionSettings& settings() const override { return settings_; }
    ClockFields localTime() const override { return {}; }
    bool cancelled() const override { return false; }
    bool pause(std::chrono::milliseconds time) override {
        std::this_thread::sleep_for(time);
        return true;
    }
    void progress(int, int, const std::string&) override {}

private:
    static LinkResult result(bool ok) {
        return ok ? LinkResult::done() : LinkResult::failure(LinkStatus::NoAnswer);
    }

    ConnectionSettings settings_;
    Protocol facade_;
    RegisterCacheWords cache_{};
};

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
    {
        FacadeUnitLink unit(*settings);
        Write61850Result w = WriteSettings61850(unit, written);
        ASSERT_TRUE(w.ok()) << describe(w);
        EXPECT_TRUE(w.lastWriteOk);
        Read61850Result r = ReadSettings61850(unit, read);
        ASSERT_TRUE(r.ok()) << describe(r);
    }
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
