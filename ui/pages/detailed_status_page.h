#pragma once

// The Detailed Status page (TabSheet4): the status grid built from the register file along the left
// edge, and the trip and device status bit by bit (SetpointsGrid) beside it.

#include "ui/grid_models.h"
#include "ui/pages/unit_page.h"

#include <QWidget>

namespace kt {

class StatusGridView;

class DetailedStatusPage : public QWidget, public UnitPage {
    Q_OBJECT
public:
    explicit DetailedStatusPage(QWidget* parent = nullptr);

    void passCompleted(const PassSnapshot& pass, const UnitStatusView& view) override;
    void disconnected() override { clear(); }
    void clear() override;

    GridRowsModel& statusModel() { return status_; }
    SetpointsModel& setpointsModel() { return setpoints_; }

    StatusGridView* Status_Grid = nullptr;
    StatusGridView* SetpointsGrid = nullptr;

private:
    GridRowsModel status_;
    SetpointsModel setpoints_;
};

} // namespace kt
