#include "ui/pages/config_editors.h"

#include "ui/grid_models.h"

#include <QApplication>
#include <QBrush>
#include <QFont>
#include <QPalette>

namespace kt {

namespace {
constexpr int ValueColumn = 2;
}

ConfigGridModel::ConfigGridModel(GridRowsModel& rows, QObject* parent)
    : QIdentityProxyModel(parent), rows_(rows) {
    setSourceModel(&rows);
}

int ConfigGridModel::regAt(int row) const {
    const auto& rows = rows_.rows();
    return row >= 0 && row < static_cast<int>(rows.size()) ? rows[static_cast<size_t>(row)].reg : -1;
}

QVariant ConfigGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.column() != ValueColumn) return QIdentityProxyModel::data(index, role);
    const auto& rows = rows_.rows();
    if (index.row() >= static_cast<int>(rows.size())) return {};
    const GridRow& row = rows[static_cast<size_t>(index.row())];
    if (row.isTitle()) return QIdentityProxyModel::data(index, role);
    const auto mark = pending_.find(row.reg);
    const bool waiting = mark != pending_.end();
    switch (role) {
    case Qt::BackgroundRole:
        if (waiting) return QBrush(pendingColour());
        // White where a click opens an editor, the button face where the value is only shown.
        if (row.access > 0) return QBrush(Qt::white);
        return QBrush(QApplication::palette().color(QPalette::Button));
    case Qt::FontRole:
        if (waiting) {
            QFont italic;
            italic.setItalic(true);
            return italic;
        }
        break;
    case Qt::ToolTipRole:
        if (waiting) return QString("Writing %1 to the unit").arg(mark->second.newText);
        break;
    case Qt::AccessibleDescriptionRole:
        if (waiting) return QString("write of %1 pending").arg(mark->second.newText);
        break;
    default:
        break;
    }
    return QIdentityProxyModel::data(index, role);
}

void ConfigGridModel::rowChanged(int reg) {
    const auto& rows = rows_.rows();
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].reg == reg) {
            const QModelIndex cell = index(static_cast<int>(i), ValueColumn);
            emit dataChanged(cell, cell);
        }
}

void ConfigGridModel::addPending(int reg, const QString& newText) {
    Mark& m = pending_[reg];
    ++m.count;
    m.newText = newText;
    rowChanged(reg);
}

void ConfigGridModel::removePending(int reg) {
    auto it = pending_.find(reg);
    if (it == pending_.end()) return;
    if (--it->second.count <= 0) pending_.erase(it);
    rowChanged(reg);
}

void ConfigGridModel::clearPending() {
    std::map<int, Mark> old;
    old.swap(pending_);
    for (const auto& [reg, mark] : old) rowChanged(reg);
}

int ConfigGridModel::pendingCount() const {
    int n = 0;
    for (const auto& [reg, mark] : pending_) n += mark.count;
    return n;
}

} // namespace kt
