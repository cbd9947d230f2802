#include "components/kt_spin_edit.h"

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

using kt::TKTSpinEdit;

// The CT dialog's primary field: " A", 5..5000, step 1, no decimals.
class SpinEdit : public ::testing::Test {
protected:
    void SetUp() override {
        spin = std::make_unique<TKTSpinEdit>();
        spin->SetUnits(" A");
        spin->SetMin(5);
        spin->SetMax(5000);
        spin->SetIncrement(1);
        spin->SetValue(5);
        QObject::connect(spin.get(), &TKTSpinEdit::OnChange, [this] { ++changes; });
        QObject::connect(spin.get(), &TKTSpinEdit::OnUpButtonPress, [this] { ++ups; });
        QObject::connect(spin.get(), &TKTSpinEdit::OnDownButtonPress, [this] { ++downs; });
        edit = spin->findChild<QLineEdit*>("edit");
        ASSERT_NE(edit, nullptr);
    }

    void type(const QString& text) {
        edit->clear();
        QTest::keyClicks(edit, text);
    }

    std::unique_ptr<TKTSpinEdit> spin;
    QLineEdit* edit = nullptr;
    int changes = 0, ups = 0, downs = 0;
};

TEST_F(SpinEdit, EnterTakesTheTypedValueClampedToTheRange) {
    struct Case {
        const char* typed;
        const char* shown;
        double value;
        int changes;
    } cases[] = {
        {"7000", "5000 A", 5000, 1}, {"abc", "5 A", 5, 0},
        {"3", "5 A", 5, 0},          {"  42.4 A", "42 A", 42.4f, 1},
        {"+120", "120 A", 120, 1},   {"1e40", "5000 A", 5000, 1},
        {"-1e40", "5 A", 5, 0},      {"1e-60", "5 A", 5, 0},
        {"nan", "5 A", 5, 0},        {"", "5 A", 5, 0},
        {"--7", "5 A", 5, 0},        {"250xyz", "250 A", 250, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        spin->SetValue(5);
        changes = 0;
        type(c.typed);
        QTest::keyClick(edit, Qt::Key_Return);
        EXPECT_EQ(edit->text(), c.shown);
        EXPECT_DOUBLE_EQ(spin->GetValue(), c.value);
        EXPECT_EQ(changes, c.changes);
    }
}

TEST_F(SpinEdit, EnterIsConsumedSoTheDialogStaysOpen) {
    QDialog dialog;
    auto* ok = new QPushButton("OK", &dialog);
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    spin->setParent(&dialog);
    dialog.show();
    edit->setFocus();
    type("300");
    QTest::keyClick(edit, Qt::Key_Enter);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(spin->GetValue(), 300);
    dialog.hide();
    spin->setParent(nullptr);
}

TEST_F(SpinEdit, EscapeDiscardsTheTypingOnly) {
    spin->SetValue(200);
    type("999");
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(edit, &escape);
    EXPECT_EQ(edit->text(), "200 A");
    EXPECT_EQ(spin->GetValue(), 200);
    EXPECT_EQ(changes, 0);
    EXPECT_TRUE(escape.isAccepted()) << "typing was discarded, so the key is used up";

    // With nothing typed, Escape is left to the dialog (which closes).
    EXPECT_FALSE(spin->KeyPressed(Qt::Key_Escape));
}

TEST_F(SpinEdit, ButtonsStepClampAndWrap) {
    struct Case {
        bool up;
        double start;
        bool wrap;
        double expected;
    } cases[] = {
        {true, 100, false, 101}, {true, 4999, false, 5000}, {true, 5000, false, 5000}, {true, 5000, true, 5},
        {false, 100, false, 99}, {false, 6, false, 5},      {false, 5, false, 5},      {false, 5, true, 5000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << (c.up ? "up from " : "down from ") << c.start << " wrap " << c.wrap);
        spin->SetWrapValue(c.wrap);
        spin->SetValue(c.start);
        changes = ups = downs = 0;
        auto* button = spin->findChild<QToolButton*>(c.up ? "upButton" : "downButton");
        ASSERT_NE(button, nullptr);
        button->click();
        EXPECT_EQ(spin->GetValue(), c.expected);
        EXPECT_EQ(edit->text(), QString::number(c.expected) + " A");
        // A step at the end still counts as a change and a press.
        EXPECT_EQ(changes, 1);
        EXPECT_EQ(ups, c.up ? 1 : 0);
        EXPECT_EQ(downs, c.up ? 0 : 1);
    }
}

TEST_F(SpinEdit, StepStartsFromTheTypedText) {
    type("100");
    spin->UpClick();
    EXPECT_EQ(spin->GetValue(), 101);
    type("70");
    QTest::keyClick(edit, Qt::Key_Down);
    EXPECT_EQ(spin->GetValue(), 69);
}

TEST_F(SpinEdit, SetValueIsNotClampedUntilRead) {
    spin->SetValue(9000);
    EXPECT_EQ(edit->text(), "9000 A");
    EXPECT_EQ(spin->GetValue(), 9000);
    spin->Read_Value();
    EXPECT_EQ(spin->GetValue(), 5000);
    spin->SetValue(1);
    spin->DoExit();
    EXPECT_EQ(edit->text(), "5 A");
    EXPECT_EQ(changes, 0) << "leaving the control raises no change event";
}

TEST_F(SpinEdit, LeavingTheFieldTakesTheTypedValue) {
    QWidget window;
    spin->setParent(&window);
    auto* other = new QLineEdit(&window);
    window.show();
    QApplication::setActiveWindow(&window);
    edit->setFocus();
    type("450");
    other->setFocus();
    EXPECT_EQ(spin->GetValue(), 450);
    EXPECT_EQ(edit->text(), "450 A");
    EXPECT_EQ(changes, 1);
    spin->setParent(nullptr);
}

TEST_F(SpinEdit, DisplayTypesAndPrecision) {
    struct Case {
        int type;
        int precision;
        double value;
        const char* units;
        const char* shown;
    } cases[] = {
        {TKTSpinEdit::FLOAT, 2, 1234.5, " V", "1234.50 V"},
        {TKTSpinEdit::FLOAT, 0, 2.5001, "", "3"},
        {TKTSpinEdit::EXPONENT, 3, 1234.56, "", "1.235e+03"},
        {TKTSpinEdit::AUTO, 4, 0.0000123456, " s", "1.235e-05 s"},
        {TKTSpinEdit::AUTO, 6, 1500, " A", "1500 A"},
        {TKTSpinEdit::FLOAT, -1, 0.5, "", "0.500000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        spin->SetDisplayType(c.type);
        spin->SetPrecision(c.precision);
        spin->SetUnits(c.units);
        spin->SetValue(c.value);
        EXPECT_EQ(edit->text(), c.shown);
    }
    // An unknown display type leaves the text as it was.
    spin->SetDisplayType(7);
    spin->SetValue(42);
    EXPECT_EQ(edit->text(), "0.500000");
}

TEST_F(SpinEdit, GeometryFollowsTheSize) {
    TKTSpinEdit fresh;
    auto* freshEdit = fresh.findChild<QLineEdit*>("edit");
    auto* button = fresh.findChild<QWidget*>("spinButton");
    ASSERT_TRUE(freshEdit && button);
    EXPECT_EQ(fresh.size(), QSize(70, 21));
    EXPECT_EQ(freshEdit->geometry(), QRect(0, 0, 54, 21));
    EXPECT_EQ(button->geometry(), QRect(55, 0, 15, 21));
    EXPECT_EQ(freshEdit->maxLength(), 64);
    EXPECT_EQ(freshEdit->text(), "0");

    fresh.SetWidth(120);
    fresh.SetHeight(30);
    EXPECT_EQ(freshEdit->geometry(), QRect(0, 0, 104, 30));
    EXPECT_EQ(button->geometry(), QRect(105, 0, 15, 30));
    EXPECT_EQ(fresh.GetWidth(), 119);
    EXPECT_EQ(fresh.GetHeight(), 30);

    // A layout resizing the shown control gets the same arrangement.
    fresh.show();
    fresh.resize(90, 24);
    QApplication::processEvents();
    EXPECT_EQ(freshEdit->geometry(), QRect(0, 0, 74, 24));
    EXPECT_EQ(button->geometry(), QRect(75, 0, 15, 24));
}

} // namespace
