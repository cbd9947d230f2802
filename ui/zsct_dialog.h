#pragma once

#include "ui/ct_voltage.h"

#include <QColor>
#include <QDialog>

class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace kt {

class TKTSpinEdit;

// "Earth-Fault CT": the CT series, the connection input, the CT rating and the effective CT
// primary the unit is told. Reads the selection on opening and writes `ct_series`, `ct_primary`,
// `ef_connection`, `ct_secondary` and `effectiveCtPrimary` back on OK only.
class TZSCT_F : public QDialog {
    Q_OBJECT
public:
    TZSCT_F(QWidget* owner, CtVoltageSelection& selection, const QColor& windowColour = {});

private:
    void applySeriesRules();
    void computeEffectivePrimary();
    void okClicked();
    int checkedSeries() const;

    CtVoltageSelection& sel_;
    bool initialised_ = false;
    EffectivePrimary effective_;

    QGroupBox* Series_GroupBox;
    QRadioButton* ct_0_RB;
    QRadioButton* ct_1_RB;
    QRadioButton* ct_2_RB;
    QRadioButton* ct_3_RB;
    QGroupBox* EF_GroupBox;
    QRadioButton* EF_5A_Rbutton;
    QRadioButton* EF_1A_Rbutton;
    QRadioButton* EF_ZSCT_Rbutton;
    QGroupBox* ZSCT_GroupBox;
    TKTSpinEdit* CT_Primary_E;
    QRadioButton* CT_5A_Rbutton;
    QRadioButton* CT_1A_Rbutton;
    QRadioButton* CT_05A_Rbutton;
    QLabel* txtEffectiveCT;
    QLabel* warning_Text;
    QPushButton* OK_Button;
    QPushButton* Cancel_Button;
};

} // namespace kt
