#pragma once

#include <functional>
#include <thread>

namespace kt {

// The link keeps a window alive while a GUI-thread caller waits between attempts by running
// the GUI's event pump. The GUI installs it once at start-up; until then (and on every other
// thread) processPendingGuiEvents does nothing and callers only sleep.
void installGuiPump(std::function<void()> pump, std::thread::id guiThread = std::this_thread::get_id());
void removeGuiPump();
bool onGuiThread();
void processPendingGuiEvents();

} // namespace kt
