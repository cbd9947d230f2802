#include "ui/settings_dialog.h"

#include "prefs/preferences.h"
#include "ui/dialog_helpers.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace kt {

TSettings_F::TSettings_F(QWidget* owner, bool useSettings, bool showPrompt, const QColor& windowColour)
    : QDialog(owner, noBorderIconsFlags()),
      save_RB(new QRadioButton("On exit, remember values for next time", this)),
      defaults_RB(new QRadioButton("Use default values next time", this)),
      show_prompt_CB(new QCheckBox("Always show this prompt", this)), ok_B(new QPushButton("OK", this)) {
    setObjectName("TSettings_F");
    save_RB->setObjectName("save_RB");
    defaults_RB->setObjectName("defaults_RB");
    show_prompt_CB->setObjectName("show_prompt_CB");
    ok_B->setObjectName("ok_B");
    setWindowTitle("Program Settings");
    applyWindowColour(this, windowColour);

    (useSettings ? save_RB : defaults_RB)->setChecked(true);
    show_prompt_CB->setChecked(showPrompt);
    ok_B->setDefault(true);
    connect(ok_B, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(save_RB);
    layout->addWidget(defaults_RB);
    layout->addSpacing(8);
    layout->addWidget(show_prompt_CB);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok_B);
    buttons->addStretch();
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    adjustSize();
    centreOn(this, owner);
}

bool TSettings_F::useSettings() const {
    return save_RB->isChecked();
}

bool TSettings_F::showPrompt() const {
    return show_prompt_CB->isChecked();
}

void TSettings_F::closeEvent(QCloseEvent* event) {
    event->ignore();
}

void showProgramSettings(QWidget* owner, ProgramPreferences& working, const QColor& windowColour) {
    TSettings_F dialog(owner, working.use_settings, working.show_prompt, windowColour);
    dialog.exec();
    working.show_prompt = dialog.showPrompt();
    working.use_settings = dialog.useSettings();
}

} // namespace kt
