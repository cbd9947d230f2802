#pragma once

// Answers modal dialogs from a test: the dialog's exec() runs a nested event loop, and a polling
// timer finds the dialog there by its object name.
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace kt::test {

inline QWidget* visibleTopLevel(const QString& objectName) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == objectName && w->isVisible()) return w;
    return nullptr;
}

// Calls `answer` with the top-level widget named `objectName` as soon as it is shown. Gives up
// after `timeoutMs` (the test then fails on what it expected the answer to do).
inline void whenShown(const QString& objectName, std::function<void(QWidget*)> answer, int timeoutMs = 5000) {
    auto* timer = new QTimer(qApp);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        if (QWidget* w = visibleTopLevel(objectName)) {
            timer->stop();
            timer->deleteLater();
            answer(w);
        } else if (clock->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(5);
}

// Clicks the button `buttonName` of the dialog `objectName` once it is shown.
inline void clickWhenShown(const QString& objectName, const QString& buttonName) {
    whenShown(objectName, [buttonName](QWidget* w) {
        if (auto* b = w->findChild<QAbstractButton*>(buttonName)) b->click();
    });
}

} // namespace kt::test
