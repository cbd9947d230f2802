// The data-log settings dialog, offscreen, its controls found by object name.
#include "tests/support/process.h"
#include "ui/datalog_settings_dialog.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

using kt::DatalogSettings;
using kt::TDatalog_SettingsF;

kt::ClockFields march12() {
    kt::ClockFields c;
    c.year = 2026;
    c.month = 3;
    c.day = 12;
    return c;
}

struct Dialog {
    TDatalog_SettingsF dialog;
    QCheckBox* enable;
    QLabel* file;
    QPushButton* browse;
    QPushButton* ok;
    QPushButton* cancel;
    explicit Dialog(DatalogSettings& s) : dialog(nullptr, s, {}, [] { return march12(); }) {
        enable = dialog.findChild<QCheckBox*>("Datalog_Enable");
        file = dialog.findChild<QLabel*>("DatalogFile_E");
        browse = dialog.findChild<QPushButton*>("Button1");
        ok = dialog.findChild<QPushButton*>("OK_B");
        cancel = dialog.findChild<QPushButton*>("Cancel_B");
        EXPECT_TRUE(enable && file && browse && ok && cancel && dialog.findChild<QLabel*>("Label1"));
        dialog.show();
    }
};

TEST(DatalogSettingsDialog, OkSetsLoggingRateAndHeader) {
    DatalogSettings s;
    s.datalogFolder = "/var/log/kt/";
    s.FileName = "KT-740_12345";
    Dialog d(s);
    EXPECT_EQ(d.enable->text(), "Enable Data Logging");
    EXPECT_FALSE(d.enable->isChecked());
    EXPECT_EQ(d.file->toolTip(), "/var/log/kt/KT-740_12345_0312.txt");
    EXPECT_EQ(d.dialog.filePath(), d.file->toolTip());

    d.enable->setChecked(true);
    d.ok->click();
    EXPECT_EQ(d.dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(s.datalog_enable);
    EXPECT_EQ(s.save_rate, 2);
    EXPECT_TRUE(s.datalogHeaderPending);
}

TEST(DatalogSettingsDialog, BrowseChangesTheFolderEvenWhenCancelled) {
    kt::test::TempDir dir;
    DatalogSettings s;
    s.datalog_enable = true;
    s.save_rate = 5;
    s.FileName = "KT-740HV";
    s.datalogFolder = "/opt/ktmon740/";
    Dialog d(s);
    EXPECT_TRUE(d.enable->isChecked());

    QString offered;
    d.dialog.setFolderPicker([&](QWidget*, const QString& title, const QString& start) {
        EXPECT_EQ(title, "Pick path to save File");
        offered = start;
        return QString::fromStdString(dir.str());
    });
    d.browse->click();
    EXPECT_EQ(offered, "/opt/ktmon740/");
    const std::string folder =
        QDir::toNativeSeparators(QString::fromStdString(dir.str())).toStdString() + "/";
    EXPECT_EQ(s.datalogFolder, folder);
    EXPECT_EQ(d.file->toolTip().toStdString(), folder + "KT-740HV_0312.txt");

    // The operator cancels the folder dialog: nothing changes.
    d.dialog.setFolderPicker([](QWidget*, const QString&, const QString&) { return QString(); });
    d.browse->click();
    EXPECT_EQ(s.datalogFolder, folder);

    d.enable->setChecked(false);
    d.cancel->click();
    EXPECT_EQ(d.dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(s.datalog_enable);
    EXPECT_EQ(s.save_rate, 5);
    EXPECT_FALSE(s.datalogHeaderPending);
    EXPECT_EQ(s.datalogFolder, folder);
}

} // namespace
