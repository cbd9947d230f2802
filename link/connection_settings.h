#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kt {

// Link types the program produces; 1 is not used.
inline constexpr int32_t LinkSerialRtu = 0;
inline constexpr int32_t LinkModbusTcp = 2;

inline constexpr int32_t DefaultSlaveAddress = 254;
inline constexpr int32_t DefaultBaudRate = 115200;
inline constexpr uint16_t DefaultTcpPort = 502;

// The connection record the main window fills before each connection. The facade and the
// monitor thread only hold a pointer to it and read it on every call.
struct ConnectionSettings {
    int32_t slaveAddress = DefaultSlaveAddress;
    int32_t baudRate = DefaultBaudRate;
    std::string portName;
    int32_t linkType = LinkSerialRtu;
    std::string ipAddress;
    // Relays behind port forwarding (and the simulator) listen elsewhere than 502.
    uint16_t tcpPort = DefaultTcpPort;
};

// Parses the link notation shared by the command-line tool and `ktmon740 --connect`:
//   tcp://HOST[:PORT]   Modbus TCP, port 502 when omitted
//   serial:DEVICE       Modbus RTU on DEVICE (serial:/dev/ttyUSB0, serial:COM3)
// Slave address 254 and 115200 baud, as the program uses. Returns nothing and sets `error`
// when the text is not a link.
std::optional<ConnectionSettings> parseLink(std::string_view text, std::string* error = nullptr);

// The link as the operator names it in messages: "192.168.1.50:502" or "/dev/ttyUSB0".
std::string linkName(const ConnectionSettings& settings);

// Splits "HOST[:PORT]" as typed into the address field. Returns nothing for a bad port.
std::optional<std::pair<std::string, uint16_t>> splitHostPort(std::string_view text);

} // namespace kt
