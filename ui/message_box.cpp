#include "ui/message_box.h"

#include "ui/dialog_helpers.h"

#include <QApplication>
#include <QLabel>
#include <QMutex>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>

namespace kt {

namespace {

constexpr int DialogWidth = 400;
constexpr int DialogHeight = 150;
constexpr int TextTop = 16;
constexpr int TextMargin = 20;
constexpr int PanelGap = 8;
constexpr int PanelHeight = 41;
constexpr int ButtonTop = 8;
constexpr int ButtonWidth = 75;
constexpr int ButtonHeight = 25;

QMutex hookMutex;
MessageHook& currentHook() {
    static MessageHook hook;
    return hook;
}

MessageResult showOnGuiThread(const QString& text, const QString& title, int kind, QWidget* owner) {
    MessageHook hook;
    {
        QMutexLocker lock(&hookMutex);
        hook = currentHook();
    }
    if (hook) return hook(text, title, kind);
    if (!owner) owner = QApplication::activeWindow();
    TMessageBoxF dialog(owner);
    dialog.prepare(text, title, kind);
    centreOn(&dialog, owner);
    dialog.exec();
    return dialog.result();
}

} // namespace

TMessageBoxF::TMessageBoxF(QWidget* parent)
    : QDialog(parent, noBorderIconsFlags() | Qt::WindowStaysOnTopHint), text_L(new QLabel(this)),
      memo_E(new QPlainTextEdit(this)), ProgressBar1(new QProgressBar(this)), button_P(new QWidget(this)),
      ok_B(new QPushButton("OK", button_P)), cancel_B(new QPushButton("Cancel", button_P)),
      yes_B(new QPushButton("Yes", button_P)), no_B(new QPushButton("No", button_P)) {
    setObjectName("TMessageBoxF");
    text_L->setObjectName("text_L");
    memo_E->setObjectName("memo_E");
    ProgressBar1->setObjectName("ProgressBar1");
    button_P->setObjectName("button_P");
    ok_B->setObjectName("ok_B");
    cancel_B->setObjectName("cancel_B");
    yes_B->setObjectName("yes_B");
    no_B->setObjectName("no_B");
    // Messages carry file names and unit texts: never let them be read as markup.
    text_L->setTextFormat(Qt::PlainText);
    text_L->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    memo_E->setReadOnly(true);
    memo_E->hide();
    ProgressBar1->hide();
    resize(DialogWidth, DialogHeight);
    connect(ok_B, &QPushButton::clicked, this, [this] { answer(MessageResult::Ok); });
    connect(cancel_B, &QPushButton::clicked, this, [this] { answer(MessageResult::Cancel); });
    connect(yes_B, &QPushButton::clicked, this, [this] { answer(MessageResult::Yes); });
    connect(no_B, &QPushButton::clicked, this, [this] { answer(MessageResult::No); });
}

void TMessageBoxF::prepare(const QString& text, const QString& title, int kind) {
    kind_ = kind == MessageOkCancel || kind == MessageYesNo ? kind : MessageOk;
    setWindowTitle(title);
    text_L->setText(text);

    const int width = DialogWidth;
    const int maxTextWidth = width - TextMargin;
    text_L->setWordWrap(false);
    QSize natural = text_L->sizeHint();
    int textWidth = natural.width();
    int textHeight = natural.height();
    if (textWidth > maxTextWidth) {
        text_L->setWordWrap(true);
        textWidth = maxTextWidth;
        textHeight = text_L->heightForWidth(textWidth);
    }
    text_L->setGeometry((width - textWidth) / 2, TextTop, textWidth, textHeight);

    const int panelTop = TextTop + textHeight + PanelGap;
    button_P->setGeometry(0, panelTop, width, PanelHeight);
    const int centre = width / 2;
    for (QPushButton* b : {ok_B, cancel_B, yes_B, no_B}) {
        b->hide();
        b->setDefault(false);
        b->setAutoDefault(false);
    }
    auto place = [](QPushButton* b, int left) {
        b->setGeometry(left, ButtonTop, ButtonWidth, ButtonHeight);
        b->show();
    };
    QPushButton* first = ok_B;
    switch (kind_) {
    case MessageOkCancel:
        place(ok_B, centre - 100);
        place(cancel_B, centre + 25);
        break;
    case MessageYesNo:
        place(yes_B, centre - 100);
        place(no_B, centre + 25);
        first = yes_B;
        break;
    default:
        place(ok_B, centre - 37);
        break;
    }
    first->setDefault(true);
    first->setFocus();
    setFixedSize(width, panelTop + PanelHeight);
    result_ = kind_ == MessageYesNo      ? MessageResult::No
              : kind_ == MessageOkCancel ? MessageResult::Cancel
                                         : MessageResult::Ok;
}

void TMessageBoxF::answer(MessageResult r) {
    result_ = r;
    done(r == MessageResult::Ok || r == MessageResult::Yes ? Accepted : Rejected);
}

void TMessageBoxF::reject() {
    answer(kind_ == MessageYesNo      ? MessageResult::No
           : kind_ == MessageOkCancel ? MessageResult::Cancel
                                      : MessageResult::Ok);
}

MessageResult showMessage(const QString& text, const QString& title, int kind, QWidget* owner) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) return showOnGuiThread(text, title, kind, owner);
    // A worker (the register-file loader) waits for the operator like the GUI would.
    MessageResult r = MessageResult::Ok;
    QMetaObject::invokeMethod(
        app, [&] { r = showOnGuiThread(text, title, kind, owner); }, Qt::BlockingQueuedConnection);
    return r;
}

MessageHook setMessageHook(MessageHook hook) {
    QMutexLocker lock(&hookMutex);
    MessageHook previous = std::move(currentHook());
    currentHook() = std::move(hook);
    return previous;
}

} // namespace kt
