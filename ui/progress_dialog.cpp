#include "ui/progress_dialog.h"

#include "ui/dialog_helpers.h"

#include <QProgressBar>

namespace kt {

namespace {
constexpr int ClientWidth = 400;
constexpr int ClientHeight = 50;
constexpr int Margin = 10;
constexpr int BarHeight = 20;
} // namespace

TProgressF::TProgressF(QWidget* owner, const QString& caption, int maximum)
    : QDialog(owner, noBorderIconsFlags() | Qt::WindowStaysOnTopHint), ProgressBar1(new QProgressBar(this)) {
    setObjectName("TProgressF");
    ProgressBar1->setObjectName("ProgressBar1");
    setWindowTitle(caption);
    setFixedSize(ClientWidth, ClientHeight);
    ProgressBar1->setGeometry(Margin, (ClientHeight - BarHeight) / 2, ClientWidth - 2 * Margin, BarHeight);
    ProgressBar1->setRange(0, maximum);
    ProgressBar1->setValue(0);
    centreOn(this, owner);
}

void TProgressF::setMaximum(int maximum) {
    ProgressBar1->setMaximum(maximum);
}

int TProgressF::maximum() const {
    return ProgressBar1->maximum();
}

void TProgressF::setPosition(int position) {
    ProgressBar1->setValue(position);
    ProgressBar1->repaint();
}

int TProgressF::position() const {
    return ProgressBar1->value();
}

} // namespace kt
