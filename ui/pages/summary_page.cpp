#include "ui/pages/summary_page.h"

#include <QHBoxLayout>

namespace kt {

namespace {

// The page's layout is made before the panels are added to it.
QWidget* withRowLayout(QWidget* page, const char* name) {
    page->setObjectName(name);
    auto* row = new QHBoxLayout(page);
    row->setContentsMargins(6, 6, 6, 6);
    return page;
}

} // namespace

SummaryPage::SummaryPage(QWidget* parent)
    : QWidget(parent), panels_(withRowLayout(this, "Tab_Summary"), "Tab_Summary") {}

void SummaryPage::passCompleted(const PassSnapshot&, const UnitStatusView& view) {
    panels_.show(view.values, view.captions);
}

void SummaryPage::legacyFrame(const LegacyFrame&, const LegacyStatusView& view) {
    panels_.show(view.values, view.captions);
}

LegacyDetailsPage::LegacyDetailsPage(QWidget* parent)
    : QWidget(parent), panels_(withRowLayout(this, "TabSheet2"), "TabSheet2") {}

void LegacyDetailsPage::legacyFrame(const LegacyFrame&, const LegacyStatusView& view) {
    panels_.show(view.values, view.captions);
}

} // namespace kt
