#pragma once

#include <cstdint>

namespace kt {

// Modbus limits per request (the 253-byte PDU): refused before anything is sent.
inline constexpr int MaxReadRegisters = 125;
inline constexpr int MaxWriteRegisters = 123;

// One Modbus backend behind the link facade. The facade serialises the calls; a backend
// reports every fault as false and may also throw, which the facade turns into false.
class Transport {
public:
    virtual ~Transport() = default;

    // Function 3. `dest` is written only when a valid answer arrived. The transaction number
    // is the facade's; only the TCP backend sends it.
    virtual bool readHoldingRegisters(int slaveAddress, int firstRegister, int count, uint16_t* dest,
                                      uint16_t transaction) = 0;
    // Function 16.
    virtual bool writeMultipleRegisters(int slaveAddress, int firstRegister, int count,
                                        const uint16_t* src) = 0;
    // Unit command n: coil n ON over serial, value n into register 6 over TCP.
    virtual bool executeCommand(int slaveAddress, int command) = 0;
};

} // namespace kt
