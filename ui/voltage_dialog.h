#pragma once

#include "ui/ct_voltage.h"

#include <QColor>
#include <QDialog>

#include <vector>

class QButtonGroup;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace kt {

// "Voltage Settings" (legacy units): the Vn trip level set on the face of the unit. Writes
// `voltage` back on OK only. Children: `select_L`, `voltage_RG` with the items `voltage_RB0` to
// `voltage_RB10`, `OKButton`, `CancelButton`.
class TVoltageF : public QDialog {
    Q_OBJECT
public:
    TVoltageF(QWidget* owner, CtVoltageSelection& selection, const QColor& windowColour = {});

private:
    void layOut();

    CtVoltageSelection& sel_;
    QLabel* select_L;
    QGroupBox* voltage_RG;
    QButtonGroup* items_;
    QPushButton* OKButton;
    QPushButton* CancelButton;
};

} // namespace kt
