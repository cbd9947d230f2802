#pragma once

#include "sim/fault_plan.h"
#include "sim/request.h"
#include "sim/request_log.h"
#include "sim/stop_fd.h"
#include "sim/unit.h"

#include <memory>
#include <modbus/modbus.h>
#include <span>

namespace kt::sim {

inline constexpr uint8_t KtUnitId = 254;

struct ModbusContextDeleter {
    void operator()(modbus_t* ctx) const {
        modbus_close(ctx);
        modbus_free(ctx);
    }
};
using ModbusContext = std::unique_ptr<modbus_t, ModbusContextDeleter>;

struct ModbusMappingDeleter {
    void operator()(modbus_mapping_t* mapping) const { modbus_mapping_free(mapping); }
};
using ModbusMapping = std::unique_ptr<modbus_mapping_t, ModbusMappingDeleter>;

// Makes an RTU context answer at `address`, 254 included (see the definition). False when this
// libmodbus cannot be made to.
bool setRtuUnitAddress(modbus_t* ctx, int address);

// Answers the requests that the endpoints receive with libmodbus: logs each one, lets the fault
// plan judge it, applies it to the unit and sends libmodbus's answer. One instance serves every
// endpoint and connection; each serving thread brings its own scratch mapping.
class ModbusService {
public:
    enum class Outcome { Answered, Refused, Unanswered, SendFailed, Stopped };

    ModbusService(Unit& unit, FaultPlan& faults, RequestLog* log) : unit_(unit), faults_(faults), log_(log) {}

    // libmodbus builds its answers from a mapping; this one is sized for every request the unit
    // accepts. Not shared between threads.
    static ModbusMapping makeScratch();

    // `adu` is what modbus_receive returned: header, PDU and (RTU) CRC.
    Outcome serve(modbus_t* ctx, std::span<const uint8_t> adu, Transport transport, const StopFd& stop,
                  modbus_mapping_t* scratch);

    // The exception the unit answers a request with when no fault is planned, or 0.
    static uint8_t refusal(const Request& request, Transport transport);

private:
    void apply(const Request& request, Transport transport, modbus_mapping_t* scratch);

    Unit& unit_;
    FaultPlan& faults_;
    RequestLog* log_;
};

} // namespace kt::sim
