#include "ui/zsct_dialog.h"

#include "components/kt_spin_edit.h"
#include "ui/dialog_helpers.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <cmath>

namespace kt {

namespace {

QRadioButton* radio(const char* name, QWidget* parent) {
    auto* b = new QRadioButton(parent);
    b->setObjectName(name);
    return b;
}

} // namespace

TZSCT_F::TZSCT_F(QWidget* owner, CtVoltageSelection& selection, const QColor& windowColour)
    : QDialog(owner, noBorderIconsFlags()), sel_(selection) {
    setObjectName("TZSCT_F");
    setWindowTitle("Earth-Fault CT");
    applyWindowColour(this, windowColour);

    Series_GroupBox = new QGroupBox("CT Type", this);
    Series_GroupBox->setObjectName("Series_GroupBox");
    ct_0_RB = radio("ct_0_RB", Series_GroupBox);
    ct_1_RB = radio("ct_1_RB", Series_GroupBox);
    ct_2_RB = radio("ct_2_RB", Series_GroupBox);
    ct_3_RB = radio("ct_3_RB", Series_GroupBox);
    ct_2_RB->setText("Other CT");
    auto* seriesLayout = new QVBoxLayout(Series_GroupBox);
    for (QRadioButton* b : {ct_0_RB, ct_1_RB, ct_3_RB, ct_2_RB}) seriesLayout->addWidget(b);

    EF_GroupBox = new QGroupBox("CT Connection", this);
    EF_GroupBox->setObjectName("EF_GroupBox");
    EF_5A_Rbutton = radio("EF_5A_Rbutton", EF_GroupBox);
    EF_1A_Rbutton = radio("EF_1A_Rbutton", EF_GroupBox);
    EF_ZSCT_Rbutton = radio("EF_ZSCT_Rbutton", EF_GroupBox);
    auto* efLayout = new QVBoxLayout(EF_GroupBox);
    for (QRadioButton* b : {EF_5A_Rbutton, EF_1A_Rbutton, EF_ZSCT_Rbutton}) efLayout->addWidget(b);

    ZSCT_GroupBox = new QGroupBox("CT Rating", this);
    ZSCT_GroupBox->setObjectName("ZSCT_GroupBox");
    CT_Primary_E = new TKTSpinEdit(ZSCT_GroupBox);
    CT_Primary_E->setObjectName("CT_Primary_E");
    CT_Primary_E->SetUnits(" A");
    CT_Primary_E->SetIncrement(1);
    CT_Primary_E->SetMin(CtPrimaryMin);
    CT_Primary_E->SetMax(CtPrimaryMax);
    CT_Primary_E->SetValue(CtPrimaryMin);
    CT_Primary_E->SetWidth(90);
    CT_5A_Rbutton = radio("CT_5A_Rbutton", ZSCT_GroupBox);
    CT_1A_Rbutton = radio("CT_1A_Rbutton", ZSCT_GroupBox);
    CT_05A_Rbutton = radio("CT_05A_Rbutton", ZSCT_GroupBox);
    CT_5A_Rbutton->setText("5 A");
    CT_1A_Rbutton->setText("1 A");
    CT_05A_Rbutton->setText("0.05 A");
    auto* ratingLayout = new QGridLayout(ZSCT_GroupBox);
    ratingLayout->addWidget(new QLabel("CT Primary", ZSCT_GroupBox), 0, 0);
    ratingLayout->addWidget(CT_Primary_E, 0, 1, 1, 3, Qt::AlignLeft);
    ratingLayout->addWidget(new QLabel("CT Secondary", ZSCT_GroupBox), 1, 0);
    ratingLayout->addWidget(CT_5A_Rbutton, 1, 1);
    ratingLayout->addWidget(CT_1A_Rbutton, 1, 2);
    ratingLayout->addWidget(CT_05A_Rbutton, 1, 3);

    txtEffectiveCT = new QLabel(this);
    txtEffectiveCT->setObjectName("txtEffectiveCT");
    warning_Text = new QLabel(this);
    warning_Text->setObjectName("warning_Text");
    warning_Text->setStyleSheet("color: red;");
    warning_Text->hide();
    OK_Button = new QPushButton("OK", this);
    OK_Button->setObjectName("OK_Button");
    Cancel_Button = new QPushButton("Cancel", this);
    Cancel_Button->setObjectName("Cancel_Button");
    OK_Button->setDefault(true);

    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    top->addWidget(Series_GroupBox);
    top->addWidget(EF_GroupBox);
    layout->addLayout(top);
    layout->addWidget(ZSCT_GroupBox);
    auto* effectiveRow = new QHBoxLayout;
    effectiveRow->addWidget(new QLabel("Effective CT Primary:", this));
    effectiveRow->addWidget(txtEffectiveCT);
    effectiveRow->addStretch();
    layout->addLayout(effectiveRow);
    layout->addWidget(warning_Text);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OK_Button);
    buttons->addWidget(Cancel_Button);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // 1. Series captions: the sibling model has its own three CT families.
    const bool sibling = sel_.siblingModel;
    ct_0_RB->setText(QString::fromUtf8(ctSeriesCaption(CtSeriesZsct, sibling).data()));
    ct_1_RB->setText(QString::fromUtf8(ctSeriesCaption(CtSeriesTr50, sibling).data()));
    ct_3_RB->setText(QString::fromUtf8(ctSeriesCaption(CtSeriesNrx2000, true).data()));
    ct_3_RB->setVisible(sibling);
    ct_3_RB->setEnabled(sibling);

    // 2. Connection wording by model.
    const bool au = sel_.model_type == ModelKt740AU;
    if (au) {
        EF_5A_Rbutton->setText("C (Terminals: 10, 11)");
        EF_1A_Rbutton->setText("TR50 (Terminals: 9, 11)");
        EF_ZSCT_Rbutton->setText("ZSCT (Terminals: 8, 11)");
    } else {
        EF_5A_Rbutton->setText("5 A (Terminals: 10, 11)");
        EF_1A_Rbutton->setText("1 A (Terminals: 9, 11)");
        EF_ZSCT_Rbutton->setText("Sensitive/ZSCT (Terminals: 8, 11)");
    }
    EF_5A_Rbutton->setEnabled(!au);
    ct_2_RB->setVisible(!au);
    ZSCT_GroupBox->setVisible(!au);

    // 3. The current selection. A stored series this model cannot offer would be checked but
    // invisible, and OK would store a selection that is dropped at once: start from the first.
    QRadioButton* series[] = {ct_0_RB, ct_1_RB, ct_2_RB, ct_3_RB};
    int s = sel_.ct_series;
    if (s < 0 || s > 3 || !series[s]->isVisibleTo(this)) s = CtSeriesZsct;
    series[s]->setChecked(true);
    CT_Primary_E->SetValue(sel_.ct_primary);
    (sel_.ef_connection == 0   ? EF_5A_Rbutton
     : sel_.ef_connection == 1 ? EF_1A_Rbutton
                               : EF_ZSCT_Rbutton)
        ->setChecked(true);
    (sel_.ct_secondary ? CT_1A_Rbutton : CT_5A_Rbutton)->setChecked(true);

    // 4. Rules, then every change recomputes.
    applySeriesRules();
    for (QRadioButton* b : series) {
        connect(b, &QRadioButton::toggled, this, [this](bool on) {
            if (!on) return;
            applySeriesRules();
            computeEffectivePrimary();
        });
    }
    for (QRadioButton* b :
         {EF_5A_Rbutton, EF_1A_Rbutton, EF_ZSCT_Rbutton, CT_5A_Rbutton, CT_1A_Rbutton, CT_05A_Rbutton})
        connect(b, &QRadioButton::toggled, this, &TZSCT_F::computeEffectivePrimary);
    connect(CT_Primary_E, &TKTSpinEdit::OnChange, this, &TZSCT_F::computeEffectivePrimary);
    connect(OK_Button, &QPushButton::clicked, this, &TZSCT_F::okClicked);
    connect(Cancel_Button, &QPushButton::clicked, this, &QDialog::reject);
    initialised_ = true;
    computeEffectivePrimary();
    adjustSize();
    centreOn(this, owner);
}

int TZSCT_F::checkedSeries() const {
    if (ct_1_RB->isChecked()) return CtSeriesTr50;
    if (ct_2_RB->isChecked()) return CtSeriesOther;
    if (ct_3_RB->isChecked()) return CtSeriesNrx2000;
    return CtSeriesZsct;
}

void TZSCT_F::applySeriesRules() {
    const bool au = sel_.model_type == ModelKt740AU;
    const int series = checkedSeries();
    // Fixed CT families: the unit's own CTs sit on a known input with a known primary.
    auto fixedCt = [this](double primary, QRadioButton* input) {
        for (QRadioButton* b : {EF_5A_Rbutton, EF_1A_Rbutton, EF_ZSCT_Rbutton, CT_5A_Rbutton, CT_1A_Rbutton})
            b->setEnabled(b == input);
        CT_05A_Rbutton->setEnabled(true);
        CT_Primary_E->SetValue(primary);
        CT_Primary_E->setEnabled(false);
        input->setChecked(true);
        CT_05A_Rbutton->setChecked(true);
    };
    if (series == CtSeriesZsct) {
        fixedCt(5, EF_ZSCT_Rbutton);
    } else if (series == CtSeriesTr50) {
        fixedCt(30, au ? EF_1A_Rbutton : EF_ZSCT_Rbutton);
    } else if (au) {
        return;
    } else if (series == CtSeriesNrx2000) {
        for (QWidget* w :
             std::initializer_list<QWidget*>{CT_Primary_E, CT_05A_Rbutton, CT_5A_Rbutton, CT_1A_Rbutton})
            w->setEnabled(true);
    } else {
        for (QWidget* w :
             std::initializer_list<QWidget*>{EF_5A_Rbutton, EF_1A_Rbutton, EF_ZSCT_Rbutton, CT_5A_Rbutton,
                                             CT_1A_Rbutton, CT_05A_Rbutton, CT_Primary_E})
            w->setEnabled(true);
    }
}

void TZSCT_F::computeEffectivePrimary() {
    if (!initialised_) return;
    const double connection = EF_ZSCT_Rbutton->isChecked() ? 0.05 : EF_1A_Rbutton->isChecked() ? 1.0 : 5.0;
    const double secondary = CT_5A_Rbutton->isChecked() ? 5.0 : CT_05A_Rbutton->isChecked() ? 0.05 : 1.0;
    effective_ = describeEffectivePrimary(
        effectiveCtPrimary(sel_.model_type, CT_Primary_E->GetValue(), connection, secondary));
    txtEffectiveCT->setText(QString::fromStdString(effective_.text));
    warning_Text->setText(QString::fromStdString(effective_.warning));
    warning_Text->setVisible(!effective_.whole);
}

void TZSCT_F::okClicked() {
    // Text typed into the primary and not yet confirmed with Enter still counts.
    CT_Primary_E->EditExit();
    computeEffectivePrimary();
    sel_.ct_series = checkedSeries();
    sel_.ct_primary = int32_t(std::trunc(CT_Primary_E->GetValue()));
    sel_.ef_connection = EF_5A_Rbutton->isChecked() ? 0 : EF_1A_Rbutton->isChecked() ? 1 : 2;
    sel_.ct_secondary = CT_5A_Rbutton->isChecked() ? 0 : 1;
    sel_.effectiveCtPrimary = effective_.value;
    accept();
}

} // namespace kt
