#pragma once

// The IED selection dialog, and the operator prompts of the IEC 61850 code answered by the
// window's dialogs.

#include "iec61850/operator_prompts.h"

#include <QDialog>
#include <QPointer>

class QListWidget;
class QPushButton;

namespace kt {

// Chooses one entry of a list. Children: `IEDListBox`, `OK` (default), `Cancel`.
class TIEDSelectionForm : public QDialog {
    Q_OBJECT
public:
    explicit TIEDSelectionForm(QWidget* owner = nullptr);

    QListWidget* IEDListBox;
    QPushButton* OK;
    QPushButton* Cancel;
};

// Choices go to TIEDSelectionForm, questions to the program's Yes/No message box.
class GuiOperatorPrompts : public OperatorPrompts {
public:
    explicit GuiOperatorPrompts(QWidget* owner) : owner_(owner) {}
    std::optional<size_t> chooseEntry(std::string_view caption,
                                      const std::vector<std::string>& entries) override;
    bool confirm(std::string_view text) override;

private:
    QPointer<QWidget> owner_;
};

} // namespace kt
