#pragma once

#include <QColor>
#include <Qt>

class QWidget;

namespace kt {

// A title bar without close or system-menu buttons, as the program's small dialogs have.
Qt::WindowFlags noBorderIconsFlags();
// Centres `dialog` on `owner` (its window), or on the screen when there is none.
void centreOn(QWidget* dialog, QWidget* owner);
// The main window hands its colour to its dialogs; an invalid colour keeps the system's.
void applyWindowColour(QWidget* widget, const QColor& colour);

} // namespace kt
