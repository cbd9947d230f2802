#include "ui/dialog_helpers.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace kt {

Qt::WindowFlags noBorderIconsFlags() {
    return Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
}

void centreOn(QWidget* dialog, QWidget* owner) {
    QRect area;
    if (owner && owner->window()->isVisible()) {
        area = owner->window()->frameGeometry();
    } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
        area = screen->availableGeometry();
    } else {
        return; // nowhere to centre on: the window system places it
    }
    QRect frame = dialog->frameGeometry();
    frame.moveCenter(area.center());
    dialog->move(frame.topLeft());
}

void applyWindowColour(QWidget* widget, const QColor& colour) {
    if (!colour.isValid()) return;
    QPalette p = widget->palette();
    p.setColor(QPalette::Window, colour);
    widget->setPalette(p);
    widget->setAutoFillBackground(true);
}

} // namespace kt
