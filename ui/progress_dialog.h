#pragma once

#include <QDialog>

#include <functional>

class QProgressBar;
class QPushButton;

namespace kt {

// Progress of a long operation (the 61850 transfers). The caller shows it, moves the position as
// the work reports and closes it. Children: `ProgressBar1`, and `Cancel_B` once the operation can
// be cancelled.
class TProgressF : public QDialog {
    Q_OBJECT
public:
    TProgressF(QWidget* owner, const QString& caption, int maximum);

    void setMaximum(int maximum);
    int maximum() const;
    // Moves the bar and repaints at once.
    void setPosition(int position);
    int position() const;
    // Offers a Cancel button (Escape does the same) that calls `onCancel` once; the dialog stays
    // open until its owner closes it, since the operation stops at its next step.
    void setCancellable(std::function<void()> onCancel);

protected:
    // The dialog closes with its operation, never by itself.
    void reject() override;

private:
    void cancel();

    QProgressBar* ProgressBar1;
    QPushButton* Cancel_B = nullptr;
    std::function<void()> onCancel_;
};

} // namespace kt
