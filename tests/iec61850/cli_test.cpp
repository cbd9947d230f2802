// ktmon740-cli scl-info and scl-import, run as the separate program scripts use.
#include "scl_test_util.h"

#include <gmock/gmock.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>

namespace kt {
namespace {

using test::TempDir;

struct CliRun {
    int exit = -1;
    std::string out, err;
};

// Run through the shared command runner, with a time bound.
CliRun cli(const TempDir&, const std::string& args) {
    std::vector<std::string> argv{std::string(KT_BIN_DIR) + "/ktmon740-cli"};
    for (std::string& w : test::shellWords(args)) argv.push_back(std::move(w));
    const test::CommandResult run = test::runCommand(argv, std::chrono::seconds(60));
    EXPECT_FALSE(run.timedOut) << args;
    return {run.exitCode, run.out, run.err};
}

std::string q(const std::string& path) {
    return "'" + path + "'";
}

QString s(const std::string& text) {
    return QString::fromStdString(text);
}

void expectDesc(const QJsonObject& j, const TExtRefDesc& d) {
    EXPECT_EQ(j["IEDName"].toString(), s(d.IEDName));
    EXPECT_EQ(j["Reserved1"].toString(), s(d.Reserved1));
    EXPECT_EQ(j["Reserved2"].toString(), s(d.Reserved2));
    EXPECT_EQ(j["LDInst"].toString(), s(d.LDInst));
    EXPECT_EQ(j["Prefix"].toString(), s(d.Prefix));
    EXPECT_EQ(j["LNClass"].toString(), s(d.LNClass));
    EXPECT_EQ(j["LNInst"].toString(), s(d.LNInst));
    EXPECT_EQ(j["DOName"].toString(), s(d.DOName));
    EXPECT_EQ(j["DAName"].toString(), s(d.DAName));
    EXPECT_EQ(j["GoCBRef"].toString(), s(d.GoCBRef));
}

// The JSON model must be the model the parser reads, field by field.
void expectSameModel(const QJsonObject& j, const TICDParser& p) {
    EXPECT_EQ(j["IEDName"].toString(), s(p.IEDName()));
    for (int i = 0; i < Interfaces; ++i) {
        EXPECT_EQ(j["IPAddress"].toArray()[i].toString(), s(IPToText(p.GetIPAddress(i))));
        EXPECT_EQ(j["IPMask"].toArray()[i].toString(), s(IPToText(p.GetIPMask(i))));
        EXPECT_EQ(j["Gateway"].toArray()[i].toString(), s(IPToText(p.GetGateway(i))));
    }
    EXPECT_EQ(j["TimeServerIP"].toString(), s(IPToText(p.TimeServerIP)));
    QJsonObject osi = j["AddressOpts"].toObject();
    EXPECT_EQ(osi["APTitle"].toString(), s(p.AddressOpts.APTitle));
    EXPECT_EQ(osi["AEQualifier"].toInteger(), p.AddressOpts.AEQualifier);
    EXPECT_EQ(osi["PSEL"].toInteger(), p.AddressOpts.PSEL);
    EXPECT_EQ(osi["SSEL"].toInteger(), p.AddressOpts.SSEL);
    EXPECT_EQ(osi["TSEL"].toInteger(), p.AddressOpts.TSEL);
    EXPECT_EQ(j["FirstUserDataSet"].toInteger(), p.FirstUserDataSet);
    EXPECT_EQ(j["TwoAccessPoints"].toBool(), p.TwoAccessPoints);

    QJsonArray sets = j["DataSets"].toArray();
    ASSERT_EQ(sets.size(), DataSetSlots);
    for (int i = 0; i < DataSetSlots; ++i) {
        QJsonObject d = sets[i].toObject();
        TDatasetConfig ds = p.GetDataSet(i);
        EXPECT_EQ(d["Fixed"].toBool(), ds.Fixed);
        EXPECT_EQ(d["Name"].toString(), s(ds.Name));
        EXPECT_EQ(d["LDIndex"].toInteger(), ds.LDIndex);
        EXPECT_EQ(d["Count"].toInteger(), ds.Count);
        EXPECT_EQ(d["FullName"].toString(), s(p.DataSetFullName(i)));
        QJsonArray members = d["Members"].toArray(), texts = d["MemberTexts"].toArray();
        ASSERT_EQ(members.size(), static_cast<qsizetype>(ds.Members.size()));
        for (size_t m = 0; m < ds.Members.size(); ++m) {
            EXPECT_EQ(members[m].toInteger(), ds.Members[m]);
            EXPECT_EQ(texts[m].toString(), s(p.MemberText(ds.Members[m])));
        }
    }
    QJsonArray rcbs = j["RCBs"].toArray();
    ASSERT_EQ(rcbs.size(), p.RCBCount());
    for (int i = 0; i < p.RCBCount(); ++i) {
        QJsonObject r = rcbs[i].toObject();
        TRCBConfig b = p.GetRCB(i);
        EXPECT_EQ(r["TrgOps"].toInteger(), b.TrgOps);
        EXPECT_EQ(r["OptFields"].toInteger(), b.OptFields);
        EXPECT_EQ(r["ConfRev"].toInteger(), b.ConfRev);
        EXPECT_EQ(r["BufTime"].toInteger(), b.BufTime);
        EXPECT_EQ(r["IntgPd"].toInteger(), b.IntgPd);
        EXPECT_EQ(r["DataSetIndex"].toInteger(), b.DataSetIndex);
        EXPECT_EQ(r["DataSetRef"].toString(), s(b.DataSetRef));
        EXPECT_EQ(r["Buffered"].toBool(), b.Buffered);
        EXPECT_EQ(r["RptID"].toString(), s(b.RptID));
        EXPECT_EQ(r["Name"].toString(), s(b.Name));
    }
    QJsonArray gcbs = j["GCBs"].toArray();
    ASSERT_EQ(gcbs.size(), p.GCBCount());
    for (int i = 0; i < p.GCBCount(); ++i) {
        QJsonObject g = gcbs[i].toObject();
        TGCBConfig b = p.GetGCB(i);
        EXPECT_EQ(g["Enabled"].toBool(), b.Enabled);
        EXPECT_EQ(g["Test"].toBool(), b.Test);
        EXPECT_EQ(g["Interface"].toInteger(), b.Interface);
        EXPECT_EQ(g["AppID"].toInteger(), b.AppID);
        EXPECT_EQ(g["DstMAC"].toString(), s(MACToText(b.DstMAC)));
        EXPECT_EQ(g["VLANPriority"].toInteger(), b.VLANPriority);
        EXPECT_EQ(g["VLANID"].toInteger(), b.VLANID);
        EXPECT_EQ(g["GoID"].toString(), s(b.GoID));
        EXPECT_EQ(g["Name"].toString(), s(b.Name));
    }
    QJsonArray nis = j["NIs"].toArray();
    ASSERT_EQ(nis.size(), p.NICount());
    for (int i = 0; i < p.NICount(); ++i) {
        QJsonObject n = nis[i].toObject();
        TNIConfig b = p.GetNI(i);
        EXPECT_EQ(n["Enabled"].toBool(), b.Enabled);
        EXPECT_EQ(n["Inverted"].toBool(), b.Inverted);
        EXPECT_EQ(n["AppID"].toInteger(), b.AppID);
        EXPECT_EQ(n["DstMAC"].toString(), s(MACToText(b.DstMAC)));
        EXPECT_EQ(n["ConfRev"].toInteger(), b.ConfRev);
        EXPECT_EQ(n["DataIndex"].toInteger(), b.DataIndex);
        EXPECT_EQ(n["BitIndex"].toInteger(), b.BitIndex);
        EXPECT_EQ(n["GoID"].toString(), s(b.GoID));
        EXPECT_EQ(n["Name"].toString(), s(b.Name));
        expectDesc(n["Source"].toObject(), b.Source);
    }
    QJsonArray exts = j["ExtRefs"].toArray();
    ASSERT_EQ(exts.size(), p.ExtRefCount());
    for (int i = 0; i < p.ExtRefCount(); ++i) {
        QJsonObject e = exts[i].toObject();
        TExtRefConfig x = p.GetExtRef(i);
        expectDesc(e["Desc"].toObject(), x.Desc);
        QJsonObject a = e["Addr"].toObject();
        EXPECT_EQ(a["AppID"].toInteger(), x.Addr.AppID);
        EXPECT_EQ(a["DstMAC"].toString(), s(MACToText(x.Addr.DstMAC)));
        EXPECT_EQ(a["ConfRev"].toInteger(), x.Addr.ConfRev);
        EXPECT_EQ(a["DataIndex"].toInteger(), x.Addr.DataIndex);
        EXPECT_EQ(a["GoID"].toString(), s(x.Addr.GoID));
    }
}

QJsonObject parse(const CliRun& r) {
    QJsonParseError error;
    QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(r.out), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString() << "\n" << r.out;
    return doc.object();
}

// Chooses the IED named `name`, like --ied.
struct ByName : OperatorPrompts {
    std::string name;
    std::optional<size_t> chooseEntry(std::string_view caption,
                                      const std::vector<std::string>& entries) override {
        if (caption != IEDSelectionCaption) return 0;
        for (size_t i = 0; i < entries.size(); ++i)
            if (entries[i].substr(0, entries[i].find(' ')) == name) return i;
        return std::nullopt;
    }
    bool confirm(std::string_view) override { return false; }
};

TEST(SclInfo, JsonIsTheModelOfEveryTemplateAndForeignFile) {
    TempDir dir;
    std::vector<std::pair<std::string, std::string>> files; // file, --ied
    for (const auto& entry : std::filesystem::directory_iterator(test::sourcePath("resources")))
        if (entry.path().extension() == ".icd") files.emplace_back(entry.path().string(), "");
    for (const char* f : {"walker.icd", "two_ieds.cid", "time_server.cid", "multi_ap.icd"})
        files.emplace_back(test::fixturePath(f), "");
    files.emplace_back(test::fixturePath("two_ieds.cid"), "NGR_MON");
    for (const auto& [file, ied] : files) {
        SCOPED_TRACE(file + " " + ied);
        CliRun r = cli(dir, "scl-info " + q(file) + " --json" + (ied.empty() ? "" : " --ied " + ied));
        ASSERT_EQ(r.exit, 0) << r.err;
        ByName choice;
        choice.name = ied;
        TICDParser p(file, -1, ied.empty() ? nullptr : &choice);
        expectSameModel(parse(r), p);
    }
}

TEST(SclInfo, ForeignFilesGiveTheirModel) {
    TempDir dir;
    QJsonObject ts = parse(cli(dir, "scl-info " + q(test::fixturePath("time_server.cid")) + " --json"));
    EXPECT_EQ(ts["IEDName"].toString(), "KTA1");
    EXPECT_EQ(ts["TimeServerIP"].toString(), "10.1.1.5"); // of two clocks, the first offered
    EXPECT_EQ(ts["IPAddress"].toArray()[1].toString(), "10.2.2.20");
    EXPECT_EQ(ts["AddressOpts"].toObject()["AEQualifier"].toInteger(), 12);
    EXPECT_EQ(ts["FirstUserDataSet"].toInteger(), 2);

    QJsonObject two =
        parse(cli(dir, "scl-info " + q(test::fixturePath("two_ieds.cid")) + " --json --ied NGR_MON"));
    EXPECT_EQ(two["ExtRefs"].toArray().size(), 2);
    EXPECT_EQ(two["NIs"].toArray()[0].toObject()["Source"].toObject()["IEDName"].toString(), "FDR_01");
    EXPECT_EQ(two["DataSets"].toArray()[1].toObject()["MemberTexts"].toArray()[0].toString(),
              "LD0/PTRC1.Tr.general (ST)");

    QJsonObject ap = parse(cli(dir, "scl-info " + q(test::fixturePath("multi_ap.icd")) + " --json"));
    EXPECT_EQ(ap["IPAddress"].toArray()[1].toString(), "172.17.0.10");
    EXPECT_EQ(ap["RCBs"].toArray()[0].toObject()["OptFields"].toInteger(), 0x1E8);

    CliRun text = cli(dir, "scl-info " + q(test::templatePath()));
    EXPECT_EQ(text.exit, 0);
    EXPECT_NE(text.out.find("LD0/MMXU1.A.neut.cVal.mag.f (MX)"), std::string::npos);
    EXPECT_NE(text.out.find("brcb01 buffered"), std::string::npos);
}

// The station file's measurement dataset as the file names its members.
const std::vector<std::string> stationMeasurements = {"LD0/MMXU1.A.neut.cVal.mag.f (MX)",
                                                      "LD0/MMXU1.A.neut.cVal.ang.f (MX)",
                                                      "LD0/MMXU1.A.neut.q (MX)",
                                                      "LD0/MMXU1.A.neut.t (MX)",
                                                      "LD0/MMXU1.PhV.neut.cVal.mag.f (MX)",
                                                      "LD0/MMXU1.PhV.neut.cVal.ang.f (MX)",
                                                      "LD0/MMXU1.PhV.neut.q (MX)",
                                                      "LD0/MMXN1.Amp.mag.f (MX)",
                                                      "LD0/MMXN1.Amp.q (MX)",
                                                      "LD0/MMXN1.Amp.t (MX)",
                                                      "LD0/MMXN1.Vol.mag.f (MX)",
                                                      "LD0/MMXN1.Vol.q (MX)",
                                                      "LD0/MMXN1.Vol.t (MX)",
                                                      "LD0/GGIO1.AnIn1.mag.f (MX)",
                                                      "LD0/GGIO1.AnIn1.q (MX)",
                                                      "LD0/GGIO1.AnIn2.mag.f (MX)",
                                                      "LD0/GGIO1.AnIn2.q (MX)"};

std::vector<std::string> texts(const QJsonArray& a) {
    std::vector<std::string> out;
    for (const auto& v : a) out.push_back(v.toString().toStdString());
    return out;
}

TEST(SclInfo, WhatTheModelCannotHoldIsLeftOutAndSaid) {
    TempDir dir;
    const std::string station = q(test::fixturePath("foreign_station.scd"));
    CliRun r = cli(dir, "scl-info " + station + " --ied NGR1 --json");
    ASSERT_EQ(r.exit, 0) << r.err;
    QJsonObject j = parse(r);

    QJsonArray sets = j["DataSets"].toArray();
    std::vector<std::string> meas = stationMeasurements;
    meas.push_back("LD0/MMXU1.A.phsA.cVal.mag.f (MX)"); // in the file's own model
    EXPECT_EQ(texts(sets[0].toObject()["MemberTexts"].toArray()), meas);
    QJsonObject odd = sets[1].toObject();
    EXPECT_EQ(texts(odd["MemberTexts"].toArray()), (std::vector<std::string>{"LD0/LLN0.Beh.stVal (ST)"}));
    QJsonArray leftOut = odd["LeftOutMembers"].toArray();
    std::vector<std::string> refs;
    for (const auto& l : leftOut) refs.push_back(l.toObject()["Reference"].toString().toStdString());
    EXPECT_EQ(refs, (std::vector<std::string>{"NGR1LD0/MMXN1.Amp.mag.f (MX)", // ldInst with the IED name
                                              "LD0/MMXU1.HA.phsAHar(7).cVal.mag.f (MX)", // an array index
                                              "LD0/LLN01.Beh.stVal (ST)", // LLN0 with an lnInst
                                              "LD0/GGIO1.Alm.stVal (ST)",
                                              "LD0/GGIO1.Alm.sub (ST)"})); // one code for two
    EXPECT_EQ(leftOut[0].toObject()["Position"].toInt(), 1);
    EXPECT_EQ(leftOut[0].toObject()["Reason"].toString(), "there is no logical device \"NGR1LD0\"");

    QJsonObject osi = j["AddressOpts"].toObject();
    EXPECT_EQ(osi["PSEL"].toInteger(), 1);         // "00 00 00 01"
    EXPECT_EQ(osi["TSEL"].toInteger(), 1);         // "00 01"
    EXPECT_EQ(osi["SSEL"].toInteger(), 0);         // "ZZZZ"
    EXPECT_EQ(osi["AEQualifier"].toInteger(), 12); // twenty digits
    EXPECT_EQ(j["IPAddress"].toArray()[0].toString(), "0.0.0.0");
    EXPECT_EQ(j["IPMask"].toArray()[0].toString(), "0.0.0.0");
    EXPECT_EQ(j["Gateway"].toArray()[0].toString(), "10.0.0.1");

    std::vector<std::string> warnings = texts(j["Warnings"].toArray());
    for (const char* expected : {
             "The OSI-AE-Qualifier \"12345678901234567890\" is not a whole number that fits 32 bits; it "
             "stays 12",
             "The OSI-SSEL \"ZZZZ\" is not a hexadecimal number of at most 4 digits; it stays 0000",
             "The IP address \"999.1.2.3.4\" of interface 1 (SubNetwork \"W1\") is not an IPv4 address; it "
             "stays "
             "0.0.0.0",
             "The subnet mask \"-1\" of interface 1 (SubNetwork \"W1\") is not an IPv4 address; it stays "
             "0.0.0.0",
             "Data set LD0/LLN0$DS5_Odd: member 4, LD0/GGIO1.Alm.stVal (ST), is not in this data model "
             "(stVal "
             "shares its code with the sub-object at the same position in Alm); it is left out",
             "The GOOSE address of gcb1 is in SubNetwork \"W2\", and only the first SubNetwork's GOOSE "
             "addresses "
             "are read; its APPID, MAC address and VLAN stay 0",
             "The file holds 2 IEDs; NGR1 is read, and FDR1 is not (only their GOOSE messages are offered as "
             "sources of network inputs)",
             "Logical device LOOSE stands directly in access point P2, outside a Server; it is left out",
             "Report control block alarms in LD0/GGIO1 is left out: only report control blocks of LLN0 are "
             "read",
         })
        EXPECT_THAT(warnings, ::testing::Contains(expected));
    EXPECT_EQ(warnings.size(), 13u) << ::testing::PrintToString(warnings);

    // The summary lists the left-out members under their dataset and the warnings at the end.
    CliRun text = cli(dir, "scl-info " + station + " --ied NGR1");
    EXPECT_THAT(text.out,
                ::testing::HasSubstr("member 3 (not in this data model): LD0/LLN01.Beh.stVal (ST)"));
    EXPECT_THAT(text.out, ::testing::HasSubstr("Left out or not read as written (13):"));
    // The template itself has nothing to say.
    EXPECT_TRUE(
        parse(cli(dir, "scl-info " + q(test::templatePath()) + " --json"))["Warnings"].toArray().isEmpty());
}

TEST(SclInfo, FailuresAndUsage) {
    TempDir dir;
    CliRun unknown = cli(dir, "scl-info " + q(test::fixturePath("two_ieds.cid")) + " --ied NOPE");
    EXPECT_EQ(unknown.exit, 1);
    EXPECT_NE(unknown.err.find("no IED named NOPE"), std::string::npos) << unknown.err;
    EXPECT_NE(unknown.err.find("FDR_01, NGR_MON"), std::string::npos) << unknown.err;
    EXPECT_EQ(std::count(unknown.err.begin(), unknown.err.end(), '\n'), 1);

    CliRun broken = cli(dir, "scl-info " + q(dir.write("broken.icd", "<SCL><IED")));
    EXPECT_EQ(broken.exit, 1);
    EXPECT_NE(broken.err.find("not well-formed"), std::string::npos) << broken.err;
    EXPECT_EQ(broken.out, "");

    EXPECT_EQ(cli(dir, "scl-info").exit, 2);
    EXPECT_EQ(cli(dir, "scl-info a b").exit, 2);
    EXPECT_EQ(cli(dir, "scl-info x --bogus").exit, 2);
    EXPECT_EQ(cli(dir, "scl-import a b").exit, 2);
}

TEST(SclImport, MergedFileValidatesAndReadsBack) {
    TempDir dir;
    std::string out = dir.file("merged.icd");
    CliRun r = cli(dir, "scl-import " + q(test::templatePath()) + " " + q(test::fixturePath("two_ieds.cid")) +
                            " " + q(out) + " --ied NGR_MON --swrev 207");
    ASSERT_EQ(r.exit, 0) << r.err;
    TICDParser back(out, -1);
    EXPECT_EQ(back.IEDName(), "NGR_MON");
    EXPECT_EQ(back.DataSetFullName(0), "LD0/LLN0$DS1_Measurement");
    EXPECT_EQ(back.GetDataSet(0).Count, 8); // the template's fixed dataset, not the file's
    EXPECT_EQ(back.DataSetFullName(3), "LD0/LLN0$DS4_Trip");
    EXPECT_EQ(back.DataSetFullName(4), "LD0/LLN0$DS5_Meas");
    EXPECT_EQ(back.DataSetFullName(5), "LD0/MMXN1$Local");
    EXPECT_EQ(back.MemberText(back.GetDataSet(4).Members[1]), "LD0/MMXN1.Vol.mag.f (MX)");
    EXPECT_EQ(back.GetRCB(0).DataSetIndex, 4);
    EXPECT_EQ(back.GetIPAddress(0), TextToIP("10.0.0.20"));
    EXPECT_EQ(back.PhyNamValue("swRev"), "207");
    EXPECT_EQ(back.PhyNamValue("model"), "KT-740"); // kept from the template

    CliRun oneAP =
        cli(dir, "scl-import " + q(test::templatePath()) + " " + q(test::fixturePath("time_server.cid")) +
                     " " + q(dir.file("one.icd")) + " --one-ap");
    ASSERT_EQ(oneAP.exit, 0) << oneAP.err;
    TICDParser ts(dir.file("one.icd"), -1);
    EXPECT_EQ(ts.IEDName(), "KTA1");
    EXPECT_EQ(ts.DataSetFullName(3), "LD0/LLN0$DS4");
    EXPECT_EQ(ts.Document().select_nodes("//AccessPoint").size(), 1u);

    std::string why;
    if (test::schemaToolsPresent(&why)) {
        EXPECT_SCHEMA_VALID(out);
        EXPECT_SCHEMA_VALID(dir.file("one.icd"));
    }

    CliRun missing = cli(dir, "scl-import " + q(test::templatePath()) + " " + q(dir.file("nope.cid")) + " " +
                                  q(dir.file("never.icd")));
    EXPECT_EQ(missing.exit, 1);
    EXPECT_FALSE(std::filesystem::exists(dir.file("never.icd")));
    CliRun empty = cli(dir, "scl-import " + q(test::templatePath()) + " " +
                                q(dir.write("empty.cid", test::scl("<Communication/>"))) + " " +
                                q(dir.file("never.icd")));
    EXPECT_EQ(empty.exit, 1);
    EXPECT_NE(empty.err.find("holds no IED to import"), std::string::npos) << empty.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("never.icd")));
}

TEST(SclImport, AForeignDataSetArrivesByItsMembersReferences) {
    // The file counts its nodes and types differently from the template (MMXU1 first, other
    // type layouts): by code its seventeen measurements would name other objects of the
    // template; by reference each arrives as itself, and what the template lacks is listed.
    TempDir dir;
    std::string out = dir.file("merged.icd");
    CliRun r = cli(dir, "scl-import " + q(test::templatePath()) + " " +
                            q(test::fixturePath("foreign_station.scd")) + " " + q(out) + " --ied NGR1");
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_THAT(
        r.err,
        ::testing::HasSubstr(
            "warning: Data set LD0/LLN0$DS4_Meas: member 18, LD0/MMXU1.A.phsA.cVal.mag.f (MX), is not "
            "in the template's data model (A has no sub-object \"phsA\" holding FC MX); it is left out"));
    EXPECT_THAT(r.err, ::testing::HasSubstr(
                           "member 4, LD0/GGIO1.Alm.stVal (ST), is not in the template's data model"));
    EXPECT_THAT(r.err,
                ::testing::Not(::testing::HasSubstr("is not in this data model"))); // the file's own model

    TICDParser back(out, -1);
    int slot = back.FindDataSet("LD0/LLN0$DS4_Meas");
    ASSERT_GE(slot, 3);
    std::vector<std::string> arrived;
    for (uint32_t code : back.GetDataSet(slot).Members) arrived.push_back(back.MemberText(code));
    EXPECT_EQ(arrived, stationMeasurements);
    EXPECT_EQ(back.GetRCB(0).DataSetIndex, slot + 1);
    int odd = back.FindDataSet("LD0/LLN0$DS5_Odd");
    ASSERT_GE(odd, 3);
    EXPECT_EQ(back.GetDataSet(odd).Count, 1);
    std::string why;
    if (test::schemaToolsPresent(&why)) EXPECT_SCHEMA_VALID(out);
}

} // namespace
} // namespace kt
