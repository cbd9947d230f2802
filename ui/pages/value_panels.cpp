#include "ui/pages/value_panels.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>

namespace kt {

namespace {

QString qs(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

ValuePanels::ValuePanels(QWidget* page, std::string_view pageName) : page_(page) {
    auto* row = qobject_cast<QHBoxLayout*>(page->layout());
    if (!row) {
        row = new QHBoxLayout(page);
        row->setContentsMargins(6, 6, 6, 6);
    }
    const CaptionSet captions = SetDefaultCaptions();
    for (const StatusPanelLayout& layout : statusPanels()) {
        if (layout.page != pageName) continue;
        auto* panel = new QFrame(page);
        panel->setObjectName(qs(layout.panel));
        panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
        if (pageName == "Tab_Summary") panel->setFixedWidth(SummaryPanelWidth);
        auto* grid = new QGridLayout(panel);
        grid->setVerticalSpacing(SummaryRowPitch - 18);
        grid->setColumnMinimumWidth(0, SummaryValueLeft - 12);
        int r = 0;
        for (const StatusSection& section : layout.sections) {
            auto* heading = new QLabel(qs(section.headingText), panel);
            heading->setObjectName(qs(section.heading));
            QFont bold = heading->font();
            bold.setBold(true);
            heading->setFont(bold);
            if (!section.image.empty()) {
                // Shown while this group is being logged.
                auto* mark = new QLabel(QString::fromUtf8("\u25cf"), panel);
                mark->setObjectName(qs(section.image));
                mark->setAccessibleName(qs(section.headingText) + " logged");
                mark->hide();
                grid->addWidget(mark, r, 0, Qt::AlignLeft);
                grid->addWidget(heading, r, 0, 1, 2, Qt::AlignLeft | Qt::AlignVCenter);
                heading->setIndent(16);
            } else {
                grid->addWidget(heading, r, 0, 1, 2);
            }
            ++r;
            for (ValueControl c : section.values) {
                auto* caption = new QLabel(qs(captions.captionOf(c)), panel);
                caption->setObjectName(QString::fromStdString(captionControlName(c)));
                auto* value = new QLabel(qs(NoValueText), panel);
                value->setObjectName(QString::fromStdString(valueControlName(c)));
                value->setMinimumWidth(SummaryValueWidth);
                value->setFrameStyle(QFrame::Panel | QFrame::Sunken);
                // Read by keyboard and screen reader: a value can be reached with Tab and copied.
                value->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
                value->setFocusPolicy(Qt::StrongFocus);
                value->setAccessibleName(QString::fromStdString(accessibleName(captions, c)));
                caption->setBuddy(value);
                grid->addWidget(caption, r, 0);
                grid->addWidget(value, r, 1);
                caption->setVisible(captions.isShown(c));
                value->setVisible(captions.isShown(c));
                captions_[controlIndex(c)] = caption;
                values_[controlIndex(c)] = value;
                ++r;
            }
        }
        grid->setRowStretch(r, 1);
        row->addWidget(panel, 0, Qt::AlignTop);
    }
    row->addStretch(1);
}

void ValuePanels::show(const ValueTexts& values, const CaptionSet& captions) {
    for (size_t i = 0; i < ValueControlCount; ++i) {
        QLabel* value = values_[i];
        if (!value) continue;
        const auto c = static_cast<ValueControl>(i);
        const QString text = QString::fromStdString(values[i]);
        if (value->text() != text) value->setText(text);
        const QString caption = qs(captions.captionOf(c));
        if (captions_[i]->text() != caption) {
            captions_[i]->setText(caption);
            value->setAccessibleName(QString::fromStdString(accessibleName(captions, c)));
        }
        const bool shown = captions.isShown(c);
        if (value->isVisibleTo(page_) != shown) {
            value->setVisible(shown);
            captions_[i]->setVisible(shown);
        }
    }
}

void ValuePanels::clear() {
    for (QLabel* value : values_)
        if (value) value->setText(qs(NoValueText));
}

QLabel* ValuePanels::image(std::string_view name) const {
    return page_->findChild<QLabel*>(qs(name));
}

} // namespace kt
