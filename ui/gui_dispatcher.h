#pragma once

#include "monitor/monitor_thread.h"

#include <QObject>

namespace kt {

// Hands the monitor thread's calls to the GUI thread: each call is queued into the event loop of
// the thread this object lives on and runs there when the loop gets to it. Calls still queued
// when the object is destroyed are dropped (the engine has cancelled them by then).
class QtGuiDispatcher : public QObject, public GuiDispatcher {
    Q_OBJECT
public:
    explicit QtGuiDispatcher(QObject* parent = nullptr) : QObject(parent) {}
    void post(std::function<void()> call) override;
};

} // namespace kt
