#include "ui/pages/configuration_page.h"

#include "ui/pages/grid_view.h"

#include <QHBoxLayout>
#include <QTextEdit>

namespace kt {

ConfigurationPage::ConfigurationPage(PageContext& context, QWidget* parent)
    : QWidget(parent), context_(context) {
    setObjectName("Config_Sheet");
    Config_Grid = new StatusGridView("Config_Grid", "Configuration", this);
    Config_Grid->setModel(&config_);
    Config_Grid->showRegisterColumns();
    RichEdit1 = new QTextEdit(this);
    RichEdit1->setObjectName("RichEdit1");
    RichEdit1->setReadOnly(true);
    RichEdit1->setAccessibleName("Essential Settings");
    RichEdit1->hide();
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(2, 2, 2, 2);
    row->addWidget(Config_Grid, 3);
    row->addWidget(RichEdit1, 2);
    writeEssentialSettingsNotice();
}

void ConfigurationPage::passCompleted(const PassSnapshot&, const UnitStatusView& view) {
    config_.setRows(view.configGrid);
    if (view.laidOut) RichEdit1->setVisible(view.richEdit1Visible);
}

void ConfigurationPage::clear() {
    config_.clear();
    RichEdit1->hide();
}

void ConfigurationPage::writeEssentialSettingsNotice() {
    RichEdit1->clear();
    QTextCursor c(RichEdit1->document());
    QTextCharFormat heading;
    heading.setForeground(QColor(255, 0, 0));
    heading.setFontWeight(QFont::Bold);
    QTextCharFormat plain;
    plain.setForeground(Qt::black);
    QTextCharFormat underlined = plain;
    underlined.setFontUnderline(true);
    c.insertText("IMPORTANT\n\n", heading);
    c.insertText("This KT-740 Series product contains firmware that enables new functionality, and more "
                 "information is required about the system configuration for these new functions to "
                 "operate correctly. It is important that each parameter listed on this screen is reviewed "
                 "carefully before proceeding. After verifying these parameters, set the ",
                 plain);
    c.insertText("Essential Settings Verified", underlined);
    c.insertText(" parameter to ", plain);
    c.insertText("Settings Verified.\n\n", underlined);
    c.insertText("This step must be completed before KT-MON740 will display the complete set of parameters "
                 "and status information from the unit.\n\n",
                 plain);
    c.insertText("As a reminder, the KT-740 Series products must be calibrated after installation to ensure "
                 "correct operation.\n\n",
                 plain);
    c.insertText("For questions about calibration or the new functionality, please consult the appropriate "
                 "KT-740 Series Manual or contact Corvane Relays technical support, "
                 "support@corvane-relays.example, +1 555 0100 740.",
                 plain);
    RichEdit1->moveCursor(QTextCursor::Start);
}

} // namespace kt
