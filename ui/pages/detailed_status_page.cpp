#include "ui/pages/detailed_status_page.h"

#include "ui/pages/grid_view.h"

#include <QHBoxLayout>

namespace kt {

DetailedStatusPage::DetailedStatusPage(QWidget* parent) : QWidget(parent) {
    setObjectName("TabSheet4");
    Status_Grid = new StatusGridView("Status_Grid", "Status", this);
    Status_Grid->setModel(&status_);
    Status_Grid->showRegisterColumns();
    Status_Grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    SetpointsGrid = new StatusGridView("SetpointsGrid", "Trip and Device Status", this);
    SetpointsGrid->setModel(&setpoints_);
    SetpointsGrid->showSetpointColumns();
    SetpointsGrid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    SetpointsGrid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(2, 2, 2, 2);
    row->addWidget(Status_Grid, 2);
    row->addWidget(SetpointsGrid, 3);
}

void DetailedStatusPage::passCompleted(const PassSnapshot&, const UnitStatusView& view) {
    status_.setRows(view.statusGrid);
    setpoints_.setCells(view.setpoints);
}

void DetailedStatusPage::clear() {
    status_.clear();
    setpoints_.clear();
}

} // namespace kt
