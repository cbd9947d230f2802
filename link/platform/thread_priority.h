#pragma once

namespace kt::platform {

// Lowers the calling thread's priority one step below normal, so a busy link never slows the
// window. Failing to lower it is harmless and ignored.
void lowerCurrentThreadPriority();

} // namespace kt::platform
