#pragma once

#include <QTableView>

namespace kt {

// A status grid as the pages show it: 24-pixel rows, the hidden columns of the register number,
// access and translation type, a cream header row, read-only, one row selected at a time. The
// parameter column takes the room the value column leaves when the page is resized.
class StatusGridView : public QTableView {
    Q_OBJECT
public:
    StatusGridView(const QString& objectName, const QString& accessibleName, QWidget* parent);
    // Columns shown: 1 and 2 of a register grid.
    void showRegisterColumns();
    // Columns 0..3 of SetpointsGrid; its bit columns (4, 5) are hidden.
    void showSetpointColumns();
    // A cell editor is open.
    bool editing() const { return state() == QAbstractItemView::EditingState; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void layOutColumns();
    bool registerGrid_ = true;
};

} // namespace kt
