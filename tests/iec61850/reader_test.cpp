// Reading SCL files into the model: each reader step, the import, and bad input.
#include "scl_test_util.h"

#include <gmock/gmock.h>

#include <chrono>
#include <functional>

namespace kt {
namespace {

using test::scl;
using test::ScriptedPrompts;
using test::TempDir;

// One IED with a server, one LDevice and `ln0` as its LN0's content.
std::string oneIED(const std::string& name, const std::string& ln0, const std::string& extra = "") {
    return "<IED name=\"" + name + "\" type=\"T\">" + extra +
           "<AccessPoint name=\"P1\"><Server><Authentication/><LDevice inst=\"LD0\">"
           "<LN0 lnClass=\"LLN0\" inst=\"\" lnType=\"N\">" +
           ln0 + "</LN0></LDevice></Server></AccessPoint></IED>";
}

const char* types =
    R"(<DataTypeTemplates><LNodeType id="N" lnClass="LLN0"><DO name="Beh" type="E"/></LNodeType>
    <DOType id="E" cdc="ENS"><DA name="stVal" fc="ST" bType="BOOLEAN"/><DA name="q" fc="ST" bType="Quality"/></DOType>
    </DataTypeTemplates>)";

class ReaderTest : public ::testing::Test {
protected:
    TempDir dir;
    TICDParser read(const std::string& body, OperatorPrompts* prompts = nullptr, int ln0 = -1) {
        return TICDParser(dir.write("t.icd", scl(body)), ln0, prompts);
    }
};

TEST_F(ReaderTest, NoIEDGivesAnEmptyNameAndImportingItChangesNothing) {
    EXPECT_EQ(read("").IEDName(), "");
    TICDParser p(test::templatePath(), -1);
    p.ImportFile(dir.write("none.icd", scl("<Communication/>")));
    EXPECT_EQ(p.IEDName(), "KT740");
    EXPECT_EQ(p.GetIPAddress(0), TextToIP("192.168.1.100"));
}

const std::string twoIEDs =
    oneIED("R1", R"(<ReportControl name="a" confRev="1"><OptFields/></ReportControl>)") +
    oneIED("R2", R"(<ReportControl name="b" confRev="1"><OptFields/></ReportControl>)") +
    R"(<Communication/>)";

TEST_F(ReaderTest, SeveralIEDsAskWhichOne) {
    ScriptedPrompts ask;
    ask.choices = {1};
    TICDParser p = read(twoIEDs, &ask);
    ASSERT_EQ(ask.asked.size(), 1u);
    EXPECT_EQ(ask.asked[0].first, "Select IED to be used for configuration");
    EXPECT_EQ(ask.asked[0].second, (std::vector<std::string>{"R1 Type:T", "R2 Type:T"}));
    EXPECT_EQ(p.IEDName(), "R2");
    EXPECT_EQ(p.GetRCB(0).Name, "b");
}

TEST_F(ReaderTest, CancelLeavesNoNameAndTheFirstIEDIsRead) {
    ScriptedPrompts ask;
    ask.choices = {std::nullopt};
    TICDParser p = read(twoIEDs, &ask);
    EXPECT_EQ(p.IEDName(), "");
    EXPECT_EQ(p.GetRCB(0).Name, "a");
    // Without an operator the first entry is taken, as OK on the preselected entry does.
    EXPECT_EQ(read(twoIEDs).IEDName(), "R1");
    // An answer past the list counts as Cancel.
    ScriptedPrompts wild;
    wild.choices = {7};
    EXPECT_EQ(read(twoIEDs, &wild).IEDName(), "");
}

TEST_F(ReaderTest, AnIEDNameIsTakenUpToItsFirstSpace) {
    EXPECT_EQ(read(oneIED("R 1", "")).IEDName(), "R");
}

const std::string clockIED(const std::string& name, const std::string& ap) {
    return "<IED name=\"" + name + "\" type=\"Clk\"><AccessPoint name=\"" + ap + "\" clock=\"true\"/></IED>";
}
std::string connectedAP(const std::string& ied, const std::string& ap, const std::string& ps) {
    return "<ConnectedAP iedName=\"" + ied + "\" apName=\"" + ap + "\"><Address>" + ps +
           "</Address></ConnectedAP>";
}
std::string p(const std::string& type, const std::string& text) {
    return "<P type=\"" + type + "\">" + text + "</P>";
}

TEST_F(ReaderTest, TimeServerIsTheClockAccessPointWithAnAddress) {
    // T1 is found in the second subnetwork; T2 has no IP anywhere; T3's access point is no clock.
    std::string comm = "<Communication><SubNetwork name=\"A\">" +
                       connectedAP("T1", "C", p("IP-SUBNET", "1.1.1.1")) +
                       connectedAP("T2", "C", p("IP-GATEWAY", "2.2.2.2")) +
                       "</SubNetwork><SubNetwork name=\"B\">" + connectedAP("T1", "C", p("IP", "10.0.0.5")) +
                       connectedAP("T3", "C", p("IP", "10.0.0.6")) + "</SubNetwork></Communication>";
    ScriptedPrompts ask;
    TICDParser one = read(comm + oneIED("ME", "") + clockIED("T1", "C") + clockIED("T2", "C") +
                              R"(<IED name="T3"><AccessPoint name="C"/></IED>)",
                          &ask);
    EXPECT_EQ(one.TimeServerIP, TextToIP("10.0.0.5"));
    EXPECT_EQ(ask.asked.size(), 1u); // only the IED choice

    std::string comm2 = "<Communication><SubNetwork name=\"A\">" +
                        connectedAP("T1", "C", p("IP", "10.0.0.5")) +
                        connectedAP("T2", "C", p("IP", "10.0.0.9")) + "</SubNetwork></Communication>";
    ScriptedPrompts ask2;
    ask2.choices = {0, 1};
    TICDParser two = read(comm2 + oneIED("ME", "") + clockIED("T1", "C") + clockIED("T2", "C"), &ask2);
    ASSERT_EQ(ask2.asked.size(), 2u);
    EXPECT_EQ(ask2.asked[1].first, "Select IED to be used as a time server");
    EXPECT_EQ(ask2.asked[1].second, (std::vector<std::string>{"T1 Type:Clk Access point:C IP:10.0.0.5",
                                                              "T2 Type:Clk Access point:C IP:10.0.0.9"}));
    EXPECT_EQ(two.TimeServerIP, TextToIP("10.0.0.9"));

    ScriptedPrompts cancel;
    cancel.choices = {0, std::nullopt};
    EXPECT_EQ(
        read(comm2 + oneIED("ME", "") + clockIED("T1", "C") + clockIED("T2", "C"), &cancel).TimeServerIP, 0u);
    EXPECT_EQ(read(oneIED("ME", "")).TimeServerIP, 0u);
}

TEST_F(ReaderTest, SecondSubnetworkFillsInterfaceTwoButNotTheOSIValues) {
    std::string osi = p("OSI-AP-Title", "1,3,9999,33") + p("OSI-AE-Qualifier", "33") +
                      p("OSI-PSEL", "0000000a") + p("OSI-SSEL", "0002") + p("OSI-TSEL", "0003");
    std::string comm =
        "<Communication><SubNetwork name=\"A\">" + connectedAP("OTHER", "X", p("IP", "9.9.9.9")) +
        connectedAP("ME", "P1", p("IP", "10.0.0.1") + p("IP-SUBNET", "255.0.0.0") + osi) +
        "</SubNetwork><SubNetwork name=\"B\">" +
        connectedAP("ME", "P2",
                    p("IP", "10.1.0.1") + p("IP-GATEWAY", "10.1.0.254") + p("OSI-AE-Qualifier", "77")) +
        "</SubNetwork><SubNetwork name=\"C\">" + connectedAP("ME", "P3", p("IP", "10.2.0.1")) +
        "</SubNetwork></Communication>";
    TICDParser r = read(comm + oneIED("ME", ""));
    EXPECT_EQ(r.GetIPAddress(0), TextToIP("10.0.0.1"));
    EXPECT_EQ(r.GetIPMask(0), TextToIP("255.0.0.0"));
    EXPECT_EQ(r.GetGateway(0), 0u); // no P: stays as constructed
    EXPECT_EQ(r.GetIPAddress(1), TextToIP("10.1.0.1"));
    EXPECT_EQ(r.GetGateway(1), TextToIP("10.1.0.254"));
    EXPECT_EQ(r.AddressOpts.APTitle, "1.3.9999.33");
    EXPECT_EQ(r.AddressOpts.AEQualifier, 33);
    EXPECT_EQ(r.AddressOpts.PSEL, 0xAu);
    EXPECT_EQ(r.AddressOpts.SSEL, 2);
    EXPECT_EQ(r.AddressOpts.TSEL, 3);

    for (const char* bad : {"x", "", "99999999999"}) {
        TICDParser q = read("<Communication><SubNetwork name=\"A\">" +
                            connectedAP("ME", "P1", p("OSI-AE-Qualifier", bad) + p("OSI-PSEL", "0x10")) +
                            "</SubNetwork></Communication>" + oneIED("ME", ""));
        EXPECT_EQ(q.AddressOpts.AEQualifier, 12) << bad;
        EXPECT_EQ(q.AddressOpts.PSEL, 0u);
    }
}

TEST_F(ReaderTest, AddressValuesAreReadAsTheySpellOrReportedNeverWrapped) {
    struct Case {
        std::string type, text;
        std::function<uint64_t(const TICDParser&)> field;
        uint64_t expected;
        const char* warning; // part of the warning, or nullptr for none
    } cases[] = {
        {"OSI-PSEL", "00 00 00 01", [](auto& r) { return r.AddressOpts.PSEL; }, 1, nullptr},
        {"OSI-PSEL", "0000000A", [](auto& r) { return r.AddressOpts.PSEL; }, 10, nullptr},
        {"OSI-PSEL", "ZZZZ", [](auto& r) { return r.AddressOpts.PSEL; }, 0, "The OSI-PSEL \"ZZZZ\""},
        {"OSI-PSEL", "1 0000 0000", [](auto& r) { return r.AddressOpts.PSEL; }, 0, "at most 8 digits"},
        {"OSI-SSEL", "00 02", [](auto& r) { return r.AddressOpts.SSEL; }, 2, nullptr},
        {"OSI-TSEL", "10000", [](auto& r) { return r.AddressOpts.TSEL; }, 0, "The OSI-TSEL \"10000\""},
        {"OSI-AE-Qualifier", "12345678901234567890",
         [](auto& r) { return uint64_t(r.AddressOpts.AEQualifier); }, 12,
         "The OSI-AE-Qualifier \"12345678901234567890\""},
        {"OSI-AE-Qualifier", "-7", [](auto& r) { return uint64_t(uint32_t(r.AddressOpts.AEQualifier)); },
         uint32_t(-7), nullptr},
        {"IP", "999.1.2.3.4", [](auto& r) { return r.GetIPAddress(0); }, 0,
         "The IP address \"999.1.2.3.4\" of interface 1 (SubNetwork \"A\") is not an IPv4 address"},
        {"IP", "10.0.0.300", [](auto& r) { return r.GetIPAddress(0); }, 0, "is not an IPv4 address"},
        {"IP", " 10.0.0.3 ", [](auto& r) { return r.GetIPAddress(0); }, 0x0A000003, nullptr},
        {"IP-SUBNET", "-1", [](auto& r) { return r.GetIPMask(0); }, 0, "The subnet mask \"-1\""},
        {"IP-GATEWAY", "", [](auto& r) { return r.GetGateway(0); }, 0, "The gateway \"\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type + " " + c.text);
        TICDParser r =
            read("<Communication><SubNetwork name=\"A\">" + connectedAP("ME", "P1", p(c.type, c.text)) +
                 "</SubNetwork></Communication>" + oneIED("ME", ""));
        EXPECT_EQ(c.field(r), c.expected);
        if (c.warning) {
            ASSERT_EQ(r.Warnings().size(), 1u);
            EXPECT_THAT(r.Warnings()[0], ::testing::HasSubstr(c.warning));
        } else {
            EXPECT_THAT(r.Warnings(), ::testing::IsEmpty());
        }
    }
}

TEST_F(ReaderTest, GooseAndInputAddressesThatCannotBeReadStayZero) {
    std::string comm = "<Communication><SubNetwork name=\"A\"><ConnectedAP iedName=\"ME\" apName=\"P1\">"
                       "<GSE ldInst=\"LD0\" cbName=\"g\"><Address>" +
                       p("MAC-Address", "01 0C CD 01 00 09") + p("APPID", "12345") + p("VLAN-ID", "1000") +
                       p("VLAN-PRIORITY", "8") +
                       "</Address></GSE></ConnectedAP></SubNetwork></Communication>";
    TICDParser r = read(comm + oneIED("ME", R"(<GSEControl name="g" appID="G"/><Inputs>
        <ExtRef intAddr="NI1,01-0C-CD-01-00-0X,70000,5000000000,G,65536,1,0,1"/></Inputs>)"));
    TGCBConfig g = r.GetGCB(0);
    EXPECT_EQ(g.DstMAC, 0x010CCD010009u); // blanks between the octets
    EXPECT_EQ(g.AppID, 0);
    EXPECT_EQ(g.VLANID, 0);
    EXPECT_EQ(g.VLANPriority, 0);
    TNIConfig n = r.GetNI(0);
    EXPECT_EQ(n.DstMAC, 0u);
    EXPECT_EQ(n.AppID, 0);
    EXPECT_EQ(n.ConfRev, 0u);
    EXPECT_EQ(n.DataIndex, 0);
    EXPECT_EQ(n.BitIndex, 1);
    EXPECT_TRUE(n.Enabled);
    EXPECT_EQ(r.Warnings().size(), 7u) << ::testing::PrintToString(r.Warnings());
    EXPECT_THAT(r.Warnings(),
                ::testing::Contains("APPID \"12345\" of GOOSE control block g is not a hexadecimal "
                                    "APPID of at most 4 digits; it stays 0"));
    EXPECT_THAT(r.Warnings(),
                ::testing::Contains("Part 4, \"5000000000\", of the intAddr of NI1 is not a number "
                                    "from 0 to 4294967295; it is read as 0"));
}

// A logical device with 70 nodes: GGIO45 stands at position 70, past the 64 a member code holds.
// Spilled into the FC field its code would name node 6 (MMXU0) with FC index 1, which is MX
// there (BL sorts first), that is MMXU0.PPV.phsAB.
std::string seventyNodes(const std::string& dataSets) {
    std::string lns = R"(<LN0 lnClass="LLN0" inst="" lnType="N">)" + dataSets + "</LN0>";
    for (int i = 101; i <= 105; ++i)
        lns += "<LN lnClass=\"GGIO\" inst=\"" + std::to_string(i) + "\" lnType=\"G\"/>";
    lns += R"(<LN lnClass="MMXU" inst="0" lnType="M"/>)";
    for (int i = 201; i <= 219; ++i)
        lns += "<LN lnClass=\"GGIO\" inst=\"" + std::to_string(i) + "\" lnType=\"G\"/>";
    for (int i = 1; i <= 45; ++i)
        lns += "<LN lnClass=\"GGIO\" inst=\"" + std::to_string(i) + "\" lnType=\"G\"/>";
    return R"(<IED name="BIG" type="T"><AccessPoint name="P1"><Server><LDevice inst="LD0">)" + lns +
           R"(</LDevice></Server></AccessPoint></IED>
        <DataTypeTemplates><LNodeType id="N" lnClass="LLN0"><DO name="Beh" type="E"/></LNodeType>
        <LNodeType id="G" lnClass="GGIO"><DO name="SPC" type="E"/></LNodeType>
        <LNodeType id="M" lnClass="MMXU"><DO name="Blk" type="B"/><DO name="PPV" type="D"/></LNodeType>
        <DOType id="B" cdc="SPS"><DA name="blk" fc="BL" bType="BOOLEAN"/></DOType>
        <DOType id="E" cdc="SPC"><DA name="stVal" fc="ST" bType="BOOLEAN"/><DA name="q" fc="ST" bType="Quality"/></DOType>
        <DOType id="D" cdc="DEL"><SDO name="phsAB" type="C"/><SDO name="phsBC" type="C"/></DOType>
        <DOType id="C" cdc="CMV"><DA name="mag" fc="MX" bType="FLOAT32"/></DOType></DataTypeTemplates>)";
}

TEST_F(ReaderTest, AMemberPastItsFieldIsLeftOutNotShownAsAnotherObject) {
    TICDParser r = read(seventyNodes(R"(<DataSet name="Alarms">
        <FCDA ldInst="LD0" lnClass="GGIO" lnInst="1" doName="SPC" daName="stVal" fc="ST"/>
        <FCDA ldInst="LD0" lnClass="GGIO" lnInst="45" doName="SPC" daName="stVal" fc="ST"/></DataSet>)"));
    // The hazard is real in this model: the spilled code is MMXU0's measurement.
    EXPECT_EQ(r.MemberText(70u << 3 | 1u << 20), "LD0/MMXU0.PPV.phsAB (MX)");
    TDatasetConfig ds = r.GetDataSet(0);
    ASSERT_EQ(ds.Count, 1);
    EXPECT_EQ(r.MemberText(ds.Members[0]), "LD0/GGIO1.SPC.stVal (ST)");
    ASSERT_EQ(r.LeftOutMembers(0).size(), 1u);
    EXPECT_EQ(r.LeftOutMembers(0)[0].reference, "LD0/GGIO45.SPC.stVal (ST)");
    EXPECT_EQ(r.LeftOutMembers(0)[0].reason,
              "logical node GGIO45 is at position 70 of LD0, past the 64 positions a member code holds");
    EXPECT_THAT(r.Warnings(),
                ::testing::ElementsAre("Data set LD0/LLN0$Alarms: member 2, LD0/GGIO45.SPC.stVal (ST), "
                                       "is not in this data model (logical node GGIO45 is at position "
                                       "70 of LD0, past the 64 positions a member code holds); it is "
                                       "left out"));
    // A dataset none of whose members fit takes no slot.
    TICDParser none = read(seventyNodes(R"(<DataSet name="Only45">
        <FCDA ldInst="LD0" lnClass="GGIO" lnInst="45" doName="SPC" daName="stVal" fc="ST"/></DataSet>)"));
    EXPECT_EQ(none.GetDataSet(0).Count, 0);
    EXPECT_THAT(none.Warnings(), ::testing::ElementsAre(::testing::StartsWith(
                                     "Data set LD0/LLN0$Only45 is left out: none of its 1 members")));
}

TEST_F(ReaderTest, FirstUserDataSetFollowsDynDataSet) {
    struct Case {
        const char* services;
        uint16_t first;
    } cases[] = {
        {"<Services><DynDataSet max=\"29\"/></Services>", 3},
        {"<Services><DynDataSet max=\"40\"/></Services>", 32},
        {"<Services><DynDataSet max=\"0\"/></Services>", 32},
        {"<Services><DynDataSet/></Services>", 32},
        {"<Services><DynDataSet max=\"lots\"/></Services>", 32},
        {"<Services><DynDataSet max=\"32\"/></Services>", 0},
        {"<Services/>", 0},
        {"", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(read(oneIED("ME", "", c.services)).FirstUserDataSet, c.first) << c.services;
}

TEST_F(ReaderTest, DataSetsFillTheSlotsInDocumentOrder) {
    const std::string beh = R"(<FCDA ldInst="LD0" lnClass="LLN0" doName="Beh" daName="q" fc="ST"/>)";
    std::string sets;
    for (int i = 1; i <= 33; ++i)
        sets += "<DataSet name=\"S" + std::to_string(i) + "\">" + beh +
                "<FCDA ldInst=\"LD0\" lnClass=\"LLN0\" doName=\"Nope\" fc=\"ST\"/></DataSet>";
    std::string fixedOnes = "<DataSet name=\"DS2_Record\">" + beh +
                            "</DataSet><DataSet name=\"DS1_MEASUREMENT\">" + beh +
                            "</DataSet><DataSet name=\"Empty\"/>";
    TICDParser r = read(oneIED("ME", fixedOnes + sets) + types);
    EXPECT_TRUE(r.GetDataSet(0).Fixed);
    EXPECT_FALSE(r.GetDataSet(1).Fixed); // case matters
    EXPECT_EQ(r.GetDataSet(0).Name, "LLN0$DS2_Record");
    // A dataset without members takes no slot: used slots stay contiguous.
    TDatasetConfig s1 = r.GetDataSet(2);
    EXPECT_EQ(s1.Name, "LLN0$S1");
    EXPECT_EQ(s1.LDIndex, 0);
    // The member that does not resolve is left out, never kept as a code of something else.
    EXPECT_EQ(s1.Count, 1);
    EXPECT_EQ(s1.Members, (std::vector<uint32_t>{2u << 20}));
    ASSERT_EQ(r.LeftOutMembers(2).size(), 1u);
    EXPECT_EQ(r.LeftOutMembers(2)[0].position, 2);
    EXPECT_EQ(r.LeftOutMembers(2)[0].reference, "LD0/LLN0.Nope (ST)");
    EXPECT_EQ(r.GetDataSet(31).Name, "LLN0$S30"); // S31..S33 find no slot
    EXPECT_EQ(r.FindDataSet("LD0/LLN0$S31"), -1);
    EXPECT_THAT(r.Warnings(), ::testing::Contains("Data set LD0/LLN0$Empty has no members; it is left out"));
    EXPECT_THAT(r.Warnings(),
                ::testing::Contains(::testing::StartsWith(
                    "Data set LD0/LLN0$S1: member 2, LD0/LLN0.Nope (ST), is not in this data model")));
    EXPECT_THAT(
        r.Warnings(),
        ::testing::Contains("3 data sets are left out, the unit has 32 slots: LD0/LLN0$S31, LD0/LLN0$S32, "
                            "LD0/LLN0$S33"));
}

TEST_F(ReaderTest, ReportControlFields) {
    std::string rptID70(70, 'r');
    std::string rcs =
        R"(<DataSet name="DS1_Measurement"><FCDA ldInst="LD0" lnClass="LLN0" doName="Beh" fc="ST"/></DataSet>
        <ReportControl name="a" rptID=")" +
        rptID70 + R"(" datSet="DS1_Measurement" confRev="7" bufTime="4294967297" intgPd="x" buffered="true">
          <TrgOps dchg="true" qchg="true" dupd="true" period="true"/>
          <OptFields seqNum="true" timeStamp="true" reasonCode="true" dataSet="true" dataRef="true" bufOvfl="true"
                     entryID="true" configRef="true"/></ReportControl>
        <ReportControl name="b" datSet="LD1/LLN0.DSX" buffered="TRUE"><TrgOps gi="false"/></ReportControl>
        <ReportControl name="c" confRev="-"/>)";
    TICDParser r = read(oneIED("ME", rcs) + types);
    ASSERT_EQ(r.RCBCount(), 3);
    TRCBConfig a = r.GetRCB(0);
    EXPECT_EQ(a.RptID, std::string(64, 'r'));
    EXPECT_EQ(a.DataSetRef, "LD0/LLN0$DS1_Measurement");
    EXPECT_EQ(a.DataSetIndex, 1);
    EXPECT_EQ(a.ConfRev, 7u);
    EXPECT_EQ(a.BufTime, 0u); // not wrapped into 32 bits: left at its default, and said
    EXPECT_THAT(r.Warnings(), ::testing::Contains("bufTime \"4294967297\" of report control block a is not a "
                                                  "number from 0 to 4294967295; it is read as 0"));
    EXPECT_EQ(a.IntgPd, 0u);
    EXPECT_TRUE(a.Buffered);
    EXPECT_EQ(a.TrgOps, 0x3E);
    EXPECT_EQ(a.OptFields, 0x1FE);
    TRCBConfig b = r.GetRCB(1);
    EXPECT_EQ(b.DataSetRef, "LD1/LLN0$DSX");
    EXPECT_EQ(b.DataSetIndex, 0);
    EXPECT_FALSE(b.Buffered); // only "true" is true
    EXPECT_EQ(b.TrgOps, 0);   // gi switched off
    EXPECT_EQ(b.OptFields, 0);
    EXPECT_EQ(b.ConfRev, 1u);
    TRCBConfig c = r.GetRCB(2);
    EXPECT_EQ(c.TrgOps, TrgGi); // no TrgOps child: gi only
    EXPECT_EQ(c.DataSetRef, "");
    EXPECT_EQ(c.ConfRev, 1u);
}

TEST_F(ReaderTest, GooseControlsAlternateInterfacesAndReadTheirAddress) {
    std::string comm = "<Communication><SubNetwork name=\"A\"><ConnectedAP iedName=\"ME\" apName=\"P1\">"
                       "<GSE ldInst=\"LD0\" cbName=\"g2\"><Address>" +
                       p("MAC-Address", "01-0c-cd-01-00-2a") + p("APPID", "3fff") + p("VLAN-ID", "123") +
                       p("VLAN-PRIORITY", "7") +
                       "</Address></GSE></ConnectedAP></SubNetwork></Communication>";
    TICDParser r =
        read(comm + oneIED("ME", R"(<GSEControl name="g1" appID="A1"/><GSEControl name="g2" appID="A2"/>
        <GSEControl name="g3" appID="A3"/>)"));
    ASSERT_EQ(r.GCBCount(), 3);
    EXPECT_EQ(r.GetGCB(0).Interface, 1);
    EXPECT_EQ(r.GetGCB(1).Interface, 2);
    EXPECT_EQ(r.GetGCB(2).Interface, 1);
    TGCBConfig g2 = r.GetGCB(1);
    EXPECT_EQ(g2.GoID, "A2");
    EXPECT_EQ(g2.DstMAC, 0x010CCD01002Au);
    EXPECT_EQ(g2.AppID, 0x3FFF);
    EXPECT_EQ(g2.VLANID, 0x123);
    EXPECT_EQ(g2.VLANPriority, 7);
    EXPECT_FALSE(g2.Enabled);
    EXPECT_EQ(r.GetGCB(0).AppID, 0); // no GSE address
}

TEST_F(ReaderTest, NetworkInputsFromTheirInternalAddress) {
    TICDParser r = read(oneIED("ME", R"(<Inputs>
        <ExtRef intAddr="NI1,01-0C-CD-01-00-07,1a2b,4294967296,GOOSE-X,3,2,1,1" iedName="PUB" ldInst="L" prefix="Q0"
                lnClass="XCBR" lnInst="1" doName="Pos" daName="stVal"/>
        <ExtRef intAddr="NI2,,,x,,y"/>
        <ExtRef intAddr="NI5"/>
        <ExtRef intAddr="NI6,"/></Inputs>)"));
    ASSERT_EQ(r.NICount(), 4);
    TNIConfig a = r.GetNI(0);
    EXPECT_EQ(a.Name, "NI1");
    EXPECT_EQ(a.DstMAC, 0x010CCD010007u);
    EXPECT_EQ(a.AppID, 0x1A2B);
    EXPECT_EQ(a.ConfRev, 0u);
    EXPECT_EQ(a.GoID, "GOOSE-X");
    EXPECT_EQ(a.DataIndex, 3);
    EXPECT_EQ(a.BitIndex, 2);
    EXPECT_TRUE(a.Inverted);
    EXPECT_TRUE(a.Enabled);
    EXPECT_EQ(a.Source.IEDName, "PUB");
    EXPECT_EQ(a.Source.Prefix, "Q0");
    EXPECT_EQ(a.Source.DAName, "stVal");
    EXPECT_EQ(a.Source.GoCBRef, "");
    TNIConfig b = r.GetNI(1);
    EXPECT_EQ(b.DstMAC, 0u);
    EXPECT_EQ(b.GoID, "");
    EXPECT_EQ(b.DataIndex, 0);
    EXPECT_FALSE(b.Enabled);
    for (int i : {2, 3}) { // nothing after the name: the defaults, the data index by position
        TNIConfig d = r.GetNI(i);
        EXPECT_EQ(d.DstMAC, 0x010CCD010002u);
        EXPECT_EQ(d.AppID, 3);
        EXPECT_EQ(d.ConfRev, 1u);
        EXPECT_EQ(d.DataIndex, i);
        EXPECT_EQ(d.GoID, "G3");
        EXPECT_FALSE(d.Enabled);
    }
}

TEST_F(ReaderTest, ExternalReferencesFromTheOtherIEDsGoose) {
    TICDParser r(test::fixturePath("two_ieds.cid"), -1, [] {
        static ScriptedPrompts ask;
        ask.choices = {1};
        return &ask;
    }());
    EXPECT_EQ(r.IEDName(), "NGR_MON");
    ASSERT_EQ(r.ExtRefCount(), 2);
    TExtRefConfig e = r.GetExtRef(1);
    EXPECT_EQ(e.Desc.IEDName, "FDR_01");
    EXPECT_EQ(e.Desc.LDInst, "CTRL");
    EXPECT_EQ(e.Desc.Prefix, "Q0");
    EXPECT_EQ(e.Desc.LNClass, "XCBR");
    EXPECT_EQ(e.Desc.LNInst, "1");
    EXPECT_EQ(e.Desc.DOName, "Pos");
    EXPECT_EQ(e.Desc.DAName, "q");
    EXPECT_EQ(e.Desc.GoCBRef, "FDR_01CTRL/LLN0.GoCB01");
    EXPECT_EQ(e.Addr.AppID, 0x10);
    EXPECT_EQ(e.Addr.DstMAC, 0x010CCD010010u);
    EXPECT_EQ(e.Addr.ConfRev, 3u);
    EXPECT_EQ(e.Addr.GoID, "FDR_01_GO1");
    EXPECT_EQ(e.Addr.DataIndex, 1);
}

TEST_F(ReaderTest, LN0MovesToTheTemplatesPosition) {
    std::string body = R"(<IED name="ME"><AccessPoint name="P1"><Server><LDevice inst="LD0">
        <LN lnClass="GGIO" inst="1" lnType="N"/><LN lnClass="GGIO" inst="2" lnType="N"/>
        <LN0 lnClass="LLN0" inst="" lnType="N"/></LDevice></Server></AccessPoint></IED>)";
    EXPECT_EQ(read(body).LN0Position(), 2);
    TICDParser moved = read(body, nullptr, 0);
    EXPECT_EQ(moved.LN0Position(), 0);
    EXPECT_FALSE(moved.EncodeMember("LD0", "GGIO2", "Beh", "", "ST")); // no Beh in type N here, either way
    EXPECT_EQ(read(body, nullptr, 1).LN0Position(), 1);
    EXPECT_EQ(read(body, nullptr, 99).LN0Position(), 2); // past the end: last
    EXPECT_EQ(read("<IED name=\"ME\"/>").LN0Position(), -1);
}

TEST_F(ReaderTest, BadFilesFailWithAClearMessage) {
    struct Case {
        std::string content;
        std::string message; // part of the error text
    } cases[] = {
        {"", "No document element found"},
        {"<SCL><IED name=\"x\"></SCL>", "line 1"},
        {"<?xml version=\"1.0\"?>\n<SCL>\n  <IED name=\"a\" <\n</SCL>", "line 3"},
        {"\x01\x02\x03 binary junk \xff\xfe", "not well-formed"},
        {"<Substation/>", "not an SCL file: its document element is <Substation>"},
        {"<scl:Other xmlns:scl=\"x\"/>", "not an SCL file"},
    };
    for (const Case& c : cases) {
        std::string file = dir.write("bad.icd", c.content);
        try {
            TICDParser r(file, -1);
            ADD_FAILURE() << "read: " << c.content;
        } catch (const SclError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(file), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(TICDParser(dir.file("missing.icd"), -1), SclError);
}

TEST_F(ReaderTest, EntitiesAreNeitherFetchedNorExpanded) {
    std::string secret = dir.write("secret.txt", "TOPSECRET");
    std::string laughs = "<!ENTITY a \"aaaaaaaaaa\">";
    for (int i = 1; i < 10; ++i) {
        std::string prev = "&l" + std::to_string(i - 1) + ";";
        laughs += "<!ENTITY l" + std::to_string(i) + " \"" + prev + prev + prev + prev + prev + prev + prev +
                  prev + prev + prev + "\">";
    }
    std::string doc =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE SCL [<!ENTITY l0 \"lol\">" + laughs +
        "<!ENTITY xxe SYSTEM \"file://" + secret + "\">]>\n" +
        "<SCL><IED name=\"&xxe;\" type=\"&l9;\"/><Communication><SubNetwork name=\"S\">"
        "<ConnectedAP iedName=\"&xxe;\"><Address><P type=\"IP\">&l9;</P></Address></ConnectedAP>"
        "</SubNetwork></Communication></SCL>";
    auto start = std::chrono::steady_clock::now();
    TICDParser r(dir.write("entities.icd", doc), -1);
    EXPECT_EQ(r.IEDName(), "&xxe;");
    EXPECT_EQ(r.GetIPAddress(0), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)); // nothing exploded
}

TEST_F(ReaderTest, OtherEncodingsAndPrefixesAreRead) {
    // UTF-16 with a byte-order mark.
    std::string text = scl(oneIED("U16", ""));
    std::string utf16 = "\xFF\xFE";
    for (char c : text) utf16 += std::string{c, '\0'};
    EXPECT_EQ(TICDParser(dir.write("u16.icd", utf16), -1).IEDName(), "U16");
    // Namespace prefixes are ignored.
    TICDParser m(test::fixturePath("multi_ap.icd"), -1);
    EXPECT_EQ(m.IEDName(), "RLY_X");
    EXPECT_EQ(m.GetIPAddress(1), TextToIP("172.17.0.10"));
    EXPECT_EQ(m.AddressOpts.AEQualifier, 12);
    EXPECT_EQ(m.DataSetFullName(0), "PROT/LLN0$Events");
    EXPECT_EQ(m.FindDataSet("MEAS/LLN0$Other"), -1); // the second access point is not the model's
    EXPECT_EQ(m.GetRCB(0).DataSetIndex, 1);
}

// ---- import ------------------------------------------------------------------------------------

class ImportTest : public ::testing::Test {
protected:
    TICDParser p{test::templatePath(), -1};
    ScriptedPrompts pickNGR;
    void SetUp() override { pickNGR.choices = {1}; }
};

TEST_F(ImportTest, MergesTheFilesModelIntoTheTemplate) {
    TDatasetConfig stale;
    stale.Name = "LLN0$Stale";
    stale.Count = 1;
    stale.Members = {1};
    p.SetDataSet(3, stale);
    p.ImportFile(test::fixturePath("two_ieds.cid"), &pickNGR);

    EXPECT_EQ(p.IEDName(), "NGR_MON");
    EXPECT_STREQ(p.Document().document_element().child("IED").attribute("name").value(), "NGR_MON");
    EXPECT_EQ(p.GetIPAddress(0), TextToIP("10.0.0.20"));
    EXPECT_EQ(p.GetIPMask(0), TextToIP("255.255.0.0"));
    EXPECT_EQ(p.AddressOpts.APTitle, "1.3.9999.23");
    EXPECT_EQ(p.AddressOpts.PSEL, 2u);
    // The template keeps its fixed datasets; the file's others follow from slot 3 in file order.
    EXPECT_EQ(p.GetDataSet(0).Count, 8);
    EXPECT_EQ(p.DataSetFullName(3), "LD0/LLN0$DS4_Trip");
    EXPECT_EQ(p.DataSetFullName(4), "LD0/LLN0$DS5_Meas");
    EXPECT_EQ(p.DataSetFullName(5), "LD0/MMXN1$Local");
    EXPECT_EQ(p.DataSetFullName(6), "");
    EXPECT_EQ(p.MemberText(p.GetDataSet(3).Members[0]), "LD0/PTRC1.Tr.general (ST)");
    // Blocks are taken by position and name.
    TRCBConfig b1 = p.GetRCB(0);
    EXPECT_EQ(b1.RptID, "NGR_MON/brcb01");
    EXPECT_EQ(b1.DataSetIndex, 4);
    EXPECT_EQ(b1.ConfRev, 5u);
    EXPECT_TRUE(b1.Buffered);
    EXPECT_EQ(p.GetRCB(1).DataSetIndex, 5);
    EXPECT_EQ(p.GetRCB(2).RptID, "KT740LD0/LLN0.brcb03"); // the file has no third block
    EXPECT_EQ(p.GetGCB(0).GoID, "NGR_MON_G1");
    EXPECT_EQ(p.GetGCB(0).AppID, 0x20);
    EXPECT_EQ(p.GetGCB(1).GoID, "KT740_GOOSE2");
    EXPECT_EQ(p.GetNI(0).GoID, "FDR_01_GO1");
    EXPECT_TRUE(p.GetNI(0).Enabled);
    EXPECT_EQ(p.GetNI(0).Source.IEDName, "FDR_01");
    EXPECT_EQ(p.GetNI(2).GoID, "G3");
    EXPECT_EQ(p.ExtRefCount(), 2);
    EXPECT_EQ(p.RCBCount(), 8); // list lengths stay the template's
}

TEST_F(ImportTest, ImportingTwiceAddsNothingNew) {
    p.ImportFile(test::fixturePath("two_ieds.cid"), &pickNGR);
    ScriptedPrompts again;
    again.choices = {1};
    p.ImportFile(test::fixturePath("two_ieds.cid"), &again);
    EXPECT_EQ(p.DataSetFullName(3), "LD0/LLN0$DS4_Trip");
    EXPECT_EQ(p.DataSetFullName(5), "LD0/MMXN1$Local");
    EXPECT_EQ(p.DataSetFullName(6), "");
}

TEST_F(ImportTest, ARefusedOrUnreadableFileChangesNothing) {
    TempDir dir;
    std::string badName = dir.write("bad.cid", scl(oneIED("Bad-Name", "")));
    std::string broken = dir.write("broken.cid", "<SCL><IED");
    for (const std::string& file : {badName, broken}) {
        EXPECT_ANY_THROW(p.ImportFile(file));
        EXPECT_EQ(p.IEDName(), "KT740");
        EXPECT_EQ(p.GetIPAddress(0), TextToIP("192.168.1.100"));
        EXPECT_EQ(p.GetDataSet(0).Count, 8);
        EXPECT_STREQ(p.Document().document_element().child("IED").attribute("name").value(), "KT740");
    }
    try {
        p.ImportFile(badName);
    } catch (const ModelError& e) {
        EXPECT_STREQ(e.what(), "Invalid character in IED name");
    }
}

TEST_F(ImportTest, MembersAreLookedUpInTheTemplateByReference) {
    TempDir dir;
    // The file's own data model counts differently (its LN0 after a node, its LLN0 type holds
    // Beh only); its member names Beh.stVal, which the template has at its own place.
    std::string file =
        dir.write("late.cid", scl(R"(<IED name="LATE"><AccessPoint name="P1"><Server><LDevice inst="LD0">
        <LN lnClass="LPHD" inst="1" lnType="N"/><LN0 lnClass="LLN0" inst="" lnType="N">
        <DataSet name="Mine"><FCDA ldInst="LD0" lnClass="LLN0" doName="Beh" daName="stVal" fc="ST"/></DataSet></LN0>
        </LDevice></Server></AccessPoint></IED>)" +
                                  std::string(types)));
    p.ImportFile(file);
    EXPECT_EQ(p.DataSetFullName(3), "LD0/LLN0$Mine");
    ASSERT_EQ(p.GetDataSet(3).Count, 1);
    EXPECT_EQ(p.MemberText(p.GetDataSet(3).Members[0]), "LD0/LLN0.Beh.stVal (ST)");
}

} // namespace
} // namespace kt
