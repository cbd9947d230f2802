#include "ui/grid_models.h"

#include <QBrush>
#include <QColor>
#include <QFont>

namespace kt {

namespace {

QString qs(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

bool sameStructure(const std::vector<GridRow>& a, const std::vector<GridRow>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].reg != b[i].reg || a[i].parameter != b[i].parameter) return false;
    return true;
}

} // namespace

int GridRowsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int GridRowsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : GridColumns;
}

QVariant GridRowsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
    const GridRow& row = rows_[static_cast<size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return qs(row.cell(index.column()));
    case Qt::FontRole:
        if (row.isTitle()) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        return {};
    case Qt::BackgroundRole:
        // Group titles read as headings across the grid.
        if (row.isTitle()) return QBrush(QColor(255, 251, 240));
        return {};
    default:
        return {};
    }
}

QVariant GridRowsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    if (section == 1) return QString::fromUtf8(GridHeaderParameter.data(), GridHeaderParameter.size());
    if (section == 2) return QString::fromUtf8(GridHeaderValue.data(), GridHeaderValue.size());
    return {};
}

void GridRowsModel::setRows(const std::vector<GridRow>& rows) {
    if (!sameStructure(rows_, rows)) {
        beginResetModel();
        rows_ = rows;
        endResetModel();
        return;
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        GridRow& mine = rows_[i];
        const GridRow& theirs = rows[i];
        if (mine.value == theirs.value && mine.access == theirs.access &&
            mine.translationType == theirs.translationType)
            continue;
        mine = theirs;
        emit dataChanged(index(static_cast<int>(i), 0), index(static_cast<int>(i), GridColumns - 1));
    }
}

void GridRowsModel::clear() {
    if (rows_.empty()) return;
    beginResetModel();
    rows_.clear();
    endResetModel();
}

int GridRowsModel::rowOf(int reg) const {
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].reg == reg) return static_cast<int>(i);
    return -1;
}

SetpointsModel::SetpointsModel(QObject* parent) : QAbstractTableModel(parent) {
    writeSetpointsHeader(cells_);
}

int SetpointsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : SetpointsRows;
}

int SetpointsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : SetpointsColumns;
}

QVariant SetpointsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const std::string& text = cells_[static_cast<size_t>(index.row())][static_cast<size_t>(index.column())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return qs(text);
    case Qt::FontRole:
        if (index.row() <= 1) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        return {};
    case Qt::BackgroundRole:
        if (index.row() == 0) return QBrush(QColor(255, 251, 240)); // the fixed row, cream
        return {};
    default:
        return {};
    }
}

void SetpointsModel::setCells(const SetpointsCells& cells) {
    for (int r = 0; r < SetpointsRows; ++r)
        for (int c = 0; c < SetpointsColumns; ++c) {
            std::string& mine = cells_[static_cast<size_t>(r)][static_cast<size_t>(c)];
            const std::string& theirs = cells[static_cast<size_t>(r)][static_cast<size_t>(c)];
            if (mine == theirs) continue;
            mine = theirs;
            emit dataChanged(index(r, c), index(r, c));
        }
}

void SetpointsModel::clear() {
    SetpointsCells blank; // not "{}": clang 14 crashes value-initialising this array of strings
    writeSetpointsHeader(blank);
    setCells(blank);
}

} // namespace kt
