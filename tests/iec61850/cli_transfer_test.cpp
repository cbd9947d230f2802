// ktmon740-cli iec61850-read and iec61850-write against the simulator, run as the separate program
// a script runs to configure many relays.
#include "scl_test_util.h"

#include "tests/support/sim_process.h"

#include <gmock/gmock.h>

#include <csignal>
#include <thread>

namespace kt {
namespace {

using namespace std::chrono_literals;

using test::CommandResult;
using test::SimProcess;
using test::TempDir;
using ::testing::HasSubstr;
using ::testing::StartsWith;

CommandResult cli(std::vector<std::string> args) {
    args.insert(args.begin(), test::binPath("ktmon740-cli"));
    return test::runCommand(args, 90s);
}

std::vector<std::string> simArgs(const TempDir& dir, std::vector<std::string> extra = {},
                                 const std::string& commOption = "6") {
    std::vector<std::string> args{"--tcp", "127.0.0.1:0",       "--firmware",
                                  "320",   "--comm-option",     commOption,
                                  "--log", dir.file("sim.log"), "--exit-with-parent"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

bool anyWrite(const SimProcess& sim) {
    for (const std::string& line : sim.logLines())
        if (line.starts_with("fc=16")) return true;
    return false;
}

// A configuration file as another engineer would hand it over: the template with edited blocks
// and a dataset of its own.
std::string editedFile(const TempDir& dir) {
    TICDParser p(test::templatePath(), -1);
    p.SetIEDName("Feeder_7");
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
    b.IntgPd = 123456;
    p.SetRCB(5, b);
    TGCBConfig g = p.GetGCB(1);
    g.DstMAC = 0x010CCD01FEDC;
    g.AppID = 0x1AB;
    p.SetGCB(1, g);
    TNIConfig n = p.GetNI(15);
    n.Enabled = true;
    n.DataIndex = 7;
    p.SetNI(15, n);
    const std::string file = dir.file("feeder7.cid");
    p.SaveICD(file);
    return file;
}

TEST(Iec61850Cli, AFileWrittenToTheUnitIsReadBackIntoAValidFileWithTheUnitsNamePlate) {
    TempDir dir;
    SimProcess sim(simArgs(dir, {"--serial", "305419"}));
    const std::string file = editedFile(dir);
    ASSERT_FALSE(HasFailure());

    CommandResult w = cli({"iec61850-write", sim.tcpLink(), file});
    ASSERT_EQ(w.exitCode, 0) << w.err;
    EXPECT_THAT(w.out, StartsWith("Wrote the IEC 61850 settings to KT-740"));

    const std::string out = dir.file("read.icd");
    CommandResult r = cli({"iec61850-read", sim.tcpLink(), test::templatePath(), out});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_THAT(r.out, StartsWith("Read the IEC 61850 settings from KT-740"));

    TICDParser sent(file, -1);
    TICDParser back(out, -1);
    EXPECT_EQ(back.IEDName(), "Feeder_7");
    for (int i = 0; i < UnitRCBs; ++i) EXPECT_EQ(back.GetRCB(i), sent.GetRCB(i)) << "RCB " << i;
    for (int i = 0; i < DataSetSlots; ++i)
        EXPECT_EQ(back.GetDataSet(i), sent.GetDataSet(i)) << "dataset " << i;
    for (int i = 0; i < UnitGCBs; ++i) EXPECT_EQ(back.GetGCB(i), sent.GetGCB(i)) << "GCB " << i;
    for (int i = 0; i < UnitNIs; ++i) EXPECT_EQ(back.GetNI(i), sent.GetNI(i)) << "NI " << i;
    // The name plate is the connected unit's, found by its register labels.
    const std::string serial = back.PhyNamValue("serNum"); // as the unit's register file shows it
    ASSERT_FALSE(serial.empty());
    EXPECT_EQ(serial.find_first_not_of("0123456789"), std::string::npos) << serial;
    EXPECT_EQ(std::stoul(serial), 305419u);
    EXPECT_EQ(back.PhyNamValue("model"), "KT-740");
    EXPECT_EQ(back.PhyNamValue("swRev"), "320");

    std::string why;
    if (!test::schemaToolsPresent(&why)) GTEST_SKIP() << why;
    test::SchemaCheck check = test::validateAgainstSchema(out);
    EXPECT_TRUE(check.valid) << check.output;
}

TEST(Iec61850Cli, FailuresExitWithTheReasonAndARefusedFieldSendsNothing) {
    TempDir dir;
    const std::string file = editedFile(dir);
    {
        SimProcess sim(simArgs(dir));
        CommandResult w = cli({"iec61850-write", sim.tcpLink(), file, "--time-server", "192.168.1.300"});
        EXPECT_EQ(w.exitCode, 1);
        EXPECT_THAT(w.err, HasSubstr("nothing was written to KT-740"));
        EXPECT_THAT(w.err, HasSubstr("300"));
        EXPECT_FALSE(anyWrite(sim));
    }
    {
        // Apply commands the unit refuses: every refused request is named.
        SimProcess sim(simArgs(dir, {"--exception-every", "40"}));
        CommandResult w = cli({"iec61850-write", sim.tcpLink(), file});
        EXPECT_EQ(w.exitCode, 1);
        EXPECT_THAT(w.err, HasSubstr("Writing to KT-740 finished with"));
        EXPECT_THAT(w.err, HasSubstr("(exception 4)"));
    }
    {
        SimProcess sim(simArgs(dir, {}, "0"));
        CommandResult r = cli({"iec61850-read", sim.tcpLink(), test::templatePath(), dir.file("x.icd")});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_THAT(r.err, HasSubstr("has no IEC 61850 option"));
        EXPECT_FALSE(std::filesystem::exists(dir.file("x.icd")));
    }
}

TEST(Iec61850Cli, AUnitFallingSilentFailsTheReadWithItsErrorPosition) {
    TempDir dir;
    // Answers come late, so the unit can be stopped while the first request of the read waits.
    SimProcess sim(simArgs(dir, {"--delay-ms", "200"}));
    const std::string out = dir.file("read.icd");
    const int pid = test::spawnProcess(
        {test::binPath("ktmon740-cli"), "iec61850-read", sim.tcpLink(), test::templatePath(), out},
        dir.file("out"), dir.file("err"));
    ASSERT_GT(pid, 0);
    bool stopped = false;
    for (int waited = 0; !stopped && waited < 1500; ++waited) {
        for (const std::string& line : sim.logLines())
            if (line == "fc=3 start=200 count=50") stopped = ::kill(sim.pid(), SIGSTOP) == 0;
        if (!stopped) std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(stopped);
    const int exit = test::waitProcess(pid, 60s);
    ::kill(sim.pid(), SIGCONT);
    EXPECT_EQ(exit, 1);
    EXPECT_THAT(test::readFile(dir.file("err")),
                HasSubstr("Couldn't read settings from KT-740: Error Position 2"));
    EXPECT_FALSE(std::filesystem::exists(out));
}

} // namespace
} // namespace kt
