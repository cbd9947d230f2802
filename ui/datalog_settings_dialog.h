#pragma once

#include "monitor/datalog.h"

#include <QColor>
#include <QDialog>

#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;

namespace kt {

// "Datalog Settings": logging on or off and the folder of the day's file. OK sets
// `datalog_enable` from the check box, `save_rate` to 2 and asks for a header block; Browse
// changes `datalogFolder` at once, even when the dialog is then cancelled. Children:
// `Datalog_Enable`, `Label1`, `DatalogFile_E` (the file, shortened in the middle when it does not
// fit; the whole path in its tool tip), `Button1` (Browse), `OK_B`, `Cancel_B`.
class TDatalog_SettingsF : public QDialog {
    Q_OBJECT
public:
    // Asks for a folder; an empty answer means the operator cancelled.
    using FolderPicker = std::function<QString(QWidget* parent, const QString& title, const QString& start)>;

    TDatalog_SettingsF(QWidget* owner, DatalogSettings& settings, const QColor& windowColour = {},
                       DatalogClock clock = {});

    // Replaces the system's folder dialog (tests).
    void setFolderPicker(FolderPicker picker) { picker_ = std::move(picker); }
    // The file the log goes to today, as `DatalogFile_E` shows it in full.
    QString filePath() const { return path_; }

private:
    void Change_File();
    void refreshFileText();

    DatalogSettings& settings_;
    DatalogClock clock_;
    FolderPicker picker_;
    QString path_;
    QCheckBox* Datalog_Enable;
    QLabel* Label1;
    QLabel* DatalogFile_E;
    QPushButton* Button1;
    QPushButton* OK_B;
    QPushButton* Cancel_B;
};

} // namespace kt
