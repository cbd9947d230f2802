#include "ui/selection_dialogs.h"

#include "ui/voltage_dialog.h"
#include "ui/zsct_dialog.h"

namespace kt {

void ObjectNameSelectionPanels::setPanelText(SelectionPanel panel, std::string_view text) {
    if (!root_) return;
    auto known = found_.find(panel);
    if (known == found_.end() || !known->second)
        known = found_.insert_or_assign(panel, root_->findChild<QWidget*>(
                                                   QString::fromUtf8(selectionPanelName(panel).data())))
                    .first;
    QWidget* w = known->second;
    if (!w) return; // a window without that panel simply does not show it
    w->setProperty("text", QString::fromUtf8(text.data(), qsizetype(text.size())));
}

bool openCtDialog(QWidget* owner, CtVoltageSelection& selection, const CtDialogContext& context) {
    TZSCT_F dialog(owner, selection, context.windowColour);
    if (dialog.exec() != QDialog::Accepted) return false;
    selection.ct_selected = true;
    // A failed write is reported by the writer itself ("Write Failed"); the local choice stays.
    if (!context.legacyUnit && context.writeValue)
        context.writeValue(selection.effectiveCtPrimary, context.targetRegister);
    if (context.panels) refreshSelectionPanels(selection, context.legacyUnit, *context.panels);
    return true;
}

bool openVoltageDialog(QWidget* owner, CtVoltageSelection& selection, bool legacyUnit,
                       SelectionPanels* panels, const QColor& windowColour) {
    if (!legacyUnit) return false;
    TVoltageF dialog(owner, selection, windowColour);
    if (dialog.exec() != QDialog::Accepted) return false;
    selection.voltage_selected = true;
    if (panels) refreshSelectionPanels(selection, legacyUnit, *panels);
    return true;
}

} // namespace kt
