#pragma once

// Table models of the status grids: Status_Grid and Config_Grid (rows built from the register file,
// value cells refreshed every pass) and SetpointsGrid (trip and device status bit by bit). The
// views stay dumb; a refresh that keeps the rows only changes the cells that changed, so the
// operator's selection and scroll position survive every pass.

#include "monitor/status_decoding.h"

#include <QAbstractTableModel>

#include <vector>

namespace kt {

class GridRowsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit GridRowsModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The rows of a pass. Rows that name the same registers in the same order keep the model's
    // rows and change only the cells that differ; anything else resets the model.
    void setRows(const std::vector<GridRow>& rows);
    const std::vector<GridRow>& rows() const { return rows_; }
    // Back to no rows (disconnect).
    void clear();
    // The row showing `reg`, or -1.
    int rowOf(int reg) const;

private:
    std::vector<GridRow> rows_;
};

class SetpointsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit SetpointsModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    void setCells(const SetpointsCells& cells);
    void clear();
    const SetpointsCells& cells() const { return cells_; }

private:
    SetpointsCells cells_{};
};

} // namespace kt
