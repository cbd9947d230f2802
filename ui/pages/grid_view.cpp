#include "ui/pages/grid_view.h"

#include <QHeaderView>

namespace kt {

StatusGridView::StatusGridView(const QString& objectName, const QString& accessibleName, QWidget* parent)
    : QTableView(parent) {
    setObjectName(objectName);
    setAccessibleName(accessibleName);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(24);
    verticalHeader()->setMinimumSectionSize(24);
    horizontalHeader()->setStyleSheet("QHeaderView::section { background-color: rgb(255, 251, 240); }");
    horizontalHeader()->setHighlightSections(false);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(false); // Tab leaves the grid; arrows move in it
    setWordWrap(false);
}

void StatusGridView::showRegisterColumns() {
    registerGrid_ = true;
    for (int c : {0, 3, 4}) setColumnHidden(c, true);
    layOutColumns();
}

void StatusGridView::showSetpointColumns() {
    registerGrid_ = false;
    horizontalHeader()->hide(); // row 0 of the grid is its own header
    for (int c : {4, 5}) setColumnHidden(c, true);
    layOutColumns();
}

void StatusGridView::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    layOutColumns();
}

void StatusGridView::layOutColumns() {
    const int width = viewport()->width();
    if (width <= 0 || !model()) return;
    if (registerGrid_) {
        // The value keeps two fifths; the parameter takes the rest.
        const int value = width * 2 / 5;
        setColumnWidth(2, value);
        setColumnWidth(1, width - value);
    } else {
        for (int c = 0; c < 4; ++c) setColumnWidth(c, width / 4);
    }
}

} // namespace kt
