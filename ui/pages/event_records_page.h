#pragma once

// The Event Records pages: TabSheet5 for register-file units (the unit's event records, read
// newest first) and TabSheet3 for legacy units (the ten records of the legacy event block).

#include "ui/pages/unit_page.h"

#include <QWidget>

namespace kt {

class EventRecordsPage : public QWidget, public UnitPage {
    Q_OBJECT
public:
    EventRecordsPage(PageContext& context, QWidget* parent = nullptr);

protected:
    PageContext& context_;
};

class LegacyEventsPage : public QWidget, public UnitPage {
    Q_OBJECT
public:
    LegacyEventsPage(PageContext& context, QWidget* parent = nullptr);

protected:
    PageContext& context_;
};

} // namespace kt
