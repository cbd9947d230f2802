#include "ui/gui_dispatcher.h"

namespace kt {

void QtGuiDispatcher::post(std::function<void()> call) {
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

} // namespace kt
