#pragma once

// The IEC 61850 page (Tab61850): the unit's 61850 configuration, the device-type templates it is
// edited on, and the exchange with SCL files and with the unit.

#include "ui/pages/unit_page.h"

#include <QWidget>

#include <memory>

class QComboBox;

namespace kt {

class TICDParser;

class Iec61850Page : public QWidget, public UnitPage {
    Q_OBJECT
public:
    Iec61850Page(PageContext& context, QWidget* parent = nullptr);
    ~Iec61850Page() override;

    // Lists the device-type templates (resources/*.icd beside the program) and loads the first as
    // the model. A template that cannot be read is reported; the page then has nothing to edit.
    void loadDeviceTypes(const QString& programFolder);
    // Empties the editor tabs; the template itself is kept.
    void clearEditorTabs();
    void disconnected() override { clearEditorTabs(); }

    // The IEC 61850 model: the first device template, or what the page loaded.
    TICDParser* currentParser() const { return parser_.get(); }

    QComboBox* DevTypeComboBox = nullptr;

protected:
    PageContext& context_;
    std::unique_ptr<TICDParser> parser_;
};

} // namespace kt
