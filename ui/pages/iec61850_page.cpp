#include "ui/pages/iec61850_page.h"

#include "iec61850/icd_parser.h"
#include "ui/message_box.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QVBoxLayout>

namespace kt {

Iec61850Page::Iec61850Page(PageContext& context, QWidget* parent) : QWidget(parent), context_(context) {
    setObjectName("Tab61850");
    DevTypeComboBox = new QComboBox(this);
    DevTypeComboBox->setObjectName("DevTypeComboBox");
    DevTypeComboBox->setAccessibleName("Device Type");
    DevTypeComboBox->hide();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(DevTypeComboBox);
    layout->addStretch(1);
}

Iec61850Page::~Iec61850Page() = default;

void Iec61850Page::loadDeviceTypes(const QString& programFolder) {
    QDir resources(programFolder + "/resources");
    const QStringList files = resources.entryList({"*.icd"}, QDir::Files, QDir::Name);
    DevTypeComboBox->clear();
    for (const QString& file : files)
        DevTypeComboBox->addItem(QFileInfo(file).completeBaseName(), resources.filePath(file));
    if (files.isEmpty()) return;
    DevTypeComboBox->setCurrentIndex(0);
    const QString path = DevTypeComboBox->itemData(0).toString();
    try {
        parser_ = std::make_unique<TICDParser>(path.toStdString(), -1);
    } catch (const std::exception& e) {
        kt::showMessage(
            QString("The device template %1 cannot be read:\n%2").arg(path, QString::fromUtf8(e.what())),
            "error", MessageOk, context_.window);
    }
}

void Iec61850Page::clearEditorTabs() {
    // The editor tabs are filled from the model when the page has them; the template stays.
}

} // namespace kt
