#pragma once

// The panels of labelled values on the Summary page and the legacy "Detailed Status and Config"
// page, built from the layout tables of the core: a heading per section, then each value field
// with its caption to its left. A value field's accessible name is its caption, so a screen reader
// reads "NGR Current" and then the value.

#include "monitor/status_captions.h"

#include <QWidget>

#include <array>
#include <string_view>

class QLabel;

namespace kt {

class ValuePanels {
public:
    // Builds the panels the layout tables place on `pageName` into `page`'s layout (a row of
    // panels, left to right).
    ValuePanels(QWidget* page, std::string_view pageName);

    // Texts, captions and visibility of every field of these panels.
    void show(const ValueTexts& values, const CaptionSet& captions);
    // Every value to "-----".
    void clear();
    // A field of these panels (nullptr for a field that lives on the other page).
    QLabel* value(ValueControl control) const { return values_[controlIndex(control)]; }
    // The logging mark of a section heading (legacy page), by its object name.
    QLabel* image(std::string_view name) const;

private:
    QWidget* page_;
    std::array<QLabel*, ValueControlCount> values_{};
    std::array<QLabel*, ValueControlCount> captions_{};
};

} // namespace kt
