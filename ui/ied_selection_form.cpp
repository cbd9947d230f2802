#include "ui/ied_selection_form.h"

#include "iec61850/icd_parser.h"
#include "ui/dialog_helpers.h"
#include "ui/message_box.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace kt {

TIEDSelectionForm::TIEDSelectionForm(QWidget* owner)
    : QDialog(owner), IEDListBox(new QListWidget(this)), OK(new QPushButton("OK", this)),
      Cancel(new QPushButton("Cancel", this)) {
    setObjectName("TIEDSelectionForm");
    setWindowTitle(
        QString::fromUtf8(IEDSelectionCaption.data(), static_cast<int>(IEDSelectionCaption.size())));
    IEDListBox->setObjectName("IEDListBox");
    IEDListBox->setAccessibleName("IEDs");
    OK->setObjectName("OK");
    Cancel->setObjectName("Cancel");
    OK->setDefault(true);
    connect(OK, &QPushButton::clicked, this, &QDialog::accept);
    connect(Cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(IEDListBox, &QListWidget::itemDoubleClicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OK);
    buttons->addWidget(Cancel);
    auto* column = new QVBoxLayout(this);
    column->addWidget(IEDListBox, 1);
    column->addLayout(buttons);
    resize(460, 260);
    centreOn(this, owner);
}

std::optional<size_t> GuiOperatorPrompts::chooseEntry(std::string_view caption,
                                                      const std::vector<std::string>& entries) {
    TIEDSelectionForm form(owner_);
    form.setWindowTitle(QString::fromUtf8(caption.data(), static_cast<int>(caption.size())));
    for (const std::string& e : entries) form.IEDListBox->addItem(QString::fromStdString(e));
    if (!entries.empty()) form.IEDListBox->setCurrentRow(0);
    if (form.exec() != QDialog::Accepted) return std::nullopt;
    const int row = form.IEDListBox->currentRow();
    if (row < 0 || static_cast<size_t>(row) >= entries.size()) return std::nullopt;
    return static_cast<size_t>(row);
}

bool GuiOperatorPrompts::confirm(std::string_view text) {
    return showMessage(QString::fromUtf8(text.data(), static_cast<int>(text.size())), "Warning", MessageYesNo,
                       owner_) == MessageResult::Yes;
}

} // namespace kt
