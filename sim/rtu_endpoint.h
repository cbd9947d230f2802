#pragma once

#include "sim/fd.h"
#include "sim/modbus_service.h"
#include "sim/pty_relay.h"

#include <memory>
#include <string>
#include <thread>

namespace kt::sim {

// Modbus RTU at unit id 254 on a pseudo-terminal. Two pty pairs with a relay between their master
// sides: the unit's side frames the requests and checks their CRC itself (libmodbus cannot read a
// function it does not know, nor a write longer than it allows) and answers with libmodbus; the
// program opens the other side (`device()`); the relay in between paces answers and spoils CRCs
// on request.
class RtuEndpoint {
public:
    RtuEndpoint(ModbusService& service, FaultPlan& faults, uint32_t paceBaud);
    ~RtuEndpoint();

    // Creates the ptys and the libmodbus side. False with `error` set on failure.
    bool open(std::string* error);
    void start();
    void stop();

    const std::string& device() const { return lineDevice_; }

private:
    void serve(std::stop_token token);

    ModbusService& service_;
    FaultPlan& faults_;
    const uint32_t paceBaud_;
    UniqueFd unitMaster_;
    UniqueFd lineMaster_;
    UniqueFd lineHold_;
    std::string unitDevice_;
    std::string lineDevice_;
    ModbusContext ctx_;
    std::unique_ptr<PtyRelay> relay_;
    std::jthread server_;
};

} // namespace kt::sim
