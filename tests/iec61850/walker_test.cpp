// Member codes, FC lists, logical-node references and the attribute tree.
#include "scl_test_util.h"

#include <gmock/gmock.h>

#include <functional>
#include <set>

namespace kt {
namespace {

using test::TempDir;

constexpr const char* AllFCs[] = {"MX", "ST", "CO", "CF", "DC", "SP", "SG", "RP", "LG", "BR",
                                  "GO", "GS", "SV", "SE", "MS", "SC", "US", "EX", "BL", "OR"};

class WalkerTest : public ::testing::Test {
protected:
    TICDParser w{test::fixturePath("walker.icd"), -1};

    pugi::xml_node lnodeType(const char* id) const { return w.FindType(id, "LNodeType"); }
};

TEST_F(WalkerTest, EncodesReferencesAsTheUnitCountsThem) {
    struct Case {
        MemberRef ref;
        std::optional<uint32_t> code;
        MemberProblem problem = MemberProblem::None;
    } cases[] = {
        // LN 1, FC MX first, DO 0, mag then f: p<<3 | q<<14 | k1<<20 | k2<<23
        {{"LDA", "MMXU1", "TotW", "mag.f", "MX"}, 1u << 3 | 0u << 14 | 1u << 20 | 1u << 23},
        // sub-object phsB is the second MX sub-object; four elements fill E1..E4
        {{"LDA", "XYZMMXU12", "PhV.phsB", "cVal.mag.f", "MX"},
         2u << 3 | 1u << 14 | 2u << 20 | 1u << 23 | 1u << 26 | 1u << 29},
        // ST counts after every MX entry of the type (21 of them)
        {{"LDA", "MMXU1", "Beh", "stVal", "ST"}, 1u << 3 | 21u << 9 | 1u << 20},
        // the FCs outside the table (BL, OR, OR) come first, then MX twice: ST is at 5
        {{"LDA", "GGIO1", "Ind1", "stVal", "ST"}, 3u << 3 | 5u << 9 | 2u << 14 | 1u << 20},
        // second device, data object level only
        {{"LDB", "XCBR1", "Pos", "", "ST"}, 1u | 1u << 3 | 1u << 14},
        // LN0 is found by LLN0 alone
        {{"LDA", "LLN0", "Mod", "stVal", "ST"}, 1u << 20},
        // the unit's datasets hold measurands and status only: no code for other FCs
        {{"LDA", "LLN0", "Mod", "ctlModel", "CF"}, std::nullopt, MemberProblem::NotUnitFC},
        {{"LDA", "GGIO1", "Odd", "z", "OR"}, std::nullopt, MemberProblem::NotUnitFC},
        // things that are not there
        {{"LDA", "MMXU1", "Nope", "", "MX"}, std::nullopt, MemberProblem::NoDataObject},
        {{"LDC", "MMXU1", "TotW", "", "MX"}, std::nullopt, MemberProblem::NoLogicalDevice},
        {{"LDA", "MMXU2", "TotW", "", "MX"}, std::nullopt, MemberProblem::NoLogicalNode},
        {{"LDA", "MMXU1", "TotW", "mag.g", "MX"}, std::nullopt, MemberProblem::NoAttribute},
        {{"LDA", "MMXU1", "TotW", "units", "MX"}, std::nullopt, MemberProblem::NoAttribute}, // units is CF
        {{"LDA", "LLN0.", "Mod", "", "ST"}, std::nullopt, MemberProblem::NoLogicalNode},
        {{"LDA", "MMXU1", "PhV.phsC", "", "MX"}, std::nullopt, MemberProblem::NoDataObject},
        {{"LDA", "GGIO1", "SetOnly", "", "ST"}, std::nullopt, MemberProblem::NoDataObject},
        // what other tools write and this model cannot resolve
        {{"W1LDA", "MMXU1", "TotW", "mag.f", "MX"}, std::nullopt, MemberProblem::NoLogicalDevice},
        {{"LDA", "LLN01", "Mod", "stVal", "ST"}, std::nullopt, MemberProblem::NoLogicalNode},
        {{"LDA", "MMXU1", "PhV(7)", "", "MX"}, std::nullopt, MemberProblem::NoDataObject},
    };
    for (const Case& c : cases) {
        const std::string what = MemberRefText(c.ref);
        for (bool indexed : {true, false}) {
            w.SetTypeIndexEnabled(indexed);
            MemberEncoding e = w.EncodeMemberChecked(c.ref);
            EXPECT_EQ(e.code, c.code) << what << (indexed ? "" : " (plain walk)");
            EXPECT_EQ(e.problem, c.problem) << what << ": " << e.reason;
            EXPECT_EQ(e.reason.empty(), c.code.has_value()) << what << ": " << e.reason;
        }
        w.SetTypeIndexEnabled(true);
    }
}

TEST_F(WalkerTest, CodesReadBackOnlyAsTheReferenceTheyCameFrom) {
    for (const MemberRef& ref :
         {MemberRef{"LDA", "MMXU1", "TotW", "mag.f", "MX"},
          MemberRef{"LDA", "XYZMMXU12", "PhV.phsB", "cVal.mag.f", "MX"},
          MemberRef{"LDB", "XCBR1", "Pos", "", "ST"}, MemberRef{"LDA", "LLN0", "Mod", "q", "ST"}}) {
        auto code = w.EncodeMember(ref);
        ASSERT_TRUE(code) << MemberRefText(ref);
        auto back = w.DecodeMember(*code);
        ASSERT_TRUE(back) << ref.doName;
        EXPECT_EQ(*back, ref);
        EXPECT_EQ(w.MemberText(*code), MemberRefText(ref));
    }
    EXPECT_EQ(w.MemberText(*w.EncodeMember({"LDA", "XYZMMXU12", "PhV.phsB", "cVal.mag.f", "MX"})),
              "LDA/XYZMMXU12.PhV.phsB.cVal.mag.f (MX)");
    for (uint32_t code : {
             uint32_t(6u << 9 | 1u << 20),                      // LLN0's FC index 6 is CF
             uint32_t(3u << 3 | 1u << 9 | 2u << 20),            // GGIO1's FC index 1 is OR
             uint32_t(5),                                       // no sixth device
             uint32_t(40u << 3),                                // no node 40
             uint32_t(1u << 3 | 31u << 9),                      // FC index past the list
             uint32_t(1u << 3 | 60u << 14),                     // no data object 60
             uint32_t(1u << 3 | 7u << 20),                      // no element 7
             uint32_t(1u << 3 | 1u << 14 | 1u << 23),           // E2 without E1: the bits of E2 would be lost
             uint32_t(1u << 3 | 1u << 9 | 1u << 14),            // MX at index 1 is MX again: not TotW's code
             uint32_t(3u << 3 | 3u << 9 | 1u << 20 | 8u << 23), // b8 spilled into E3: reads as Big.mag
         }) {
        EXPECT_FALSE(w.DecodeMember(code)) << std::hex << code;
        EXPECT_EQ(w.MemberText(code), "") << std::hex << code;
    }
}

TEST_F(WalkerTest, APositionTooLargeForItsFieldIsNotInTheModel) {
    // b7 is the seventh attribute and fits; b8 would need an eighth position in E2's three bits.
    EXPECT_EQ(w.MemberText(*w.EncodeMember({"LDA", "GGIO1", "Big", "mag.b7", "MX"})),
              "LDA/GGIO1.Big.mag.b7 (MX)");
    MemberEncoding b8 = w.EncodeMemberChecked({"LDA", "GGIO1", "Big", "mag.b8", "MX"});
    EXPECT_FALSE(b8.code);
    EXPECT_EQ(b8.problem, MemberProblem::DoesNotFit);
    EXPECT_THAT(b8.reason, ::testing::HasSubstr("b8 is element 8"));
}

TEST(WalkerLimits, MoreThan64NodesOrFourElementsHaveNoCode) {
    std::string lns;
    for (int i = 1; i <= 70; ++i)
        lns += "<LN lnClass=\"GGIO\" inst=\"" + std::to_string(i) + "\" lnType=\"G\"/>";
    TempDir dir;
    TICDParser p(
        dir.write("many.icd", test::scl(R"(<IED name="M"><AccessPoint name="A"><Server><LDevice inst="L">
        <LN0 lnClass="LLN0" inst="" lnType="G"/>)" +
                                        lns + R"(</LDevice></Server></AccessPoint></IED>
        <DataTypeTemplates><LNodeType id="G" lnClass="GGIO"><DO name="Ind" type="S"/><DO name="Dp" type="O1"/></LNodeType>
        <DOType id="S" cdc="SPS"><DA name="stVal" fc="ST" bType="BOOLEAN"/><DA name="q" fc="ST" bType="Quality"/></DOType>
        <DOType id="O1" cdc="X"><SDO name="a" type="O2"/></DOType>
        <DOType id="O2" cdc="X"><SDO name="b" type="O3"/></DOType>
        <DOType id="O3" cdc="X"><DA name="c" fc="MX" bType="Struct" type="V1"/></DOType>
        <DAType id="V1"><BDA name="d" bType="Struct" type="V2"/></DAType>
        <DAType id="V2"><BDA name="e" bType="FLOAT32"/></DAType></DataTypeTemplates>)")),
        -1);
    EXPECT_EQ(p.MemberText(*p.EncodeMember("L", "GGIO63", "Ind", "stVal", "ST")), "L/GGIO63.Ind.stVal (ST)");
    for (const char* node : {"GGIO64", "GGIO65", "GGIO70"}) {
        MemberEncoding e = p.EncodeMemberChecked({"L", node, "Ind", "stVal", "ST"});
        EXPECT_FALSE(e.code) << node;
        EXPECT_EQ(e.problem, MemberProblem::DoesNotFit) << node;
    }
    // Spilled into the FC field, GGIO65's position would have named GGIO1 instead.
    EXPECT_EQ(p.MemberText(65u << 3 | 1u << 20), "L/GGIO1.Ind.stVal (ST)");

    uint32_t four = *p.EncodeMember("L", "LLN0", "Dp.a.b", "c.d", "MX");
    EXPECT_EQ(p.MemberText(four), "L/LLN0.Dp.a.b.c.d (MX)");
    MemberEncoding five = p.EncodeMemberChecked({"L", "LLN0", "Dp.a.b", "c.d.e", "MX"});
    EXPECT_FALSE(five.code);
    EXPECT_EQ(five.problem, MemberProblem::TooDeep);
}

TEST(WalkerLimits, TwoReferencesWithOneCodeHaveNone) {
    // The unit counts a type's sub-objects and attributes in one sequence: the first sub-object
    // (sub) and the first ST attribute (stVal) of type O both give element 1.
    TempDir dir;
    TICDParser p(
        dir.write("shared.icd", test::scl(R"(<IED name="M"><AccessPoint name="A"><Server><LDevice inst="L">
        <LN0 lnClass="LLN0" inst="" lnType="N"/></LDevice></Server></AccessPoint></IED>
        <DataTypeTemplates><LNodeType id="N" lnClass="LLN0"><DO name="X" type="O"/></LNodeType>
        <DOType id="O" cdc="X"><DA name="stVal" fc="ST" bType="BOOLEAN"/><SDO name="sub" type="S"/>
          <DA name="ctlModel" fc="CF" bType="Enum" type="E"/><DA name="cfg" fc="CF" bType="INT32"/></DOType>
        <DOType id="S" cdc="SPS"><DA name="stVal" fc="ST" bType="BOOLEAN"/></DOType>
        <EnumType id="E"><EnumVal ord="0">status-only</EnumVal></EnumType></DataTypeTemplates>)")),
        -1);
    for (const MemberRef& ref :
         {MemberRef{"L", "LLN0", "X", "stVal", "ST"}, MemberRef{"L", "LLN0", "X.sub", "", "ST"},
          MemberRef{"L", "LLN0", "X.sub", "stVal", "ST"}}) {
        MemberEncoding e = p.EncodeMemberChecked(ref);
        EXPECT_FALSE(e.code) << MemberRefText(ref);
        EXPECT_EQ(e.problem, MemberProblem::SharedCode) << MemberRefText(ref) << ": " << e.reason;
    }
    EXPECT_FALSE(p.DecodeMember(1u << 20)); // the code both would have
    // The data object as a whole is one reference with a code of its own.
    EXPECT_EQ(p.MemberText(*p.EncodeMember("L", "LLN0", "X", "", "ST")), "L/LLN0.X (ST)");
}

TEST_F(WalkerTest, FCListsKeepRepetitionsAndSortByTheUnitsOrder) {
    pugi::xml_node mmxu = lnodeType("T_MMXU");
    pugi::xml_node phv = mmxu.find_child_by_attribute("DO", "name", "PhV");
    std::vector<std::string> list(9, "MX"); // three sub-objects of three MX attributes
    list.push_back("DC");                   // and the WYE's own description
    EXPECT_EQ(w.FCListOf(phv), list);
    EXPECT_TRUE(w.HasFC(phv, "MX"));
    EXPECT_TRUE(w.HasFC(phv, "DC"));
    EXPECT_FALSE(w.HasFC(phv, "ST"));
    EXPECT_EQ(w.FCIndex(mmxu, "MX"), 0u);
    EXPECT_EQ(w.FCIndex(mmxu, "ST"), 21u);
    EXPECT_EQ(w.FCIndex(mmxu, "CF"), 24u);
    EXPECT_FALSE(w.FCIndex(mmxu, "SP"));
    EXPECT_EQ(w.FCByIndex(mmxu, 20), "MX");
    EXPECT_EQ(w.FCByIndex(mmxu, 21), "ST");
    EXPECT_EQ(w.FCByIndex(mmxu, 26), "DC");
    EXPECT_FALSE(w.FCByIndex(mmxu, 27));

    pugi::xml_node ggio = lnodeType("T_GGIO");
    std::vector<std::string> order;
    for (size_t i = 0; auto fc = w.FCByIndex(ggio, i); ++i) order.push_back(*fc);
    EXPECT_EQ(order, (std::vector<std::string>{"BL", "OR", "OR", "MX", "MX", "ST", "ST", "ST", "ST", "ST",
                                               "ST", "ST", "ST", "CF", "SP"}));
    EXPECT_FALSE(w.FindType("T_MMXU", "DOType"));
    EXPECT_FALSE(w.FindType("nope", "LNodeType"));
}

// The index must answer exactly as the plain walk over the DOM does.
void expectIndexMatchesPlainWalk(TICDParser& p) {
    pugi::xml_node templates = p.Document().document_element().child("DataTypeTemplates");
    for (pugi::xml_node t : templates.children()) {
        for (pugi::xml_node e : t.children()) {
            std::string what = std::string(t.attribute("id").value()) + "/" + e.attribute("name").value();
            if (std::string_view(t.name()) == "LNodeType" || std::string_view(e.name()) == "SDO") {
                for (const char* fc : AllFCs) {
                    p.SetTypeIndexEnabled(true);
                    bool indexed = p.HasFC(e, fc);
                    p.SetTypeIndexEnabled(false);
                    EXPECT_EQ(indexed, p.HasFC(e, fc)) << what << " " << fc;
                }
            }
        }
        if (std::string_view(t.name()) != "LNodeType") continue;
        for (const char* fc : AllFCs) {
            p.SetTypeIndexEnabled(true);
            auto indexed = p.FCIndex(t, fc);
            p.SetTypeIndexEnabled(false);
            EXPECT_EQ(indexed, p.FCIndex(t, fc)) << t.attribute("id").value() << " " << fc;
        }
        for (size_t i = 0; i < 80; ++i) {
            p.SetTypeIndexEnabled(true);
            auto indexed = p.FCByIndex(t, i);
            p.SetTypeIndexEnabled(false);
            EXPECT_EQ(indexed, p.FCByIndex(t, i)) << t.attribute("id").value() << " " << i;
        }
    }
    p.SetTypeIndexEnabled(true);
}

// Every attribute below a DA of FC MX or ST, and every data object holding one, as references.
std::vector<MemberRef> memberCandidates(const TICDParser& p) {
    std::vector<MemberRef> refs;
    AttributeTree tree = p.BuildAttributeTree("IED");
    std::function<void(const AttributeNode&, MemberRef)> visit = [&](const AttributeNode& n, MemberRef ref) {
        std::string name = n.element.attribute("name").value();
        switch (n.kind) {
        case AttributeKind::DataObject:
        case AttributeKind::SubDataObject:
            ref.doName += (ref.doName.empty() ? "" : ".") + name;
            for (const char* fc : {"MX", "ST"}) {
                if (!p.HasFC(n.element, fc)) continue;
                MemberRef whole = ref;
                whole.fc = fc;
                refs.push_back(whole);
            }
            break;
        case AttributeKind::DataAttribute:
            ref.fc = n.element.attribute("fc").value();
            if (ref.fc != "MX" && ref.fc != "ST") return;
            ref.daName = name;
            refs.push_back(ref);
            break;
        case AttributeKind::BasicDataAttribute:
            ref.daName += "." + name;
            refs.push_back(ref);
            break;
        default:
            break;
        }
        for (const AttributeNode& c : n.children) visit(c, ref);
    };
    for (const AttributeNode& ld : tree.root.children)
        for (const AttributeNode& ln : ld.children)
            for (const AttributeNode& c : ln.children)
                visit(c, MemberRef{ld.caption, ln.caption, "", "", ""});
    return refs;
}

TEST(WalkerRoundTrip, EveryMemberOfTheShippedTemplatesEncodesAndDecodes) {
    for (const char* name : {"KT-740.icd", "KT-740HV.icd", "KT-740AU.icd"}) {
        SCOPED_TRACE(name);
        TICDParser p(test::sourcePath(std::string("resources/") + name), -1);
        auto refs = memberCandidates(p);
        ASSERT_GT(refs.size(), 50u); // the template's data model, not an empty walk
        std::set<uint32_t> codes;
        for (const MemberRef& ref : refs) {
            MemberEncoding e = p.EncodeMemberChecked(ref);
            ASSERT_TRUE(e.code) << MemberRefText(ref) << ": " << e.reason;
            EXPECT_TRUE(codes.insert(*e.code).second) << MemberRefText(ref) << " shares a code";
            auto back = p.DecodeMember(*e.code);
            ASSERT_TRUE(back) << MemberRefText(ref);
            EXPECT_EQ(*back, ref);
            EXPECT_EQ(p.MemberText(*e.code), MemberRefText(ref));
            p.SetTypeIndexEnabled(false);
            EXPECT_EQ(p.EncodeMember(ref), e.code) << MemberRefText(ref);
            EXPECT_EQ(p.DecodeMember(*e.code), back);
            p.SetTypeIndexEnabled(true);
        }
        // Every dataset member of the template was read as a code.
        for (int slot = 0; slot < DataSetSlots; ++slot) EXPECT_TRUE(p.LeftOutMembers(slot).empty()) << slot;
        EXPECT_THAT(p.Warnings(), ::testing::IsEmpty());
    }
}

TEST(WalkerIndex, AnswersAsThePlainWalk) {
    for (const std::string& file : {test::templatePath(), test::fixturePath("walker.icd")}) {
        SCOPED_TRACE(file);
        TICDParser p(file, -1);
        expectIndexMatchesPlainWalk(p);
    }
}

TEST(WalkerIndex, RecursiveTypesEndAndAgree) {
    // O1 holds itself and O2; O2 holds O1: the walks must end and still agree.
    TempDir dir;
    TICDParser p(
        dir.write("cycle.icd", test::scl(R"(<IED name="C"><AccessPoint name="A"><Server><LDevice inst="L">
        <LN0 lnClass="LLN0" inst="" lnType="N"/></LDevice></Server></AccessPoint></IED>
        <DataTypeTemplates><LNodeType id="N" lnClass="LLN0"><DO name="X" type="O1"/><DO name="Y" type="O2"/></LNodeType>
        <DOType id="O1" cdc="X"><SDO name="me" type="O1"/><SDO name="o2" type="O2"/><DA name="v" fc="MX" bType="FLOAT32"/></DOType>
        <DOType id="O2" cdc="X"><SDO name="back" type="O1"/><DA name="s" fc="ST" bType="BOOLEAN"/></DOType>
        </DataTypeTemplates>)")),
        -1);
    expectIndexMatchesPlainWalk(p);
    // s (ST) and the sub-object back of O2 share a position; the walk must end and both walks
    // say so alike.
    for (bool indexed : {true, false}) {
        p.SetTypeIndexEnabled(indexed);
        MemberEncoding e = p.EncodeMemberChecked({"L", "LLN0", "Y.back.o2", "s", "ST"});
        EXPECT_FALSE(e.code);
        EXPECT_EQ(e.problem, MemberProblem::SharedCode) << e.reason;
        EXPECT_EQ(p.MemberText(1u << 14 | 1u << 20), "L/LLN0.Y.back (MX)");
    }
    p.SetTypeIndexEnabled(true);
    AttributeTree tree = p.BuildAttributeTree("C");
    EXPECT_TRUE(tree.truncated);
}

TEST(SplitLNRef, PrefixClassInstance) {
    struct Case {
        const char* ref;
        LNRefParts parts;
    } cases[] = {
        {"MMXU1", {"", "MMXU", "1"}},     {"XYZMMXU12", {"XYZ", "MMXU", "12"}},
        {"LLN0", {"", "LLN0", ""}},       {"GFPTOC1", {"GF", "PTOC", "1"}},
        {"MMXU", {"", "MMXU", ""}},       {"ABC1", {"", "ABC", "1"}},
        {"123", {"", "", "123"}},         {"", {"", "", ""}},
        {"P1MMXU2", {"P1", "MMXU", "2"}},
    };
    for (const Case& c : cases) EXPECT_EQ(TICDParser::SplitLNRef(c.ref), c.parts) << c.ref;
}

TEST_F(WalkerTest, AttributeTreeShowsTheWholeModel) {
    AttributeTree tree = w.BuildAttributeTree("W1 root");
    EXPECT_FALSE(tree.truncated);
    EXPECT_EQ(tree.root.kind, AttributeKind::Root);
    EXPECT_EQ(tree.root.caption, "W1 root");
    ASSERT_EQ(tree.devices.size(), 2u);
    EXPECT_EQ(tree.devices[0].caption, "LDA");
    EXPECT_EQ(tree.devices[0].logicalNodes,
              (std::vector<std::string>{"LLN0", "MMXU1", "XYZMMXU12", "GGIO1"}));
    EXPECT_EQ(tree.devices[1].logicalNodes, (std::vector<std::string>{"LLN0", "XCBR1"}));

    const AttributeNode& lda = tree.root.children.at(0);
    EXPECT_EQ(lda.kind, AttributeKind::LogicalDevice);
    const AttributeNode& mmxu = lda.children.at(1);
    EXPECT_EQ(mmxu.kind, AttributeKind::LogicalNode);
    EXPECT_EQ(mmxu.caption, "MMXU1");
    std::vector<std::string> dos;
    for (auto& c : mmxu.children) dos.push_back(c.caption);
    EXPECT_EQ(dos, (std::vector<std::string>{"Beh", "TotW", "PhV", "A"}));
    const AttributeNode& phsA = mmxu.children[2].children.at(0);
    EXPECT_EQ(phsA.kind, AttributeKind::SubDataObject);
    EXPECT_EQ(phsA.caption, "phsA");
    const AttributeNode& cVal = phsA.children.at(0);
    EXPECT_EQ(cVal.kind, AttributeKind::DataAttribute);
    EXPECT_EQ(cVal.caption, "cVal (MX)");
    EXPECT_EQ(cVal.children.at(0).kind, AttributeKind::BasicDataAttribute);
    EXPECT_EQ(cVal.children.at(0).caption, "mag");
    EXPECT_EQ(cVal.children.at(0).children.at(0).caption, "f");
    EXPECT_STREQ(cVal.element.attribute("type").value(), "T_Vector");
    // Enumerations and basic types have no children.
    EXPECT_TRUE(mmxu.children[0].children.at(0).children.empty()); // Beh.stVal
}

} // namespace
} // namespace kt
