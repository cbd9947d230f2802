#pragma once

#include "ui/ct_voltage.h"

#include <QColor>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <map>

namespace kt {

// The selection panels found by object name (`unit_P`, `voltage_P`, `zsct_P`,
// `ef_connection_P`, `ct_secondary_P`, `ct_primary_P`) under `root`; each panel is any widget
// with a "text" property (a label or a flat button). Missing panels are skipped.
class ObjectNameSelectionPanels : public SelectionPanels {
public:
    explicit ObjectNameSelectionPanels(QWidget* root) : root_(root) {}
    void setPanelText(SelectionPanel panel, std::string_view text) override;

private:
    QPointer<QWidget> root_;
    // Found once: a search of the whole window for each panel on every pass costs more than
    // the rest of the refresh of the status bars.
    std::map<SelectionPanel, QPointer<QWidget>> found_;
};

// Writes a value to a unit register (the engine's writeValue); false when the write failed.
using RegisterWriter = std::function<bool(int32_t value, int reg)>;

struct CtDialogContext {
    bool legacyUnit = false;
    // Where a current unit gets the effective primary: register 34, or the configuration
    // grid's row. Nothing is written when `writeValue` is empty or the unit is a legacy one.
    int targetRegister = 34;
    RegisterWriter writeValue;
    SelectionPanels* panels = nullptr;
    QColor windowColour;
};

// Runs the CT dialog modally. On OK: `ct_selected` is set, a current unit gets the effective
// primary written, and the panels are refreshed. Returns whether OK was pressed (the caller
// then sets its settings-changed mark); the caller stores the preferences either way.
bool openCtDialog(QWidget* owner, CtVoltageSelection& selection, const CtDialogContext& context);

// Runs the voltage dialog modally on a legacy unit (on a current unit the unit reports its own
// level and nothing happens). On OK: `voltage_selected` is set and the panels are refreshed.
bool openVoltageDialog(QWidget* owner, CtVoltageSelection& selection, bool legacyUnit,
                       SelectionPanels* panels, const QColor& windowColour = {});

} // namespace kt
