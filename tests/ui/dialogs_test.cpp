#include "prefs/preferences.h"
#include "tests/support/modal.h"
#include "ui/message_box.h"
#include "ui/progress_dialog.h"
#include "ui/settings_dialog.h"

#include <QCheckBox>
#include <QEventLoop>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using kt::MessageResult;
using kt::test::whenShown;

QStringList visibleButtons(QWidget* dialog) {
    QStringList names;
    for (const char* name : {"ok_B", "cancel_B", "yes_B", "no_B"})
        if (dialog->findChild<QPushButton*>(name)->isVisible()) names << name;
    return names;
}

TEST(MessageBox, KindsOfferTheirButtonsAndReturnThePressedOne) {
    struct Case {
        int kind;
        QStringList buttons;
        const char* press;
        MessageResult result;
    } cases[] = {
        {kt::MessageOk, {"ok_B"}, "ok_B", MessageResult::Ok},
        {kt::MessageOkCancel, {"ok_B", "cancel_B"}, "ok_B", MessageResult::Ok},
        {kt::MessageOkCancel, {"ok_B", "cancel_B"}, "cancel_B", MessageResult::Cancel},
        {kt::MessageYesNo, {"yes_B", "no_B"}, "yes_B", MessageResult::Yes},
        {kt::MessageYesNo, {"yes_B", "no_B"}, "no_B", MessageResult::No},
        {7, {"ok_B"}, "ok_B", MessageResult::Ok}, // an unknown kind can still be answered
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "kind " << c.kind << " press " << c.press);
        QStringList seen;
        QString title, text;
        whenShown("TMessageBoxF", [&](QWidget* w) {
            seen = visibleButtons(w);
            title = w->windowTitle();
            text = w->findChild<QLabel*>("text_L")->text();
            w->findChild<QPushButton*>(c.press)->click();
        });
        MessageResult r = kt::showMessage("Cannot Open ComPort.", "error", c.kind);
        EXPECT_EQ(r, c.result);
        EXPECT_EQ(seen, c.buttons);
        EXPECT_EQ(title, "error");
        EXPECT_EQ(text, "Cannot Open ComPort.");
    }
}

TEST(MessageBox, EscapeGivesTheCautiousAnswer) {
    struct Case {
        int kind;
        MessageResult result;
    } cases[] = {{kt::MessageOk, MessageResult::Ok},
                 {kt::MessageOkCancel, MessageResult::Cancel},
                 {kt::MessageYesNo, MessageResult::No}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        whenShown("TMessageBoxF", [](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
        EXPECT_EQ(kt::showMessage("Use the time and date on this computer to set the KT-740 clock?",
                                  "Set Date//Time", c.kind),
                  c.result);
    }
}

TEST(MessageBox, Geometry) {
    kt::TMessageBoxF box;
    auto* text = box.findChild<QLabel*>("text_L");
    auto* panel = box.findChild<QWidget*>("button_P");
    auto* ok = box.findChild<QPushButton*>("ok_B");
    auto* cancel = box.findChild<QPushButton*>("cancel_B");
    ASSERT_TRUE(text && panel && ok && cancel);

    box.prepare("Done", "Finished Command", kt::MessageOk);
    EXPECT_EQ(box.width(), 400);
    EXPECT_EQ(text->y(), 16);
    EXPECT_NEAR(text->geometry().center().x(), 200, 1);
    EXPECT_LE(text->width(), 380);
    EXPECT_EQ(panel->geometry().left(), 0);
    EXPECT_EQ(panel->width(), 400);
    EXPECT_GE(panel->y(), text->geometry().bottom());
    EXPECT_EQ(box.height(), panel->geometry().bottom() + 1) << "the dialog ends with the button panel";
    EXPECT_EQ(ok->x(), 200 - 37);
    EXPECT_FALSE(box.findChild<QPlainTextEdit*>("memo_E")->isVisibleTo(&box));
    EXPECT_FALSE(box.findChild<QProgressBar*>("ProgressBar1")->isVisibleTo(&box));
    int shortHeight = box.height();

    box.prepare(
        QString("There were no communications for 30 seconds.\nThe unit has been disconnected. ").repeated(4),
        "Communications Error", kt::MessageOkCancel);
    EXPECT_EQ(text->width(), 380);
    EXPECT_TRUE(text->wordWrap());
    EXPECT_GT(box.height(), shortHeight);
    EXPECT_EQ(box.height(), panel->geometry().bottom() + 1);
    EXPECT_EQ(ok->x(), 100);
    EXPECT_EQ(cancel->x(), 225);
}

TEST(MessageBox, TextIsNeverMarkup) {
    kt::TMessageBoxF box;
    box.prepare("<b>C:\\logs\\<site>.txt</b>", "File Error 2", kt::MessageOk);
    auto* text = box.findChild<QLabel*>("text_L");
    EXPECT_EQ(text->textFormat(), Qt::PlainText);
    EXPECT_EQ(text->text(), "<b>C:\\logs\\<site>.txt</b>");
}

TEST(MessageBox, HookReplacesTheDialog) {
    QStringList seen;
    auto previous = kt::setMessageHook([&](const QString& text, const QString& title, int kind) {
        seen << text << title << QString::number(kind);
        return MessageResult::Yes;
    });
    EXPECT_EQ(kt::showMessage("Reset?", "Confirm", kt::MessageYesNo), MessageResult::Yes);
    EXPECT_EQ(seen, (QStringList{"Reset?", "Confirm", "4"}));
    kt::setMessageHook(std::move(previous));
}

TEST(MessageBox, WorkerThreadWaitsForTheOperator) {
    std::atomic<bool> done = false;
    std::atomic<MessageResult> result = MessageResult::Ok;
    QString answeredOn;
    whenShown("TMessageBoxF", [&](QWidget* w) {
        answeredOn = QThread::currentThread() == qApp->thread() ? "gui" : "worker";
        w->findChild<QPushButton*>("cancel_B")->click();
    });
    std::jthread worker([&] {
        result = kt::showMessage("Register file not found", "File Error", kt::MessageOkCancel);
        done = true;
    });
    QElapsedTimer clock;
    clock.start();
    while (!done && clock.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_TRUE(done);
    EXPECT_EQ(result.load(), MessageResult::Cancel);
    EXPECT_EQ(answeredOn, "gui");
}

TEST(ProgressDialog, BarSpansTheClientAndFollowsThePosition) {
    kt::TProgressF progress(nullptr, "Reading from KT-740", 200);
    auto* bar = progress.findChild<QProgressBar*>("ProgressBar1");
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(progress.windowTitle(), "Reading from KT-740");
    EXPECT_TRUE(progress.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(bar->x(), 10);
    EXPECT_EQ(bar->width(), progress.width() - 20);
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 200);
    progress.show();
    progress.setPosition(75);
    EXPECT_EQ(bar->value(), 75);
    progress.setMaximum(300);
    EXPECT_EQ(progress.maximum(), 300);
}

TEST(ProgramSettings, OpensWithTheWorkingValuesAndTakesTheAnswer) {
    struct Case {
        bool useSettings, showPrompt;
        const char* choose;
        bool prompt;
    } cases[] = {
        {true, true, "defaults_RB", false},
        {false, false, "save_RB", true},
        {false, true, "defaults_RB", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.choose);
        kt::ProgramPreferences working;
        working.use_settings = c.useSettings;
        working.show_prompt = c.showPrompt;
        bool openedSave = false, openedPrompt = false;
        QString caption;
        whenShown("TSettings_F", [&](QWidget* w) {
            caption = w->windowTitle();
            openedSave = w->findChild<QRadioButton*>("save_RB")->isChecked();
            openedPrompt = w->findChild<QCheckBox*>("show_prompt_CB")->isChecked();
            w->findChild<QRadioButton*>(c.choose)->click();
            w->findChild<QCheckBox*>("show_prompt_CB")->setChecked(c.prompt);
            w->findChild<QPushButton*>("ok_B")->click();
        });
        kt::showProgramSettings(nullptr, working);
        EXPECT_EQ(caption, "Program Settings");
        EXPECT_EQ(openedSave, c.useSettings);
        EXPECT_EQ(openedPrompt, c.showPrompt);
        EXPECT_EQ(working.use_settings, std::string(c.choose) == "save_RB");
        EXPECT_EQ(working.show_prompt, c.prompt);
    }
}

TEST(ProgramSettings, OnlyOkCloses) {
    kt::TSettings_F dialog(nullptr, false, true);
    EXPECT_EQ(dialog.findChild<QRadioButton*>("save_RB")->text(), "On exit, remember values for next time");
    EXPECT_EQ(dialog.findChild<QRadioButton*>("defaults_RB")->text(), "Use default values next time");
    EXPECT_EQ(dialog.findChild<QCheckBox*>("show_prompt_CB")->text(), "Always show this prompt");
    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    dialog.close();
    EXPECT_TRUE(dialog.isVisible());
    dialog.findChild<QPushButton*>("ok_B")->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

} // namespace
