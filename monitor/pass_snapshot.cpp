#include "monitor/pass_snapshot.h"

namespace kt {

bool PassSnapshot::register199Flag() const {
    if ((firmwareVersion() & 0x7FFF) < 300) return true;
    return registerText(199, ValueType::Unsigned16) == "1";
}

} // namespace kt
