// The IEC 61850 page of the real main window: without a unit, the text rules of its fields, the
// dataset list and its actions, the dataset editor, the IED chooser of a file import, the notes of
// what a load left out, the network input status and saving an ICD file; against the simulated
// unit, the transfers with their progress, Cancel and failures.
#include "iec61850/icd_parser.h"
#include "iec61850/settings_transfer.h"
#include "tests/support/process.h"
#include "tests/support/sim_process.h"
#include "tests/ui/main_form_fixture.h"
#include "ui/edit_ds_form.h"
#include "ui/ied_selection_form.h"
#include "ui/pages/iec61850_page.h"
#include "ui/pages/iec61850_tabs.h"
#include "ui/progress_dialog.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QListWidget>
#include <QMenu>
#include <QToolButton>
#include <QTreeWidget>

#include <gmock/gmock.h>

#include <csignal>
#include <functional>

namespace {

using kt::MessageResult;
using kt::TICDParser;
using kt::test::MainFormTest;
using ::testing::HasSubstr;
using ::testing::Not;

class Iec61850PageTest : public MainFormTest {
protected:
    kt::Iec61850Page* open() {
        start().show();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
        auto* pages = child<QTabWidget>("PageControl1");
        page = window->iec61850Page();
        pages->setCurrentWidget(page);
        return page;
    }
    TICDParser& model() { return *page->currentParser(); }

    // Types into a field as the operator does: the field's key rules apply, and each key runs its
    // change handler.
    void type(const char* name, const QString& text) {
        auto* e = child<QLineEdit>(name);
        auto* tabs = child<QTabWidget>("Pag61850");
        for (int i = 0; i < tabs->count(); ++i)
            if (tabs->widget(i)->isAncestorOf(e)) tabs->setCurrentIndex(i);
        e->setFocus();
        e->selectAll();
        if (text.isEmpty())
            QTest::keyClick(e, Qt::Key_Backspace);
        else
            QTest::keyClicks(e, text);
    }
    QString field(const char* name) { return child<QLineEdit>(name)->text(); }
    QStringList items(const char* name) {
        QStringList out;
        auto* list = child<QListWidget>(name);
        for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
        return out;
    }
    QStringList comboItems(const char* name) {
        QStringList out;
        auto* c = child<QComboBox>(name);
        for (int i = 0; i < c->count(); ++i) out << c->itemText(i);
        return out;
    }
    void choose(const char* combo, int index) {
        auto* c = child<QComboBox>(combo);
        c->setCurrentIndex(index);
        emit c->activated(index);
    }

    kt::Iec61850Page* page = nullptr;
};

// The tree item under the root named by `captions`.
QTreeWidgetItem* treeItem(kt::TEditDSForm* f, std::initializer_list<const char*> captions) {
    QTreeWidgetItem* at = f->DataTreeView->topLevelItem(0);
    for (const char* c : captions) {
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; at && i < at->childCount(); ++i)
            if (at->child(i)->text(0) == c) next = at->child(i);
        EXPECT_NE(next, nullptr) << c;
        at = next;
    }
    return at;
}

void select(kt::TEditDSForm* f, std::initializer_list<const char*> captions) {
    f->DataTreeView->setCurrentItem(treeItem(f, captions));
}

QStringList entries(kt::TEditDSForm* f) {
    QStringList out;
    for (int i = 0; i < f->ElementsListBox->count(); ++i) out << f->ElementsListBox->item(i)->text();
    return out;
}

TEST_F(Iec61850PageTest, FieldsKeepTheirRulesAndStoreIntoTheSelectedBlock) {
    open();
    ASSERT_NE(page->currentParser(), nullptr);
    // The template is shown at start: its blocks, its datasets by full name.
    EXPECT_EQ(comboItems("RCBComboBox").first(), "brcb01");
    EXPECT_EQ(comboItems("RCBDSComboBox"),
              QStringList({"None", "LD0/LLN0$DS1_Measurement", "LD0/LLN0$DS2_Record", "LD0/LLN0$DS3_GOOSE"}));
    EXPECT_EQ(items("DSListBox"), comboItems("RCBDSComboBox").mid(1));
    EXPECT_EQ(field("PSelEdit").size(), 8);

    struct Case {
        const char* field;
        QString typed;
        QString shown;
        std::function<uint64_t(TICDParser&)> stored; // nothing: a Server field, kept in the tab only
        uint64_t value = 0;
    } cases[] = {
        {"RCBConfRevEdit", "5000000000", "4294967295", [](TICDParser& p) { return p.GetRCB(0).ConfRev; },
         4294967295u},
        {"RCBConfRevEdit", "0017", "17", [](TICDParser& p) { return p.GetRCB(0).ConfRev; }, 17},
        {"RCBIntegrityPeriodEdit", "2500", "2500", [](TICDParser& p) { return p.GetRCB(0).IntgPd; }, 2500},
        {"GCBAppIDEdit", "4000", "3FFF", [](TICDParser& p) { return p.GetGCB(0).AppID; }, 0x3FFF},
        {"GCBAppIDEdit", "0", "0", [](TICDParser& p) { return p.GetGCB(0).AppID; }, 0},
        {"GCBAppIDEdit", "1ab", "1AB", [](TICDParser& p) { return p.GetGCB(0).AppID; }, 0x1AB},
        {"GCBVLANPrioEdit", "9", "7", [](TICDParser& p) { return p.GetGCB(0).VLANPriority; }, 7},
        {"GCBVLANPrioEdit", "", "0", [](TICDParser& p) { return p.GetGCB(0).VLANPriority; }, 0},
        {"GCBVLANIDEdit", "abcd", "ABC", [](TICDParser& p) { return p.GetGCB(0).VLANID; }, 0xABC},
        {"NIAPPIDEdit", "ffff", "3FFF", [](TICDParser& p) { return p.GetNI(0).AppID; }, 0x3FFF},
        {"NIConfRevEdit", "99999999999", "4294967295", [](TICDParser& p) { return p.GetNI(0).ConfRev; },
         4294967295u},
        {"NIDataIndexEdit", "", "0", [](TICDParser& p) { return p.GetNI(0).DataIndex; }, 0},
        // The unit keeps the index in one register: it is never wrapped into another value.
        {"NIDataIndexEdit", "70000", "65535", [](TICDParser& p) { return p.GetNI(0).DataIndex; }, 65535},
        {"NIBitIndexEdit", "12", "12", [](TICDParser& p) { return p.GetNI(0).BitIndex; }, 12},
        {"IEDNameEdit", "Unit-7 x", "Unit7x", nullptr},
        {"IEDNameEdit", QString(70, 'A'), QString(64, 'A'), nullptr},
        {"PSelEdit", "1a2b3c4d5e", "1A2B3C4D", nullptr},
        {"PSelEdit", "xyz", "1A2B3C4D", nullptr}, // not hex keys: dropped
        {"SSelEdit", "12345", "1234", nullptr},
        {"APIDEdit", QString(40, '1'), QString(32, '1'), nullptr},
        {"AEQEdit", "99999", "65535", nullptr},
        {"AEQEdit", "00", "0", nullptr},
        {"KeepAliveEdit", "3000000000", "2147483647", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.field) + " <- " + c.typed.toStdString());
        type(c.field, c.typed);
        EXPECT_EQ(field(c.field), c.shown);
        if (c.stored) {
            EXPECT_EQ(c.stored(model()), c.value);
        }
    }

    // A field emptied while typing stores nothing and shows the stored value again when left.
    type("RCBBufferingTimeEdit", "");
    const uint32_t before = model().GetRCB(0).BufTime;
    EXPECT_EQ(field("RCBBufferingTimeEdit"), "");
    child<QLineEdit>("ReportIDEdit")->setFocus();
    EXPECT_EQ(field("RCBBufferingTimeEdit"), QString::number(before));
    EXPECT_EQ(model().GetRCB(0).BufTime, before);

    // A half-typed MAC address is no address: stored once complete.
    const uint64_t mac = model().GetGCB(0).DstMAC;
    type("GCBMaskEdit", "01");
    EXPECT_EQ(model().GetGCB(0).DstMAC, mac);
    type("GCBMaskEdit", "010ccd0100ff");
    EXPECT_EQ(field("GCBMaskEdit"), "01-0C-CD-01-00-FF");
    EXPECT_EQ(model().GetGCB(0).DstMAC, 0x010CCD0100FFu);

    // Check boxes and choices store their bit or flag.
    auto* gi = child<QCheckBox>("giCB");
    const bool giWas = gi->isChecked();
    gi->click();
    EXPECT_EQ((model().GetRCB(0).TrgOps & kt::TrgGi) != 0, !giWas);
    choose("GCBInterfaceComboBox", 2);
    EXPECT_EQ(model().GetGCB(0).Interface, 3);
    choose("NIInvertedComboBox", 1);
    EXPECT_TRUE(model().GetNI(0).Inverted);

    // Another dataset for a report control block raises its configuration revision by one.
    const uint32_t rev = model().GetRCB(0).ConfRev;
    choose("RCBDSComboBox", 2);
    EXPECT_EQ(model().GetRCB(0).DataSetIndex, 2);
    EXPECT_EQ(model().GetRCB(0).ConfRev, rev + 1);
    EXPECT_EQ(field("RCBConfRevEdit"), QString::number(rev + 1));

    // An unbuffered block has no buffer: its buffer options and time are off.
    auto* rcbs = child<QComboBox>("RCBComboBox");
    rcbs->setCurrentIndex(rcbs->findText("urcb01"));
    EXPECT_FALSE(child<QCheckBox>("bufOvflCB")->isEnabled());
    EXPECT_FALSE(child<QCheckBox>("entryIDCB")->isChecked());
    EXPECT_FALSE(child<QLineEdit>("RCBBufferingTimeEdit")->isEnabled());
    rcbs->setCurrentIndex(0);
    EXPECT_TRUE(child<QCheckBox>("bufOvflCB")->isEnabled());
    EXPECT_TRUE(messages.empty()) << messages.front().text.toStdString();
}

TEST_F(Iec61850PageTest, NetworkInputStatusTakesColoursAndTexts) {
    open();
    std::array<int32_t, 16> status{};
    status[1] = 1;
    status[2] = 5;
    status[3] = 6;
    status[4] = 9;
    page->updateNIStatus(0x0001 | 0x0004 | 0x8000, status);
    struct Case {
        int input;
        const char* text;
        QColor colour;
    } cases[] = {
        {1, "OK", Qt::red},
        {2, "Old Data", Qt::yellow},
        {3, "Uncommissioned", Qt::yellow},
        {4, "Test/Uncommissioned", Qt::yellow},
        {5, "Unknown 9", Qt::yellow},
        {6, "OK", Qt::green},
        {16, "OK", Qt::red},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        const std::string k = std::to_string(c.input);
        EXPECT_EQ(text(("lblNIStat" + k).c_str()), c.text);
        EXPECT_EQ(child<QLabel>(("lblNI" + k).c_str())->palette().color(QPalette::Window), c.colour);
    }
    EXPECT_EQ(text("lblNI9"), "NI9 ");
    EXPECT_EQ(text("lblNI10"), "NI10");
}

TEST_F(Iec61850PageTest, TheDataSetEditorAddsEditsAndRefuses) {
    open();
    child<QTabWidget>("Pag61850")->setCurrentIndex(2);
    auto* add = window->findChild<QAction*>("AddDSAction");
    auto* edit = window->findChild<QAction*>("EditDSAction");
    auto* remove = window->findChild<QAction*>("DeleteDSAction");
    auto* list = child<QListWidget>("DSListBox");
    // The unit's own datasets are neither edited nor deleted.
    list->setCurrentRow(0);
    EXPECT_FALSE(edit->isEnabled());
    EXPECT_FALSE(remove->isEnabled());
    EXPECT_TRUE(add->isEnabled());

    bool ran = false;
    kt::test::whenShown("TEditDSForm", [&](QWidget* w) {
        auto* f = static_cast<kt::TEditDSForm*>(w);
        ran = true;
        EXPECT_EQ(f->windowTitle(), "Data Set Properties");
        EXPECT_EQ(f->FullDSNameEdit->text(), "LD0/LLN0$");
        select(f, {"LD0"});
        EXPECT_FALSE(f->AddAction->isEnabled());
        select(f, {"LD0", "MMXN1"});
        EXPECT_FALSE(f->AddAction->isEnabled());
        select(f, {"LD0", "MMXN1", "Amp", "units (CF)"});
        EXPECT_FALSE(f->AddAction->isEnabled());
        select(f, {"LD0", "MMXN1", "Amp", "mag (MX)", "f"});
        ASSERT_TRUE(f->AddAction->isEnabled());
        f->AddAction->trigger();
        select(f, {"LD0", "MMXU1", "A"});
        f->AddAction->trigger();
        select(f, {"LD0", "LLN0", "Mod"});
        f->AddAction->trigger();
        f->AddAction->trigger(); // once more: refused
        EXPECT_EQ(entries(f),
                  QStringList({"LD0/MMXN1.Amp.mag.f (MX)", "LD0/MMXU1.A (MX)", "LD0/LLN0.Mod (ST)"}));
        // Up on the first and Down on the last are off; Up moves the entry with its node.
        f->ElementsListBox->setCurrentRow(0);
        EXPECT_FALSE(f->UpAction->isEnabled());
        f->ElementsListBox->setCurrentRow(2);
        EXPECT_FALSE(f->DownAction->isEnabled());
        f->UpAction->trigger();
        EXPECT_EQ(entries(f)[1], "LD0/LLN0.Mod (ST)");
        EXPECT_EQ(f->ElementsListBox->currentRow(), 1);

        f->LNComboBox->setCurrentIndex(f->LNComboBox->findText("GGIO1"));
        f->OKButton->click(); // no name yet
        f->DSNameEdit->setText("DS-1");
        f->OKButton->click();
        f->DSNameEdit->setText("DS_Trip");
        EXPECT_EQ(f->FullDSNameEdit->text(), "LD0/GGIO1$DS_Trip");
        f->OKButton->click();
    });
    add->trigger();
    ASSERT_TRUE(ran);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0].text, "Element LD0/LLN0.Mod (ST) is already on the list!");
    EXPECT_EQ(messages[1].text, "Dataset name cannot be empty!");
    EXPECT_EQ(messages[2].text, "Dataset name contains illegal characters!");

    // Added by name only, selected, with its members in order; the RCB tab offers it too.
    EXPECT_EQ(items("DSListBox").last(), "GGIO1$DS_Trip");
    EXPECT_EQ(list->currentRow(), 3);
    EXPECT_EQ(items("ElementsListBox"),
              QStringList({"LD0/MMXN1.Amp.mag.f (MX)", "LD0/LLN0.Mod (ST)", "LD0/MMXU1.A (MX)"}));
    EXPECT_EQ(comboItems("RCBDSComboBox").last(), "GGIO1$DS_Trip");
    kt::TDatasetConfig ds = model().GetDataSet(3);
    EXPECT_EQ(ds.Name, "GGIO1$DS_Trip");
    EXPECT_EQ(ds.Count, 3);
    EXPECT_EQ(model().MemberText(ds.Members[2]), "LD0/MMXU1.A (MX)");

    // Editing: renaming onto another dataset (any letter case) is refused, Cancel changes nothing.
    messages.clear();
    kt::test::whenShown("TEditDSForm", [&](QWidget* w) {
        auto* f = static_cast<kt::TEditDSForm*>(w);
        EXPECT_EQ(f->FullDSNameEdit->text(), "LD0/GGIO1$DS_Trip");
        EXPECT_EQ(entries(f).size(), 3);
        f->LNComboBox->setCurrentIndex(f->LNComboBox->findText("LLN0"));
        f->DSNameEdit->setText("ds1_measurement");
        f->OKButton->click();
        f->ElementsListBox->setCurrentRow(0);
        f->DelAction->trigger();
        f->CancelButton->click();
    });
    list->setCurrentRow(3);
    ASSERT_TRUE(edit->isEnabled());
    edit->trigger();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Dataset LD0/LLN0$ds1_measurement already exists!");
    EXPECT_EQ(model().GetDataSet(3), ds);

    // Keeping its own name is fine; the list shows the new name.
    kt::test::whenShown("TEditDSForm", [&](QWidget* w) {
        auto* f = static_cast<kt::TEditDSForm*>(w);
        f->ElementsListBox->setCurrentRow(0);
        f->DelAction->trigger();
        f->DSNameEdit->setText("DS_Trip2");
        f->OKButton->click();
    });
    edit->trigger();
    EXPECT_EQ(items("DSListBox")[3], "GGIO1$DS_Trip2");
    EXPECT_EQ(model().GetDataSet(3).Count, 2);

    // Deleting the last entry selects the one before it; a report control block on it is asked for.
    kt::TRCBConfig b = model().GetRCB(0);
    b.DataSetIndex = 4;
    model().SetRCB(0, b);
    answer = MessageResult::No;
    messages.clear();
    remove->trigger();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Dataset is assigned to report control block. Continue?");
    EXPECT_EQ(items("DSListBox").size(), 4);
    answer = MessageResult::Yes;
    remove->trigger();
    EXPECT_EQ(items("DSListBox").size(), 3);
    EXPECT_EQ(list->currentRow(), 2);
    EXPECT_EQ(comboItems("RCBDSComboBox").size(), 4);
    EXPECT_EQ(model().GetRCB(0).DataSetIndex, 0);
    EXPECT_EQ(model().GetRCB(0).ConfRev, b.ConfRev + 1);
    EXPECT_EQ(model().GetDataSet(3).Count, 0);
}

TEST_F(Iec61850PageTest, TheEditorStopsAtThirtyMembersAndAFullModelAddsNoDataSet) {
    open();
    int added = 0;
    bool stillOffered = true;
    kt::test::whenShown("TEditDSForm", [&](QWidget* w) {
        auto* f = static_cast<kt::TEditDSForm*>(w);
        std::function<void(QTreeWidgetItem*)> walk = [&](QTreeWidgetItem* item) {
            f->DataTreeView->setCurrentItem(item);
            if (f->AddAction->isEnabled()) f->AddAction->trigger();
            for (int i = 0; i < item->childCount(); ++i) walk(item->child(i));
        };
        walk(f->DataTreeView->topLevelItem(0));
        added = f->ElementsListBox->count();
        select(f, {"LD0", "PTRC1", "Tr", "general (ST)"});
        stillOffered = f->AddAction->isEnabled();
        f->DSNameEdit->setText("Many");
        f->OKButton->click();
    });
    window->findChild<QAction*>("AddDSAction")->trigger();
    EXPECT_EQ(added, 30);
    EXPECT_FALSE(stillOffered);
    EXPECT_EQ(model().GetDataSet(3).Count, 30);
    EXPECT_TRUE(messages.empty()) << messages.front().text.toStdString();

    kt::TDatasetConfig full = model().GetDataSet(3);
    for (int i = 4; i < kt::DataSetSlots; ++i) {
        full.Name = "LLN0$F" + std::to_string(i);
        model().SetDataSet(i, full);
    }
    window->findChild<QAction*>("AddDSAction")->trigger();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "It is not possible to create another dataset!");
    EXPECT_EQ(messages[0].title, "Error");
}

TEST_F(Iec61850PageTest, LoadingAFileAsksForTheIedAndListsWhatWasLeftOut) {
    open();
    const QString file = QString::fromStdString(kt::test::sourcePath("tests/iec61850/fixtures/two_ieds.cid"));
    kt::test::whenShown("OpenICDDialog", [&](QWidget* w) {
        auto* d = static_cast<QFileDialog*>(w);
        EXPECT_EQ(d->windowTitle(), "Open ICD/CID File");
        d->selectFile(file);
        static_cast<QDialog*>(d)->accept(); // QFileDialog hides it
    });
    QStringList offered;
    kt::test::whenShown("TIEDSelectionForm", [&](QWidget* w) {
        auto* f = static_cast<kt::TIEDSelectionForm*>(w);
        for (int i = 0; i < f->IEDListBox->count(); ++i) offered << f->IEDListBox->item(i)->text();
        EXPECT_EQ(f->IEDListBox->currentRow(), 0);
        f->IEDListBox->setCurrentRow(1);
        f->OK->click();
    });
    child<QPushButton>("cmdLoadFile")->click();
    EXPECT_EQ(offered, QStringList({"FDR_01 Type:FDR650", "NGR_MON Type:KT-740"}));
    EXPECT_EQ(field("IEDNameEdit"), "NGR_MON");
    // The file's own datasets come over where the template's model has their members.
    EXPECT_THAT(items("DSListBox").join(",").toStdString(), HasSubstr("LD0/LLN0$DS4_Trip"));
    // What was left out is listed under the tabs, and said once.
    EXPECT_TRUE(child<QListWidget>("NotesList")->isVisible());
    EXPECT_FALSE(page->notes().isEmpty());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_THAT(messages[0].text.toStdString(), HasSubstr("listed under the tabs"));

    // The network inputs can take a source another IED publishes.
    auto* menu = child<QMenu>("ExtRefMenu");
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions()[1]->text(), "FDR_01CTRL/Q0XCBR1.Pos.q sent by FDR_01CTRL/LLN0.GoCB01");
    child<QComboBox>("NIComboBox")->setCurrentIndex(4);
    menu->actions()[1]->trigger();
    const kt::TNIConfig ni = model().GetNI(4);
    EXPECT_EQ(ni.Source.IEDName, "FDR_01");
    EXPECT_EQ(ni.Source.DAName, "q");
    EXPECT_EQ(ni.DataIndex, 1);
    EXPECT_EQ(ni.BitIndex, 0);
    EXPECT_EQ(field("NIDataIndexEdit"), "1");
    EXPECT_EQ(field("NIAPPIDEdit"), "0010");
}

TEST_F(Iec61850PageTest, SavingRefusesAnAddressThatDoesNotFitAndWritesAValidFile) {
    open();
    kt::test::TempDir out;
    const QString target = QString::fromStdString(out.file("unit.icd"));
    auto save = [&] {
        kt::test::whenShown("SaveICDDialog", [&](QWidget* w) {
            auto* d = static_cast<QFileDialog*>(w);
            d->selectFile(target);
            static_cast<QDialog*>(d)->accept(); // QFileDialog hides it
        });
        child<QPushButton>("cmdSaveFile")->click();
    };
    type("IEDNameEdit", "Feeder_7");
    type("IPEdit", "999.1.2.3");
    save();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_THAT(messages[0].text.toStdString(),
                HasSubstr("The IP address of interface 1, \"999.1.2.3\", is not four numbers from 0 to 255"));
    EXPECT_FALSE(QFile::exists(target));
    EXPECT_NE(model().IEDName(), "Feeder_7"); // nothing was taken over

    messages.clear();
    type("IPEdit", "192.168.7.20");
    type("PSelEdit", "1");
    save();
    EXPECT_TRUE(messages.empty()) << messages.front().text.toStdString();
    ASSERT_TRUE(QFile::exists(target));
    TICDParser saved(target.toStdString(), -1);
    EXPECT_EQ(saved.IEDName(), "Feeder_7");
    EXPECT_EQ(kt::IPToText(saved.GetIPAddress(0)), "192.168.7.20");
    EXPECT_EQ(saved.AddressOpts.PSEL, 1u);
    // Offline the name plate keeps the template's model; the firmware version is the page's.
    EXPECT_EQ(saved.PhyNamValue("swRev"), "204");
    const std::string text = kt::test::readFile(target.toStdString());
    EXPECT_THAT(text, HasSubstr(">00000001<")); // a PSEL keeps its padding
    const std::string xsd = kt::test::sourcePath("third_party/scl-xsd/2007B4/SCL.xsd");
    kt::test::CommandResult lint =
        kt::test::runCommand({"/usr/bin/xmllint", "--noout", "--schema", xsd, target.toStdString()});
    EXPECT_EQ(lint.exitCode, 0) << lint.err;
}

TEST_F(Iec61850PageTest, TheTransferCommandsNeedAConnectedUnit) {
    open();
    for (const char* button : {"cmdLoadUnit", "cmdWriteUnit"}) {
        messages.clear();
        child<QPushButton>(button)->click();
        ASSERT_EQ(messages.size(), 1u) << button;
        EXPECT_THAT(messages[0].text.toStdString(), HasSubstr("needs a unit connected over Modbus"));
        EXPECT_FALSE(kt::transferInProgress);
        EXPECT_FALSE(page->transferRunning());
    }
}

// ---- against the simulated unit ----------------------------------------------------------------

class Iec61850OnlineTest : public Iec61850PageTest {
protected:
    void connectToSim(std::vector<std::string> extra = {}) {
        std::vector<std::string> args{
            "--tcp", "127.0.0.1:0",      "--firmware", "320", "--comm-option", "6", "--exit-with-parent",
            "--log", dir.file("sim.log")};
        args.insert(args.end(), extra.begin(), extra.end());
        sim = std::make_unique<kt::test::SimProcess>(args);
        open();
        window->selectLink(*kt::parseLink(sim->tcpLink()));
        child<QPushButton>("Comm_Button")->click();
        ASSERT_TRUE(waitFor([&] { return text("netstatus_P") == "ONLINE"; }))
            << text("netstatus_P").toStdString();
        child<QTabWidget>("PageControl1")->setCurrentWidget(page);
    }
    // Clicks a transfer button: the click returns while the transfer runs on the connection's
    // thread, with its progress shown; then waits for its end. Returns the progress maximum seen.
    int transfer(const char* button) {
        auto maximum = std::make_shared<int>(-1);
        kt::test::whenShown("TProgressF",
                            [maximum](QWidget* w) { *maximum = static_cast<kt::TProgressF*>(w)->maximum(); });
        child<QPushButton>(button)->click();
        EXPECT_TRUE(page->transferRunning()) << button;
        EXPECT_TRUE(kt::transferInProgress);
        EXPECT_FALSE(child<QPushButton>(button)->isEnabled()); // no second transfer meanwhile
        EXPECT_TRUE(waitFor([&] { return !page->transferRunning(); }, std::chrono::seconds(60))) << button;
        EXPECT_FALSE(kt::transferInProgress);
        EXPECT_TRUE(child<QPushButton>(button)->isEnabled());
        EXPECT_EQ(kt::test::visibleTopLevel("TProgressF"), nullptr);
        return *maximum;
    }
    std::unique_ptr<kt::test::SimProcess> sim;
};

TEST_F(Iec61850OnlineTest, WhatIsWrittenToTheUnitIsReadBackWithTheEditedDataSet) {
    connectToSim({"--serial", "305419"});
    ASSERT_FALSE(HasFailure());
    // The operator starts from what the unit holds.
    EXPECT_EQ(transfer("cmdLoadUnit"), kt::ReadProgressSteps);
    EXPECT_TRUE(messages.empty()) << messages.front().text.toStdString();
    type("RCBIntegrityPeriodEdit", "2500");
    type("GCBAppIDEdit", "1ab");
    type("IEDNameEdit", "Feeder_7");
    // A dataset made in the editor goes to the unit with its members in order.
    child<QTabWidget>("Pag61850")->setCurrentIndex(2);
    kt::test::whenShown("TEditDSForm", [&](QWidget* w) {
        auto* f = static_cast<kt::TEditDSForm*>(w);
        select(f, {"LD0", "MMXU1", "A"});
        f->AddAction->trigger();
        select(f, {"LD0", "LLN0", "Mod"});
        f->AddAction->trigger();
        f->LNComboBox->setCurrentIndex(f->LNComboBox->findText("GGIO1"));
        f->DSNameEdit->setText("DS_Trip");
        f->OKButton->click();
    });
    window->findChild<QAction*>("AddDSAction")->trigger();
    ASSERT_EQ(items("DSListBox").size(), 4);
    const kt::TDatasetConfig written = model().GetDataSet(3);
    ASSERT_EQ(written.Count, 2);

    answer = MessageResult::Yes;
    EXPECT_EQ(transfer("cmdWriteUnit"), kt::WriteProgressSteps);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, kt::WriteQuestionText);
    EXPECT_EQ(messages[1].title, kt::WriteTitle);
    EXPECT_EQ(messages[1].text, "Wrote the IEC 61850 settings to KT-740");

    // The template again: nothing of the edit is left in the model before the read.
    page->DevTypeComboBoxChange();
    ASSERT_EQ(items("DSListBox").size(), 3);
    ASSERT_NE(model().GetRCB(0).IntgPd, 2500u);
    messages.clear();
    EXPECT_EQ(transfer("cmdLoadUnit"), kt::ReadProgressSteps);
    EXPECT_TRUE(messages.empty()) << messages.front().text.toStdString();
    EXPECT_EQ(model().GetRCB(0).IntgPd, 2500u);
    EXPECT_EQ(model().GetGCB(0).AppID, 0x1ABu);
    EXPECT_EQ(field("IEDNameEdit"), "Feeder_7");
    EXPECT_EQ(field("GCBAppIDEdit"), "01AB");
    const kt::TDatasetConfig read = model().GetDataSet(3);
    EXPECT_EQ(read.Count, written.Count);
    for (size_t m = 0; m < written.Count; ++m)
        EXPECT_EQ(model().MemberText(read.Members[m]), model().MemberText(written.Members[m]));
    ASSERT_EQ(items("DSListBox").size(), 4);
    EXPECT_THAT(items("DSListBox")[3].toStdString(), HasSubstr("DS_Trip"));
    child<QListWidget>("DSListBox")->setCurrentRow(3);
    EXPECT_EQ(items("ElementsListBox"), QStringList({"LD0/MMXU1.A (MX)", "LD0/LLN0.Mod (ST)"}));

    // Saved, the file validates and carries the connected unit's name plate.
    const QString target = QString::fromStdString(dir.file("unit.icd"));
    kt::test::whenShown("SaveICDDialog", [&](QWidget* w) {
        auto* d = static_cast<QFileDialog*>(w);
        d->selectFile(target);
        static_cast<QDialog*>(d)->accept(); // QFileDialog hides it
    });
    child<QPushButton>("cmdSaveFile")->click();
    EXPECT_TRUE(messages.empty()) << messages.front().text.toStdString();
    ASSERT_TRUE(QFile::exists(target));
    TICDParser saved(target.toStdString(), -1);
    EXPECT_EQ(saved.IEDName(), "Feeder_7");
    EXPECT_EQ(saved.GetDataSet(3).Count, 2);
    const std::string serial = saved.PhyNamValue("serNum");
    ASSERT_FALSE(serial.empty());
    EXPECT_EQ(std::stoul(serial), 305419u);
    EXPECT_EQ(saved.PhyNamValue("swRev"), "320");
    const std::string xsd = kt::test::sourcePath("third_party/scl-xsd/2007B4/SCL.xsd");
    kt::test::CommandResult lint =
        kt::test::runCommand({"/usr/bin/xmllint", "--noout", "--schema", xsd, target.toStdString()});
    EXPECT_EQ(lint.exitCode, 0) << lint.err;
}

TEST_F(Iec61850OnlineTest, CancelStopsBetweenRequestsAndSaysHowFarItGot) {
    connectToSim({"--delay-ms", "15"});
    ASSERT_FALSE(HasFailure());
    struct Case {
        const char* button;
        const char* title;
        const char* said;
    } cases[] = {
        {"cmdLoadUnit", kt::LoadTitle, "Reading the settings from KT-740 was cancelled at the "},
        {"cmdWriteUnit", kt::WriteTitle, "Writing to KT-740 was stopped at the "},
    };
    answer = MessageResult::Yes;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button);
        messages.clear();
        const kt::TRCBConfig rcbBefore = model().GetRCB(0);
        const kt::TDatasetConfig dsBefore = model().GetDataSet(0);
        child<QPushButton>(c.button)->click();
        ASSERT_TRUE(page->transferRunning());
        auto* progress = static_cast<kt::TProgressF*>(kt::test::visibleTopLevel("TProgressF"));
        ASSERT_NE(progress, nullptr);
        // The window stays live: the progress moves while the event loop runs.
        ASSERT_TRUE(waitFor([&] { return progress->position() >= 5; }));
        progress->findChild<QPushButton*>("Cancel_B")->click();
        ASSERT_TRUE(waitFor([&] { return !page->transferRunning(); }));
        EXPECT_FALSE(kt::transferInProgress);
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(messages.back().title, c.title);
        EXPECT_THAT(messages.back().text.toStdString(), ::testing::StartsWith(c.said));
        // A cancelled read changes nothing in the model.
        if (std::string(c.button) == "cmdLoadUnit") {
            EXPECT_EQ(model().GetRCB(0), rcbBefore);
            EXPECT_EQ(model().GetDataSet(0), dsBefore);
        }
    }
    // The connection is still there for the next transfer.
    messages.clear();
    transfer("cmdLoadUnit");
    EXPECT_TRUE(messages.empty()) << messages.front().text.toStdString();
}

TEST_F(Iec61850OnlineTest, ASilentUnitFailsTheReadAtTheServerSettings) {
    connectToSim();
    ASSERT_FALSE(HasFailure());
    const uint32_t period = model().GetRCB(0).IntgPd;
    ASSERT_TRUE(sim->freeze());
    transfer("cmdLoadUnit");
    sim->thaw();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().title, kt::ReadFailedTitle);
    EXPECT_THAT(messages.back().text.toStdString(),
                ::testing::StartsWith("Couldn't read settings from KT-740: Error Position 2"));
    EXPECT_EQ(model().GetRCB(0).IntgPd, period);
}

TEST_F(Iec61850OnlineTest, ARefusedFieldSendsNothingAndAnEndedConnectionEndsTheTransfer) {
    connectToSim({"--delay-ms", "15"});
    ASSERT_FALSE(HasFailure());
    answer = MessageResult::Yes;
    child<QLineEdit>("MaskEdit1")->setText("192.168.001.300");
    child<QPushButton>("cmdWriteUnit")->click();
    EXPECT_FALSE(page->transferRunning());
    EXPECT_FALSE(kt::transferInProgress);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].title, kt::WriteTitle);
    EXPECT_THAT(messages[1].text.toStdString(), ::testing::StartsWith("Nothing was written to KT-740:"));
    EXPECT_THAT(messages[1].text.toStdString(), HasSubstr("300"));
    for (const std::string& line : sim->logLines()) EXPECT_FALSE(line.starts_with("fc=16")) << line;

    // Disable while a read runs: the read ends with the connection, said as such, and the page
    // is free again.
    messages.clear();
    child<QPushButton>("cmdLoadUnit")->click();
    ASSERT_TRUE(page->transferRunning());
    auto* progress = static_cast<kt::TProgressF*>(kt::test::visibleTopLevel("TProgressF"));
    ASSERT_NE(progress, nullptr);
    ASSERT_TRUE(waitFor([&] { return progress->position() >= 3; }));
    child<QPushButton>("Comm_Button")->click();
    ASSERT_TRUE(waitFor([&] { return !page->transferRunning(); }));
    EXPECT_FALSE(kt::transferInProgress);
    EXPECT_TRUE(child<QPushButton>("cmdLoadUnit")->isEnabled());
    ASSERT_FALSE(messages.empty());
    EXPECT_THAT(messages.back().text.toStdString(), HasSubstr("cancelled"));
    EXPECT_THAT(messages.back().text.toStdString(), Not(HasSubstr("Read the IEC 61850 settings")));
}

TEST_F(Iec61850OnlineTest, TheNetworkInputStatusFollowsThePasses) {
    // Flags 780..781, then the status of each input.
    connectToSim({"--set", "780=0,0,5,6"});
    ASSERT_FALSE(HasFailure());
    EXPECT_TRUE(waitFor([&] { return text("lblNIStat2") == "Uncommissioned"; }))
        << text("lblNIStat2").toStdString();
    EXPECT_EQ(text("lblNIStat3"), "Test/Uncommissioned");
    EXPECT_EQ(text("lblNIStat1"), "OK");
    EXPECT_EQ(child<QLabel>("lblNI1")->palette().color(QPalette::Window), QColor(Qt::green));
    // Offline no status is known.
    child<QPushButton>("Comm_Button")->click();
    EXPECT_TRUE(waitFor([&] { return text("lblNIStat2").isEmpty(); }));
}

} // namespace
