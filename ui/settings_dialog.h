#pragma once

#include <QColor>
#include <QDialog>

class QCheckBox;
class QPushButton;
class QRadioButton;

namespace kt {

struct ProgramPreferences;

// "Program Settings": whether the values are remembered for the next start, and whether to ask
// again. OK is the only way out. Children: `save_RB`, `defaults_RB`, `show_prompt_CB`, `ok_B`.
class TSettings_F : public QDialog {
    Q_OBJECT
public:
    TSettings_F(QWidget* owner, bool useSettings, bool showPrompt, const QColor& windowColour = {});

    bool useSettings() const;
    bool showPrompt() const;

protected:
    void reject() override {} // Escape and the window system's close do not dismiss it
    void closeEvent(QCloseEvent* event) override;

private:
    QRadioButton* save_RB;
    QRadioButton* defaults_RB;
    QCheckBox* show_prompt_CB;
    QPushButton* ok_B;
};

// Shows the dialog modally and takes its answer into the working "use_settings" and
// "show_prompt". The caller stores the preferences afterwards.
void showProgramSettings(QWidget* owner, ProgramPreferences& working, const QColor& windowColour = {});

} // namespace kt
