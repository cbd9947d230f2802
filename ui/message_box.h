#pragma once

#include <QDialog>

#include <functional>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace kt {

// Button sets of `showMessage`.
inline constexpr int MessageOk = 0;
inline constexpr int MessageOkCancel = 1;
inline constexpr int MessageYesNo = 4;

enum class MessageResult { Ok, Cancel, Yes, No };

// The program's message dialog: the text centred at the top, the buttons of the kind in a panel
// under it. Children: `text_L`, `memo_E` and `ProgressBar1` (hidden), `button_P` with `ok_B`,
// `cancel_B`, `yes_B`, `no_B`.
class TMessageBoxF : public QDialog {
    Q_OBJECT
public:
    explicit TMessageBoxF(QWidget* parent = nullptr);

    // Lays the dialog out for the text, title and kind; an unknown kind gets the OK button, so
    // the dialog can always be answered.
    void prepare(const QString& text, const QString& title, int kind);
    MessageResult result() const { return result_; }

private:
    void answer(MessageResult r);
    void reject() override; // Escape: Cancel or No, or OK when that is the only button

    QLabel* text_L;
    QPlainTextEdit* memo_E;
    QProgressBar* ProgressBar1;
    QWidget* button_P;
    QPushButton* ok_B;
    QPushButton* cancel_B;
    QPushButton* yes_B;
    QPushButton* no_B;
    int kind_ = MessageOk;
    MessageResult result_ = MessageResult::Ok;
};

// Shows the message modally, centred on `owner` (the active window when none is given), and
// returns the button pressed. Safe to call from any thread: other threads wait while the GUI
// thread shows it.
MessageResult showMessage(const QString& text, const QString& title, int kind, QWidget* owner = nullptr);

// Replaces the dialog for every later `showMessage` (e.g. to record or answer messages in a
// test); an empty hook restores the dialog. Returns the previous hook.
using MessageHook = std::function<MessageResult(const QString& text, const QString& title, int kind)>;
MessageHook setMessageHook(MessageHook hook);

} // namespace kt
