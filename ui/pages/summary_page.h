#pragma once

// The Summary page: set points, metered values, configuration switches and trip status of the
// connected unit, register-file or legacy, in the model's wording.

#include "ui/pages/unit_page.h"
#include "ui/pages/value_panels.h"

#include <QWidget>

namespace kt {

class SummaryPage : public QWidget, public UnitPage {
    Q_OBJECT
public:
    explicit SummaryPage(QWidget* parent = nullptr);

    void passCompleted(const PassSnapshot& pass, const UnitStatusView& view) override;
    void legacyFrame(const LegacyFrame& frame, const LegacyStatusView& view) override;
    void silent() override { panels_.clear(); }
    void clear() override { panels_.clear(); }

    const ValuePanels& panels() const { return panels_; }

private:
    ValuePanels panels_;
};

// The legacy "Detailed Status and Config" page (TabSheet2): every field of the frame, bit by bit.
class LegacyDetailsPage : public QWidget, public UnitPage {
    Q_OBJECT
public:
    explicit LegacyDetailsPage(QWidget* parent = nullptr);

    void legacyFrame(const LegacyFrame& frame, const LegacyStatusView& view) override;
    void silent() override { panels_.clear(); }
    void clear() override { panels_.clear(); }

    const ValuePanels& panels() const { return panels_; }

private:
    ValuePanels panels_;
};

} // namespace kt
