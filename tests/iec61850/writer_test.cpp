// Writing the model into a copy of the template: each writer step, round trips, and schema
// validity of everything the writer can produce.
#include "scl_test_util.h"

#include <functional>

namespace kt {
namespace {

using test::readText;
using test::TempDir;

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

TDatasetConfig dataSet(const std::string& name, std::vector<uint32_t> members, uint16_t ld = 0) {
    TDatasetConfig ds;
    ds.Name = name;
    ds.LDIndex = ld;
    ds.Count = static_cast<uint16_t>(members.size());
    ds.Members = std::move(members);
    return ds;
}

class WriterTest : public ::testing::Test {
protected:
    TempDir dir;
    TICDParser p{test::templatePath(), -1};

    uint32_t code(const char* ln, const char* dobj, const char* da, const char* fc) const {
        auto c = p.EncodeMember("LD0", ln, dobj, da, fc);
        EXPECT_TRUE(c) << ln << "." << dobj;
        return c.value_or(0);
    }

    // Saves and loads the written file.
    std::unique_ptr<pugi::xml_document> save(const std::string& name = "out.icd") {
        p.SaveICD(dir.file(name));
        auto doc = std::make_unique<pugi::xml_document>();
        EXPECT_TRUE(doc->load_file(dir.file(name).c_str()));
        return doc;
    }

    void setRCBDataSet(const char* name, int index) {
        for (int i = 0; i < p.RCBCount(); ++i) {
            TRCBConfig b = p.GetRCB(i);
            if (b.Name != name) continue;
            b.DataSetIndex = static_cast<uint8_t>(index);
            p.SetRCB(i, b);
        }
    }
};

pugi::xml_node rc(const pugi::xml_document& doc, const char* name) {
    return doc.select_node(("//ReportControl[@name='" + std::string(name) + "']").c_str()).node();
}

TEST_F(WriterTest, ReportControlsNameTheirDataSet) {
    p.SetDataSet(3, dataSet("LLN0$DS4", {code("MMXN1", "Amp", "mag.f", "MX")}));
    p.SetDataSet(4, dataSet("MMXN1$Near", {code("MMXN1", "Vol", "mag.f", "MX")}));
    setRCBDataSet("brcb01", 0);
    setRCBDataSet("brcb02", 4);   // LLN0$DS4
    setRCBDataSet("brcb03", 5);   // a dataset of another node
    setRCBDataSet("brcb04", 10);  // a free slot
    setRCBDataSet("urcb01", 200); // past the table
    auto doc = save();
    EXPECT_STREQ(rc(*doc, "brcb01").attribute("datSet").value(), "DS1_Measurement");
    EXPECT_STREQ(rc(*doc, "brcb02").attribute("datSet").value(), "DS4");
    // A report control can only name a dataset of its own LN0; these are written without one.
    for (const char* name : {"brcb03", "brcb04", "urcb01"})
        EXPECT_FALSE(rc(*doc, name).attribute("datSet")) << name;
    pugi::xml_node near = doc->select_node("//LN[@lnClass='MMXN']/DataSet[@name='Near']").node();
    EXPECT_TRUE(near);
    // New datasets follow the LN0's own ones.
    pugi::xml_node ln0 = doc->select_node("//LN0").node();
    std::vector<std::string> sets;
    for (pugi::xml_node d : ln0.children("DataSet")) sets.push_back(d.attribute("name").value());
    EXPECT_EQ(sets, (std::vector<std::string>{"DS1_Measurement", "DS2_Record", "DS3_GOOSE", "DS4"}));
    EXPECT_STREQ(ln0.first_child().name(), "DataSet");
}

TEST_F(WriterTest, ReportControlFieldsAndOptions) {
    TRCBConfig b = p.GetRCB(4);
    b.RptID = "R&<\"id\">";
    b.BufTime = 4294967295u;
    b.IntgPd = 0;
    b.ConfRev = 77;
    b.TrgOps = TrgQchg | TrgPeriod; // gi cleared here, but gi is never written
    b.OptFields = OptSeqNum | OptConfigRef | OptBufOvfl;
    p.SetRCB(4, b);
    TRCBConfig c = p.GetRCB(5);
    c.RptID.clear();
    p.SetRCB(5, c);
    auto doc = save();
    pugi::xml_node u1 = rc(*doc, "urcb01");
    EXPECT_STREQ(u1.attribute("rptID").value(), "R&<\"id\">");
    EXPECT_STREQ(u1.attribute("bufTime").value(), "4294967295");
    EXPECT_STREQ(u1.attribute("intgPd").value(), "0");
    EXPECT_STREQ(u1.attribute("confRev").value(), "77");
    pugi::xml_node t = u1.child("TrgOps");
    EXPECT_STREQ(t.attribute("dchg").value(), "false");
    EXPECT_STREQ(t.attribute("qchg").value(), "true");
    EXPECT_STREQ(t.attribute("period").value(), "true");
    EXPECT_STREQ(t.attribute("gi").value(), "true"); // the template's
    pugi::xml_node o = u1.child("OptFields");
    EXPECT_STREQ(o.attribute("seqNum").value(), "true");
    EXPECT_STREQ(o.attribute("timeStamp").value(), "false");
    EXPECT_STREQ(o.attribute("configRef").value(), "true");
    EXPECT_FALSE(o.attribute("bufOvfl"));                // never written
    EXPECT_FALSE(rc(*doc, "urcb02").attribute("rptID")); // empty: left to the server
}

TEST_F(WriterTest, MissingTrgOpsIsAddedBeforeOptFields) {
    std::string text =
        replaced(readText(test::templatePath()),
                 "<TrgOps dchg=\"true\" qchg=\"true\" dupd=\"false\" period=\"true\" gi=\"true\"/>", "");
    TICDParser q(dir.write("t.icd", text), -1);
    EXPECT_EQ(q.GetRCB(0).TrgOps, TrgGi);
    q.SaveICD(dir.file("out.icd"));
    pugi::xml_document doc;
    doc.load_file(dir.file("out.icd").c_str());
    pugi::xml_node b1 = rc(doc, "brcb01");
    pugi::xml_node t = b1.child("TrgOps");
    ASSERT_TRUE(t);
    EXPECT_EQ(t.next_sibling(), b1.child("OptFields"));
    for (const char* a : {"dchg", "qchg", "dupd", "period"})
        EXPECT_STREQ(t.attribute(a).value(), "false") << a;
    EXPECT_FALSE(t.attribute("gi"));
}

TEST_F(WriterTest, UserDataSetsHoldTheMembersThatDecode) {
    p.SetDataSet(3, dataSet("LLN0$Two", {code("PTRC1", "Tr", "", "ST"), 0xFFFFFFFFu}));
    p.SetDataSet(4, dataSet("LLN0$Lln0", {code("LLN0", "Health", "stVal", "ST")}));
    p.SetDataSet(5, dataSet("LLN0$Nothing", {0xFFFFFFFFu}));                      // no member decodes
    p.SetDataSet(6, dataSet("LLN0$DS2_Record", {code("PTRC1", "Tr", "", "ST")})); // the template has it
    p.SetDataSet(7, dataSet("NOPE1$X", {code("PTRC1", "Tr", "", "ST")}));         // no such node
    p.SetDataSet(8, dataSet("LLN0$OtherLD", {code("PTRC1", "Tr", "", "ST")}, 3)); // no such device
    TDatasetConfig notFixed = p.GetDataSet(1);
    notFixed.Fixed = false;
    notFixed.Name = "LLN0$Renamed";
    p.SetDataSet(1, notFixed); // below FirstUserDataSet: never written
    auto doc = save();

    pugi::xml_node two = doc->select_node("//DataSet[@name='Two']").node();
    ASSERT_TRUE(two);
    std::vector<pugi::xml_node> fcdas;
    for (pugi::xml_node f : two.children("FCDA")) fcdas.push_back(f);
    ASSERT_EQ(fcdas.size(), 1u);
    std::vector<std::string> names;
    for (pugi::xml_attribute a : fcdas[0].attributes()) names.push_back(a.name());
    EXPECT_EQ(names, (std::vector<std::string>{"ldInst", "prefix", "lnClass", "lnInst", "doName", "fc"}));
    EXPECT_STREQ(fcdas[0].attribute("lnInst").value(), "1");
    EXPECT_STREQ(fcdas[0].attribute("doName").value(), "Tr");

    pugi::xml_node lln0 = doc->select_node("//DataSet[@name='Lln0']/FCDA").node();
    EXPECT_STREQ(lln0.attribute("lnClass").value(), "LLN0");
    EXPECT_FALSE(lln0.attribute("lnInst")); // LLN0 has no instance
    EXPECT_STREQ(lln0.attribute("daName").value(), "stVal");

    for (const char* absent : {"Nothing", "X", "OtherLD", "Renamed"})
        EXPECT_FALSE(doc->select_node(("//DataSet[@name='" + std::string(absent) + "']").c_str())) << absent;
    EXPECT_EQ(doc->select_nodes("//AccessPoint[@name='P1']//DataSet[@name='DS2_Record']").size(), 1u);
}

TEST_F(WriterTest, ServerNamePlatesGooseAndInputs) {
    p.SetIEDName("NEW_NAME");
    p.SetIPAddress(0, TextToIP("10.1.2.3"));
    p.SetIPMask(0, TextToIP("255.255.0.0"));
    p.SetGateway(0, TextToIP("10.1.0.1"));
    p.AddressOpts = {"1.3.9999.7", 65535, 0xABCDEF01, 0x12, 0xFFFF};
    p.SwRev = "301";
    p.SerNum = "SN-42";
    p.Model = "KT-740HV";
    TGCBConfig g = p.GetGCB(1);
    g.GoID = "MY_GOOSE";
    g.AppID = 0x3FFF;
    g.DstMAC = 0x010CCD0100FF;
    g.VLANID = 0x12;
    g.VLANPriority = 7;
    p.SetGCB(1, g);
    TNIConfig n = p.GetNI(2);
    n.Source.IEDName = "PUB";
    n.Source.LDInst = "CTRL";
    n.Source.LNClass = "XCBR";
    n.Source.LNInst = "1";
    n.Source.DOName = "Pos";
    p.SetNI(2, n);
    std::string text = replaced(readText(test::templatePath()), "intAddr=\"NI3\"",
                                "intAddr=\"NI3,01-0C-CD-01-00-07,1,1,G,0,0,0,0\" prefix=\"Q0\"");
    TICDParser base(dir.write("t.icd", text), -1);
    // The same model on the changed template.
    base.SetIEDName("NEW_NAME");
    base.SetNI(2, n);
    base.SaveICD(dir.file("ni.icd"));
    pugi::xml_document niDoc;
    niDoc.load_file(dir.file("ni.icd").c_str());
    pugi::xml_node ext = niDoc.select_node("//ExtRef[@intAddr='NI3']").node();
    ASSERT_TRUE(ext);
    EXPECT_STREQ(ext.attribute("iedName").value(), "PUB");
    EXPECT_STREQ(ext.attribute("doName").value(), "Pos");
    EXPECT_STREQ(ext.attribute("prefix").value(), "Q0"); // an empty source text leaves the file's
    EXPECT_FALSE(ext.attribute("daName"));

    auto doc = save();
    auto pText = [&](const char* type) {
        return std::string(
            doc->select_node(("(//ConnectedAP)[1]/Address/P[@type='" + std::string(type) + "']").c_str())
                .node()
                .text()
                .get());
    };
    EXPECT_STREQ(doc->select_node("//IED").node().attribute("name").value(), "NEW_NAME");
    EXPECT_STREQ(doc->select_node("//ConnectedAP").node().attribute("iedName").value(), "NEW_NAME");
    EXPECT_EQ(pText("IP"), "10.1.2.3");
    EXPECT_EQ(pText("IP-SUBNET"), "255.255.0.0");
    EXPECT_EQ(pText("IP-GATEWAY"), "10.1.0.1");
    EXPECT_EQ(pText("OSI-AP-Title"), "1,3,9999,7");
    EXPECT_EQ(pText("OSI-AE-Qualifier"), "65535");
    EXPECT_EQ(pText("OSI-PSEL"), "ABCDEF01");
    EXPECT_EQ(pText("OSI-SSEL"), "0012");
    EXPECT_EQ(pText("OSI-TSEL"), "FFFF");
    auto val = [&](const char* path) { return std::string(doc->select_node(path).node().text().get()); };
    EXPECT_EQ(val("//LN[@lnClass='LPHD']/DOI[@name='PhyNam']/DAI[@name='swRev']/Val"), "301");
    EXPECT_EQ(val("//LN[@lnClass='LPHD']/DOI[@name='PhyNam']/DAI[@name='serNum']/Val"), "SN-42");
    EXPECT_EQ(val("//LN[@lnClass='LPHD']/DOI[@name='PhyNam']/DAI[@name='model']/Val"), "KT-740HV");
    EXPECT_EQ(val("//LN0/DOI[@name='NamPlt']/DAI[@name='swRev']/Val"), "301");
    EXPECT_EQ(val("//LN0/DOI[@name='NamPlt']/DAI[@name='vendor']/Val"), "Corvane");
    EXPECT_STREQ(doc->select_node("//GSEControl[@name='gcb2']").node().attribute("appID").value(),
                 "MY_GOOSE");
    auto gse = [&](const char* type) {
        return val(("(//GSE[@cbName='gcb2'])[1]/Address/P[@type='" + std::string(type) + "']").c_str());
    };
    EXPECT_EQ(gse("APPID"), "3FFF");
    EXPECT_EQ(gse("MAC-Address"), "01-0C-CD-01-00-FF");
    EXPECT_EQ(gse("VLAN-ID"), "012");
    EXPECT_EQ(gse("VLAN-PRIORITY"), "7");
}

TEST_F(WriterTest, FixedWidthHexFieldsKeepTheirZeroPadding) {
    // Small values, so that a writer padding to fewer digits than the field's shows.
    p.AddressOpts.PSEL = 1;
    p.AddressOpts.SSEL = 2;
    p.AddressOpts.TSEL = 0;
    TGCBConfig g = p.GetGCB(0);
    g.AppID = 1;
    g.VLANID = 5;
    g.VLANPriority = 0;
    g.DstMAC = 0x000000000001;
    p.SetGCB(0, g);
    auto doc = save();
    auto text = [&](const std::string& path) {
        return std::string(doc->select_node(path.c_str()).node().text().get());
    };
    struct Case {
        const char* type;
        const char* expected;
    } server[] = {{"OSI-PSEL", "00000001"}, {"OSI-SSEL", "0002"}, {"OSI-TSEL", "0000"}},
      goose[] = {{"APPID", "0001"},
                 {"VLAN-ID", "005"},
                 {"VLAN-PRIORITY", "0"},
                 {"MAC-Address", "00-00-00-00-00-01"}};
    for (const Case& c : server)
        EXPECT_EQ(text("(//ConnectedAP)[1]/Address/P[@type='" + std::string(c.type) + "']"), c.expected)
            << c.type;
    for (const Case& c : goose)
        EXPECT_EQ(text("(//GSE[@cbName='gcb1'])[1]/Address/P[@type='" + std::string(c.type) + "']"),
                  c.expected)
            << c.type;
    // And they read back as the values written.
    TICDParser back(dir.file("out.icd"), -1);
    EXPECT_EQ(back.AddressOpts, p.AddressOpts);
    EXPECT_EQ(back.GetGCB(0), p.GetGCB(0));
}

TEST_F(WriterTest, AnEmptyAPTitleKeepsTheTemplates) {
    p.AddressOpts.APTitle.clear();
    auto doc = save();
    EXPECT_STREQ(doc->select_node("(//ConnectedAP)[1]/Address/P[@type='OSI-AP-Title']").node().text().get(),
                 "1,3,9999,33");
}

TEST_F(WriterTest, SecondAccessPoint) {
    p.SetIPAddress(1, TextToIP("10.9.0.2"));
    p.SetIPMask(1, TextToIP("255.255.255.128"));
    p.SetGateway(1, TextToIP("10.9.0.1"));
    auto doc = save();
    std::vector<std::string> subnets, aps;
    for (pugi::xml_node s : doc->document_element().child("Communication").children("SubNetwork"))
        subnets.push_back(s.attribute("name").value());
    for (pugi::xml_node a : doc->select_node("//IED").node().children("AccessPoint"))
        aps.push_back(a.attribute("name").value());
    EXPECT_EQ(subnets, (std::vector<std::string>{"S1", "S2"}));
    EXPECT_EQ(aps, (std::vector<std::string>{"P1", "P2"}));
    EXPECT_TRUE(doc->select_node("//AccessPoint[@name='P2']/Server/LDevice[@inst='Relay2']"));
    pugi::xml_node cap2 = doc->select_node("//SubNetwork[@name='S2']/ConnectedAP").node();
    EXPECT_STREQ(cap2.attribute("apName").value(), "P2");
    EXPECT_STREQ(cap2.select_node("Address/P[@type='IP']").node().text().get(), "10.9.0.2");
    EXPECT_STREQ(cap2.select_node("Address/P[@type='IP-SUBNET']").node().text().get(), "255.255.255.128");

    p.TwoAccessPoints = false;
    auto one = save("one.icd");
    EXPECT_EQ(one->select_nodes("//SubNetwork").size(), 1u);
    EXPECT_EQ(one->select_nodes("//AccessPoint").size(), 1u);
}

TEST_F(WriterTest, LN0ComesFirst) {
    std::string text = readText(test::templatePath());
    size_t from = text.find("\t\t\t\t\t<LN lnClass=\"LPHD\"");
    size_t to = text.find("\t\t\t\t\t<LN lnClass=\"MMXN\"");
    std::string lphd = text.substr(from, to - from);
    text.erase(from, to - from);
    text = replaced(text, "\t\t\t\t\t<LN0 ", lphd + "\t\t\t\t\t<LN0 ");
    TICDParser q(dir.write("t.icd", text), -1);
    EXPECT_EQ(q.LN0Position(), 1);
    q.SaveICD(dir.file("out.icd"));
    pugi::xml_document doc;
    doc.load_file(dir.file("out.icd").c_str());
    EXPECT_STREQ(doc.select_node("//LDevice").node().first_child().name(), "LN0");
    EXPECT_EQ(q.LN0Position(), 1); // the parser's document stays the template
}

TEST_F(WriterTest, SavingTwiceGivesTheSameFileAndLeavesTheTemplate) {
    p.SetIEDName("TWICE");
    p.SetDataSet(3, dataSet("LLN0$DS4", {code("MMXN1", "Amp", "mag.f", "MX")}));
    p.SaveICD(dir.file("a.icd"));
    p.SaveICD(dir.file("b.icd"));
    EXPECT_EQ(readText(dir.file("a.icd")), readText(dir.file("b.icd")));
    EXPECT_STREQ(p.Document().document_element().child("IED").attribute("name").value(), "TWICE");
    EXPECT_EQ(p.Document().select_nodes("//DataSet").size(), 3u);
    EXPECT_EQ(p.Document().select_nodes("//AccessPoint").size(), 1u);
    EXPECT_EQ(readText(dir.file("a.icd")).rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SCL", 0), 0u);
    EXPECT_NE(readText(dir.file("a.icd")).find("\n\t<IED"), std::string::npos); // tab indentation
}

TEST_F(WriterTest, ReadWriteReadKeepsTheModel) {
    p.SetIEDName("ROUND");
    p.SetIPAddress(0, TextToIP("10.0.0.2"));
    p.SetIPAddress(1, TextToIP("10.0.1.2"));
    p.SetIPMask(1, TextToIP("255.255.255.0"));
    p.SetGateway(1, TextToIP("10.0.1.1"));
    p.AddressOpts = {"1.2.3", 5, 7, 8, 9};
    p.SetDataSet(
        3, dataSet("LLN0$DS4", {code("MMXN1", "Amp", "mag.f", "MX"), code("GGIO1", "Ind3", "stVal", "ST")}));
    p.SetDataSet(4, dataSet("MMXU1$Phasors", {code("MMXU1", "A.neut", "cVal.ang.f", "MX")}));
    for (int i = 0; i < p.RCBCount(); ++i) {
        TRCBConfig b = p.GetRCB(i);
        b.DataSetIndex = static_cast<uint8_t>(i % 4); // none, DS1, DS2, DS3
        b.RptID = "rpt" + std::to_string(i);
        b.ConfRev = 100 + i;
        b.BufTime = 10 * i;
        b.IntgPd = 1000 * i;
        b.TrgOps = static_cast<uint16_t>((i * 2) & 0x1E) | TrgGi;
        b.OptFields =
            static_cast<uint16_t>((0x12E >> (i % 3)) & ~1 & ~OptBufOvfl) | (b.Buffered ? OptBufOvfl : 0);
        p.SetRCB(i, b);
    }
    setRCBDataSet("urcb04", 4); // LLN0$DS4
    for (int i = 0; i < p.GCBCount(); ++i) {
        TGCBConfig g = p.GetGCB(i);
        g.GoID = "GO" + std::to_string(i);
        g.AppID = static_cast<uint16_t>(0x100 + i);
        g.DstMAC = 0x010CCD010100 + i;
        g.VLANID = 0xABC;
        g.VLANPriority = 5;
        p.SetGCB(i, g);
    }
    for (int i = 0; i < p.NICount(); ++i) {
        TNIConfig n = p.GetNI(i);
        n.Source = {"PUB" + std::to_string(i),
                    "",
                    "",
                    "L" + std::to_string(i),
                    "",
                    "GGIO",
                    std::to_string(i + 1),
                    "Ind1",
                    "stVal",
                    ""};
        p.SetNI(i, n);
    }
    p.SaveICD(dir.file("round.icd"));
    TICDParser back(dir.file("round.icd"), -1);

    EXPECT_EQ(back.IEDName(), "ROUND");
    for (int i = 0; i < Interfaces; ++i) {
        EXPECT_EQ(back.GetIPAddress(i), p.GetIPAddress(i));
        EXPECT_EQ(back.GetIPMask(i), p.GetIPMask(i));
        EXPECT_EQ(back.GetGateway(i), p.GetGateway(i));
    }
    EXPECT_EQ(back.AddressOpts, p.AddressOpts);
    EXPECT_EQ(back.FirstUserDataSet, p.FirstUserDataSet);
    for (int i = 0; i < DataSetSlots; ++i) {
        EXPECT_EQ(back.DataSetFullName(i), p.DataSetFullName(i)) << i;
        if (p.GetDataSet(i).Count) {
            EXPECT_EQ(back.GetDataSet(i), p.GetDataSet(i)) << i;
        }
    }
    ASSERT_EQ(back.RCBCount(), p.RCBCount());
    for (int i = 0; i < p.RCBCount(); ++i) {
        TRCBConfig want = p.GetRCB(i), got = back.GetRCB(i);
        if (want.DataSetIndex == 0) want.DataSetIndex = 1; // "no dataset" is written as DS1_Measurement
        want.DataSetRef = p.DataSetFullName(want.DataSetIndex - 1);
        EXPECT_EQ(got, want) << want.Name;
    }
    for (int i = 0; i < p.GCBCount(); ++i) EXPECT_EQ(back.GetGCB(i), p.GetGCB(i));
    for (int i = 0; i < p.NICount(); ++i) EXPECT_EQ(back.GetNI(i).Source, p.GetNI(i).Source) << i;
}

TEST_F(WriterTest, ValuesWithoutAnSCLFormAreRefusedBeforeWriting) {
    struct Case {
        std::function<void(TICDParser&)> change;
        const char* message;
    } cases[] = {
        {[](TICDParser& q) { q.SetIEDName(""); }, "The IED name \"\" cannot be saved"},
        {[](TICDParser& q) { q.SetIEDName("1st"); }, "The IED name \"1st\" cannot be saved"},
        {[](TICDParser& q) { q.SetIEDName("two words"); }, "cannot be saved"},
        {[](TICDParser& q) { q.SetIEDName("None"); }, "cannot be saved"},
        {[](TICDParser& q) { q.SetIEDName(std::string(65, 'a')); }, "cannot be saved"},
        {[](TICDParser& q) {
             TRCBConfig b = q.GetRCB(0);
             b.RptID = "caf\xC3\xA9";
             q.SetRCB(0, b);
         },
         "The report ID of brcb01 cannot be saved"},
        {[](TICDParser& q) {
             TGCBConfig g = q.GetGCB(1);
             g.GoID = "";
             q.SetGCB(1, g);
         },
         "The GOOSE ID of gcb2 cannot be saved"},
        {[](TICDParser& q) { q.SetDataSet(5, dataSet("LLN0$1st", {1})); },
         "The data set name \"1st\" cannot be saved"},
        {[](TICDParser& q) { q.SetDataSet(5, dataSet("LLN0$" + std::string(33, 'D'), {1})); },
         "cannot be saved"},
        {[](TICDParser& q) {
             TNIConfig n = q.GetNI(0);
             n.Source.LNClass = "xcbr";
             q.SetNI(0, n);
         },
         "The source of NI1 cannot be saved: \"xcbr\" is not a valid logical node class"},
        {[](TICDParser& q) {
             TNIConfig n = q.GetNI(3);
             n.Source.DOName = "Pos.stVal.x";
             q.SetNI(3, n);
         },
         "The source of NI4 cannot be saved"},
        {[](TICDParser& q) { q.Model = "bell\x07"; }, "The name plate model cannot be saved"},
        {[](TICDParser& q) { q.SerNum = "\xFF\xFE"; }, "The serial number cannot be saved"},
    };
    for (auto& c : cases) {
        TICDParser q(test::templatePath(), -1);
        c.change(q);
        std::string file = dir.file("refused.icd");
        try {
            q.SaveICD(file);
            ADD_FAILURE() << "saved: " << c.message;
        } catch (const SclError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
        EXPECT_FALSE(std::filesystem::exists(file));
        EXPECT_EQ(q.Document().select_nodes("//DataSet").size(), 3u);
    }
}

TEST_F(WriterTest, AFailedSaveLeavesTheFileAndTheParser) {
    std::filesystem::create_directories(dir.file("taken.icd"));
    EXPECT_THROW(p.SaveICD(dir.file("taken.icd")), SclError); // a folder of that name
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("taken.icd")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("taken.icd.part")));
    try {
        p.SaveICD(dir.file("no/such/folder/x.icd"));
        ADD_FAILURE() << "saved into a missing folder";
    } catch (const SclError& e) {
        EXPECT_NE(std::string(e.what()).find("Cannot write"), std::string::npos) << e.what();
    }
    // An existing file is replaced whole.
    std::string existing = dir.write("old.icd", "old contents");
    p.SaveICD(existing);
    EXPECT_NE(readText(existing).find("<SCL"), std::string::npos);
    EXPECT_EQ(p.Document().select_nodes("//AccessPoint").size(), 1u);
}

// ---- schema validity ---------------------------------------------------------------------------

// Every slot the model has filled to its limits: 29 user datasets of 30 members in several
// nodes, blocks on every kind of dataset reference, extreme numbers, XML-special texts.
void fillEverything(TICDParser& p) {
    p.SetIEDName("KT740_" + std::string(58, 'x'));
    for (int i = 0; i < Interfaces; ++i) {
        p.SetIPAddress(i, 0xFFFFFFFF);
        p.SetIPMask(i, 0);
        p.SetGateway(i, 0x7F000001);
    }
    p.TimeServerIP = 0xFFFFFFFF;
    p.AddressOpts = {"1.3.9999.4294967295.0", INT32_MIN, UINT32_MAX, 0xFFFF, 0xFFFF};
    p.Model = "Model <&>\"' \xC3\x84\xE2\x82\xAC";
    p.SwRev = "";
    p.SerNum = std::string(300, '9');

    AttributeTree tree = p.BuildAttributeTree("x");
    std::vector<uint32_t> codes;
    for (const AttributeNode& ln : tree.root.children[0].children)
        for (const AttributeNode& d : ln.children)
            for (const char* fc : {"MX", "ST"})
                if (p.HasFC(d.element, fc))
                    codes.push_back(p.EncodeMember("LD0", ln.caption, d.caption, "", fc).value());
    ASSERT_GT(codes.size(), 10u);
    const std::vector<std::string>& nodes = tree.devices.at(0).logicalNodes;
    for (int slot = p.FirstUserDataSet; slot < DataSetSlots; ++slot) {
        std::vector<uint32_t> members;
        for (int m = 0; m < MaxEditorMembers; ++m) members.push_back(codes[(slot + m) % codes.size()]);
        std::string name = slot == 31 ? "U" + std::string(31, 'z') : "U" + std::to_string(slot);
        p.SetDataSet(slot, dataSet(nodes[slot % nodes.size()] + "$" + name, members));
    }
    const int indexes[] = {0, 1, 3, 4, 5, 32, 33, 255};
    for (int i = 0; i < p.RCBCount(); ++i) {
        TRCBConfig b = p.GetRCB(i);
        b.DataSetIndex = static_cast<uint8_t>(indexes[i % 8]);
        b.RptID = i % 2 ? std::string(129, '~') : "<&>\"'";
        b.ConfRev = b.BufTime = b.IntgPd = UINT32_MAX;
        b.TrgOps = b.OptFields = 0xFFFF;
        p.SetRCB(i, b);
    }
    for (int i = 0; i < p.GCBCount(); ++i) {
        TGCBConfig g = p.GetGCB(i);
        g.GoID = std::string(128, 'g') + "&";
        g.AppID = 0xFFFF;
        g.DstMAC = UINT64_MAX;
        g.VLANPriority = 255;
        g.VLANID = 0xFFFF;
        g.Enabled = g.Test = true;
        g.Interface = 3;
        p.SetGCB(i, g);
    }
    for (int i = 0; i < p.NICount(); ++i) {
        TNIConfig n = p.GetNI(i);
        n.Source = {i % 2 ? "@" : "PUB_" + std::to_string(i),
                    "r1",
                    "r2",
                    "LD" + std::to_string(i),
                    i % 3 ? "Q0" : "",
                    "XCBR",
                    "12",
                    i % 2 ? "Pos" : "Pos.sub",
                    "stVal.x(3)",
                    "ref"};
        n.ConfRev = UINT32_MAX;
        p.SetNI(i, n);
    }
}

TEST(WriterSchema, TemplatesAndEverythingWrittenFromThemValidate) {
    KT_REQUIRE_SCHEMA_TOOLS();
    TempDir dir;
    for (const auto& entry : std::filesystem::directory_iterator(test::sourcePath("resources"))) {
        if (entry.path().extension() != ".icd") continue;
        std::string tmpl = entry.path().string();
        SCOPED_TRACE(tmpl);
        EXPECT_SCHEMA_VALID(tmpl);
        for (bool twoAPs : {true, false}) {
            TICDParser plain(tmpl, -1);
            plain.TwoAccessPoints = twoAPs;
            plain.SaveICD(dir.file("plain.icd"));
            EXPECT_SCHEMA_VALID(dir.file("plain.icd"));

            TICDParser full(tmpl, -1);
            fillEverything(full);
            full.TwoAccessPoints = twoAPs;
            full.SaveICD(dir.file("full.icd"));
            EXPECT_SCHEMA_VALID(dir.file("full.icd"));
            TICDParser back(dir.file("full.icd"), -1);
            EXPECT_EQ(back.DataSetFullName(31), full.DataSetFullName(31));
        }
    }
}

TEST(WriterSchema, OtherToolsFilesUsedAsTemplatesStayValid) {
    KT_REQUIRE_SCHEMA_TOOLS();
    TempDir dir;
    for (const char* name : {"walker.icd", "two_ieds.cid", "time_server.cid", "multi_ap.icd"}) {
        SCOPED_TRACE(name);
        TICDParser p(test::fixturePath(name), -1);
        p.ImportFile(test::fixturePath("two_ieds.cid"));
        p.Model = p.SwRev = p.SerNum = "x";
        p.SaveICD(dir.file("out.icd"));
        EXPECT_SCHEMA_VALID(dir.file("out.icd"));
    }
}

} // namespace
} // namespace kt
