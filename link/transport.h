#pragma once

#include "link/link_result.h"

#include <cstdint>

namespace kt {

// Modbus limits per request (the 253-byte PDU): refused before anything is sent.
inline constexpr int MaxReadRegisters = 125;
inline constexpr int MaxWriteRegisters = 123;

// One Modbus backend behind the link facade. The facade serialises the calls; a backend
// reports what each exchange came to and may also throw, which the facade takes as a failed
// attempt. Each result says whether the request went out (`sent`).
class Transport {
public:
    virtual ~Transport() = default;

    // Function 3. `dest` is written only when a valid answer arrived. The transaction number
    // is the facade's; only the TCP backend sends it.
    virtual LinkResult readHoldingRegisters(int slaveAddress, int firstRegister, int count, uint16_t* dest,
                                            uint16_t transaction) = 0;
    // Function 16.
    virtual LinkResult writeMultipleRegisters(int slaveAddress, int firstRegister, int count,
                                              const uint16_t* src) = 0;
    // Unit command n: coil n ON over serial, value n into register 6 over TCP.
    virtual LinkResult executeCommand(int slaveAddress, int command) = 0;
    // The link is being closed: waits in progress (a late answer being drained, a port settling)
    // end early. Called from another thread.
    virtual void abort() {}
};

} // namespace kt
