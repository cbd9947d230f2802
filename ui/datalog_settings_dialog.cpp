#include "ui/datalog_settings_dialog.h"

#include "monitor/monitor_thread.h"
#include "ui/dialog_helpers.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QVBoxLayout>

namespace kt {

namespace {

// Shows a path shortened in the middle when it is wider than the label, so both the folder's
// start and the file name stay readable.
class PathLabel : public QLabel {
public:
    using QLabel::QLabel;
    void setPath(const QString& path) {
        path_ = path;
        setToolTip(path);
        setAccessibleDescription(path);
        elide();
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        elide();
    }

private:
    void elide() {
        setText(fontMetrics().elidedText(path_, Qt::ElideMiddle, std::max(0, contentsRect().width())));
    }
    QString path_;
};

QString pickFolder(QWidget* parent, const QString& title, const QString& start) {
    // Qt's own folder dialog has a button for a new folder.
    return QFileDialog::getExistingDirectory(parent, title, start,
                                             QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
}

} // namespace

TDatalog_SettingsF::TDatalog_SettingsF(QWidget* owner, DatalogSettings& settings, const QColor& windowColour,
                                       DatalogClock clock)
    : QDialog(owner, noBorderIconsFlags()), settings_(settings),
      clock_(clock ? std::move(clock) : DatalogClock(systemLocalClock)), picker_(pickFolder),
      Datalog_Enable(new QCheckBox("Enable Data Logging", this)), Label1(new QLabel("Datalog File: ", this)),
      DatalogFile_E(new PathLabel(this)), Button1(new QPushButton("Browse", this)),
      OK_B(new QPushButton("OK", this)), Cancel_B(new QPushButton("Cancel", this)) {
    setObjectName("TDatalog_SettingsF");
    Datalog_Enable->setObjectName("Datalog_Enable");
    Label1->setObjectName("Label1");
    DatalogFile_E->setObjectName("DatalogFile_E");
    Button1->setObjectName("Button1");
    OK_B->setObjectName("OK_B");
    Cancel_B->setObjectName("Cancel_B");
    setWindowTitle("Datalog Settings");
    applyWindowColour(this, windowColour);

    DatalogFile_E->setAccessibleName("Datalog File");
    DatalogFile_E->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    DatalogFile_E->setMinimumWidth(320);
    Datalog_Enable->setChecked(settings_.datalog_enable);

    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(Label1);
    fileRow->addWidget(DatalogFile_E, 1);
    fileRow->addWidget(Button1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(OK_B);
    buttons->addStretch(1);
    buttons->addWidget(Cancel_B);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Datalog_Enable);
    layout->addLayout(fileRow);
    layout->addLayout(buttons);

    OK_B->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &TDatalog_SettingsF::Change_File);
    connect(OK_B, &QPushButton::clicked, this, [this] {
        acceptDatalogSettingsDialog(settings_, Datalog_Enable->isChecked());
        accept();
    });
    connect(Cancel_B, &QPushButton::clicked, this, &QDialog::reject);

    refreshFileText();
    adjustSize();
    centreOn(this, owner);
}

void TDatalog_SettingsF::Change_File() {
    QString chosen = picker_(this, "Pick path to save File", QString::fromStdString(settings_.datalogFolder));
    if (chosen.isEmpty()) return;
    QString folder = QDir::toNativeSeparators(chosen);
    if (!folder.endsWith(QDir::separator())) folder += QDir::separator();
    settings_.datalogFolder = folder.toStdString();
    refreshFileText();
}

void TDatalog_SettingsF::refreshFileText() {
    const ClockFields today = clock_();
    path_ = QString::fromStdString(datalogFilePath(settings_, today));
    static_cast<PathLabel*>(DatalogFile_E)->setPath(path_);
}

} // namespace kt
