#pragma once

#include <ctime>

namespace kt::platform {

// The PC's local calendar time of `t` (thread-safe).
std::tm localTime(std::time_t t);

} // namespace kt::platform
