#pragma once

#include <QColor>
#include <QLabel>

namespace kt {

// One panel of a status bar: a sunken text field that reports clicks (the connection state
// toggles the link, the CT and voltage panels open their dialogs).
class StatusPanel : public QLabel {
    Q_OBJECT
public:
    StatusPanel(const QString& objectName, const QString& text, QWidget* parent);

    // Colour of the text while the panel is enabled; greyed text stays the system's.
    void setTextColour(const QColor& colour);
    QColor textColour() const;
    void setBackground(const QColor& colour);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

} // namespace kt
