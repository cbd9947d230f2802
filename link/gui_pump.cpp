#include "link/gui_pump.h"

#include <mutex>

namespace kt {

namespace {

struct Pump {
    std::mutex mutex;
    std::function<void()> run;
    std::thread::id thread;
};

Pump& pump() {
    static Pump p;
    return p;
}

} // namespace

void installGuiPump(std::function<void()> run, std::thread::id guiThread) {
    std::lock_guard guard(pump().mutex);
    pump().run = std::move(run);
    pump().thread = guiThread;
}

void removeGuiPump() {
    installGuiPump({}, std::thread::id());
}

bool onGuiThread() {
    std::lock_guard guard(pump().mutex);
    return pump().run && pump().thread == std::this_thread::get_id();
}

void processPendingGuiEvents() {
    std::function<void()> run;
    {
        std::lock_guard guard(pump().mutex);
        if (pump().thread != std::this_thread::get_id()) return;
        run = pump().run;
    }
    // Outside the lock: the pump may run code that calls back into the link.
    if (run) run();
}

} // namespace kt
