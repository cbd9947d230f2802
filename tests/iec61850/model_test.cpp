// The model's accessors, their bounds and texts, and the dataset bookkeeping.
#include "scl_test_util.h"

#include <functional>

namespace kt {
namespace {

using test::ScriptedPrompts;
using test::TempDir;

std::string errorText(const std::function<void()>& f) {
    try {
        f();
    } catch (const ModelError& e) {
        return e.what();
    }
    return "(no error)";
}

class ModelTest : public ::testing::Test {
protected:
    TICDParser p{test::templatePath(), -1};
};

TEST_F(ModelTest, IndexOutsideItsListFailsWithItsText) {
    struct Case {
        std::function<void()> call;
        const char* text;
    } cases[] = {
        {[&] { p.GetDataSet(32); }, "DataSet index out of range"},
        {[&] { p.SetDataSet(-1, {}); }, "DataSet index out of range"},
        {[&] { p.GetIPAddress(2); }, "IP Address index out of range"},
        {[&] { p.SetIPAddress(-1, 0); }, "IP Address index out of range"},
        {[&] { p.GetIPMask(2); }, "IP Mask index out of range"},
        {[&] { p.SetIPMask(2, 0); }, "IP Mask index out of range"},
        {[&] { p.GetGateway(-1); }, "Gateway index out of range"},
        {[&] { p.SetGateway(2, 0); }, "Gateway index out of range"},
        {[&] { p.GetRCB(p.RCBCount()); }, "RCB index out of range"},
        {[&] { p.SetRCB(-1, {}); }, "RCB index out of range"},
        {[&] { p.GetGCB(p.GCBCount()); }, "GCB index out of range"},
        {[&] { p.SetGCB(-1, {}); }, "GCB index out of range"},
        {[&] { p.GetNI(p.NICount()); }, "NI index out of range"},
        {[&] { p.SetNI(-1, {}); }, "NI index out of range"},
        {[&] { p.GetExtRef(0); }, "ExtRef index out of range"}, // the template subscribes to nobody
        {[&] { p.SetExtRef(0, {}); }, "ExtRef index out of range"},
    };
    for (auto& c : cases) EXPECT_EQ(errorText(c.call), c.text);
    // The ends of each range are inside it.
    EXPECT_EQ(p.GetDataSet(31).Count, 0);
    EXPECT_NO_THROW(p.GetIPAddress(1));
    EXPECT_EQ(p.GetRCB(p.RCBCount() - 1).Name, "urcb04");
    EXPECT_EQ(p.GetNI(15).Name, "NI16");
}

TEST_F(ModelTest, SettersKeepTheBlockNames) {
    TRCBConfig r;
    r.Name = "other";
    r.Buffered = false;
    r.RptID = "id";
    r.ConfRev = 9;
    r.DataSetIndex = 2;
    r.TrgOps = TrgDchg;
    p.SetRCB(0, r);
    TRCBConfig got = p.GetRCB(0);
    EXPECT_EQ(got.Name, "brcb01");
    EXPECT_TRUE(got.Buffered);
    EXPECT_EQ(got.RptID, "id");
    EXPECT_EQ(got.ConfRev, 9u);
    EXPECT_EQ(got.DataSetIndex, 2);
    EXPECT_EQ(got.TrgOps, TrgDchg);

    TGCBConfig g;
    g.Name = "x";
    g.AppID = 0x3FFF;
    g.Enabled = true;
    p.SetGCB(1, g);
    EXPECT_EQ(p.GetGCB(1).Name, "gcb2");
    EXPECT_EQ(p.GetGCB(1).AppID, 0x3FFF);
    EXPECT_TRUE(p.GetGCB(1).Enabled);

    TNIConfig n;
    n.Name = "x";
    n.Source.IEDName = "PUB";
    n.BitIndex = 3;
    p.SetNI(4, n);
    EXPECT_EQ(p.GetNI(4).Name, "NI5");
    EXPECT_EQ(p.GetNI(4).Source.IEDName, "PUB");
    EXPECT_EQ(p.GetNI(4).BitIndex, 3);
}

TEST_F(ModelTest, EmptyListsRefuseEveryIndex) {
    TempDir dir;
    TICDParser empty(dir.write("e.icd", test::scl("<IED name=\"E\"/>")), -1);
    EXPECT_EQ(empty.RCBCount(), 0);
    for (int i : {-1, 0, 1}) {
        EXPECT_EQ(errorText([&] { empty.GetRCB(i); }), "RCB index out of range");
        EXPECT_EQ(errorText([&] { empty.GetGCB(i); }), "GCB index out of range");
        EXPECT_EQ(errorText([&] { empty.GetNI(i); }), "NI index out of range");
    }
}

std::string firstIEDName(const TICDParser& p) {
    return p.Document().document_element().child("IED").attribute("name").value();
}
std::string firstConnectedAPName(const TICDParser& p) {
    return p.Document()
        .document_element()
        .child("Communication")
        .child("SubNetwork")
        .child("ConnectedAP")
        .attribute("iedName")
        .value();
}

TEST_F(ModelTest, SetIEDNameChecksEveryCharacterAndRenamesTheDocument) {
    for (std::string good : {"KT740_B", "A b 9", ""}) {
        p.SetIEDName(good);
        EXPECT_EQ(p.IEDName(), good);
        EXPECT_EQ(firstIEDName(p), good);
        EXPECT_EQ(firstConnectedAPName(p), good);
    }
    p.SetIEDName("Relay1");
    for (std::string bad : {std::string("Re-lay"), std::string("Relay-"), std::string("-"),
                            std::string("R\xC3\xA9lay"), std::string("a.b"), std::string("a\0b", 3)}) {
        EXPECT_EQ(errorText([&] { p.SetIEDName(bad); }), "Invalid character in IED name") << bad;
        EXPECT_EQ(p.IEDName(), "Relay1");
        EXPECT_EQ(firstIEDName(p), "Relay1");
    }
}

TEST_F(ModelTest, FullNamesAndLookups) {
    EXPECT_EQ(p.DataSetFullName(0), "LD0/LLN0$DS1_Measurement");
    EXPECT_EQ(p.DataSetFullName(3), ""); // free
    EXPECT_EQ(p.DataSetFullName(-1), "");
    EXPECT_EQ(p.DataSetFullName(32), "");
    EXPECT_EQ(p.FindDataSet("LD0/LLN0$DS2_Record"), 1);
    EXPECT_EQ(p.FindDataSet("LD0/LLN0$ds2_record"), -1); // exact match only
    EXPECT_EQ(p.LDInstByIndex(0), "LD0");
    EXPECT_EQ(p.LDInstByIndex(1), "");
    EXPECT_EQ(p.LDInstByIndex(-1), "");
    ASSERT_TRUE(p.FindRCB("urcb02"));
    EXPECT_FALSE(p.GetRCB(0).Name.empty());
    EXPECT_FALSE(p.FindRCB("urcb05"));
    EXPECT_EQ(p.FindGCB("gcb2")->GoID, "KT740_GOOSE2");
    EXPECT_EQ(p.FindNI("NI16")->DataIndex, 15);
    EXPECT_FALSE(p.FindNI("NI17"));
}

// Slots 0..5 used, named DS0..DS5, with one report control block on `rcbSlot`.
class DeleteTest : public ModelTest {
protected:
    void SetUp() override {
        for (int i = 0; i < 6; ++i) {
            TDatasetConfig ds;
            ds.Name = "LLN0$DS" + std::to_string(i);
            ds.Count = 1;
            ds.Members = {uint32_t(i)};
            p.SetDataSet(i, ds);
        }
        for (int i = 0; i < p.RCBCount(); ++i) {
            TRCBConfig b = p.GetRCB(i);
            b.DataSetIndex = 0;
            b.ConfRev = 10;
            p.SetRCB(i, b);
        }
    }
    void useSlot(int rcb, int slot) {
        TRCBConfig b = p.GetRCB(rcb);
        b.DataSetIndex = static_cast<uint8_t>(slot + 1);
        p.SetRCB(rcb, b);
    }
};

TEST_F(DeleteTest, LaterSlotsMoveDownAndTheirBlocksFollow) {
    useSlot(2, 5);
    ScriptedPrompts ask;
    EXPECT_TRUE(p.DeleteDataSet(3, &ask));
    EXPECT_TRUE(ask.questions.empty());
    for (int i = 0; i < 5; ++i) EXPECT_GT(p.GetDataSet(i).Count, 0) << i;
    EXPECT_EQ(p.GetDataSet(3).Name, "LLN0$DS4");
    EXPECT_EQ(p.GetDataSet(4).Name, "LLN0$DS5");
    EXPECT_EQ(p.GetDataSet(5).Count, 0);
    EXPECT_EQ(p.GetDataSet(31).Count, 0);
    EXPECT_EQ(p.GetRCB(2).DataSetIndex, 5);
    EXPECT_EQ(p.GetRCB(2).ConfRev, 10u);
}

TEST_F(DeleteTest, AnsweringNoChangesNothing) {
    useSlot(1, 3);
    useSlot(4, 3);
    ScriptedPrompts ask;
    ask.answers = {true, false}; // Yes for the first block, No for the second
    EXPECT_FALSE(p.DeleteDataSet(3, &ask));
    EXPECT_EQ(ask.questions,
              (std::vector<std::string>{"Dataset is assigned to report control block. Continue?",
                                        "Dataset is assigned to report control block. Continue?"}));
    EXPECT_EQ(p.GetDataSet(3).Name, "LLN0$DS3");
    EXPECT_EQ(p.GetRCB(1).DataSetIndex, 4);
    EXPECT_EQ(p.GetRCB(1).ConfRev, 10u);
    // Without an operator to ask, the answer is No.
    EXPECT_FALSE(p.DeleteDataSet(3));
    EXPECT_EQ(p.GetDataSet(3).Name, "LLN0$DS3");
}

TEST_F(DeleteTest, AnsweringYesDetachesTheBlock) {
    useSlot(1, 3);
    ScriptedPrompts ask;
    ask.answers = {true};
    EXPECT_TRUE(p.DeleteDataSet(3, &ask));
    EXPECT_EQ(ask.questions.size(), 1u);
    EXPECT_EQ(p.GetRCB(1).DataSetIndex, 0);
    EXPECT_EQ(p.GetRCB(1).ConfRev, 11u);
    EXPECT_EQ(p.GetDataSet(3).Name, "LLN0$DS4");
}

TEST_F(DeleteTest, SlotsOutsideTheTableAndTheLastSlot) {
    EXPECT_FALSE(p.DeleteDataSet(-1));
    EXPECT_FALSE(p.DeleteDataSet(32));
    TDatasetConfig last;
    last.Name = "LLN0$Last";
    last.Count = 1;
    last.Members = {1};
    p.SetDataSet(31, last);
    EXPECT_TRUE(p.DeleteDataSet(31));
    EXPECT_EQ(p.GetDataSet(31).Count, 0);
    EXPECT_EQ(p.GetDataSet(5).Name, "LLN0$DS5");
}

} // namespace
} // namespace kt
