#pragma once

// The PC data log in the window, and the trend of the NGR current and voltage. It hears every
// refresh of the connected unit like a page does: after each pass or legacy frame it writes the
// data-log line the status view asks for (through the recorder the command-line logger uses too)
// and adds the refresh to the live trend. It also carries the Data Logging settings dialog, the
// `datalog_P` indicator, and the trend windows (live, and data-log files opened from the File
// menu).

#include "monitor/datalog_recorder.h"
#include "ui/datalog_settings_dialog.h"
#include "ui/pages/unit_page.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

namespace kt {

class TMainForm;
class TrendView;

// A window around a trend view: the live trend (`LiveTrend_F`) or a data-log file
// (`DatalogTrend_F`). Escape closes it.
class TrendWindow : public QWidget {
    Q_OBJECT
public:
    TrendWindow(const QString& objectName, const QString& title, QWidget* owner);
    TrendView* trend() const { return trend_; }

private:
    TrendView* trend_;
};

class DatalogComponent : public QObject, public UnitPage {
    Q_OBJECT
public:
    // Asks for a data-log file to open; empty when the operator cancels.
    using FilePicker = std::function<QString(QWidget* parent, const QString& startFolder)>;

    DatalogComponent(TMainForm& window, PageContext& context);
    ~DatalogComponent() override;

    void connected() override;
    void passCompleted(const PassSnapshot& pass, const UnitStatusView& view) override;
    void legacyFrame(const LegacyFrame& frame, const LegacyStatusView& view) override;
    void disconnected() override;

    // Data Logging > Settings, and a click on `datalog_P`.
    void Change_Datalog_Settings();
    // File > Live Trend: shows (or raises) the live trend window.
    TrendWindow* showLiveTrend();
    // File > Open Data Log: asks for a file and shows it in a trend window of its own.
    void openDatalogClick();
    // Shows `path` in a new trend window; null (with a message) when it is no data log.
    TrendWindow* openDatalogFile(const QString& path);

    // The settings as the log uses them (the stored part follows the working preferences).
    DatalogSettings& settings();
    DatalogRecorder& recorder() { return recorder_; }
    // The last line could not be written; lines wait in memory.
    bool failing() const { return recorder_.writer().failing(); }
    TrendView* liveTrend() const;

    void setFilePicker(FilePicker picker) { filePicker_ = std::move(picker); }
    void setFolderPicker(TDatalog_SettingsF::FolderPicker picker) { folderPicker_ = std::move(picker); }

private:
    void handle(const DatalogWriteResult& result);
    void markIndicator();
    void refreshIndicators();
    void say(const QString& text, const QString& title);

    TMainForm& window_;
    PageContext& context_;
    DatalogSettings settings_;
    DatalogRecorder recorder_;
    QString failure_;     // why the log cannot be written, while it cannot
    bool marked_ = false; // `datalog_P` shows the failure
    FilePicker filePicker_;
    TDatalog_SettingsF::FolderPicker folderPicker_;
    TrendWindow* live_ = nullptr; // owned by the main window, hidden until asked for
};

} // namespace kt
