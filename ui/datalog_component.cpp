#include "ui/datalog_component.h"

#include "ui/main_form.h"
#include "ui/message_box.h"
#include "ui/status_bars.h"
#include "ui/trend_view.h"

#include <QAction>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeySequence>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

namespace kt {

namespace {

const QColor FailingBackground(128, 0, 0);
const QColor PanelBackground(0, 0, 0);

QString qstr(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

QString pickDatalogFile(QWidget* parent, const QString& startFolder) {
    return QFileDialog::getOpenFileName(parent, "Open Data Log", startFolder,
                                        "Data logs (*.txt *.TXT);;All files (*)");
}

} // namespace

// ---- TrendWindow ----

TrendWindow::TrendWindow(const QString& objectName, const QString& title, QWidget* owner)
    : QWidget(owner, Qt::Window), trend_(new TrendView(this)) {
    setObjectName(objectName);
    setWindowTitle(title);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(trend_);
    auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(close, &QShortcut::activated, this, &QWidget::close);
    resize(900, 500);
}

// ---- DatalogComponent ----

DatalogComponent::DatalogComponent(TMainForm& window, PageContext& context)
    : QObject(&window), window_(window), context_(context), filePicker_(pickDatalogFile) {
    setObjectName("DatalogComponent");
    live_ = new TrendWindow("LiveTrend_F", "KT-MON740: NGR Current and Voltage (live)", &window);
    live_->hide();
}

DatalogComponent::~DatalogComponent() = default;

TrendView* DatalogComponent::liveTrend() const {
    return live_->trend();
}

DatalogSettings& DatalogComponent::settings() {
    // The stored part lives in the working preferences, which the preference dialogs may change.
    if (context_.preferences) loadDatalogSettings(settings_, *context_.preferences);
    return settings_;
}

void DatalogComponent::connected() {
    // Every connection starts its lines with a header block, and a trend of its own.
    settings().datalogHeaderPending = true;
    live_->trend()->clear();
    refreshIndicators();
}

void DatalogComponent::passCompleted(const PassSnapshot&, const UnitStatusView& view) {
    live_->trend()->appendSample(trendSample(view.values, QDateTime::currentMSecsSinceEpoch()));
    if (view.writeDatalogLine) handle(recorder_.unitRefresh(settings(), view));
    markIndicator();
}

void DatalogComponent::legacyFrame(const LegacyFrame& frame, const LegacyStatusView& view) {
    if (!view.accepted) return;
    live_->trend()->appendSample(trendSample(view.values, QDateTime::currentMSecsSinceEpoch()));
    if (view.writeLegacyLine) {
        DatalogWriteResult r = recorder_.legacyRefresh(settings(), frame, view);
        // A line kept for later counts as written: the rate goes on instead of turning every
        // frame into a line while the file cannot be written.
        if (r.written || r.kept) window_.legacyStatusState().lineWritten();
        handle(r);
    }
    markIndicator();
}

void DatalogComponent::disconnected() {
    // Lines that wait for the file get one more try; they stay for the next connection otherwise.
    if (recorder_.writer().keptLines() > 0) handle(recorder_.writer().retryKeptLines(settings()));
    markIndicator();
}

void DatalogComponent::handle(const DatalogWriteResult& r) {
    if (r.notice == DatalogNotice::Failed) {
        failure_ = qstr(r.reason);
        // Said once; the lines are kept and every later line tries again quietly.
        say(qstr(DatalogErrorText), qstr(DatalogErrorTitle));
    } else if (r.notice == DatalogNotice::Recovered) {
        failure_.clear();
        QString text = "Data logging works again";
        text += r.path.empty() ? QString(".") : QString(": %1.").arg(qstr(r.path));
        if (r.droppedLines > 0)
            text += QString("\n%1 lines could not be kept while the file could not be written and are "
                            "missing from it.")
                        .arg(r.droppedLines);
        say(text, "Data Log");
    } else if (!r.reason.empty()) {
        failure_ = qstr(r.reason);
    }
}

void DatalogComponent::markIndicator() {
    StatusPanel* panel = window_.statusBars()->datalog_P;
    if (failing()) {
        marked_ = true;
        panel->setBackground(FailingBackground);
        panel->setToolTip(QString("The data log cannot be written: %1\n%2 lines wait to be written; click to "
                                  "choose another folder.")
                              .arg(failure_)
                              .arg(recorder_.writer().keptLines()));
        panel->setAccessibleDescription("The data log cannot be written");
    } else if (marked_) {
        marked_ = false;
        panel->setBackground(PanelBackground);
        panel->setToolTip({});
        panel->setAccessibleDescription({});
    }
}

void DatalogComponent::say(const QString& text, const QString& title) {
    // After the refresh that found it has finished: a message box must not run inside it.
    QPointer<TMainForm> owner(&window_);
    QTimer::singleShot(0, this, [owner, text, title] {
        if (owner) showMessage(text, title, MessageOk, owner);
    });
}

void DatalogComponent::refreshIndicators() {
    const bool on = settings().datalog_enable;
    if (auto* item = window_.findChild<QAction*>("Datalog_Settings")) {
        item->setCheckable(true);
        item->setChecked(on);
    }
    // On current units `datalog_P` shows the unit's clock.
    if (window_.legacyUnit())
        window_.statusBars()->setPanel(window_.statusBars()->datalog_P,
                                       on ? PanelText{std::string(DatalogOnText), TextColour::Lime}
                                          : PanelText{std::string(DatalogOffText), TextColour::Red});
}

void DatalogComponent::Change_Datalog_Settings() {
    DatalogSettings& s = settings();
    prepareDatalogSettingsDialog(s, window_.programFolder().toStdString(), window_.selection().model_type,
                                 window_.legacyUnit(), window_.serialNumberText());
    TDatalog_SettingsF dialog(&window_, s, window_.windowColour());
    if (folderPicker_) dialog.setFolderPicker(folderPicker_);
    if (dialog.exec() == QDialog::Accepted) window_.markSettingsChanged();
    if (context_.preferences) saveDatalogSettings(s, *context_.preferences);
    refreshIndicators();
    // Lines kept while the old folder could not be written go to the new one.
    if (recorder_.writer().keptLines() > 0) handle(recorder_.writer().retryKeptLines(s));
    markIndicator();
    window_.savePreferences();
}

TrendWindow* DatalogComponent::showLiveTrend() {
    live_->show();
    live_->raise();
    live_->activateWindow();
    return live_;
}

void DatalogComponent::openDatalogClick() {
    const QString folder = QString::fromStdString(settings().datalogFolder);
    const QString path = filePicker_(&window_, folder);
    if (!path.isEmpty()) openDatalogFile(path);
}

TrendWindow* DatalogComponent::openDatalogFile(const QString& path) {
    auto* w = new TrendWindow("DatalogTrend_F", "KT-MON740: " + QFileInfo(path).fileName(), &window_);
    w->setAttribute(Qt::WA_DeleteOnClose);
    const QString error = w->trend()->loadFile(path);
    if (!error.isEmpty()) {
        delete w;
        showMessage(error, "Open Data Log", MessageOk, &window_);
        return nullptr;
    }
    w->show();
    return w;
}

} // namespace kt
