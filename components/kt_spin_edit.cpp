#include "components/kt_spin_edit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

namespace kt {

namespace {

constexpr int EditMaxLength = 64;
constexpr int ButtonWidth = 15;
constexpr int EditInset = 16;
// Precision beyond what the 64-character field can show only makes the text longer.
constexpr int MaxPrecision = 64;

// The printf conversions the control offers, done without the system locale so that the text
// it writes is always the text it can read back.
std::optional<std::string> formatNumber(double value, int precision, int displayType) {
    std::chars_format format;
    switch (displayType) {
    case TKTSpinEdit::FLOAT:
        format = std::chars_format::fixed;
        break;
    case TKTSpinEdit::EXPONENT:
        format = std::chars_format::scientific;
        break;
    case TKTSpinEdit::AUTO:
        format = std::chars_format::general;
        break;
    default:
        return std::nullopt;
    }
    if (precision < 0) precision = 6; // as printf treats a negative precision
    precision = std::min(precision, MaxPrecision);
    std::array<char, 512> buf{};
    auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), value, format, precision);
    if (ec != std::errc()) return std::nullopt;
    return std::string(buf.data(), end);
}

// "%f" into a 32-bit float: leading blanks, an optional sign, the longest number at the start.
std::optional<float> parseLeadingFloat(const QString& text) {
    std::string s = text.toStdString();
    size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) return std::nullopt;
    double d = 0;
    auto [end, ec] = std::from_chars(s.data() + i, s.data() + s.size(), d, std::chars_format::general);
    if (end == s.data() + i) return std::nullopt;
    if (ec == std::errc::result_out_of_range) {
        // Beyond double: look at the exponent's sign to tell overflow from underflow.
        std::string_view digits(s.data() + i, size_t(end - (s.data() + i)));
        auto e = digits.find_first_of("eE");
        bool tiny = e != std::string_view::npos && e + 1 < digits.size() && digits[e + 1] == '-';
        d = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    } else if (ec != std::errc()) {
        return std::nullopt;
    }
    if (std::isnan(d)) return std::nullopt;
    if (negative) d = -d;
    if (d > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
    if (d < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(d);
}

} // namespace

TKTSpinEdit::TKTSpinEdit(QWidget* parent)
    : QFrame(parent), edit_(new QLineEdit(this)), spinButton_(new QWidget(this)),
      upButton_(new QToolButton(spinButton_)), downButton_(new QToolButton(spinButton_)) {
    setFrameShape(QFrame::NoFrame);
    edit_->setObjectName("edit");
    edit_->setMaxLength(EditMaxLength);
    edit_->installEventFilter(this);
    spinButton_->setObjectName("spinButton");
    upButton_->setObjectName("upButton");
    downButton_->setObjectName("downButton");
    upButton_->setArrowType(Qt::UpArrow);
    downButton_->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {upButton_, downButton_}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
    }
    connect(upButton_, &QToolButton::clicked, this, &TKTSpinEdit::UpClick);
    connect(downButton_, &QToolButton::clicked, this, &TKTSpinEdit::DownClick);
    setFocusProxy(edit_);
    resize(70, 21);
    layoutChildren();
    Show_Value();
}

void TKTSpinEdit::SetValue(double value) {
    value_ = value;
    Show_Value();
}

void TKTSpinEdit::SetUnits(const QString& units) {
    units_ = units;
    Show_Value();
}

void TKTSpinEdit::SetPrecision(int precision) {
    precision_ = precision;
    Show_Value();
}

void TKTSpinEdit::SetDisplayType(int type) {
    displayType_ = type;
    Show_Value();
}

QColor TKTSpinEdit::GetColorF() const {
    return edit_->palette().color(QPalette::Base);
}

void TKTSpinEdit::SetColorF(const QColor& colour) {
    QPalette p = edit_->palette();
    p.setColor(QPalette::Base, colour);
    edit_->setPalette(p);
}

void TKTSpinEdit::SetWidth(int width) {
    resize(width, height());
    layoutChildren();
    Show_Value();
}

void TKTSpinEdit::SetHeight(int height) {
    resize(width(), height);
    layoutChildren();
    Show_Value();
}

int TKTSpinEdit::GetWidth() const {
    return edit_->width() + spinButton_->width();
}

int TKTSpinEdit::GetHeight() const {
    return spinButton_->height();
}

QSize TKTSpinEdit::sizeHint() const {
    return {70, 21};
}

void TKTSpinEdit::Show_Value() {
    auto text = formatNumber(value_, precision_, displayType_);
    if (!text) return; // an unknown display type leaves the text as it is
    edit_->setText(QString::fromStdString(*text) + units_);
}

void TKTSpinEdit::Read_Value() {
    auto v = parseLeadingFloat(edit_->text());
    if (!v) return;
    double d = *v;
    if (d < min_)
        value_ = min_;
    else if (d > max_)
        value_ = max_;
    else
        value_ = d;
}

void TKTSpinEdit::UpClick() {
    Read_Value();
    if (value_ + increment_ > max_)
        value_ = wrap_ ? min_ : max_;
    else
        value_ += increment_;
    DoChange();
    Show_Value();
    DoUpButtonPress();
}

void TKTSpinEdit::DownClick() {
    Read_Value();
    if (value_ - increment_ < min_)
        value_ = wrap_ ? max_ : min_;
    else
        value_ -= increment_;
    DoChange();
    Show_Value();
    DoDownButtonPress();
}

void TKTSpinEdit::acceptTyped() {
    float before = static_cast<float>(value_);
    Read_Value();
    Show_Value();
    if (static_cast<float>(value_) != before) DoChange();
}

bool TKTSpinEdit::KeyPressed(int key) {
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        acceptTyped();
        return true;
    case Qt::Key_Escape: {
        // Escape first discards typing; with nothing typed it goes on to the dialog.
        QString typed = edit_->text();
        Show_Value();
        return typed != edit_->text();
    }
    case Qt::Key_Up:
        UpClick();
        return true;
    case Qt::Key_Down:
        DownClick();
        return true;
    default:
        return false;
    }
}

void TKTSpinEdit::EditExit() {
    acceptTyped();
}

void TKTSpinEdit::DoExit() {
    Read_Value();
    Show_Value();
}

void TKTSpinEdit::Refresh() {
    update();
    edit_->update();
    spinButton_->update();
    Show_Value();
}

bool TKTSpinEdit::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edit_) {
        if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            // Ctrl+J and Ctrl+M are the line feed and carriage return characters.
            int code = key->key();
            if (key->modifiers() == Qt::ControlModifier && (code == Qt::Key_J || code == Qt::Key_M))
                code = Qt::Key_Return;
            if (KeyPressed(code)) return true;
        } else if (event->type() == QEvent::FocusOut) {
            EditExit();
            QWidget* next = QApplication::focusWidget();
            if (!next || !isAncestorOf(next)) DoExit();
        }
    }
    return QFrame::eventFilter(watched, event);
}

void TKTSpinEdit::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    layoutChildren();
    Show_Value();
}

void TKTSpinEdit::layoutChildren() {
    int w = width();
    int h = height();
    edit_->setGeometry(0, 0, std::max(0, w - EditInset), h);
    spinButton_->setGeometry(std::max(0, w - ButtonWidth), 0, ButtonWidth, h);
    int half = h / 2;
    upButton_->setGeometry(0, 0, ButtonWidth, half);
    downButton_->setGeometry(0, half, ButtonWidth, h - half);
}

} // namespace kt
