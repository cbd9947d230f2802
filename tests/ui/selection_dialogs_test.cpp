#include "components/kt_spin_edit.h"
#include "tests/support/modal.h"
#include "ui/selection_dialogs.h"
#include "ui/voltage_dialog.h"
#include "ui/zsct_dialog.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using kt::CtVoltageSelection;
using kt::TKTSpinEdit;

// One CT dialog on a selection, shown so that visibility reads as the operator sees it.
class CtDialog : public ::testing::Test {
protected:
    void open() {
        dialog = std::make_unique<kt::TZSCT_F>(nullptr, sel);
        dialog->show();
    }
    QRadioButton* radio(const char* name) {
        auto* b = dialog->findChild<QRadioButton*>(name);
        EXPECT_NE(b, nullptr) << name;
        return b;
    }
    TKTSpinEdit* primary() { return dialog->findChild<TKTSpinEdit*>("CT_Primary_E"); }
    QString effective() { return dialog->findChild<QLabel*>("txtEffectiveCT")->text(); }
    QLabel* warning() { return dialog->findChild<QLabel*>("warning_Text"); }
    void typePrimary(const QString& text) {
        auto* edit = primary()->findChild<QLineEdit*>("edit");
        edit->clear();
        QTest::keyClicks(edit, text);
        QTest::keyClick(edit, Qt::Key_Return);
    }
    void ok() { dialog->findChild<QPushButton*>("OK_Button")->click(); }

    CtVoltageSelection sel;
    std::unique_ptr<kt::TZSCT_F> dialog;
};

TEST_F(CtDialog, OtherCtEffectivePrimaryWarningAndRounding) {
    struct Case {
        const char* input;
        const char* secondary;
        const char* primary;
        const char* shown;
        const char* warningText;
        int stored, connection, secondaryCode;
    } cases[] = {
        {"EF_5A_Rbutton", "CT_5A_Rbutton", "200", "200", "", 200, 0, 0},
        {"EF_5A_Rbutton", "CT_1A_Rbutton", "200", "1000", "", 1000, 0, 1},
        {"EF_ZSCT_Rbutton", "CT_5A_Rbutton", "7", "0.07",
         "Effective CT Primary of 0.07 will be rounded to 1.", 1, 2, 0},
        {"EF_1A_Rbutton", "CT_5A_Rbutton", "12", "2.4", "Effective CT Primary of 2.40 will be rounded to 2.",
         2, 1, 0},
        {"EF_ZSCT_Rbutton", "CT_05A_Rbutton", "150", "150", "", 150, 2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.input << " " << c.secondary << " " << c.primary);
        sel = CtVoltageSelection{};
        sel.ct_series = kt::CtSeriesOther;
        open();
        radio(c.input)->click();
        radio(c.secondary)->click();
        typePrimary(c.primary);
        EXPECT_EQ(effective(), c.shown);
        EXPECT_EQ(warning()->isVisible(), *c.warningText != 0);
        EXPECT_EQ(warning()->text(), c.warningText);
        ok();
        EXPECT_EQ(dialog->result(), QDialog::Accepted);
        EXPECT_EQ(sel.ct_series, kt::CtSeriesOther);
        EXPECT_EQ(sel.ct_primary, QString(c.primary).toInt());
        EXPECT_EQ(sel.effectiveCtPrimary, c.stored);
        EXPECT_EQ(sel.ef_connection, c.connection);
        EXPECT_EQ(sel.ct_secondary, c.secondaryCode);
    }
}

TEST_F(CtDialog, OpensOnTheStoredSelection) {
    sel.ct_series = kt::CtSeriesOther;
    sel.ef_connection = 1;
    sel.ct_secondary = 1;
    sel.ct_primary = 400;
    open();
    EXPECT_TRUE(radio("ct_2_RB")->isChecked());
    EXPECT_TRUE(radio("EF_1A_Rbutton")->isChecked());
    EXPECT_TRUE(radio("CT_1A_Rbutton")->isChecked());
    EXPECT_EQ(primary()->GetValue(), 400);
    EXPECT_EQ(effective(), "400");
    EXPECT_EQ(dialog->windowTitle(), "Earth-Fault CT");
    EXPECT_EQ(radio("EF_ZSCT_Rbutton")->text(), "Sensitive/ZSCT (Terminals: 8, 11)");
    EXPECT_EQ(radio("ct_0_RB")->text(), "ZSCT");
    EXPECT_EQ(radio("ct_1_RB")->text(), "KT-TR50 / VQ50");
    EXPECT_FALSE(radio("ct_3_RB")->isVisible());
}

TEST_F(CtDialog, SeriesRulesOnKt740) {
    sel.ct_series = kt::CtSeriesOther;
    open();
    radio("ct_1_RB")->click();
    EXPECT_EQ(primary()->GetValue(), 30);
    EXPECT_FALSE(primary()->isEnabled());
    EXPECT_TRUE(radio("EF_ZSCT_Rbutton")->isChecked());
    EXPECT_TRUE(radio("CT_05A_Rbutton")->isChecked());
    for (const char* off : {"EF_5A_Rbutton", "EF_1A_Rbutton", "CT_5A_Rbutton", "CT_1A_Rbutton"})
        EXPECT_FALSE(radio(off)->isEnabled()) << off;
    EXPECT_EQ(effective(), "30");

    radio("ct_0_RB")->click();
    EXPECT_EQ(primary()->GetValue(), 5);
    EXPECT_EQ(effective(), "5");

    radio("ct_2_RB")->click();
    for (const char* on : {"EF_5A_Rbutton", "EF_1A_Rbutton", "EF_ZSCT_Rbutton", "CT_5A_Rbutton",
                           "CT_1A_Rbutton", "CT_05A_Rbutton"})
        EXPECT_TRUE(radio(on)->isEnabled()) << on;
    EXPECT_TRUE(primary()->isEnabled());
    ok();
    EXPECT_EQ(sel.ct_series, kt::CtSeriesOther);
    EXPECT_EQ(sel.ct_primary, 5);
    EXPECT_EQ(sel.ct_secondary, 1) << "0.05 A is stored as 1";
}

TEST_F(CtDialog, SiblingModelOffersItsOwnSeries) {
    sel.siblingModel = true;
    sel.ct_series = kt::CtSeriesNrx2000;
    sel.ct_primary = 250;
    open();
    EXPECT_EQ(radio("ct_0_RB")->text(), "NRX-3000 series");
    EXPECT_EQ(radio("ct_1_RB")->text(), "NRX-5000 series");
    EXPECT_EQ(radio("ct_3_RB")->text(), "NRX-2000 series");
    EXPECT_TRUE(radio("ct_3_RB")->isVisible());
    EXPECT_TRUE(radio("ct_3_RB")->isChecked());
    EXPECT_TRUE(primary()->isEnabled());
    EXPECT_TRUE(radio("CT_5A_Rbutton")->isEnabled());
    ok();
    EXPECT_EQ(sel.ct_series, kt::CtSeriesNrx2000);
    EXPECT_EQ(sel.ct_primary, 250);
}

TEST_F(CtDialog, Kt740AuTakesThePrimaryAsIs) {
    sel.model_type = kt::ModelKt740AU;
    sel.ct_series = kt::CtSeriesOther; // not offered on this model: opens on the first series
    open();
    EXPECT_TRUE(radio("ct_0_RB")->isChecked());
    EXPECT_FALSE(radio("ct_2_RB")->isVisible());
    EXPECT_FALSE(dialog->findChild<QGroupBox*>("ZSCT_GroupBox")->isVisible());
    EXPECT_FALSE(radio("EF_5A_Rbutton")->isEnabled());
    EXPECT_EQ(radio("EF_5A_Rbutton")->text(), "C (Terminals: 10, 11)");
    EXPECT_EQ(radio("EF_1A_Rbutton")->text(), "TR50 (Terminals: 9, 11)");
    EXPECT_EQ(radio("EF_ZSCT_Rbutton")->text(), "ZSCT (Terminals: 8, 11)");
    EXPECT_EQ(effective(), "5");
    EXPECT_FALSE(warning()->isVisible());

    radio("ct_1_RB")->click();
    EXPECT_TRUE(radio("EF_1A_Rbutton")->isChecked());
    EXPECT_TRUE(radio("EF_1A_Rbutton")->isEnabled());
    EXPECT_FALSE(radio("EF_ZSCT_Rbutton")->isEnabled());
    EXPECT_EQ(effective(), "30") << "30 A on the 1 A input with a 0.05 A secondary is still 30 on the AU";
    ok();
    EXPECT_EQ(sel.ct_series, kt::CtSeriesTr50);
    EXPECT_EQ(sel.ef_connection, 1);
    EXPECT_EQ(sel.effectiveCtPrimary, 30);
}

TEST_F(CtDialog, TypedPrimaryCountsOnOkAndCancelChangesNothing) {
    sel.ct_series = kt::CtSeriesOther;
    open();
    radio("EF_5A_Rbutton")->click();
    radio("CT_5A_Rbutton")->click();
    auto* edit = primary()->findChild<QLineEdit*>("edit");
    edit->clear();
    QTest::keyClicks(edit, "9000");
    ok();
    EXPECT_EQ(sel.ct_primary, 5000);
    EXPECT_EQ(sel.effectiveCtPrimary, 5000);

    const CtVoltageSelection before = sel;
    open();
    radio("ct_1_RB")->click();
    dialog->findChild<QPushButton*>("Cancel_Button")->click();
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(sel.ct_series, before.ct_series);
    EXPECT_EQ(sel.ct_primary, before.ct_primary);
    EXPECT_EQ(sel.effectiveCtPrimary, before.effectiveCtPrimary);
}

class VoltageDialog : public ::testing::Test {
protected:
    void open() {
        dialog = std::make_unique<kt::TVoltageF>(nullptr, sel);
        dialog->show();
    }
    QRadioButton* item(int i) { return dialog->findChild<QRadioButton*>(QString("voltage_RB%1").arg(i)); }
    CtVoltageSelection sel;
    std::unique_ptr<kt::TVoltageF> dialog;
};

TEST_F(VoltageDialog, ListsTheModelsLevelsAndTakesTheChoice) {
    struct Case {
        int model;
        bool sibling;
        const char* name;
        const char* first;
        const char* last;
    } cases[] = {
        {kt::ModelKt740, false, "KT-740", "20 V", "2000 V"},
        {kt::ModelKt740HV, false, "KT-740HV", "100 V", "10000 V"},
        {kt::ModelKt740AU, false, "KT-740AU", "20 V", "2000 V"},
        {kt::ModelKt740, true, "QM-5740", "20 V", "2000 V"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sel = CtVoltageSelection{};
        sel.model_type = c.model;
        sel.siblingModel = c.sibling;
        sel.voltage = 4;
        open();
        EXPECT_EQ(dialog->windowTitle(), "Voltage Settings");
        EXPECT_EQ(dialog->findChild<QLabel*>("select_L")->text(),
                  QString("Select to match setting on face of %1.").arg(c.name));
        EXPECT_EQ(dialog->findChild<QGroupBox*>("voltage_RG")->title(), "Vn Trip Level");
        EXPECT_EQ(item(0)->text(), c.first);
        EXPECT_EQ(item(10)->text(), c.last);
        EXPECT_EQ(item(11), nullptr);
        EXPECT_TRUE(item(4)->isChecked());
        item(7)->click();
        dialog->findChild<QPushButton*>("OKButton")->click();
        EXPECT_EQ(sel.voltage, 7);
    }
}

TEST_F(VoltageDialog, LayoutFollowsTheSentence) {
    open();
    auto* label = dialog->findChild<QLabel*>("select_L");
    auto* group = dialog->findChild<QGroupBox*>("voltage_RG");
    auto* ok = dialog->findChild<QPushButton*>("OKButton");
    auto* cancel = dialog->findChild<QPushButton*>("CancelButton");
    EXPECT_EQ(label->x(), 8);
    EXPECT_EQ(group->x(), 8);
    EXPECT_EQ(group->width(), dialog->width() - 16);
    EXPECT_GE(dialog->width(), label->width() + 16);
    EXPECT_EQ(ok->x(), 8);
    EXPECT_EQ(cancel->geometry().right() + 1, dialog->width() - 8);
    EXPECT_GT(ok->y(), group->geometry().bottom());
}

TEST_F(VoltageDialog, LevelOutsideTheListWaitsForAChoice) {
    sel.voltage = 12;
    open();
    auto* ok = dialog->findChild<QPushButton*>("OKButton");
    EXPECT_FALSE(ok->isEnabled());
    item(2)->click();
    EXPECT_TRUE(ok->isEnabled());
    dialog->findChild<QPushButton*>("CancelButton")->click();
    EXPECT_EQ(sel.voltage, 12) << "Cancel keeps the old value";
}

// The panels of the main window's second status bar, found by name.
struct PanelRow {
    QWidget root;
    PanelRow() {
        for (const char* name :
             {"unit_P", "voltage_P", "zsct_P", "ef_connection_P", "ct_secondary_P", "ct_primary_P"})
            (new QLabel(&root))->setObjectName(name);
    }
    QString text(const char* name) { return root.findChild<QLabel*>(name)->text(); }
};

TEST(SelectionDialogs, CtOkWritesTheEffectivePrimaryToACurrentUnit) {
    struct Case {
        bool legacy;
        int reg;
        bool written;
    } cases[] = {{false, 34, true}, {false, 112, true}, {true, 34, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "legacy " << c.legacy << " reg " << c.reg);
        PanelRow panels;
        kt::ObjectNameSelectionPanels named(&panels.root);
        CtVoltageSelection sel;
        sel.ct_series = kt::CtSeriesTr50;
        std::vector<std::pair<int32_t, int>> writes;
        kt::CtDialogContext context;
        context.legacyUnit = c.legacy;
        context.targetRegister = c.reg;
        context.writeValue = [&](int32_t v, int r) {
            writes.emplace_back(v, r);
            return true;
        };
        context.panels = &named;
        kt::test::clickWhenShown("TZSCT_F", "OK_Button");
        EXPECT_TRUE(kt::openCtDialog(nullptr, sel, context));
        EXPECT_TRUE(sel.ct_selected);
        if (c.written) {
            EXPECT_EQ(writes, (std::vector<std::pair<int32_t, int>>{{30, c.reg}}));
        } else {
            EXPECT_TRUE(writes.empty());
        }
        EXPECT_EQ(panels.text("unit_P"), "KT-740");
        EXPECT_EQ(panels.text("zsct_P"), c.legacy ? "KT-TR50 / VQ50" : "");
    }
}

TEST(SelectionDialogs, CtCancelWritesNothing) {
    CtVoltageSelection sel;
    bool written = false;
    kt::CtDialogContext context;
    context.writeValue = [&](int32_t, int) { return written = true; };
    kt::test::clickWhenShown("TZSCT_F", "Cancel_Button");
    EXPECT_FALSE(kt::openCtDialog(nullptr, sel, context));
    EXPECT_FALSE(sel.ct_selected);
    EXPECT_FALSE(written);
}

TEST(SelectionDialogs, VoltageOnlyOnLegacyUnits) {
    PanelRow panels;
    kt::ObjectNameSelectionPanels named(&panels.root);
    CtVoltageSelection sel;
    EXPECT_FALSE(kt::openVoltageDialog(nullptr, sel, false, &named))
        << "a current unit reports its own level";
    EXPECT_FALSE(sel.voltage_selected);

    kt::test::whenShown("TVoltageF", [](QWidget* w) {
        w->findChild<QRadioButton*>("voltage_RB3")->click();
        w->findChild<QPushButton*>("OKButton")->click();
    });
    EXPECT_TRUE(kt::openVoltageDialog(nullptr, sel, true, &named));
    EXPECT_TRUE(sel.voltage_selected);
    EXPECT_EQ(sel.voltage, 3);
    EXPECT_EQ(panels.text("voltage_P"), "Vn Trip Level: 130 x 5 V");
    EXPECT_EQ(panels.text("ef_connection_P"), "CT Selection");
}

} // namespace
