#pragma once

#include <QDialog>

class QProgressBar;

namespace kt {

// Progress of a long operation on the GUI thread (the 61850 transfers). The caller shows it,
// moves the position as it works and closes it. Child: `ProgressBar1`.
class TProgressF : public QDialog {
    Q_OBJECT
public:
    TProgressF(QWidget* owner, const QString& caption, int maximum);

    void setMaximum(int maximum);
    int maximum() const;
    // Moves the bar and repaints at once, since the caller keeps the event loop busy.
    void setPosition(int position);
    int position() const;

private:
    QProgressBar* ProgressBar1;
};

} // namespace kt
