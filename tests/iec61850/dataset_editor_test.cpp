// The dataset editor's rules without its widgets: which nodes may become members, the member
// text, the reference and code behind an entry, finding a member's node again, the OK checks.
#include "scl_test_util.h"

#include "iec61850/dataset_editor.h"

#include <gmock/gmock.h>

#include <functional>

namespace kt {
namespace {

using ::testing::ElementsAre;

class DataSetEditorRules : public ::testing::Test {
protected:
    TICDParser p{test::templatePath(), -1};
    AttributeTree tree = p.BuildAttributeTree("KT740");

    // The path of "LD0/MMXN1/Amp/mag (MX)/f" style captions from the root.
    AttributePath path(std::initializer_list<std::string_view> captions) {
        AttributePath out{&tree.root};
        const AttributeNode* at = &tree.root;
        for (std::string_view c : captions) {
            const AttributeNode* next = nullptr;
            for (const AttributeNode& child : at->children)
                if (child.caption == c) next = &child;
            EXPECT_NE(next, nullptr) << c;
            if (!next) return out;
            out.push_back(next);
            at = next;
        }
        return out;
    }

    void forEachPath(const std::function<void(const AttributePath&)>& visit) {
        std::function<void(AttributePath&)> walk = [&](AttributePath& at) {
            visit(at);
            for (const AttributeNode& c : at.back()->children) {
                at.push_back(&c);
                walk(at);
                at.pop_back();
            }
        };
        AttributePath root{&tree.root};
        walk(root);
    }
};

TEST_F(DataSetEditorRules, TheAddActionTakesDataOfTheUnitsFCsOnly) {
    struct Case {
        std::initializer_list<std::string_view> path;
        bool addable;
        const char* text; // the entry it would add
    } cases[] = {
        {{"LD0"}, false, nullptr},
        {{"LD0", "MMXN1"}, false, nullptr},
        {{"LD0", "LLN0", "Mod"}, true, "LD0/LLN0.Mod (ST)"},
        {{"LD0", "LLN0", "Mod", "ctlModel (CF)"}, false, nullptr},
        {{"LD0", "MMXN1", "Amp", "units (CF)"}, false, nullptr},
        {{"LD0", "MMXN1", "Amp", "units (CF)", "SIUnit"}, false, nullptr},
        {{"LD0", "MMXN1", "Amp", "mag (MX)"}, true, "LD0/MMXN1.Amp.mag (MX)"},
        {{"LD0", "MMXN1", "Amp", "mag (MX)", "f"}, true, "LD0/MMXN1.Amp.mag.f (MX)"},
        // A sub-object whose first attribute is MX: the data object offers MX alone.
        {{"LD0", "MMXU1", "A"}, true, "LD0/MMXU1.A (MX)"},
        {{"LD0", "MMXU1", "A", "neut"}, true, "LD0/MMXU1.A.neut (MX)"},
        {{"LD0", "MMXU1", "A", "neut", "cVal (MX)", "mag", "f"}, true, "LD0/MMXU1.A.neut.cVal.mag.f (MX)"},
        // The first attribute is a setting: no candidate FC.
        {{"LD0", "GFPTOC1", "StrVal"}, false, nullptr},
        {{"LD0", "LPHD1", "PhyNam"}, false, nullptr},
    };
    for (const Case& c : cases) {
        AttributePath at = path(c.path);
        SCOPED_TRACE(at.back()->caption);
        EXPECT_EQ(CanAddMember(at), c.addable);
        if (c.text) {
            EXPECT_EQ(MemberEntryText(at), c.text);
        }
    }
}

TEST_F(DataSetEditorRules, EveryEntryTheEditorCanAddEncodesToTheObjectItNames) {
    // Over the whole template: the code of each addable entry decodes to exactly its text, and
    // the node is found again from the code (what editing an existing dataset does).
    int entries = 0;
    forEachPath([&](const AttributePath& at) {
        if (!CanAddMember(at)) return;
        const std::string text = MemberEntryText(at);
        SCOPED_TRACE(text);
        MemberEncoding e = p.EncodeMemberChecked(MemberRefOfEntry(at, text));
        ASSERT_TRUE(e.code) << e.reason;
        EXPECT_EQ(p.MemberText(*e.code), text);
        std::optional<MemberRef> ref = p.DecodeMember(*e.code);
        ASSERT_TRUE(ref);
        EXPECT_EQ(FindAttributePath(tree, *ref), at);
        ++entries;
    });
    EXPECT_GT(entries, 100);
}

TEST_F(DataSetEditorRules, TheCandidateSetStopsAtTheFirstAttributeOfEachLevel) {
    // A data object of its own making: two sub-objects (ST first, then MX first), then an
    // attribute that ends the level, then one that is never visited.
    AttributeNode sdoSt{
        AttributeKind::SubDataObject, "s1", {}, {{AttributeKind::DataAttribute, "stVal (ST)", {}, {}}}};
    AttributeNode sdoMx{
        AttributeKind::SubDataObject, "s2", {}, {{AttributeKind::DataAttribute, "mag (MX)", {}, {}}}};
    AttributeNode sdoSt2 = sdoSt;
    AttributeNode object{AttributeKind::DataObject,
                         "X",
                         {},
                         {sdoSt,
                          sdoMx,
                          sdoSt2,
                          {AttributeKind::DataAttribute, "d (DC)", {}, {}},
                          {AttributeKind::DataAttribute, "late (MX)", {}, {}}}};
    EXPECT_THAT(FCCandidates(object), ElementsAre("ST", "MX"));
    AttributeNode cfFirst{
        AttributeKind::DataObject, "Y", {}, {{AttributeKind::DataAttribute, "units (CF)", {}, {}}, sdoMx}};
    EXPECT_TRUE(FCCandidates(cfFirst).empty());
    // Two candidates: the entry text carries no FC, and the reference has none to encode.
    AttributeNode root{AttributeKind::Root, "R", {}, {}};
    AttributeNode ld{AttributeKind::LogicalDevice, "LD0", {}, {}};
    AttributeNode ln{AttributeKind::LogicalNode, "GGIO1", {}, {}};
    AttributePath at{&root, &ld, &ln, &object};
    EXPECT_EQ(MemberEntryText(at), "LD0/GGIO1.X");
    EXPECT_EQ(MemberRefOfEntry(at, "LD0/GGIO1.X").fc, "");
}

TEST_F(DataSetEditorRules, OkChecksTheNameThenDuplicatesThenMembers) {
    const std::vector<std::string> existing{"LD0/LLN0$DS1_Measurement", "LD0/GGIO1$Mine"};
    struct Case {
        const char* name;
        const char* fullName;
        size_t members;
        std::optional<std::string> message;
    } cases[] = {
        {"", "LD0/LLN0$", 0, "Dataset name cannot be empty!"},
        {"DS-1", "LD0/LLN0$DS-1", 3, "Dataset name contains illegal characters!"},
        {"DS 1", "LD0/LLN0$DS 1", 3, "Dataset name contains illegal characters!"},
        {"1DS", "LD0/LLN0$1DS", 3, std::string(DataSetNameFormText)},
        {"D23456789012345678901234567890123", "LD0/LLN0$D23456789012345678901234567890123", 3,
         std::string(DataSetNameFormText)},
        {"mine", "ld0/ggio1$mine", 3, "Dataset ld0/ggio1$mine already exists!"},
        {"DS_1", "LD0/LLN0$DS_1", 0, "Dataset cannot be empty!"},
        {"DS_1", "LD0/LLN0$DS_1", 1, std::nullopt},
        {"Mine", "LD0/LLN0$Mine", 30, std::nullopt}, // the same name in another node is another dataset
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CheckDataSetProperties(c.name, c.fullName, existing, c.members), c.message);
    }
}

TEST_F(DataSetEditorRules, AddTargetsTheFirstFreeSlotAndKnowsEveryOtherName) {
    std::optional<AddTarget> t = FindAddTarget(p);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->slot, 3);
    EXPECT_THAT(t->existingFullNames,
                ElementsAre("LD0/LLN0$DS1_Measurement", "LD0/LLN0$DS2_Record", "LD0/LLN0$DS3_GOOSE"));
    // A unit may leave a gap: the names past it count too.
    TDatasetConfig ds = p.GetDataSet(0);
    ds.Name = "LLN0$Far";
    p.SetDataSet(20, ds);
    t = FindAddTarget(p);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->slot, 3);
    EXPECT_EQ(t->existingFullNames.back(), "LD0/LLN0$Far");
    for (int i = 0; i < DataSetSlots; ++i) p.SetDataSet(i, ds);
    EXPECT_FALSE(FindAddTarget(p));
    EXPECT_EQ(OtherFullNames(p, 5).size(), 31u);
}

} // namespace
} // namespace kt
