#include "ui/pages/event_records_page.h"

#include <QVBoxLayout>

namespace kt {

EventRecordsPage::EventRecordsPage(PageContext& context, QWidget* parent)
    : QWidget(parent), context_(context) {
    setObjectName("TabSheet5");
    new QVBoxLayout(this);
}

LegacyEventsPage::LegacyEventsPage(PageContext& context, QWidget* parent)
    : QWidget(parent), context_(context) {
    setObjectName("TabSheet3");
    new QVBoxLayout(this);
}

} // namespace kt
