#include "ui/voltage_dialog.h"

#include "ui/dialog_helpers.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace kt {

namespace {
constexpr int Margin = 8;
constexpr int ButtonWidth = 75;
constexpr int ButtonHeight = 25;
} // namespace

TVoltageF::TVoltageF(QWidget* owner, CtVoltageSelection& selection, const QColor& windowColour)
    : QDialog(owner, noBorderIconsFlags()), sel_(selection), select_L(new QLabel(this)),
      voltage_RG(new QGroupBox("Vn Trip Level", this)), items_(new QButtonGroup(this)),
      OKButton(new QPushButton("OK", this)), CancelButton(new QPushButton("Cancel", this)) {
    setObjectName("TVoltageF");
    select_L->setObjectName("select_L");
    voltage_RG->setObjectName("voltage_RG");
    OKButton->setObjectName("OKButton");
    CancelButton->setObjectName("CancelButton");
    setWindowTitle("Voltage Settings");
    applyWindowColour(this, windowColour);

    select_L->setText(QString("Select to match setting on face of %1.")
                          .arg(QString::fromUtf8(modelName(sel_.model_type, sel_.siblingModel).data())));

    // Two columns, filled down the first column and then the second, as a radio group does.
    auto* grid = new QGridLayout(voltage_RG);
    auto levels = voltageLevels(sel_.model_type);
    const int rows = int(levels.size() + 1) / 2;
    for (int i = 0; i < int(levels.size()); ++i) {
        auto* b = new QRadioButton(QString("%1 V").arg(levels[size_t(i)]), voltage_RG);
        b->setObjectName(QString("voltage_RB%1").arg(i));
        items_->addButton(b, i);
        grid->addWidget(b, i % rows, i / rows);
    }
    // A stored index beyond the list selects nothing; OK waits for a real choice.
    if (QAbstractButton* current = items_->button(sel_.voltage)) current->setChecked(true);
    OKButton->setEnabled(items_->checkedId() >= 0);
    connect(items_, &QButtonGroup::idClicked, this, [this] { OKButton->setEnabled(true); });

    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, [this] {
        if (items_->checkedId() < 0) return;
        sel_.voltage = items_->checkedId();
        accept();
    });
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    layOut();
    centreOn(this, owner);
}

void TVoltageF::layOut() {
    QSize label = select_L->sizeHint();
    QSize group = voltage_RG->sizeHint();
    // The dialog is as wide as its sentence, but never so narrow that the list or the two
    // buttons would overlap.
    int width =
        std::max({label.width() + 2 * Margin, group.width() + 2 * Margin, 2 * ButtonWidth + 3 * Margin});
    select_L->setGeometry(Margin, Margin, label.width(), label.height());
    int groupTop = Margin + label.height() + Margin;
    voltage_RG->setGeometry(Margin, groupTop, width - 2 * Margin, group.height());
    int buttonTop = groupTop + group.height() + Margin;
    OKButton->setGeometry(Margin, buttonTop, ButtonWidth, ButtonHeight);
    CancelButton->setGeometry(width - Margin - ButtonWidth, buttonTop, ButtonWidth, ButtonHeight);
    setFixedSize(width, buttonTop + ButtonHeight + Margin);
}

} // namespace kt
