#pragma once

#include <QColor>
#include <QFrame>
#include <QString>

class QLineEdit;
class QToolButton;

namespace kt {

// Numeric entry with a units text and up/down buttons. The value is only clamped when it is
// read back from the text or stepped, never when set by the program.
// Children: `edit` (the text field), `spinButton` holding `upButton` and `downButton`.
class TKTSpinEdit : public QFrame {
    Q_OBJECT
    Q_PROPERTY(double Value READ GetValue WRITE SetValue)
    Q_PROPERTY(QString Units READ GetUnits WRITE SetUnits)
    Q_PROPERTY(int Precision READ GetPrecision WRITE SetPrecision)
    Q_PROPERTY(int DisplayType READ GetDisplayType WRITE SetDisplayType)
    Q_PROPERTY(double Increment READ GetIncrement WRITE SetIncrement)
    Q_PROPERTY(double Min READ GetMin WRITE SetMin)
    Q_PROPERTY(double Max READ GetMax WRITE SetMax)
    Q_PROPERTY(bool WrapValue READ GetWrapValue WRITE SetWrapValue)
    Q_PROPERTY(QColor Color READ GetColorF WRITE SetColorF)

public:
    enum display_type_e { FLOAT = 0, EXPONENT = 1, AUTO = 2 };
    Q_ENUM(display_type_e)

    explicit TKTSpinEdit(QWidget* parent = nullptr);

    double GetValue() const { return value_; }
    void SetValue(double value);
    QString GetUnits() const { return units_; }
    void SetUnits(const QString& units);
    int GetPrecision() const { return precision_; }
    void SetPrecision(int precision);
    int GetDisplayType() const { return displayType_; }
    void SetDisplayType(int type);
    double GetIncrement() const { return increment_; }
    void SetIncrement(double increment) { increment_ = increment; }
    double GetMin() const { return min_; }
    void SetMin(double min) { min_ = min; }
    double GetMax() const { return max_; }
    void SetMax(double max) { max_ = max; }
    bool GetWrapValue() const { return wrap_; }
    void SetWrapValue(bool wrap) { wrap_ = wrap; }
    QColor GetColorF() const;
    void SetColorF(const QColor& colour);

    // Resize and lay the children out at once (a hidden widget's resize event comes only when
    // it is shown).
    void SetWidth(int width);
    void SetHeight(int height);
    // Edit field plus button width; the button's height.
    int GetWidth() const;
    int GetHeight() const;
    QSize sizeHint() const override;

    QLineEdit* editField() const { return edit_; }

    // Writes the value with the display type, precision and units into the edit field.
    void Show_Value();
    // Takes a number from the start of the text and clamps it; unparseable text changes nothing.
    void Read_Value();
    void UpClick();
    void DownClick();
    // Enter, line feed, Escape and the arrow keys; returns true when the key is consumed.
    bool KeyPressed(int key);
    // The edit field lost the focus: take the typed value, with a change event if it differs.
    void EditExit();
    // The focus left the control: take the typed value without a change event.
    virtual void DoExit();
    void Refresh();

signals:
    void OnChange();
    void OnUpButtonPress();
    void OnDownButtonPress();

protected:
    virtual void DoChange() { emit OnChange(); }
    virtual void DoUpButtonPress() { emit OnUpButtonPress(); }
    virtual void DoDownButtonPress() { emit OnDownButtonPress(); }

    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void layoutChildren();
    // Reads the typed text and raises a change event when the value moved.
    void acceptTyped();

    QLineEdit* edit_;
    QWidget* spinButton_;
    QToolButton* upButton_;
    QToolButton* downButton_;
    double value_ = 0;
    QString units_;
    int precision_ = 0;
    int displayType_ = FLOAT;
    double increment_ = 0;
    double min_ = 0;
    double max_ = 0;
    bool wrap_ = false;
};

} // namespace kt
