#include "link/platform/local_time.h"

namespace kt::platform {

std::tm localTime(std::time_t t) {
    std::tm local{};
    localtime_s(&local, &t);
    return local;
}

} // namespace kt::platform
