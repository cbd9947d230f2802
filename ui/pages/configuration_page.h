#pragma once

// The Configuration page (Config_Sheet): the settings of the connected unit (Config_Grid), and,
// while the unit's essential settings are not yet verified, the notice that says so (RichEdit1)
// beside the essential rows.

#include "ui/grid_models.h"
#include "ui/pages/unit_page.h"

#include <QWidget>

class QTextEdit;

namespace kt {

class StatusGridView;

class ConfigurationPage : public QWidget, public UnitPage {
    Q_OBJECT
public:
    ConfigurationPage(PageContext& context, QWidget* parent = nullptr);

    void passCompleted(const PassSnapshot& pass, const UnitStatusView& view) override;
    void disconnected() override { clear(); }
    void clear() override;

    // The essential-settings notice.
    void writeEssentialSettingsNotice();

    GridRowsModel& configModel() { return config_; }

    StatusGridView* Config_Grid = nullptr;
    QTextEdit* RichEdit1 = nullptr;

protected:
    PageContext& context_;
    GridRowsModel config_;
};

} // namespace kt
