#include "ui/progress_dialog.h"

#include "ui/dialog_helpers.h"

#include <QProgressBar>
#include <QPushButton>

namespace kt {

namespace {
constexpr int ClientWidth = 400;
constexpr int ClientHeight = 50;
constexpr int Margin = 10;
constexpr int BarHeight = 20;
constexpr int ButtonWidth = 75;
constexpr int ButtonHeight = 25;
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

void TProgressF::setCancellable(std::function<void()> onCancel) {
    onCancel_ = std::move(onCancel);
    if (!Cancel_B) {
        Cancel_B = new QPushButton("Cancel", this);
        Cancel_B->setObjectName("Cancel_B");
        connect(Cancel_B, &QPushButton::clicked, this, &TProgressF::cancel);
    }
    const int height = ClientHeight + ButtonHeight + Margin;
    setFixedSize(ClientWidth, height);
    ProgressBar1->setGeometry(Margin, Margin, ClientWidth - 2 * Margin, BarHeight);
    Cancel_B->setGeometry((ClientWidth - ButtonWidth) / 2, height - ButtonHeight - Margin, ButtonWidth,
                          ButtonHeight);
    Cancel_B->setEnabled(true);
    Cancel_B->show();
}

void TProgressF::cancel() {
    if (!onCancel_) return;
    auto onCancel = std::move(onCancel_);
    onCancel_ = nullptr;
    Cancel_B->setEnabled(false);
    Cancel_B->setText("Stopping");
    onCancel();
}

void TProgressF::reject() {
    cancel();
}

} // namespace kt
