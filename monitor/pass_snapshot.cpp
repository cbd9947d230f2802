#include "monitor/pass_snapshot.h"

#include "monitor/device_rules.h"

namespace kt {

bool PassSnapshot::register199Flag() const {
    return kt::register199Flag(firmwareVersion(), registerText(199, ValueType::Unsigned16));
}

} // namespace kt
