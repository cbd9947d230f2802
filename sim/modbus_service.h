#pragma once

#include "sim/fault_plan.h"
#include "sim/request.h"
#include "sim/request_log.h"
#include "sim/stop_fd.h"
#include "sim/unit.h"

#include <memory>
#include <modbus/modbus.h>
#include <span>
#include <vector>

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

// Answers the requests that the endpoints receive: logs each one that is for this unit, lets the
// fault plan judge it, applies it to the unit and sends libmodbus's answer (or an exception). One instance
// serves every endpoint and connection; each serving thread brings its own scratch mapping.
class ModbusService {
public:
    enum class Outcome { Answered, Refused, Unanswered, Ignored, SendFailed, Stopped };

    ModbusService(Unit& unit, FaultPlan& faults, RequestLog* log) : unit_(unit), faults_(faults), log_(log) {}

    // libmodbus builds its answers from a mapping; this one is sized for every request the unit
    // accepts. Not shared between threads.
    static ModbusMapping makeScratch();

    // `adu` is one request as the endpoint framed it: header, PDU and (RTU) CRC.
    Outcome serve(modbus_t* ctx, std::span<const uint8_t> adu, Transport transport, const StopFd& stop,
                  modbus_mapping_t* scratch);

    // The exception the unit answers a request with when no fault is planned, or 0.
    static uint8_t refusal(const Request& request, Transport transport);
    // Whether a request sent to `unit` is for this unit at all. A unit ignores the others, as it
    // would on a shared line or behind a gateway: RTU answers 254 (and carries out broadcasts to
    // 0), TCP answers 254 and the "this device" ids 0 and 255.
    static bool addressedToUnit(uint8_t unit, Transport transport);
    // The exception answer to `adu` (header as received): function code with bit 7 set, then the
    // code; the MBAP header or the address and CRC around it. Built here rather than by libmodbus,
    // which adds 0x80 to the function code without masking and so answers a request with a
    // function of 0x80 or above with another function code.
    static std::vector<uint8_t> exceptionAnswer(std::span<const uint8_t> adu, Transport transport,
                                                uint8_t code);

private:
    bool sendException(modbus_t* ctx, std::span<const uint8_t> adu, Transport transport, uint8_t code,
                       const StopFd& stop);
    void apply(const Request& request, Transport transport, modbus_mapping_t* scratch);

    Unit& unit_;
    FaultPlan& faults_;
    RequestLog* log_;
};

} // namespace kt::sim
