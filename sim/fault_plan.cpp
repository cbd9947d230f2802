#include "sim/fault_plan.h"

namespace kt::sim {

Verdict FaultPlan::judge(const Request& request) {
    const uint64_t n = ++requests_;
    Verdict v;
    if (silent()) {
        v.silent = true;
        return v;
    }
    v.delay = std::chrono::milliseconds(options_.delayMs);
    if (options_.exceptionEvery && n % options_.exceptionEvery == 0)
        v.exception = ExceptionServerDeviceFailure;
    else if (options_.refuseWrite && request.function == FcWriteMultipleRegisters &&
             *options_.refuseWrite >= request.start && *options_.refuseWrite - request.start < request.count)
        v.exception = ExceptionIllegalDataValue;
    else if (options_.maxRead && request.function == FcReadHoldingRegisters &&
             request.count > *options_.maxRead)
        v.exception = ExceptionIllegalDataValue;
    return v;
}

bool FaultPlan::spoilAnswer() {
    const uint64_t n = ++answers_;
    return options_.badCrcEvery && n % options_.badCrcEvery == 0;
}

} // namespace kt::sim
