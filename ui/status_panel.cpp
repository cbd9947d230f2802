#include "ui/status_panel.h"

#include <QMouseEvent>

namespace kt {

StatusPanel::StatusPanel(const QString& objectName, const QString& text, QWidget* parent)
    : QLabel(text, parent) {
    setObjectName(objectName);
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setMargin(2);
    setAutoFillBackground(true);
    setTextInteractionFlags(Qt::NoTextInteraction);
}

void StatusPanel::setTextColour(const QColor& colour) {
    QPalette p = palette();
    p.setColor(QPalette::Active, QPalette::WindowText, colour);
    p.setColor(QPalette::Inactive, QPalette::WindowText, colour);
    setPalette(p);
}

QColor StatusPanel::textColour() const {
    return palette().color(QPalette::Active, QPalette::WindowText);
}

void StatusPanel::setBackground(const QColor& colour) {
    QPalette p = palette();
    p.setColor(QPalette::Window, colour);
    setPalette(p);
}

void StatusPanel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && isEnabled() && rect().contains(event->position().toPoint()))
        emit clicked();
}

} // namespace kt
